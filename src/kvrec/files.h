// Files for kvrec: read whole, and written whole or not at all.
#pragma once

#include <string>
#include <vector>

// The bytes of a file; throws Failure naming it when it cannot be read.
// "-" is the standard input.
std::vector<unsigned char> ReadWhole(const std::string& path);

// Puts exactly these bytes at path: they go to a new file beside it first,
// which is moved over path only once it is whole, so an existing file is
// never half-replaced. Throws Failure naming path (and leaves nothing
// behind) when that cannot be done. A program is made executable.
void WriteWhole(const std::string& path, const void* data, size_t size, bool program = false);
