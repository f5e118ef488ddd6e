// Recording files: a .rec file is the recording's 20-byte records, byte for
// byte, with nothing around them.
#pragma once

#include "format/record.h"
#include "platform/win32.h"

constexpr int kNameLimit = 30;  // characters of a file name we show

// Size of a file in bytes; no path means our own executable. 0 when it
// cannot be read; 0xFFFFFFFF for a file of 4 GiB or more.
win::DWORD FileSizeOf(const char* path);
// Reads up to maxCount bytes from offset (negative: from the end) and writes
// one zero byte behind them; returns the bytes read.
win::DWORD ReadFileAt(const char* path, int32_t offset, void* buffer, win::DWORD maxCount);
// Writes at offset (negative: appends); creates a missing file, never truncates.
win::DWORD WriteFileAt(const char* path, int32_t offset, const void* data, win::DWORD count);
// A file is replaced only once its successor is complete: the new bytes go
// to a new file of our own beside it ("~kvNNNNN.tmp" in the same folder,
// created exclusively, never a file that was there), and PutInPlace then
// moves that over path, or deletes it when it is not whole.
constexpr int kTempPathSize = 272;   // bytes of a temporary file's path
constexpr int kTempNameLength = 12;  // "~kvNNNNN.tmp"
constexpr win::DWORD kTempAttempts = 32;
// The name of the given attempt beside path; empty when it would not fit.
void TempNameFor(char* temp, const char* path, win::DWORD attempt);
// Creates the first free temporary file beside path and opens it for
// writing; temp (kTempPathSize bytes) gets its name, empty on failure.
win::HANDLE CreateTempBeside(char* temp, const char* path);
bool PutInPlace(const char* temp, const char* path, bool whole);
// Replaces path with exactly these bytes, or leaves it untouched. True when
// the whole file is in place.
bool ReplaceFileWith(const char* path, const void* data, win::DWORD count);
// Loads the records from offset on as the current recording. path is cut to
// its file name on success. Returns the bytes loaded, 0 when refused (with
// its warning); a refused load changes nothing else. A recording still
// running is stopped before the new one takes its place.
win::DWORD LoadRecording(char* path, int32_t offset);
// Cuts a path to the text after its last backslash, in place.
void StripDirectory(char* text);
// currentName and the title from a path that has been cut to its name.
void TakeName(const char* name);
