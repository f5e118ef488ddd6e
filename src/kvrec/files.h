// Files for kvrec: read whole, and written whole or not at all, by rules that
// never destroy what was there.
#pragma once

#include <stddef.h>

#include "kvrec/basics.h"
#include "kvrec/recording.h"

// The bytes of a file, or of the standard input for "-"; false, with a
// message naming it, when it cannot be read.
bool ReadWhole(const char* path, ByteList& bytes, Failure& f);

// Puts exactly these bytes at path, or on the standard output for "-". An
// existing regular file is replaced by a new file written beside it and moved
// over it only once it is whole, so it is never half-replaced; it keeps its
// permission bits. A symbolic link's target is replaced, not the link; a
// character device or a pipe is written in place. A read-only file, a folder
// and anything else is refused. False, with a message naming path, when the
// bytes could not be put there; nothing of ours is left behind. A program is
// made executable for whoever may read it.
bool WriteWhole(const char* path, const void* data, size_t size, bool program, Failure& f);
inline bool WriteWhole(const char* path, const ByteList& bytes, bool program, Failure& f) {
  return WriteWhole(path, bytes.data(), bytes.size(), program, f);
}

// Text on the standard output, or the standard error (which != 1).
bool WriteStandard(int which, const Text& text);
