// One input event as sampled, and the heap block a recording lives in.
#pragma once

#include "platform/win32.h"

// 20 bytes, five little-endian 32-bit fields: the layout of the platform's
// EVENTMSG, and byte for byte the record of a .rec file.
struct EventRecord {
  win::DWORD message;  // WM_KEYDOWN ... WM_RBUTTONUP; 0 ends the recording
  win::DWORD paramL;   // key: vk + 256 * scan; mouse: x
  win::DWORD paramH;   // key: scan; mouse: y
  win::DWORD time;     // GetTickCount when sampled
  win::DWORD hwnd;     // foreground window when sampled
};
static_assert(sizeof(EventRecord) == 20, "an event record is 20 bytes on disk");

constexpr win::DWORD kRecordSize = 20;
constexpr win::DWORD kMinBlock = 4096;

void* AllocZeroed(win::DWORD count, win::DWORD size);
void FreeBlock(void* block);
win::DWORD BlockSize(const void* block);  // 0 for no block
void* ResizeBlock(void* block, win::DWORD size);
inline win::DWORD Capacity(const void* block) { return BlockSize(block) / kRecordSize; }
