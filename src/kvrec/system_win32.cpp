// kvrec's file calls on Windows: the system's own, with no C runtime between
// them and the bytes (so the standard streams carry bytes as they are).
#define _WIN32_WINNT 0x0600  // GetFinalPathNameByHandleA
#include <windows.h>

#include "kvrec/system.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool Failed(uint32_t& error) {
  error = (uint32_t)GetLastError();
  return false;
}

FileHandle Opened(HANDLE h, uint32_t& error) {
  if (h == INVALID_HANDLE_VALUE) {
    error = (uint32_t)GetLastError();
    return kNoFile;
  }
  return (FileHandle)h;
}

// A handle that only asks about the file (folders too).
HANDLE Query(const char* path) {
  return CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

}  // namespace

bool FactsOf(FileHandle file, FileFacts& facts, uint32_t& error) {
  facts = FileFacts{};
  // Files and folders on a disk first: Wine calls a folder's handle no disk file.
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle((HANDLE)file, &info)) {
    facts.kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? kFolder : kRegularFile;
    facts.readOnly = info.dwFileAttributes & FILE_ATTRIBUTE_READONLY;
    facts.size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    return true;
  }
  DWORD type = GetFileType((HANDLE)file);
  facts.kind = type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE ? kStream : kOtherFile;
  (void)error;
  return true;
}

bool Inspect(const char* path, Text& target, FileFacts& facts, uint32_t& error) {
  target = path;
  facts = FileFacts{};
  HANDLE h = Query(path);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND || Failed(error);
  bool ok = FactsOf((FileHandle)h, facts, error);
  // A symbolic link: the file it leads to is the one replaced.
  char resolved[MAX_PATH + 8];
  DWORD n = ok && (GetFileAttributesA(path) & FILE_ATTRIBUTE_REPARSE_POINT)
                ? GetFinalPathNameByHandleA(h, resolved, sizeof resolved, 0)
                : 0;
  if (n && n < sizeof resolved) {
    if (!strncmp(resolved, "\\\\?\\UNC\\", 8))
      target = Text("\\\\") + (resolved + 8);
    else
      target = !strncmp(resolved, "\\\\?\\", 4) ? resolved + 4 : resolved;
  }
  CloseHandle(h);
  return ok;
}

bool SameFile(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const char* names[2] = {a, b};
  bool same = true;
  for (int i = 0; i < 2; ++i) {
    bool standard = !strcmp(names[i], "-");
    HANDLE h = standard ? GetStdHandle(STD_INPUT_HANDLE) : Query(names[i]);
    same = same && h != INVALID_HANDLE_VALUE && h && GetFileInformationByHandle(h, &info[i]);
    if (!standard && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  return same && info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

FileHandle Standard(int which) {
  static const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  return (FileHandle)GetStdHandle(kinds[which]);
}

FileHandle OpenToRead(const char* path, uint32_t& error) {
  return Opened(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
                error);
}

FileHandle OpenToWrite(const char* path, uint32_t& error) {
  return Opened(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr),
                error);
}

FileHandle CreateNew(const char* path, uint32_t& error) {
  return Opened(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
      error);
}

bool ReadSome(FileHandle file, void* into, size_t room, size_t& got, uint32_t& error) {
  DWORD n = 0;
  DWORD ask = room > 0x40000000 ? 0x40000000 : (DWORD)room;
  if (!ReadFile((HANDLE)file, into, ask, &n, nullptr)) {
    // The other end of a pipe closed: that is its end.
    if (GetLastError() != ERROR_BROKEN_PIPE) return Failed(error);
    n = 0;
  }
  got = n;
  return true;
}

bool WriteAll(FileHandle file, const void* data, size_t size, uint32_t& error) {
  const char* p = (const char*)data;
  while (size) {
    DWORD n = 0;
    DWORD ask = size > 0x40000000 ? 0x40000000 : (DWORD)size;
    if (!WriteFile((HANDLE)file, p, ask, &n, nullptr)) return Failed(error);
    if (!n) {
      error = ERROR_WRITE_FAULT;
      return false;
    }
    p += n;
    size -= n;
  }
  return true;
}

bool SetPermissions(FileHandle, uint32_t, uint32_t&) { return true; }

bool CloseFile(FileHandle file, uint32_t& error) {
  return CloseHandle((HANDLE)file) || Failed(error);
}

bool MoveOver(const char* from, const char* to, uint32_t& error) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) || Failed(error);
}

void RemoveFile(const char* path) { DeleteFileA(path); }

const char* FileNameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\' || *p == ':') name = p + 1;
  return name;
}

uint32_t NewFileMode() { return 0666; }

bool IsNameTaken(uint32_t error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

uint32_t Noise() {
  static uint32_t calls;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (uint32_t)now.LowPart ^ GetCurrentProcessId() << 16 ^ ++calls * 40503u;
}

Text Reason(uint32_t error) {
  char words[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, words, sizeof words, nullptr);
  // The system's sentence without its full stop and line end, as the message goes on.
  while (n && (words[n - 1] == '\n' || words[n - 1] == '\r' || words[n - 1] == '.' ||
               words[n - 1] == ' '))
    --n;
  if (!n) return "error " + Decimal(error);
  return Text(words, n);
}
