// Recording files: a .rec file is the recording's 20-byte records, byte for
// byte, with nothing around them.
#pragma once

#include "format/record.h"
#include "platform/win32.h"

constexpr int kNameLimit = 30;           // characters of a file name we show

// Size of a file in bytes; no path means our own executable. 0 when it
// cannot be read; 0xFFFFFFFF for a file of 4 GiB or more.
win::DWORD FileSizeOf(const char* path);
// Reads up to maxCount bytes from offset (negative: from the end) and writes
// one zero byte behind them; returns the bytes read.
win::DWORD ReadFileAt(const char* path, int32_t offset, void* buffer, win::DWORD maxCount);
// Writes at offset (negative: appends); creates a missing file, never truncates.
win::DWORD WriteFileAt(const char* path, int32_t offset, const void* data, win::DWORD count);
// A file is replaced only once its successor is complete: the new bytes go
// to path + ".tmp" first (temp gets that name; it holds 264 bytes), and
// PutInPlace then moves it over path, or deletes it when it is not whole.
void TempNameFor(char* temp, const char* path);
bool PutInPlace(const char* temp, const char* path, bool whole);
// Replaces path with exactly these bytes, or leaves it untouched. True when
// the whole file is in place.
bool ReplaceFileWith(const char* path, const void* data, win::DWORD count);
// Loads the records from offset on as the current recording. path is cut to
// its file name on success. Returns the bytes loaded, 0 when refused.
win::DWORD LoadRecording(char* path, int32_t offset);
// Cuts a path to the text after its last backslash, in place.
void StripDirectory(char* text);
// currentName and the title from a path that has been cut to its name.
void TakeName(const char* name);
