#include "files/recfile.h"

#include "core/state.h"

using namespace win;

namespace {

constexpr int kMaxPath = 260;      // a path and its terminator, for the 8-bit file functions
constexpr int kTooLongSize = 200;  // our words and the start of the path

HANDLE OpenShared(const char* path, DWORD access, DWORD creation) {
  return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, creation,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The size of an open file; files of 4 GiB or more answer 0xFFFFFFFF, which
// no caller can take as a recording.
DWORD SizeOfOpen(HANDLE file) {
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  if (high) return 0xFFFFFFFF;
  return low == INVALID_FILE_SIZE ? 0 : low;
}

}  // namespace

DWORD FileSizeOf(const char* path) {
  char own[260];
  if (!path || !path[0]) {
    for (char& c : own) c = 0;
    GetModuleFileNameA(GetModuleHandleA(nullptr), own, 259);
    path = own;
  }
  HANDLE file = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE()) return 0;
  DWORD size = SizeOfOpen(file);
  CloseHandle(file);
  return size;
}

DWORD ReadFileAt(const char* path, int32_t offset, void* buffer, DWORD maxCount) {
  DWORD got = 0;
  HANDLE file = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
  if (file != INVALID_HANDLE_VALUE()) {
    DWORD size = SizeOfOpen(file);
    // A seek that fails would read from wherever the file stands: read nothing.
    if (size && SetFilePointer(file, offset, nullptr, offset < 0 ? FILE_END : FILE_BEGIN) !=
                    INVALID_SET_FILE_POINTER) {
      if (!ReadFile(file, buffer, maxCount < size ? maxCount : size, &got, nullptr)) got = 0;
    }
    CloseHandle(file);
  }
  ((char*)buffer)[got] = 0;
  return got;
}

DWORD WriteFileAt(const char* path, int32_t offset, const void* data, DWORD count) {
  HANDLE file = OpenShared(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE()) return 0;
  DWORD written = 0;
  // A seek that fails would write over what lies at the start: write nothing.
  if (SetFilePointer(file, offset < 0 ? 0 : offset, nullptr, offset < 0 ? FILE_END : FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER ||
      !WriteFile(file, data, count, &written, nullptr))
    written = 0;
  CloseHandle(file);
  return written;
}

void TempNameFor(char* temp, const char* path, DWORD attempt) {
  // The folder part, with its last backslash or slash (or the drive's colon):
  // the temporary file lies beside the target, so that moving it there is a
  // rename.
  int folder = 0;
  for (int i = 0; path[i]; ++i)
    if (path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':')) folder = i + 1;
  if (folder + kTempNameLength >= kTempPathSize) {
    temp[0] = 0;
    return;
  }
  CopyText(temp, path, folder + 1);
  wsprintfA(temp + folder, "~kv%05x.tmp", (timeGetTime() + attempt * 40503u) & 0xFFFFF);
}

HANDLE CreateTempBeside(char* temp, const char* path) {
  for (DWORD attempt = 0; attempt < kTempAttempts; ++attempt) {
    TempNameFor(temp, path, attempt);
    if (!temp[0]) break;
    // A new file only: a name that is taken belongs to someone, try another.
    HANDLE file =
        CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE()) return file;
  }
  temp[0] = 0;
  return INVALID_HANDLE_VALUE();
}

bool PutInPlace(const char* temp, const char* path, bool whole) {
  // A read-only file stays as it is: Windows refuses to replace one, and
  // Wine would replace it.
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    whole = false;
  if (whole && MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DeleteFileA(temp);
  return false;
}

bool ReplaceFileWith(const char* path, const void* data, DWORD count) {
  char temp[kTempPathSize];
  HANDLE file = CreateTempBeside(temp, path);
  if (file == INVALID_HANDLE_VALUE()) return false;
  DWORD written = 0;
  bool whole =
      WriteFile(file, data, count, &written, nullptr) && written == count && FlushFileBuffers(file);
  CloseHandle(file);
  return PutInPlace(temp, path, whole);
}

void StripDirectory(char* text) {
  char* name = text;
  for (char* p = text; *p; ++p)
    if (*p == '\\') name = p + 1;
  if (name != text) {
    while ((*text++ = *name++)) {
    }
  }
}

void TakeName(const char* name) {
  CopyText(gApp.currentName, name, kNameLimit + 1);
  SetTitle(gApp.currentName);
}

DWORD LoadRecording(char* path, int32_t offset) {
  // The new recording goes into a block of its own: until it has passed,
  // the recording in memory and everything about it stay as they are.
  if (lstrlenA(path) >= kMaxPath) {
    // The 8-bit file functions take no longer path: say so, not "not valid".
    char text[kTooLongSize];
    CopyText(text, "This path is too long to open: Windows takes at most 259 characters.\n\n",
             kTooLongSize);
    AppendText(text, path, kTooLongSize);
    MessageBoxA(gApp.mainWindow, text, kCaption, kWarningBox);
    return 0;
  }
  DWORD size = FileSizeOf(path);
  EventRecord* block = nullptr;
  DWORD got = 0;  // a file too large for one block stays unread: too short to pass
  if (RecordingFits(size)) {
    block = (EventRecord*)AllocZeroed(size + kLoadSlack, 1);
    if (!block) {
      MessageBoxA(gApp.mainWindow, "Not enough memory to open the recording", kCaption,
                  kWarningBox);
      return 0;
    }
    got = ReadFileAt(path, offset, block, size);
  }
  if (!IsValidRecording(block, got)) {
    FreeBlock(block);
    MessageBoxA(gApp.mainWindow, "Not a valid recording", path, kWarningBox);
    return 0;
  }
  // A recording still running ends as a click on the red ball ends it, before
  // its block goes.
  if (IsRecording()) SendMessageA(gApp.mainWindow, WM_COMMAND, kCmdRecord, 0);
  FreeBlock(gApp.recordingBuffer);
  gApp.recordingBuffer = block;
  gApp.eventCursor = (BlockSize(block) - kLoadSlack) / kRecordSize;
  gApp.eventCount = got / kRecordSize;
  StripDirectory(path);
  TakeName(path);
  return got;
}
