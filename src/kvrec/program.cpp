#include "kvrec/program.h"

#include "format/player.h"

namespace {

// The marker, kept in kvrec's own image only turned over: kvrec.exe must not
// hold it, or reading kvrec.exe would find a size slot in its code.
volatile uint32_t gMarkerTurned = ~kSizeMarker;

// An image and the reads of it, each checked against its end.
struct Image {
  const unsigned char* bytes;
  size_t size;

  bool Has(uint64_t at, uint64_t n) const { return at <= size && n <= size - at; }
  uint32_t U32(uint64_t at) const { return Has(at, 4) ? ReadLittle32(bytes + at) : 0; }
  uint16_t U16(uint64_t at) const {
    return Has(at, 2) ? (uint16_t)(bytes[at] | bytes[at + 1] << 8) : 0;
  }
};

// Where the PE header is: the "PE\0\0" signature, or 0.
uint64_t PeHeader(const Image& image) {
  if (image.size < 0x40 || image.bytes[0] != 'M' || image.bytes[1] != 'Z') return 0;
  uint64_t pe = image.U32(0x3C);
  return pe && image.Has(pe, 24) && image.U32(pe) == 0x00004550 ? pe : 0;
}

// The file offset of a virtual address, through the section table; 0 when no
// section holds it in the file.
uint64_t FileOffset(const Image& image, uint64_t pe, uint32_t rva) {
  uint32_t sections = image.U16(pe + 6);
  uint64_t table = pe + 24 + image.U16(pe + 20);
  for (uint32_t i = 0; i < sections && image.Has(table + 40 * (uint64_t)i, 40); ++i) {
    uint64_t s = table + 40 * (uint64_t)i;
    uint32_t address = image.U32(s + 12), raw = image.U32(s + 16), at = image.U32(s + 20);
    if (rva >= address && rva - address < raw) return (uint64_t)at + (rva - address);
  }
  return 0;
}

// The resource directory's entry with this id, or the first one when id is 0;
// the entry's offset field, or 0 when there is none.
uint32_t ResourceEntry(const Image& image, uint64_t directory, uint32_t id) {
  uint32_t named = image.U16(directory + 12), ids = image.U16(directory + 14);
  uint32_t first = 0;
  for (uint32_t i = 0; i < named + ids; ++i) {
    uint64_t entry = directory + 16 + 8 * (uint64_t)i;
    if (!image.Has(entry, 8)) return 0;
    uint32_t name = image.U32(entry), offset = image.U32(entry + 4);
    if (!first) first = offset;
    if (id && name == id) return offset;
  }
  return id ? 0 : first;
}

// The bytes of the program's manifest: the first resource of type 24 (id 1
// when there is one), first language. False when it has none.
bool ManifestOf(const Image& image, uint64_t& at, uint32_t& size) {
  uint64_t pe = PeHeader(image);
  if (!pe) return false;
  uint64_t optional = pe + 24;
  uint16_t magic = image.U16(optional);
  uint64_t directories = magic == 0x20B ? optional + 112 : optional + 96;
  uint32_t count = image.U32(magic == 0x20B ? optional + 108 : optional + 92);
  if ((magic != 0x10B && magic != 0x20B) || count < 3) return false;
  uint32_t rva = image.U32(directories + 2 * 8);
  uint64_t root = rva ? FileOffset(image, pe, rva) : 0;
  if (!root) return false;
  const uint32_t kSubdirectory = 0x80000000u;
  uint32_t type = ResourceEntry(image, root, 24);
  if (!(type & kSubdirectory)) return false;
  uint64_t names = root + (type & ~kSubdirectory);
  uint32_t name = ResourceEntry(image, names, 1);
  if (!name) name = ResourceEntry(image, names, 0);
  if (!(name & kSubdirectory)) return false;
  uint32_t language = ResourceEntry(image, root + (name & ~kSubdirectory), 0);
  if (!language || (language & kSubdirectory)) return false;
  uint64_t data = root + language;
  if (!image.Has(data, 8)) return false;
  at = FileOffset(image, pe, image.U32(data));
  size = image.U32(data + 4);
  if (!at || !image.Has(at, size)) return false;
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of the level attribute in the requestedExecutionLevel element of
// an XML text.
bool LevelIn(const char* xml, size_t size, Text& level) {
  const char element[] = "requestedExecutionLevel";
  const size_t elementLength = sizeof element - 1;
  for (size_t i = 0; i + elementLength <= size; ++i) {
    if (memcmp(xml + i, element, elementLength) != 0) continue;
    // The attributes up to the end of the tag.
    for (size_t a = i + elementLength; a + 5 < size && xml[a] != '>'; ++a) {
      if (!IsBlank(xml[a]) || memcmp(xml + a + 1, "level", 5) != 0) continue;
      size_t v = a + 6;
      while (v < size && IsBlank(xml[v])) ++v;
      if (v >= size || xml[v] != '=') continue;
      ++v;
      while (v < size && IsBlank(xml[v])) ++v;
      if (v >= size || (xml[v] != '"' && xml[v] != '\'')) continue;
      char quote = xml[v++];
      size_t end = v;
      while (end < size && xml[end] != quote) ++end;
      if (end >= size) return false;
      level = Text(xml + v, end - v);
      return true;
    }
    return false;
  }
  return false;
}

}  // namespace

uint32_t FindStampSlot(const unsigned char* image, size_t size) {
  const uint32_t marker = ~gMarkerTurned;
  for (size_t at = 0; at + 8 <= size; ++at)
    if (ReadLittle32(image + at) == marker) return (uint32_t)at + 4;
  return 0;
}

uint16_t MachineOf(const unsigned char* bytes, size_t size) {
  Image image{bytes, size};
  uint64_t pe = PeHeader(image);
  return pe ? image.U16(pe + 4) : 0;
}

Text MachineName(uint16_t machine) {
  switch (machine) {
    case 0x014C: return "i386";
    case 0x8664: return "x86-64";
    case 0xAA64: return "arm64";
    default: return "machine " + Hex(machine);
  }
}

ExecutionLevel RequestedLevel(const unsigned char* bytes, size_t size, Text& level) {
  Image image{bytes, size};
  uint64_t at = 0;
  uint32_t length = 0;
  if (!ManifestOf(image, at, length)) return kNoManifest;
  return LevelIn((const char*)bytes + at, length, level) ? kLevelRequested : kNoLevelRequested;
}
