// What kvrec's tests share: records compared, and programs and players made
// the way the build and the Compile button make them.
#pragma once

#include <dirent.h>

#include <string>
#include <vector>

#include "format/player.h"
#include "format/record.h"

inline bool operator==(const EventRecord& a, const EventRecord& b) {
  return a.message == b.message && a.paramL == b.paramL && a.paramH == b.paramH && a.time == b.time && a.hwnd == b.hwnd;
}

// A stand-in for Kavorin.exe as built: a PE header of the given machine and
// the size marker with the image's own size stamped behind it.
inline std::vector<unsigned char> MakeProgram(uint32_t size = 2048, uint16_t machine = 0x014C) {
  std::vector<unsigned char> image(size, 0xCC);
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x80;
  image[0x3D] = image[0x3E] = image[0x3F] = 0;
  const unsigned char pe[] = {'P', 'E', 0, 0, (unsigned char)machine, (unsigned char)(machine >> 8)};
  std::copy(pe, pe + 6, image.begin() + 0x80);
  for (int i = 0; i < 4; ++i) {
    image[0x200 + i] = (unsigned char)(kSizeMarker >> (8 * i));
    image[0x204 + i] = (unsigned char)(size >> (8 * i));
  }
  return image;
}

inline std::vector<unsigned char> Joined(std::vector<unsigned char> a, const std::vector<unsigned char>& b) {
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
