#include "core/buffer.h"

using namespace win;

namespace {

// Each block starts with its header; the caller gets the bytes behind it.
struct Header {
  DWORD size;  // bytes committed for the caller: BlockSize
  DWORD room;  // bytes the reservation holds for the caller
};

Header* HeaderOf(const void* block) { return (Header*)block - 1; }

// The largest block: its header and the rounding to pages still fit 32 bits.
constexpr DWORD kLargest = 0xFFFF0000u;

}  // namespace

void* AllocZeroed(DWORD count, DWORD size) {
  // A product that overflows 32 bits would allocate a block too small for the
  // caller's plan: refuse it instead.
  uint64_t bytes = (uint64_t)count * size;
  return bytes > 0xFFFFFFFFu ? nullptr : ResizeBlock(nullptr, (DWORD)bytes);
}

void FreeBlock(void* block) {
  if (block) VirtualFree(HeaderOf(block), 0, MEM_RELEASE);
}

DWORD BlockSize(const void* block) { return block ? HeaderOf(block)->size : 0; }

DWORD BlockRoom(const void* block) { return block ? HeaderOf(block)->room : 0; }

void* ResizeBlock(void* block, DWORD size) {
  if (size < kMinBlock) size = kMinBlock;
  DWORD old = BlockSize(block);
  if (size <= old) return block;
  Header* header = block ? HeaderOf(block) : nullptr;
  DWORD room = block ? header->room : 0;
  DWORD from = old;  // what is committed already
  if (size > room) {
    // A new reservation: kReserveBytes, or twice a block that outgrew them;
    // when the address space has no such piece free, the most it has,
    // narrowed down towards size.
    if (size > kLargest) return nullptr;
    room = size < kReserveBytes / 2 ? kReserveBytes : size < kLargest / 2 ? size * 2 : kLargest;
    while (!(header = (Header*)VirtualAlloc(nullptr, sizeof(Header) + room, MEM_RESERVE,
                                            PAGE_NOACCESS))) {
      if (room == size) return nullptr;
      room = size + (room - size) / 2;
    }
    from = 0;
  }
  // Committing the pages behind is all a growth in place costs, the same
  // however long the recording has grown; the system gives them zero-filled.
  // (The first page of a new reservation, with the header, comes with them.)
  if (!VirtualAlloc((char*)(header + 1) + from, size - from, MEM_COMMIT, PAGE_READWRITE)) {
    if (!from) VirtualFree(header, 0, MEM_RELEASE);
    return nullptr;
  }
  if (!from) {
    header->room = room;
    auto* to = (unsigned char*)(header + 1);
    for (DWORD i = 0; i < old; ++i) to[i] = ((const unsigned char*)block)[i];
    FreeBlock(block);
  }
  header->size = size;
  return header + 1;
}
