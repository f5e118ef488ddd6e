// How a compiled player is made and recognised, shared by Kavorin and kvrec.
//
// A compiled player is our own executable, exactly as built, followed by the
// records of a recording; nothing else is added. The executable carries the
// marker "KvSz" followed by a 4-byte little-endian slot, into which the build
// writes the file's own size (scripts/stamp-size.py reads the marker from
// here). A file larger than the size stamped in it is a compiled player, and
// its bytes from that offset on are its recording.
#pragma once

#include <stdint.h>

constexpr uint32_t kSizeMarker = 0x7A53764B;  // "KvSz" read as a little-endian word
constexpr uint32_t kUnstampedSize = 29696;    // the slot's value before the build stamps it

constexpr bool IsCompiledPlayer(uint64_t ownSize, uint32_t stampedSize) {
  return ownSize > stampedSize;
}

inline uint32_t ReadLittle32(const unsigned char* p) {
  return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Offset of the size slot in an image: the 4 bytes behind the first marker
// (the build makes sure its image holds exactly one, so the first one found
// from the start is the program's own, whatever a recording behind it holds).
// 0 when there is no marker with a whole slot behind it.
inline uint32_t FindSizeSlot(const unsigned char* image, uint32_t size) {
  for (uint32_t at = 0; at + 8 <= size; ++at)
    if (ReadLittle32(image + at) == kSizeMarker) return at + 4;
  return 0;
}
