// One input event as sampled, and the block of memory a recording lives in.
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
// The address space a growing block sets aside (ResizeBlock): 13 million
// records, and still to be had in a 32-bit process under Wine, where 1 GiB
// is not.
constexpr win::DWORD kReserveBytes = 256u << 20;

// Every block is address space of its own, zero-filled when it is handed out.
// A new block of count * size bytes, as ResizeBlock makes one; nullptr when
// that does not fit 32 bits or memory is short.
void* AllocZeroed(win::DWORD count, win::DWORD size);
void FreeBlock(void* block);              // nothing for nullptr
win::DWORD BlockSize(const void* block);  // 0 for no block
// Grows a block to size bytes (kMinBlock at least), keeping what it holds and
// zero-filling what it adds; a size it has already leaves it as it is. A new
// block (from nullptr) sets kReserveBytes aside, or as much as the address
// space has, and grows within that in place, without a copy; only beyond it
// does it move, to twice its size. nullptr when memory ran out: the old block
// stays as it was.
void* ResizeBlock(void* block, win::DWORD size);
// The bytes a block may grow to in place, without a move.
win::DWORD BlockRoom(const void* block);  // 0 for no block
inline win::DWORD Capacity(const void* block) { return BlockSize(block) / kRecordSize; }
