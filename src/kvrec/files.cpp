#include "kvrec/files.h"

#include "kvrec/system.h"

namespace {

bool CannotRead(Failure& f, const Text& shown, const Text& reason) {
  return Fail(f, shown + ": cannot be read: " + reason);
}

bool CannotWrite(Failure& f, const char* path, const Text& reason) {
  return Fail(f, Shown(path) + ": cannot be written: " + reason);
}

bool ReadAll(FileHandle file, const Text& shown, ByteList& bytes, Failure& f) {
  uint32_t error = 0;
  FileFacts facts;
  if (!FactsOf(file, facts, error)) return CannotRead(f, shown, Reason(error));
  if (facts.kind == kFolder) return CannotRead(f, shown, "it is a folder; expected a file");
  // Kavorin refuses a file this large unread; so do we, by the same rule.
  if (!RecordingFits(facts.size)) return FailTooLarge(f, shown, facts.size);
  // A regular file in one read (and one more that finds its end); anything
  // else in growing steps.
  bytes.resize(facts.kind == kRegularFile ? (size_t)facts.size + 1 : 65536);
  size_t have = 0;
  for (;;) {
    if (have == bytes.size()) bytes.resize(have * 2);
    size_t got = 0;
    if (!ReadSome(file, bytes.data() + have, bytes.size() - have, got, error))
      return CannotRead(f, shown, Reason(error));
    if (!got) break;
    have += got;
    if (!RecordingFits(have)) return FailTooLarge(f, shown, have);
  }
  bytes.resize(have);
  return true;
}

// Writes the bytes, sets the permission bits when given, and closes the
// file: false with the first error.
bool WriteAndClose(FileHandle out, const void* data, size_t size, const uint32_t* mode,
                   uint32_t& error) {
  bool done = WriteAll(out, data, size, error) && (!mode || SetPermissions(out, *mode, error));
  uint32_t closing = 0;
  if (!CloseFile(out, closing) && done) {
    error = closing;
    return false;
  }
  return done;
}

// A name beside the file for its successor, not taken by anyone.
FileHandle CreateBeside(const Text& target, Text& temp, uint32_t& error) {
  static const char hex[] = "0123456789abcdef";
  for (int tries = 0; tries < 100; ++tries) {
    uint32_t tag = Noise();
    char name[] = ".00000000.kvrec-tmp";
    for (int i = 0; i < 8; ++i) name[1 + i] = hex[tag >> (28 - 4 * i) & 15];
    temp = target + name;
    FileHandle file = CreateNew(temp.c_str(), error);
    if (file != kNoFile || !IsNameTaken(error)) return file;
  }
  return kNoFile;
}

}  // namespace

bool ReadWhole(const char* path, ByteList& bytes, Failure& f) {
  bytes.clear();
  if (!strcmp(path, "-")) return ReadAll(Standard(0), "standard input", bytes, f);
  uint32_t error = 0;
  FileHandle file = OpenToRead(path, error);
  if (file == kNoFile) return CannotRead(f, Shown(path), Reason(error));
  bool read = ReadAll(file, Shown(path), bytes, f);
  CloseFile(file, error);
  return read;
}

bool WriteWhole(const char* path, const void* data, size_t size, bool program, Failure& f) {
  uint32_t error = 0;
  if (!strcmp(path, "-")) {
    if (WriteAll(Standard(1), data, size, error)) return true;
    return Fail(f, "standard output: cannot be written: " + Reason(error));
  }
  Text target;
  FileFacts facts;
  if (!Inspect(path, target, facts, error)) return CannotWrite(f, path, Reason(error));
  switch (facts.kind) {
    case kNoSuchFile: facts.mode = NewFileMode(); break;
    case kRegularFile:
      if (facts.readOnly)
        return CannotWrite(f, path,
                           "it is read-only; nothing was changed (expected a file we "
                           "may replace, or a new name)");
      break;
    case kFolder: return CannotWrite(f, path, "it is a folder; expected a file name");
    case kStream: {
      // A device or a pipe takes the bytes where it is, as a shell's > would.
      FileHandle out = OpenToWrite(target.c_str(), error);
      if (out == kNoFile) return CannotWrite(f, path, Reason(error));
      return WriteAndClose(out, data, size, nullptr, error) || CannotWrite(f, path, Reason(error));
    }
    case kOtherFile:
      return CannotWrite(f, path,
                         "it is neither a file nor a device we may write to; expected a "
                         "file name");
  }
  if (program) facts.mode |= (facts.mode & 0444) >> 2;  // executable where readable
  Text temp;
  FileHandle out = CreateBeside(target, temp, error);
  if (out == kNoFile)
    return CannotWrite(
        f, path, IsNameTaken(error) ? Text("no free name for a file beside it") : Reason(error));
  if (WriteAndClose(out, data, size, &facts.mode, error) &&
      MoveOver(temp.c_str(), target.c_str(), error))
    return true;
  RemoveFile(temp.c_str());
  return CannotWrite(f, path, Reason(error) + "; nothing was changed");
}

bool WriteStandard(int which, const Text& text) {
  uint32_t error = 0;
  return WriteAll(Standard(which == 1 ? 1 : 2), text.data(), text.size(), error);
}
