#include "kvrec/files.h"

#include <errno.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>

#include "kvrec/recording.h"

namespace fs = std::filesystem;

std::vector<unsigned char> ReadWhole(const std::string& path) {
  if (path == "-") {
    std::string all((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    return std::vector<unsigned char>(all.begin(), all.end());
  }
  std::error_code ec;
  if (fs::is_directory(path, ec))
    throw Failure(path + ": cannot be read: it is a folder; expected a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure(path + ": cannot be read: " + strerror(errno));
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) throw Failure(path + ": cannot be read: its size is unknown");
  // Kavorin refuses a file this large unread; so do we, by the same rule.
  if (!RecordingFits((uint64_t)size)) {
    throw Failure(path + ": Not a valid recording: its " + std::to_string(size) +
                  " bytes are more than a recording can hold; expected at most " +
                  std::to_string(0xFFFFFFFFu - kLoadSlack) + " bytes");
  }
  std::vector<unsigned char> bytes((size_t)size);
  if (size && !in.read((char*)bytes.data(), size))
    throw Failure(path + ": cannot be read: " + strerror(errno));
  return bytes;
}

void WriteWhole(const std::string& path, const void* data, size_t size, bool program) {
  fs::path target(path);
  std::error_code ec;
  if (fs::is_directory(target, ec))
    throw Failure(path + ": cannot be written: it is a folder; expected a file name");
  // A name nobody else uses, beside the target so that the move stays on one disk.
  std::mt19937_64 random((uint64_t)std::chrono::steady_clock::now().time_since_epoch().count() ^
                         (uint64_t)(uintptr_t)&target);
  fs::path temp;
  for (int tries = 0;; ++tries) {
    char tag[24];
    snprintf(tag, sizeof tag, ".%08x.kvrec-tmp", (unsigned)random());
    temp = target;
    temp += tag;
    if (!fs::exists(temp, ec)) break;
    if (tries == 100)
      throw Failure(path + ": cannot be written: no free name for a temporary file beside it");
  }
  bool whole = false;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) throw Failure(path + ": cannot be written: " + strerror(errno));
    out.write((const char*)data, (std::streamsize)size);
    out.flush();
    whole = (bool)out;
    out.close();
    whole = whole && !out.fail();
  }
  if (whole && program) {
    fs::permissions(temp, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
  }
  if (whole) {
    fs::rename(temp, target, ec);
    if (!ec) return;
  }
  std::string reason = ec ? ec.message() : std::string(strerror(errno));
  fs::remove(temp, ec);
  throw Failure(path + ": cannot be written: " + reason + "; nothing was changed");
}
