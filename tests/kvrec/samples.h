// What kvrec's tests share: kvrec's lists and texts as the tests' vectors and
// strings, records compared, and programs and players made the way the build
// and the Compile button make them.
#pragma once

#include <dirent.h>

#include <string>
#include <vector>

#include "format/player.h"
#include "format/record.h"
#include "kvrec/recording.h"

inline bool operator==(const EventRecord& a, const EventRecord& b) {
  return a.message == b.message && a.paramL == b.paramL && a.paramH == b.paramH &&
         a.time == b.time && a.hwnd == b.hwnd;
}

template <class T>
std::vector<T> Vec(const List<T>& list) {
  return std::vector<T>(list.begin(), list.end());
}
inline std::string Str(const Text& text) { return std::string(text.c_str(), text.size()); }
inline Records RecordsOf(const std::vector<EventRecord>& records) {
  return Records(records.data(), records.size());
}
inline std::vector<unsigned char> Rec(const std::vector<EventRecord>& records) {
  return Vec(RecordBytes(records.data(), records.size()));
}

// kvrec's verdict on these bytes as the file `name`: "" when it takes them.
inline std::string Verdict(const std::vector<unsigned char>& bytes, Recording* r = nullptr,
                           const char* name = "f", bool* program = nullptr) {
  Recording taken;
  Failure f;
  bool ok = ParseRecording(name, bytes.data(), bytes.size(), r ? *r : taken, f, program);
  return ok ? "" : Str(f.text);
}

// A stand-in for Kavorin.exe as built: a PE header of the given machine, the
// size marker with the image's own size stamped behind it, and, when given,
// a manifest among its resources (type 24, id 1) as the build puts it there.
inline std::vector<unsigned char> MakeProgram(uint32_t size = 2048, uint16_t machine = 0x014C,
                                              const std::string* manifest = nullptr) {
  std::vector<unsigned char> image(size, 0xCC);
  auto put = [&image](size_t at, uint32_t v, int n = 4) {
    for (int i = 0; i < n; ++i) image[at + i] = (unsigned char)(v >> (8 * i));
  };
  image[0] = 'M';
  image[1] = 'Z';
  put(0x3C, 0x80);
  put(0x80, 0x00004550);  // "PE\0\0"
  put(0x84, machine, 2);
  put(0x200, kSizeMarker);
  put(0x204, size);
  if (!manifest) return image;
  // One section, .rsrc, at file offset 0x400 and address 0x1000: the root,
  // type 24, name 1 and language directories, the data entry, the bytes.
  bool wide = machine == 0x8664;
  uint32_t optional = wide ? 240 : 224, at = 0x400, length = (uint32_t)manifest->size();
  put(0x86, 1, 2);
  put(0x94, optional, 2);
  put(0x98, wide ? 0x20B : 0x10B, 2);
  uint32_t directories = 0x98 + (wide ? 112 : 96);
  put(directories - 4, 16);
  put(directories + 16, 0x1000);
  put(directories + 20, 0x58 + length);
  uint32_t section = 0x98 + optional;
  put(section + 8, 0x58 + length);
  put(section + 12, 0x1000);
  put(section + 16, 0x58 + length);
  put(section + 20, at);
  const uint32_t entries[][2] = {{24, 0x80000018}, {1, 0x80000030}, {0x409, 0x48}};
  for (int level = 0; level < 3; ++level) {
    uint32_t d = at + 0x18 * (uint32_t)level;
    for (uint32_t i = 0; i < 16; i += 4) put(d + i, 0);
    put(d + 14, 1, 2);
    put(d + 16, entries[level][0]);
    put(d + 20, entries[level][1]);
  }
  put(at + 0x48, 0x1058);
  put(at + 0x4C, length);
  put(at + 0x50, 0);
  put(at + 0x54, 0);
  std::copy(manifest->begin(), manifest->end(), image.begin() + at + 0x58);
  return image;
}

inline std::vector<unsigned char> Joined(std::vector<unsigned char> a,
                                         const std::vector<unsigned char>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> files;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(folder + "/" + e->d_name);
    closedir(d);
  }
  return files;
}
