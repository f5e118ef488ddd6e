#include "core/buffer.h"

using namespace win;

void* AllocZeroed(DWORD count, DWORD size) {
  // A product that overflows 32 bits would allocate a block too small for the
  // caller's plan: refuse it instead.
  uint64_t bytes = (uint64_t)count * size;
  if (bytes > 0xFFFFFFFFu) return nullptr;
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (size_t)bytes);
}

void FreeBlock(void* block) { HeapFree(GetProcessHeap(), 0, block); }

DWORD BlockSize(const void* block) {
  return block ? (DWORD)HeapSize(GetProcessHeap(), 0, block) : 0;
}

void* ResizeBlock(void* block, DWORD size) {
  DWORD allocated = size < kMinBlock ? kMinBlock : size;
  if (!block) return AllocZeroed(allocated, 1);
  DWORD old = BlockSize(block);
  if (size == old) return block;
  // Growing: the heap extends the block in place when it can, or moves it
  // with its own fast copy, and zero-fills what it adds. On failure the old
  // block stays as it was.
  if (allocated > old) return HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, block, allocated);
  // Keeps only what was asked for: the rest of the new block is zero.
  unsigned char* fresh = (unsigned char*)AllocZeroed(allocated, 1);
  if (!fresh) return nullptr;
  const unsigned char* from = (const unsigned char*)block;
  for (DWORD i = 0, n = size < old ? size : old; i < n; ++i) fresh[i] = from[i];
  FreeBlock(block);
  return fresh;
}
