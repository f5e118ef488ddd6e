// One input event as sampled, and the heap block a recording lives in.
#pragma once

#include "format/record.h"
#include "platform/win32.h"

// The recorder and the player speak the platform's message names; they are
// the record's kinds.
static_assert(win::WM_KEYDOWN == kKeyDown && win::WM_KEYUP == kKeyUp &&
                  win::WM_MOUSEMOVE == kMouseMove && win::WM_LBUTTONDOWN == kLeftDown &&
                  win::WM_LBUTTONUP == kLeftUp && win::WM_RBUTTONDOWN == kRightDown &&
                  win::WM_RBUTTONUP == kRightUp && win::WM_MBUTTONDOWN == kMiddleDown &&
                  win::WM_MBUTTONUP == kMiddleUp,
              "event kinds are window message numbers");
constexpr win::DWORD kMinBlock = 4096;

void* AllocZeroed(win::DWORD count, win::DWORD size);
void FreeBlock(void* block);
win::DWORD BlockSize(const void* block);  // 0 for no block
void* ResizeBlock(void* block, win::DWORD size);
inline win::DWORD Capacity(const void* block) { return BlockSize(block) / kRecordSize; }
