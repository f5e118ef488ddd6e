// Simulated desktop, kernel32 side (files over POSIX, the heap over malloc,
// string helpers, the module and command line) plus wsprintfA, the file
// dialogs and ShellExecuteA.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

#include "sim/sim.h"

namespace sim {
namespace {

using namespace win;

constexpr DWORD kCreateNew = 1;
constexpr DWORD kTruncateExisting = 5;
constexpr DWORD kFileCurrent = 1;
constexpr DWORD kMoveFileCopyAllowed = 2;
const HMODULE kModule = (HMODULE)(uintptr_t)0x00400000;
const HANDLE kHeap = (HANDLE)(uintptr_t)0x00150000;

struct OpenFile {
  int fd = -1;
  std::string path;
  DWORD access = 0, share = 0;
  dev_t dev = 0;
  ino_t ino = 0;
};

struct Kernel {
  // Files.
  std::map<HANDLE, OpenFile> files;
  std::map<char, std::string> drives;
  int failCreate = 0, failRead = 0, failWrite = 0;
  long long diskSpace = -1;
  int badCloses = 0;
  std::vector<FileOp> ops;
  // Heap.
  std::map<void*, size_t> blocks;
  size_t liveBytes = 0;
  std::vector<size_t> allocRequests;
  int failAlloc = 0;
  size_t allocLimit = SIZE_MAX;
  int badFrees = 0;
  // Process.
  std::string modulePath = "C:\\Kavorin\\Kavorin.exe";
  std::string commandLine = "\"C:\\Kavorin\\Kavorin.exe\"";
  // Dialogs and shell.
  std::deque<FileDialogScript> dialogScripts;
  std::vector<FileDialogCall> dialogs;
  intptr_t shellResult = 42;
  std::vector<ShellCall> shellCalls;

  Kernel() = default;
  Kernel(const Kernel&) = default;
  Kernel& operator=(const Kernel&) = default;
  // What the last test left behind goes with the process, so that leak
  // reports name only memory the sim does not track (LiveBlocks does).
  ~Kernel() {
    for (auto& b : blocks) std::free(b.first);
    for (auto& f : files) ::close(f.second.fd);
  }
};

Kernel& K() {
  static Kernel kernel;
  return kernel;
}

std::optional<std::string> Opt(const char* text) {
  if (!text) return std::nullopt;
  return std::string(text);
}

OpenFile* Find(HANDLE h) {
  auto it = K().files.find(h);
  return it == K().files.end() ? nullptr : &it->second;
}

bool StatPath(const std::string& host, struct stat* st) { return ::stat(host.c_str(), st) == 0; }

// Whether opening a file with 'access' and 'share' is compatible with the
// handles the sim has open on the same file.
bool SharingAllows(const struct stat& st, DWORD access, DWORD share) {
  for (auto& f : K().files) {
    const OpenFile& o = f.second;
    if (o.dev != st.st_dev || o.ino != st.st_ino) continue;
    if ((access & GENERIC_READ) && !(o.share & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(o.share & FILE_SHARE_WRITE)) return false;
    if ((o.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
    if ((o.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
  }
  return true;
}

bool OpenInSim(const struct stat& st) {
  for (auto& f : K().files)
    if (f.second.dev == st.st_dev && f.second.ino == st.st_ino) return true;
  return false;
}

void Log(FileOp op) { K().ops.push_back(std::move(op)); }

// Copies a file's bytes, within the disk space left (SetDiskSpace). A copy
// that fails leaves no target behind, as CopyFile does.
bool CopyContents(const std::string& from, const std::string& to) {
  Kernel& k = K();
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  long long copied = 0;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (k.diskSpace >= 0 && copied + n > k.diskSpace) {
      ok = false;  // disk full
      break;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buffer + done, (size_t)(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
    copied += n;
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (!ok) {
    ::unlink(to.c_str());
  } else if (k.diskSpace >= 0) {
    k.diskSpace -= copied;
  }
  return ok;
}

void CloseAll() {
  for (auto& f : K().files) ::close(f.second.fd);
  K().files.clear();
}

void FreeAll() {
  for (auto& b : K().blocks) std::free(b.first);
  K().blocks.clear();
}

BOOL FileDialog(OPENFILENAMEA* ofn, bool save) {
  Kernel& k = K();
  if (!ofn) return FALSE;
  if (ofn->lStructSize != sizeof(OPENFILENAMEA)) return FALSE;  // the dialog checks its size
  FileDialogCall call{};
  call.save = save;
  call.structSize = ofn->lStructSize;
  call.owner = ofn->hwndOwner;
  call.instance = ofn->hInstance;
  call.filterNull = ofn->lpstrFilter == nullptr;
  for (const char* p = ofn->lpstrFilter; p && *p; p += std::strlen(p) + 1) call.filter.push_back(p);
  call.customFilterNull = ofn->lpstrCustomFilter == nullptr;
  call.filterIndex = ofn->nFilterIndex;
  call.fileNull = ofn->lpstrFile == nullptr;
  if (ofn->lpstrFile)
    call.file = std::string(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
  call.maxFile = ofn->nMaxFile;
  call.fileTitleNull = ofn->lpstrFileTitle == nullptr;
  call.initialDir = Opt(ofn->lpstrInitialDir);
  call.title = Opt(ofn->lpstrTitle);
  call.defExt = Opt(ofn->lpstrDefExt);
  call.flags = ofn->Flags;
  call.custData = ofn->lCustData;
  call.hook = ofn->lpfnHook;
  call.templateNull = ofn->lpTemplateName == nullptr;
  call.time = win::GetTickCount();
  size_t index = k.dialogs.size();
  k.dialogs.push_back(call);

  std::optional<std::string> answer;
  if (!k.dialogScripts.empty()) {
    FileDialogScript script = std::move(k.dialogScripts.front());
    k.dialogScripts.pop_front();
    answer = script(call);
  }
  bool result = false;
  if (answer && ofn->lpstrFile) {
    if (answer->size() + 1 > ofn->nMaxFile) {
      // FNERR_BUFFERTOOSMALL: the size needed goes in the first two bytes.
      if (ofn->nMaxFile >= 2) {
        WORD need = (WORD)std::min<size_t>(answer->size() + 1, 0xFFFF);
        std::memcpy(ofn->lpstrFile, &need, 2);
      }
    } else {
      std::memcpy(ofn->lpstrFile, answer->c_str(), answer->size() + 1);
      size_t name = answer->find_last_of("\\/");
      name = name == std::string::npos ? 0 : name + 1;
      size_t dot = answer->find_last_of('.');
      ofn->nFileOffset = (WORD)name;
      ofn->nFileExtension =
          (WORD)(dot != std::string::npos && dot >= name ? dot + 1 : answer->size());
      if (ofn->lpstrFileTitle && ofn->nMaxFileTitle > 0) {
        std::string title = answer->substr(name);
        size_t n = std::min<size_t>(title.size(), ofn->nMaxFileTitle - 1);
        std::memcpy(ofn->lpstrFileTitle, title.data(), n);
        ofn->lpstrFileTitle[n] = 0;
      }
      result = true;
    }
  } else if (ofn->lpstrFile && ofn->nMaxFile > 0) {
    ofn->lpstrFile[0] = 0;
  }
  k.dialogs[index].answer = answer;
  k.dialogs[index].result = result;
  return result ? TRUE : FALSE;
}

// wsprintfA's formatting: %s %c %d %i %u %x %X %%, flags '-' '0' '#', width,
// precision, and the 'l' / 'h' size prefixes (all 32-bit).
int Format(char* buffer, const char* format, va_list args) {
  constexpr size_t kLimit = 1024;
  std::string out;
  for (const char* p = format; *p;) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    ++p;
    bool left = false, zero = false, alt = false;
    for (;; ++p) {
      if (*p == '-') {
        left = true;
      } else if (*p == '0') {
        zero = true;
      } else if (*p == '#') {
        alt = true;
      } else {
        break;
      }
    }
    size_t width = 0;
    while (*p >= '0' && *p <= '9') width = width * 10 + (size_t)(*p++ - '0');
    bool hasPrecision = false;
    size_t precision = 0;
    if (*p == '.') {
      hasPrecision = true;
      ++p;
      while (*p >= '0' && *p <= '9') precision = precision * 10 + (size_t)(*p++ - '0');
    }
    while (*p == 'l' || *p == 'h') ++p;
    char conv = *p;
    if (!conv) break;
    ++p;
    std::string field;
    bool numeric = false;
    switch (conv) {
      case 'c':
        field = std::string(1, (char)va_arg(args, int));
        break;
      case 's': {
        const char* s = va_arg(args, const char*);
        if (!s) s = "(null)";
        field = hasPrecision ? std::string(s, strnlen(s, precision)) : std::string(s);
        break;
      }
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X': {
        numeric = true;
        char digits[40];
        bool negative = false;
        uint32_t v;
        if (conv == 'd' || conv == 'i') {
          int32_t s = va_arg(args, int32_t);
          negative = s < 0;
          v = negative ? (uint32_t)0 - (uint32_t)s : (uint32_t)s;
        } else {
          v = va_arg(args, uint32_t);
        }
        const char* set = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        uint32_t base = (conv == 'x' || conv == 'X') ? 16 : 10;
        int n = 0;
        do {
          digits[n++] = set[v % base];
          v /= base;
        } while (v);
        std::string body;
        while ((size_t)n < precision && n < 32) digits[n++] = '0';
        while (n) body += digits[--n];
        std::string prefix = negative ? "-" : "";
        if (alt && base == 16) prefix += conv == 'X' ? "0X" : "0x";
        if (zero && !left && !hasPrecision && body.size() + prefix.size() < width)
          body.insert(0, width - body.size() - prefix.size(), '0');
        field = prefix + body;
        break;
      }
      case '%':
        field = "%";
        break;
      default:
        field = std::string(1, conv);
    }
    (void)numeric;
    if (field.size() < width) {
      if (left) {
        field.append(width - field.size(), ' ');
      } else {
        field.insert(0, width - field.size(), ' ');
      }
    }
    out += field;
    if (out.size() >= kLimit) break;
  }
  size_t n = std::min(out.size(), kLimit - 1);
  std::memcpy(buffer, out.data(), n);
  buffer[n] = 0;
  return (int)n;
}

}  // namespace

namespace detail {
void ResetKernel() {
  CloseAll();
  FreeAll();
  K() = Kernel{};
}
}  // namespace detail

// ---- Control API -----------------------------------------------------------

void MapDrive(char letter, const std::string& hostDirectory) {
  K().drives[(char)std::toupper((unsigned char)letter)] = hostDirectory;
}

std::string HostPath(const char* path) {
  std::string s = path ? path : "";
  std::replace(s.begin(), s.end(), '\\', '/');
  if (s.size() >= 2 && std::isalpha((unsigned char)s[0]) && s[1] == ':') {
    auto it = K().drives.find((char)std::toupper((unsigned char)s[0]));
    if (it != K().drives.end()) {
      std::string rest = s.substr(2);
      if (rest.empty()) return it->second;
      return it->second + (rest[0] == '/' ? "" : "/") + rest;
    }
  }
  return s;
}

void FailCreateFile(int count) { K().failCreate = count; }
void FailReadFile(int count) { K().failRead = count; }
void FailWriteFile(int count) { K().failWrite = count; }
void SetDiskSpace(long long bytes) { K().diskSpace = bytes; }
int OpenFiles() { return (int)K().files.size(); }
int BadCloses() { return K().badCloses; }
const std::vector<FileOp>& FileOps() { return K().ops; }

int LiveBlocks() { return (int)K().blocks.size(); }
size_t LiveBytes() { return K().liveBytes; }
const std::vector<size_t>& AllocRequests() { return K().allocRequests; }
void FailAlloc(int count) { K().failAlloc = count; }
void SetAllocLimit(size_t bytes) { K().allocLimit = bytes; }
int BadFrees() { return K().badFrees; }

void SetModulePath(const std::string& path) { K().modulePath = path; }
void SetCommandLine(const std::string& text) { K().commandLine = text; }
win::HMODULE ModuleHandle() { return kModule; }

void PushFileDialog(FileDialogScript script) { K().dialogScripts.push_back(std::move(script)); }
void PushFileChoice(const std::string& path) {
  PushFileDialog([path](const FileDialogCall&) { return std::optional<std::string>(path); });
}
void PushFileCancel() {
  PushFileDialog([](const FileDialogCall&) { return std::optional<std::string>(); });
}
const std::vector<FileDialogCall>& FileDialogs() { return K().dialogs; }
int PendingFileDialogScripts() { return (int)K().dialogScripts.size(); }

void SetShellResult(intptr_t result) { K().shellResult = result; }
const std::vector<ShellCall>& ShellCalls() { return K().shellCalls; }

}  // namespace sim

// =============================================================================
// The Win32 calls
// =============================================================================

namespace win {

using sim::K;

LPSTR WINAPI GetCommandLineA() { return &K().commandLine[0]; }

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (!name) return sim::kModule;
  std::string path = K().modulePath;
  size_t slash = path.find_last_of("\\/");
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string stem = base.substr(0, base.find_last_of('.'));
  if (lstrcmpiA(name, base.c_str()) == 0 || lstrcmpiA(name, stem.c_str()) == 0) return sim::kModule;
  return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module && module != sim::kModule) return 0;
  if (!buffer || size == 0) return 0;
  const std::string& path = K().modulePath;
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = 0;
    return size;  // ERROR_INSUFFICIENT_BUFFER, as on Vista and later
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return (DWORD)path.size();
}

void WINAPI ExitProcess(UINT code) { throw sim::ProcessExit{code}; }

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, void*, DWORD creation,
                          DWORD flags, HANDLE) {
  auto& k = K();
  sim::FileOp op{};
  op.kind = sim::FileOp::Create;
  op.path = path ? path : "";
  op.access = access;
  op.share = share;
  op.creation = creation;
  op.flags = flags;
  op.handle = INVALID_HANDLE_VALUE();
  auto fail = [&]() {
    sim::Log(op);
    return INVALID_HANDLE_VALUE();
  };
  if (!path || !*path) return fail();
  if (k.failCreate > 0) {
    --k.failCreate;
    return fail();
  }
  std::string host = sim::HostPath(path);
  struct stat st;
  bool exists = sim::StatPath(host, &st);
  if (exists && S_ISDIR(st.st_mode)) return fail();
  int oflags = 0;
  switch (creation) {
    case sim::kCreateNew:
      if (exists) return fail();
      oflags = O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      oflags = O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      if (!exists) return fail();
      break;
    case OPEN_ALWAYS:
      oflags = O_CREAT;
      break;
    case sim::kTruncateExisting:
      if (!exists) return fail();
      oflags = O_TRUNC;
      break;
    default:
      return fail();
  }
  if (exists && !sim::SharingAllows(st, access, share)) return fail();
  bool wantWrite = (access & GENERIC_WRITE) != 0;
  bool wantRead = (access & GENERIC_READ) != 0;
  int mode = wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  if ((oflags & O_TRUNC) && !wantWrite) mode = O_RDWR;  // truncation needs a writable descriptor
  int fd = ::open(host.c_str(), mode | oflags | O_CLOEXEC, 0644);
  if (fd < 0) return fail();
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return fail();
  }
  HANDLE h = (HANDLE)sim::detail::NewHandle();
  sim::OpenFile f;
  f.fd = fd;
  f.path = host;
  f.access = access;
  f.share = share;
  f.dev = st.st_dev;
  f.ino = st.st_ino;
  k.files[h] = f;
  op.handle = h;
  op.ok = true;
  sim::Log(op);
  return h;
}

DWORD WINAPI GetFileSize(HANDLE file, DWORD* high) {
  sim::FileOp op{};
  op.kind = sim::FileOp::Size;
  op.handle = file;
  op.result = INVALID_FILE_SIZE;
  sim::OpenFile* f = sim::Find(file);
  struct stat st;
  if (f && ::fstat(f->fd, &st) == 0) {
    uint64_t size = (uint64_t)st.st_size;
    if (high) *high = (DWORD)(size >> 32);
    op.result = (DWORD)size;
    op.ok = true;
  }
  sim::Log(op);
  return op.result;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* high, DWORD method) {
  sim::FileOp op{};
  op.kind = sim::FileOp::Seek;
  op.handle = file;
  op.method = method;
  op.result = INVALID_SET_FILE_POINTER;
  int64_t d =
      high ? (int64_t)(((uint64_t)(uint32_t)*high << 32) | (uint32_t)distance) : (int64_t)distance;
  op.distance = d;
  sim::OpenFile* f = sim::Find(file);
  if (f) {
    int64_t base = -1;
    struct stat st;
    if (method == FILE_BEGIN) {
      base = 0;
    } else if (method == sim::kFileCurrent) {
      base = ::lseek(f->fd, 0, SEEK_CUR);
    } else if (method == FILE_END && ::fstat(f->fd, &st) == 0) {
      base = st.st_size;
    }
    if (base >= 0 && base + d >= 0 && ::lseek(f->fd, (off_t)(base + d), SEEK_SET) >= 0) {
      uint64_t pos = (uint64_t)(base + d);
      if (high) *high = (LONG)(pos >> 32);
      op.result = (DWORD)pos;
      op.ok = true;
    }
  }
  sim::Log(op);
  return op.result;
}

BOOL WINAPI ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, void*) {
  auto& k = K();
  sim::FileOp op{};
  op.kind = sim::FileOp::Read;
  op.handle = file;
  op.count = count;
  if (read) *read = 0;
  sim::OpenFile* f = sim::Find(file);
  bool ok = f && (f->access & GENERIC_READ) && (buffer || count == 0);
  if (ok && k.failRead > 0) {
    --k.failRead;
    ok = false;
  }
  DWORD done = 0;
  while (ok && done < count) {
    ssize_t n = ::read(f->fd, (char*)buffer + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    done += (DWORD)n;
  }
  if (read) *read = done;
  op.done = done;
  op.ok = ok;
  sim::Log(op);
  return ok ? TRUE : FALSE;
}

BOOL WINAPI WriteFile(HANDLE file, const void* data, DWORD count, DWORD* written, void*) {
  auto& k = K();
  sim::FileOp op{};
  op.kind = sim::FileOp::Write;
  op.handle = file;
  op.count = count;
  if (written) *written = 0;
  sim::OpenFile* f = sim::Find(file);
  bool ok = f && (f->access & GENERIC_WRITE) && (data || count == 0);
  if (ok && k.failWrite > 0) {
    --k.failWrite;
    ok = false;
  }
  DWORD done = 0;
  if (ok) {
    DWORD allowed = count;
    if (k.diskSpace >= 0) allowed = (DWORD)std::min<long long>(count, k.diskSpace);
    while (done < allowed) {
      ssize_t n = ::write(f->fd, (const char*)data + done, allowed - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += (DWORD)n;
    }
    if (k.diskSpace >= 0) k.diskSpace -= done;
    ok = done == count;  // a short write (disk full) reports what it wrote, and fails
  }
  if (written) *written = done;
  op.done = done;
  op.ok = ok;
  sim::Log(op);
  return ok ? TRUE : FALSE;
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
  sim::FileOp op{};
  op.kind = sim::FileOp::Flush;
  op.handle = file;
  sim::OpenFile* f = sim::Find(file);
  op.ok = f && (f->access & GENERIC_WRITE) && ::fsync(f->fd) == 0;
  sim::Log(op);
  return op.ok ? TRUE : FALSE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  auto& k = K();
  sim::FileOp op{};
  op.kind = sim::FileOp::Close;
  op.handle = handle;
  auto it = k.files.find(handle);
  if (it == k.files.end()) {
    ++k.badCloses;
  } else {
    ::close(it->second.fd);
    k.files.erase(it);
    op.ok = true;
  }
  sim::Log(op);
  return op.ok ? TRUE : FALSE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  sim::FileOp op{};
  op.kind = sim::FileOp::Delete;
  op.path = path ? path : "";
  std::string host = sim::HostPath(path);
  struct stat st;
  op.ok = path && sim::StatPath(host, &st) && !S_ISDIR(st.st_mode) && !sim::OpenInSim(st) &&
          ::unlink(host.c_str()) == 0;
  sim::Log(op);
  return op.ok ? TRUE : FALSE;
}

BOOL WINAPI CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
  sim::FileOp op{};
  op.kind = sim::FileOp::Copy;
  op.path = from ? from : "";
  op.path2 = to ? to : "";
  op.flags = (DWORD)failIfExists;
  std::string a = sim::HostPath(from), b = sim::HostPath(to);
  struct stat sa, sb;
  bool ok = from && to && sim::StatPath(a, &sa) && !S_ISDIR(sa.st_mode) &&
            sim::SharingAllows(sa, GENERIC_READ, FILE_SHARE_READ);
  if (ok && sim::StatPath(b, &sb)) {
    ok = !failIfExists && !S_ISDIR(sb.st_mode) && !sim::OpenInSim(sb) &&
         !(sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino);
  }
  op.ok = ok && sim::CopyContents(a, b);
  sim::Log(op);
  return op.ok ? TRUE : FALSE;
}

BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  sim::FileOp op{};
  op.kind = sim::FileOp::Move;
  op.path = from ? from : "";
  op.path2 = to ? to : "";
  op.flags = flags;
  std::string a = sim::HostPath(from), b = sim::HostPath(to);
  struct stat sa, sb;
  bool ok = from && to && sim::StatPath(a, &sa) && !sim::OpenInSim(sa);
  if (ok && sim::StatPath(b, &sb)) {
    ok = (flags & MOVEFILE_REPLACE_EXISTING) && !S_ISDIR(sb.st_mode) && !sim::OpenInSim(sb);
  }
  if (ok && ::rename(a.c_str(), b.c_str()) != 0) {
    ok = errno == EXDEV && (flags & sim::kMoveFileCopyAllowed) && !S_ISDIR(sa.st_mode) &&
         sim::CopyContents(a, b) && ::unlink(a.c_str()) == 0;
  }
  op.ok = ok;
  sim::Log(op);
  return op.ok ? TRUE : FALSE;
}

HANDLE WINAPI GetProcessHeap() { return sim::kHeap; }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, size_t bytes) {
  auto& k = K();
  k.allocRequests.push_back(bytes);
  if (heap != sim::kHeap) return nullptr;
  if (k.failAlloc > 0) {
    --k.failAlloc;
    return nullptr;
  }
  if (bytes > k.allocLimit || bytes > 0x7FFF0000u) return nullptr;
  void* p = std::malloc(bytes ? bytes : 1);
  if (!p) return nullptr;
  std::memset(p, (flags & HEAP_ZERO_MEMORY) ? 0 : 0xCD, bytes ? bytes : 1);
  k.blocks[p] = bytes;
  k.liveBytes += bytes;
  return p;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
  auto& k = K();
  if (heap != sim::kHeap) return FALSE;
  if (!block) return TRUE;
  auto it = k.blocks.find(block);
  if (it == k.blocks.end()) {
    ++k.badFrees;
    return FALSE;
  }
  k.liveBytes -= it->second;
  std::free(block);
  k.blocks.erase(it);
  return TRUE;
}

size_t WINAPI HeapSize(HANDLE heap, DWORD, const void* block) {
  auto it = K().blocks.find(const_cast<void*>(block));
  if (heap != sim::kHeap || it == K().blocks.end()) return (size_t)-1;
  return it->second;
}

LPSTR WINAPI lstrcpynA(LPSTR to, LPCSTR from, int max) {
  if (!to || !from) return nullptr;
  if (max <= 0) return to;
  int i = 0;
  for (; i < max - 1 && from[i]; ++i) to[i] = from[i];
  to[i] = 0;
  return to;
}

int WINAPI lstrlenA(LPCSTR text) { return text ? (int)std::strlen(text) : 0; }

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (!a || !b) return a ? 1 : (b ? -1 : 0);
  for (;; ++a, ++b) {
    int x = std::tolower((unsigned char)*a), y = std::tolower((unsigned char)*b);
    if (x != y) return x < y ? -1 : 1;
    if (!x) return 0;
  }
}

extern "C" int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  if (!buffer || !format) return 0;
  va_list args;
  va_start(args, format);
  int n = sim::Format(buffer, format, args);
  va_end(args);
  return n;
}

BOOL WINAPI GetOpenFileNameA(OPENFILENAMEA* ofn) { return sim::FileDialog(ofn, false); }
BOOL WINAPI GetSaveFileNameA(OPENFILENAMEA* ofn) { return sim::FileDialog(ofn, true); }

HINSTANCE WINAPI ShellExecuteA(HWND window, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir,
                               int show) {
  K().shellCalls.push_back(sim::ShellCall{window, sim::Opt(verb), sim::Opt(file), sim::Opt(params),
                                          sim::Opt(dir), show});
  return (HINSTANCE)K().shellResult;
}

}  // namespace win
