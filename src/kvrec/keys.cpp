#include "kvrec/keys.h"

#include <array>
#include <unordered_map>

namespace {

struct Key {
  const char* name;
  uint32_t scan;
};

std::array<Key, 256> MakeKeys() {
  std::array<Key, 256> k{};
  auto set = [&k](int vk, const char* name, uint32_t scan) { k[vk] = Key{name, scan}; };
  set(0x01, "LButton", 0);
  set(0x02, "RButton", 0);
  set(0x03, "Cancel", 0x46);
  set(0x04, "MButton", 0);
  set(0x05, "XButton1", 0);
  set(0x06, "XButton2", 0);
  set(0x08, "Backspace", 0x0E);
  set(0x09, "Tab", 0x0F);
  set(0x0C, "Clear", 0x4C);
  set(0x0D, "Enter", 0x1C);
  set(0x10, "Shift", 0x2A);
  set(0x11, "Ctrl", 0x1D);
  set(0x12, "Alt", 0x38);
  set(0x13, "Pause", 0x45);
  set(0x14, "CapsLock", 0x3A);
  set(0x1B, "Escape", 0x01);
  set(0x20, "Space", 0x39);
  set(0x21, "PageUp", 0x49);
  set(0x22, "PageDown", 0x51);
  set(0x23, "End", 0x4F);
  set(0x24, "Home", 0x47);
  set(0x25, "Left", 0x4B);
  set(0x26, "Up", 0x48);
  set(0x27, "Right", 0x4D);
  set(0x28, "Down", 0x50);
  set(0x29, "Select", 0);
  set(0x2A, "Print", 0);
  set(0x2B, "Execute", 0);
  set(0x2C, "PrintScreen", 0x54);
  set(0x2D, "Insert", 0x52);
  set(0x2E, "Delete", 0x53);
  set(0x2F, "Help", 0);
  static const char* const digits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
  for (int d = 0; d < 10; ++d) set('0' + d, digits[d], d == 0 ? 0x0B : 0x01 + (uint32_t)d);
  // Letters, by keyboard row: their scan codes run along the rows.
  static const char* const letters[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I",
                                        "J", "K", "L", "M", "N", "O", "P", "Q", "R",
                                        "S", "T", "U", "V", "W", "X", "Y", "Z"};
  const char* rows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  const uint32_t starts[] = {0x10, 0x1E, 0x2C};
  for (int r = 0; r < 3; ++r)
    for (int i = 0; rows[r][i]; ++i)
      set(rows[r][i], letters[rows[r][i] - 'A'], starts[r] + (uint32_t)i);
  set(0x5B, "LWin", 0x5B);
  set(0x5C, "RWin", 0x5C);
  set(0x5D, "Apps", 0x5D);
  set(0x5F, "Sleep", 0);
  static const char* const pad[] = {"Num0", "Num1", "Num2", "Num3", "Num4",
                                    "Num5", "Num6", "Num7", "Num8", "Num9"};
  const uint32_t padScans[] = {0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49};
  for (int i = 0; i < 10; ++i) set(0x60 + i, pad[i], padScans[i]);
  set(0x6A, "Multiply", 0x37);
  set(0x6B, "Add", 0x4E);
  set(0x6C, "Separator", 0);
  set(0x6D, "Subtract", 0x4A);
  set(0x6E, "Decimal", 0x53);
  set(0x6F, "Divide", 0x35);
  static const char* const f[] = {"F1",  "F2",  "F3",  "F4",  "F5",  "F6",  "F7",  "F8",
                                  "F9",  "F10", "F11", "F12", "F13", "F14", "F15", "F16",
                                  "F17", "F18", "F19", "F20", "F21", "F22", "F23", "F24"};
  const uint32_t fScans[] = {0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42,
                             0x43, 0x44, 0x57, 0x58, 0x64, 0x65, 0x66, 0x67,
                             0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x76};
  for (int i = 0; i < 24; ++i) set(0x70 + i, f[i], fScans[i]);
  set(0x90, "NumLock", 0x45);
  set(0x91, "ScrollLock", 0x46);
  set(0xA0, "LShift", 0x2A);
  set(0xA1, "RShift", 0x36);
  set(0xA2, "LCtrl", 0x1D);
  set(0xA3, "RCtrl", 0x1D);
  set(0xA4, "LAlt", 0x38);
  set(0xA5, "RAlt", 0x38);
  set(0xBA, "Semicolon", 0x27);
  set(0xBB, "Equals", 0x0D);
  set(0xBC, "Comma", 0x33);
  set(0xBD, "Minus", 0x0C);
  set(0xBE, "Period", 0x34);
  set(0xBF, "Slash", 0x35);
  set(0xC0, "Backquote", 0x29);
  set(0xDB, "LBracket", 0x1A);
  set(0xDC, "Backslash", 0x2B);
  set(0xDD, "RBracket", 0x1B);
  set(0xDE, "Quote", 0x28);
  set(0xE2, "Oem102", 0x56);
  return k;
}

const std::array<Key, 256>& Keys() {
  static const std::array<Key, 256> keys = MakeKeys();
  return keys;
}

// Other names people write for the same keys (the platform's own among them).
struct Alias {
  const char* name;
  int vk;
};
const Alias kAliases[] = {
    {"Back", 0x08},     {"Return", 0x0D},  {"Control", 0x11}, {"Menu", 0x12},
    {"Capital", 0x14},  {"Caps", 0x14},    {"Esc", 0x1B},     {"Prior", 0x21},
    {"PgUp", 0x21},     {"Next", 0x22},    {"PgDn", 0x22},    {"Snapshot", 0x2C},
    {"PrtSc", 0x2C},    {"Ins", 0x2D},     {"Del", 0x2E},     {"Win", 0x5B},
    {"Numpad0", 0x60},  {"Numpad1", 0x61}, {"Numpad2", 0x62}, {"Numpad3", 0x63},
    {"Numpad4", 0x64},  {"Numpad5", 0x65}, {"Numpad6", 0x66}, {"Numpad7", 0x67},
    {"Numpad8", 0x68},  {"Numpad9", 0x69}, {"Scroll", 0x91},  {"LControl", 0xA2},
    {"RControl", 0xA3}, {"LMenu", 0xA4},   {"RMenu", 0xA5},   {"Break", 0x13},
};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
  return out;
}

// Every name and alias, in lower case, with its code.
const std::unordered_map<std::string, int>& Codes() {
  static const std::unordered_map<std::string, int> codes = [] {
    std::unordered_map<std::string, int> m;
    for (int vk = 0; vk < 256; ++vk)
      if (Keys()[vk].name) m[Lower(Keys()[vk].name)] = vk;
    for (const Alias& a : kAliases) m[Lower(a.name)] = a.vk;
    return m;
  }();
  return codes;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string KeyName(uint8_t vk) {
  if (const char* name = Keys()[vk].name) return name;
  static const char hex[] = "0123456789ABCDEF";
  return std::string("0x") + hex[vk >> 4] + hex[vk & 15];
}

int KeyCode(std::string_view name) {
  if (name.size() >= 3 && name.size() <= 4 && name[0] == '0' &&
      (name[1] == 'x' || name[1] == 'X')) {
    int code = 0;
    for (size_t i = 2; i < name.size(); ++i) {
      int d = HexDigit(name[i]);
      if (d < 0) return -1;
      code = code * 16 + d;
    }
    return code;
  }
  if (name.size() > 16) return -1;
  auto found = Codes().find(Lower(name));
  return found == Codes().end() ? -1 : found->second;
}

uint32_t DefaultScan(uint8_t vk) { return Keys()[vk].scan; }
