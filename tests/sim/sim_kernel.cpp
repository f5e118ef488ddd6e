// Simulated desktop, kernel32 side (files over POSIX, address space over mmap,
// string helpers, the module and command line) plus wsprintfA, the file
// dialogs and ShellExecuteA.
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "sim/sim.h"

namespace sim {
namespace {

using namespace win;

const HMODULE kModule = (HMODULE)(uintptr_t)0x00400000;
const HMODULE kKernel32 = (HMODULE)(uintptr_t)0x7C800000;
const HMODULE kUser32 = (HMODULE)(uintptr_t)0x7E410000;
constexpr size_t kPage = 4096;          // as on Windows, and as mprotect needs on the host
constexpr size_t kGranularity = 65536;  // what a reservation is rounded up to

struct OpenFile {
  int fd = -1;
  DWORD access = 0, share = 0;
  dev_t dev = 0;
  ino_t ino = 0;
};

using FileDialogScript = std::function<std::optional<std::string>(const FileDialogCall&)>;

struct Kernel {
  // Files.
  std::map<HANDLE, OpenFile> files;
  std::map<char, std::string> drives;
  long long diskSpace = -1;
  int badCloses = 0;
  int failSeek = 0;
  int waitsUnderHooks = 0;
  // Address space: reservations by base, each with its committed pages.
  std::map<char*, std::vector<bool>> regions;
  std::vector<size_t> allocRequests;
  int failAlloc = 0;
  int badFrees = 0;
  long long addressSpace = -1;
  // Process.
  std::string modulePath = "C:\\Kavorin\\Kavorin.exe";
  std::string commandLine;
  // Calls found at run time: those a test made missing.
  std::set<std::string> missingProcs;
  BOOL processInformationResult = TRUE;
  std::vector<ProcessInformationCall> processInformation;
  // Dialogs and shell.
  std::deque<FileDialogScript> dialogScripts;
  std::vector<FileDialogCall> dialogs;
  intptr_t shellResult = 42;
  std::vector<ShellCall> shellCalls;

  Kernel() = default;
  Kernel(const Kernel&) = default;
  Kernel& operator=(const Kernel&) = default;
  // What the last test left behind goes with Reset or the process, so that
  // leak reports name only memory the sim does not track (LiveBlocks does).
  ~Kernel() { Release(); }
  void Release() {
    for (auto& r : regions) ::munmap(r.first, r.second.size() * kPage);
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

// Writes what fits in the disk space left (SetDiskSpace); returns the bytes written.
DWORD WriteWithin(int fd, const void* data, DWORD count) {
  Kernel& k = K();
  DWORD allowed = k.diskSpace >= 0 ? (DWORD)std::min<long long>(count, k.diskSpace) : count;
  DWORD done = 0;
  while (done < allowed) {
    ssize_t n = ::write(fd, (const char*)data + done, allowed - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += (DWORD)n;
  }
  if (k.diskSpace >= 0) k.diskSpace -= done;
  return done;
}

// Copies a file's bytes within the disk space left. A copy that fails leaves
// no target behind, as CopyFile does.
bool CopyContents(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = out >= 0;
  char buffer[65536];
  while (ok) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = WriteWithin(out, buffer, (DWORD)n) == (DWORD)n;
  }
  ::close(in);
  if (out >= 0 && ::close(out) != 0) ok = false;
  if (!ok && out >= 0) ::unlink(to.c_str());
  return ok;
}

BOOL FileDialog(OPENFILENAMEA* ofn, bool save) {
  Kernel& k = K();
  if (!ofn) return FALSE;
  if (ofn->lStructSize != sizeof(OPENFILENAMEA)) return FALSE;  // the dialog checks its size
  FileDialogCall call{};
  call.save = save;
  call.owner = ofn->hwndOwner;
  for (const char* p = ofn->lpstrFilter; p && *p; p += std::strlen(p) + 1) call.filter.push_back(p);
  if (ofn->lpstrFile)
    call.file = std::string(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
  call.initialDir = Opt(ofn->lpstrInitialDir);
  call.title = Opt(ofn->lpstrTitle);
  call.defExt = Opt(ofn->lpstrDefExt);
  call.flags = ofn->Flags;
  k.dialogs.push_back(call);

  std::optional<std::string> answer =
      detail::NextScript(k.dialogScripts, call, std::optional<std::string>());
  if (!ofn->lpstrFile || ofn->nMaxFile == 0) return FALSE;
  if (!answer) {
    ofn->lpstrFile[0] = 0;
    return FALSE;
  }
  if (answer->size() + 1 > ofn->nMaxFile) {
    // FNERR_BUFFERTOOSMALL: the size needed goes in the first two bytes.
    if (ofn->nMaxFile >= 2) {
      WORD need = (WORD)std::min<size_t>(answer->size() + 1, 0xFFFF);
      std::memcpy(ofn->lpstrFile, &need, 2);
    }
    return FALSE;
  }
  std::memcpy(ofn->lpstrFile, answer->c_str(), answer->size() + 1);
  return TRUE;
}

// The reservation holding [at, at + bytes), or none.
std::map<char*, std::vector<bool>>::iterator RegionOf(const char* at, size_t bytes) {
  auto& regions = K().regions;
  auto it = regions.upper_bound(const_cast<char*>(at));
  if (it == regions.begin()) return regions.end();
  --it;
  size_t offset = (size_t)(at - it->first);
  if (offset + bytes > it->second.size() * kPage) return regions.end();
  return it;
}

BOOL WINAPI SetProcessInformation(HANDLE process, int infoClass, LPVOID info, DWORD size) {
  ProcessInformationCall call{process, infoClass, size, {}};
  if (info && size == sizeof call.throttling) std::memcpy(&call.throttling, info, size);
  K().processInformation.push_back(call);
  return K().processInformationResult;
}

// What GetProcAddress finds, by module and name.
const struct {
  HMODULE module;
  const char* name;
  FARPROC proc;
} kProcs[] = {
    {kKernel32, "SetProcessInformation", (FARPROC)SetProcessInformation},
    {kUser32, "SetThreadDpiAwarenessContext", (FARPROC)detail::SetThreadDpiAwarenessContext},
};

}  // namespace

namespace detail {
void ResetKernel() {
  K().Release();
  K() = Kernel{};
}
}  // namespace detail

// ---- Control API -----------------------------------------------------------

void MapDrive(char letter, const std::string& hostDirectory) {
  K().drives[(char)std::toupper((unsigned char)letter)] = hostDirectory;
}

void SetDiskSpace(long long bytes) { K().diskSpace = bytes; }
int OpenFiles() { return (int)K().files.size(); }
void FailSeek(int count) { K().failSeek = count; }
int WaitsUnderHooks() { return K().waitsUnderHooks; }
int BadCloses() { return K().badCloses; }

int LiveBlocks() { return (int)K().regions.size(); }
size_t CommittedBytes() {
  size_t pages = 0;
  for (auto& r : K().regions) pages += (size_t)std::count(r.second.begin(), r.second.end(), true);
  return pages * kPage;
}
void SetAddressSpace(long long bytes) { K().addressSpace = bytes; }
const std::vector<size_t>& AllocRequests() { return K().allocRequests; }
void FailAlloc(int count) { K().failAlloc = count; }
int BadFrees() { return K().badFrees; }

void SetModulePath(const std::string& path) { K().modulePath = path; }
win::HMODULE ModuleHandle() { return kModule; }
void SetProcAvailable(const std::string& name, bool available) {
  if (available)
    K().missingProcs.erase(name);
  else
    K().missingProcs.insert(name);
}
void SetProcessInformationResult(BOOL result) { K().processInformationResult = result; }
const std::vector<ProcessInformationCall>& ProcessInformationCalls() {
  return K().processInformation;
}

void PushFileChoice(const std::string& path) {
  K().dialogScripts.push_back(
      [path](const FileDialogCall&) { return std::optional<std::string>(path); });
}
void PushFileCancel() {
  K().dialogScripts.push_back([](const FileDialogCall&) { return std::optional<std::string>(); });
}
const std::vector<FileDialogCall>& FileDialogs() { return K().dialogs; }

void SetShellResult(intptr_t result) { K().shellResult = result; }
const std::vector<ShellCall>& ShellCalls() { return K().shellCalls; }

}  // namespace sim

// =============================================================================
// The Win32 calls
// =============================================================================

namespace win {

using sim::K;

LPSTR WINAPI GetCommandLineA() {
  K().commandLine = "\"" + K().modulePath + "\"";
  return &K().commandLine[0];
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (!name) return sim::kModule;
  std::string lower(name);
  for (char& c : lower) c = (char)std::tolower((unsigned char)c);
  if (lower == "user32" || lower == "user32.dll") return sim::kUser32;
  return lower == "kernel32" || lower == "kernel32.dll" ? sim::kKernel32 : nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (!name || K().missingProcs.count(name)) return nullptr;
  for (const auto& proc : sim::kProcs)
    if (proc.module == module && std::strcmp(proc.name, name) == 0) return proc.proc;
  return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module && module != sim::kModule) return 0;
  if (!buffer || size == 0) return 0;
  const std::string& path = K().modulePath;
  DWORD n = (DWORD)std::min<size_t>(path.size(), size - 1);
  std::memcpy(buffer, path.data(), n);
  buffer[n] = 0;
  return path.size() >= size ? size : n;  // cut: ERROR_INSUFFICIENT_BUFFER, as on Vista and later
}

void WINAPI ExitProcess(UINT code) { throw sim::ProcessExit{code}; }

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, void*, DWORD creation, DWORD,
                          HANDLE) {
  K().waitsUnderHooks += sim::InstalledHooks() > 0;
  if (!path || !*path) return INVALID_HANDLE_VALUE();
  std::string host = sim::HostPath(path);
  struct stat st;
  bool exists = sim::StatPath(host, &st);
  if (exists && S_ISDIR(st.st_mode)) return INVALID_HANDLE_VALUE();
  int oflags;
  if (creation == CREATE_ALWAYS) {
    oflags = O_CREAT | O_TRUNC;
  } else if (creation == OPEN_EXISTING && exists) {
    oflags = 0;
  } else if (creation == OPEN_ALWAYS) {
    oflags = O_CREAT;
  } else if (creation == CREATE_NEW && !exists) {
    oflags = O_CREAT | O_EXCL;
  } else {
    return INVALID_HANDLE_VALUE();
  }
  if (exists && !sim::SharingAllows(st, access, share)) return INVALID_HANDLE_VALUE();
  bool wantWrite = (access & GENERIC_WRITE) != 0;
  bool wantRead = (access & GENERIC_READ) != 0;
  int mode = wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  if ((oflags & O_TRUNC) && !wantWrite) mode = O_RDWR;  // truncation needs a writable descriptor
  int fd = ::open(host.c_str(), mode | oflags | O_CLOEXEC, 0644);
  if (fd < 0) return INVALID_HANDLE_VALUE();
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return INVALID_HANDLE_VALUE();
  }
  HANDLE h = (HANDLE)sim::detail::NewHandle();
  K().files[h] = sim::OpenFile{fd, access, share, st.st_dev, st.st_ino};
  return h;
}

DWORD WINAPI GetFileSize(HANDLE file, DWORD* high) {
  sim::OpenFile* f = sim::Find(file);
  struct stat st;
  if (!f || ::fstat(f->fd, &st) != 0) return INVALID_FILE_SIZE;
  if (high) *high = (DWORD)((uint64_t)st.st_size >> 32);
  return (DWORD)st.st_size;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG*, DWORD method) {
  sim::OpenFile* f = sim::Find(file);
  struct stat st;
  int64_t base = -1;
  if (K().failSeek > 0) {
    --K().failSeek;
  } else if (f && method == FILE_BEGIN) {
    base = 0;
  } else if (f && method == FILE_END && ::fstat(f->fd, &st) == 0) {
    base = st.st_size;
  }
  int64_t pos = base + distance;
  if (base < 0 || pos < 0 || ::lseek(f->fd, (off_t)pos, SEEK_SET) < 0)
    return INVALID_SET_FILE_POINTER;
  return (DWORD)pos;
}

BOOL WINAPI ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, void*) {
  sim::OpenFile* f = sim::Find(file);
  bool ok = f && (f->access & GENERIC_READ) && (buffer || count == 0);
  DWORD done = 0;
  while (ok && done < count) {
    ssize_t n = ::read(f->fd, (char*)buffer + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    done += (DWORD)n;
  }
  if (read) *read = done;
  return ok ? TRUE : FALSE;
}

BOOL WINAPI WriteFile(HANDLE file, const void* data, DWORD count, DWORD* written, void*) {
  sim::OpenFile* f = sim::Find(file);
  bool ok = f && (f->access & GENERIC_WRITE) && (data || count == 0);
  DWORD done = ok ? sim::WriteWithin(f->fd, data, count) : 0;
  if (written) *written = done;
  return ok && done == count ? TRUE : FALSE;  // a short write (disk full) fails
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
  sim::OpenFile* f = sim::Find(file);
  return f && (f->access & GENERIC_WRITE) && ::fsync(f->fd) == 0 ? TRUE : FALSE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  auto it = K().files.find(handle);
  if (it == K().files.end()) {
    ++K().badCloses;
    return FALSE;
  }
  ::close(it->second.fd);
  K().files.erase(it);
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  std::string host = sim::HostPath(path);
  struct stat st;
  if (!path || !sim::StatPath(host, &st) || S_ISDIR(st.st_mode) || sim::OpenInSim(st)) return FALSE;
  return ::unlink(host.c_str()) == 0 ? TRUE : FALSE;
}

// A file whose owner may not write it reads as read-only (whoever runs the test).
DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  struct stat st;
  if (!path || !sim::StatPath(sim::HostPath(path), &st)) return INVALID_FILE_ATTRIBUTES;
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

BOOL WINAPI CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
  K().waitsUnderHooks += sim::InstalledHooks() > 0;
  std::string a = sim::HostPath(from), b = sim::HostPath(to);
  struct stat sa, sb;
  bool ok = from && to && sim::StatPath(a, &sa) && !S_ISDIR(sa.st_mode) &&
            sim::SharingAllows(sa, GENERIC_READ, FILE_SHARE_READ);
  if (ok && sim::StatPath(b, &sb)) {
    ok = !failIfExists && !S_ISDIR(sb.st_mode) && !sim::OpenInSim(sb) &&
         !(sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino);
  }
  return ok && sim::CopyContents(a, b) ? TRUE : FALSE;
}

BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  std::string a = sim::HostPath(from), b = sim::HostPath(to);
  struct stat sa, sb;
  bool ok = from && to && sim::StatPath(a, &sa) && !sim::OpenInSim(sa);
  if (ok && sim::StatPath(b, &sb)) {
    ok = (flags & MOVEFILE_REPLACE_EXISTING) && !S_ISDIR(sb.st_mode) && !sim::OpenInSim(sb);
  }
  return ok && ::rename(a.c_str(), b.c_str()) == 0 ? TRUE : FALSE;
}

LPVOID WINAPI VirtualAlloc(LPVOID address, size_t bytes, DWORD type, DWORD protect) {
  sim::Kernel& k = K();
  k.allocRequests.push_back(bytes);
  if (k.failAlloc > 0) {
    --k.failAlloc;
    return nullptr;
  }
  if (type == MEM_RESERVE && !address && bytes) {
    size_t size = (bytes + sim::kGranularity - 1) / sim::kGranularity * sim::kGranularity;
    if (k.addressSpace >= 0 && size > (size_t)k.addressSpace) return nullptr;
    void* base =
        ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    k.regions[(char*)base].assign(size / sim::kPage, false);
    return base;
  }
  if (type == MEM_COMMIT && protect == PAGE_READWRITE && address && bytes) {
    // Whole pages, from the one holding the first byte to the one holding the last.
    char* first = (char*)((uintptr_t)address / sim::kPage * sim::kPage);
    size_t size = ((char*)address + bytes - first + sim::kPage - 1) / sim::kPage * sim::kPage;
    auto it = sim::RegionOf(first, size);
    if (it == k.regions.end() || ::mprotect(first, size, PROT_READ | PROT_WRITE) != 0)
      return nullptr;
    size_t page = (size_t)(first - it->first) / sim::kPage;
    std::fill(it->second.begin() + (long)page,
              it->second.begin() + (long)(page + size / sim::kPage), true);
    return first;
  }
  return nullptr;  // not modelled
}

BOOL WINAPI VirtualFree(LPVOID address, size_t bytes, DWORD type) {
  sim::Kernel& k = K();
  auto it = k.regions.find((char*)address);
  if (type != MEM_RELEASE || bytes != 0 || it == k.regions.end()) {
    ++k.badFrees;
    return FALSE;
  }
  ::munmap(it->first, it->second.size() * sim::kPage);
  k.regions.erase(it);
  return TRUE;
}

int WINAPI lstrlenA(LPCSTR text) { return text ? (int)std::strlen(text) : 0; }

// The conversions the program uses (%s %c %d %i %u %x %X %% with flags,
// width and precision) read 32-bit arguments as in C; like Windows, the
// output stops at 1023 characters.
extern "C" int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  if (!buffer || !format) return 0;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, 1024, format, args);
  va_end(args);
  return std::max(0, std::min(n, 1023));
}

BOOL WINAPI GetOpenFileNameA(OPENFILENAMEA* ofn) { return sim::FileDialog(ofn, false); }
BOOL WINAPI GetSaveFileNameA(OPENFILENAMEA* ofn) { return sim::FileDialog(ofn, true); }

HINSTANCE WINAPI ShellExecuteA(HWND window, LPCSTR verb, LPCSTR file, LPCSTR, LPCSTR, int show) {
  K().waitsUnderHooks += sim::InstalledHooks() > 0;
  K().shellCalls.push_back(sim::ShellCall{window, sim::Opt(verb), sim::Opt(file), show});
  return (HINSTANCE)K().shellResult;
}

}  // namespace win
