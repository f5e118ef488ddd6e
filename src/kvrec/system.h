// The platform's own file calls, as kvrec needs them: one implementation for
// POSIX systems (system_posix.cpp) and one for Windows (system_win32.cpp);
// files.cpp makes kvrec's rules of them. A call that fails sets `error` to
// the system's code for it, which Reason puts in words.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kvrec/basics.h"

typedef intptr_t FileHandle;  // a file descriptor, or a HANDLE
constexpr FileHandle kNoFile = -1;

enum FileKind {
  kNoSuchFile,
  kRegularFile,
  kFolder,
  kStream,  // a character device or a pipe: written in place, never replaced
  kOtherFile,
};

struct FileFacts {
  FileKind kind = kNoSuchFile;
  bool readOnly = false;  // we may not write it
  uint32_t mode = 0;      // its permission bits (POSIX)
  uint64_t size = 0;      // a regular file's
};

// What is at path, through symbolic links: `target` is the name of the file
// itself (the end of the links, or path). A name that leads nowhere is
// kNoSuchFile, with the name a new file would take.
bool Inspect(const char* path, Text& target, FileFacts& facts, uint32_t& error);
// The facts of an open file.
bool FactsOf(FileHandle file, FileFacts& facts, uint32_t& error);
// Whether two names (or "-", the standard input) are one existing file: the
// same device and inode, or on Windows the same volume and file index.
bool SameFile(const char* a, const char* b);

// 0 standard input, 1 standard output, 2 standard error: always as bytes,
// with no line ends changed.
FileHandle Standard(int which);
FileHandle OpenToRead(const char* path, uint32_t& error);
// An existing file, opened to write in place.
FileHandle OpenToWrite(const char* path, uint32_t& error);
// A new file, which fails when the name is taken.
FileHandle CreateNew(const char* path, uint32_t& error);
// got is 0 at the end.
bool ReadSome(FileHandle file, void* into, size_t room, size_t& got, uint32_t& error);
bool WriteAll(FileHandle file, const void* data, size_t size, uint32_t& error);
// Permission bits; Windows has none to set.
bool SetPermissions(FileHandle file, uint32_t mode, uint32_t& error);
bool CloseFile(FileHandle file, uint32_t& error);
// Moves `from` over `to` in one step.
bool MoveOver(const char* from, const char* to, uint32_t& error);
void RemoveFile(const char* path);

// The last part of a path: the file's own name.
const char* FileNameOf(const char* path);
// The permission bits a new file gets (the system's default).
uint32_t NewFileMode();
// Whether the error says the name is taken.
bool IsNameTaken(uint32_t error);
// A number that differs from call to call and from run to run.
uint32_t Noise();
// The system's words for an error code.
Text Reason(uint32_t error);
