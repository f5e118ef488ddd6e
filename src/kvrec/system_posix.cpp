// kvrec's file calls on Linux and other POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "kvrec/system.h"

namespace {

void Fill(const struct stat& st, FileFacts& facts) {
  facts.kind = S_ISREG(st.st_mode)                           ? kRegularFile
               : S_ISDIR(st.st_mode)                         ? kFolder
               : S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) ? kStream
                                                             : kOtherFile;
  facts.mode = st.st_mode & 0777;
  facts.size = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
}

bool Failed(uint32_t& error) {
  error = (uint32_t)errno;
  return false;
}

}  // namespace

bool Inspect(const char* path, Text& target, FileFacts& facts, uint32_t& error) {
  target = path;
  facts = FileFacts{};
  for (int links = 0;; ++links) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return errno == ENOENT || Failed(error);
    if (!S_ISLNK(st.st_mode)) {
      Fill(st, facts);
      // Root may write anything; a file without a write bit is still read-only to us.
      facts.readOnly = !(st.st_mode & 0222) || access(target.c_str(), W_OK) != 0;
      return true;
    }
    char link[4096];
    ssize_t n = links < 40 ? readlink(target.c_str(), link, sizeof link) : -1;
    if (links == 40) errno = ELOOP;
    if (n < 0 || n == (ssize_t)sizeof link) return Failed(error);
    // A relative link is relative to the folder that holds it.
    Text next;
    const char* slash = strrchr(target.c_str(), '/');
    if (link[0] != '/' && slash) next.Add(target.c_str(), (size_t)(slash - target.c_str()) + 1);
    next.Add(link, (size_t)n);
    target = next;
  }
}

bool FactsOf(FileHandle file, FileFacts& facts, uint32_t& error) {
  struct stat st;
  if (fstat((int)file, &st) != 0) return Failed(error);
  Fill(st, facts);
  return true;
}

bool SameFile(const char* a, const char* b) {
  struct stat sa, sb;
  auto look = [](const char* name, struct stat* st) {
    return !strcmp(name, "-") ? fstat(0, st) == 0 : stat(name, st) == 0;
  };
  return look(a, &sa) && look(b, &sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

FileHandle Standard(int which) { return which; }

FileHandle OpenToRead(const char* path, uint32_t& error) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) error = (uint32_t)errno;
  return fd;
}

FileHandle OpenToWrite(const char* path, uint32_t& error) {
  int fd = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) error = (uint32_t)errno;
  return fd;
}

FileHandle CreateNew(const char* path, uint32_t& error) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) error = (uint32_t)errno;
  return fd;
}

bool ReadSome(FileHandle file, void* into, size_t room, size_t& got, uint32_t& error) {
  for (;;) {
    ssize_t n = read((int)file, into, room);
    if (n >= 0) {
      got = (size_t)n;
      return true;
    }
    if (errno != EINTR) return Failed(error);
  }
}

bool WriteAll(FileHandle file, const void* data, size_t size, uint32_t& error) {
  const char* p = (const char*)data;
  while (size) {
    ssize_t n = write((int)file, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed(error);
    }
    p += n;
    size -= (size_t)n;
  }
  return true;
}

bool SetPermissions(FileHandle file, uint32_t mode, uint32_t& error) {
  return fchmod((int)file, (mode_t)mode) == 0 || Failed(error);
}

bool CloseFile(FileHandle file, uint32_t& error) { return close((int)file) == 0 || Failed(error); }

bool MoveOver(const char* from, const char* to, uint32_t& error) {
  return rename(from, to) == 0 || Failed(error);
}

void RemoveFile(const char* path) { unlink(path); }

const char* FileNameOf(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

uint32_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool IsNameTaken(uint32_t error) { return error == EEXIST; }

uint32_t Noise() {
  static uint32_t calls;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (uint32_t)now.tv_nsec ^ (uint32_t)now.tv_sec * 2654435761u ^ (uint32_t)getpid() << 16 ^
         ++calls * 40503u;
}

Text Reason(uint32_t error) { return strerror((int)error); }
