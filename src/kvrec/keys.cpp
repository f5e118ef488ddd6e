#include "kvrec/keys.h"

namespace {

struct Key {
  uint8_t vk, scan;
  const char* name;
};

// Every named key in the order of its code, with the scan code of the US
// keyboard (0 for keys without one).
const Key kKeys[] = {
    {0x01, 0x00, "LButton"},   {0x02, 0x00, "RButton"},     {0x03, 0x46, "Cancel"},
    {0x04, 0x00, "MButton"},   {0x05, 0x00, "XButton1"},    {0x06, 0x00, "XButton2"},
    {0x08, 0x0E, "Backspace"}, {0x09, 0x0F, "Tab"},         {0x0C, 0x4C, "Clear"},
    {0x0D, 0x1C, "Enter"},     {0x10, 0x2A, "Shift"},       {0x11, 0x1D, "Ctrl"},
    {0x12, 0x38, "Alt"},       {0x13, 0x45, "Pause"},       {0x14, 0x3A, "CapsLock"},
    {0x1B, 0x01, "Escape"},    {0x20, 0x39, "Space"},       {0x21, 0x49, "PageUp"},
    {0x22, 0x51, "PageDown"},  {0x23, 0x4F, "End"},         {0x24, 0x47, "Home"},
    {0x25, 0x4B, "Left"},      {0x26, 0x48, "Up"},          {0x27, 0x4D, "Right"},
    {0x28, 0x50, "Down"},      {0x29, 0x00, "Select"},      {0x2A, 0x00, "Print"},
    {0x2B, 0x00, "Execute"},   {0x2C, 0x54, "PrintScreen"}, {0x2D, 0x52, "Insert"},
    {0x2E, 0x53, "Delete"},    {0x2F, 0x00, "Help"},        {0x30, 0x0B, "0"},
    {0x31, 0x02, "1"},         {0x32, 0x03, "2"},           {0x33, 0x04, "3"},
    {0x34, 0x05, "4"},         {0x35, 0x06, "5"},           {0x36, 0x07, "6"},
    {0x37, 0x08, "7"},         {0x38, 0x09, "8"},           {0x39, 0x0A, "9"},
    {0x41, 0x1E, "A"},         {0x42, 0x30, "B"},           {0x43, 0x2E, "C"},
    {0x44, 0x20, "D"},         {0x45, 0x12, "E"},           {0x46, 0x21, "F"},
    {0x47, 0x22, "G"},         {0x48, 0x23, "H"},           {0x49, 0x17, "I"},
    {0x4A, 0x24, "J"},         {0x4B, 0x25, "K"},           {0x4C, 0x26, "L"},
    {0x4D, 0x32, "M"},         {0x4E, 0x31, "N"},           {0x4F, 0x18, "O"},
    {0x50, 0x19, "P"},         {0x51, 0x10, "Q"},           {0x52, 0x13, "R"},
    {0x53, 0x1F, "S"},         {0x54, 0x14, "T"},           {0x55, 0x16, "U"},
    {0x56, 0x2F, "V"},         {0x57, 0x11, "W"},           {0x58, 0x2D, "X"},
    {0x59, 0x15, "Y"},         {0x5A, 0x2C, "Z"},           {0x5B, 0x5B, "LWin"},
    {0x5C, 0x5C, "RWin"},      {0x5D, 0x5D, "Apps"},        {0x5F, 0x00, "Sleep"},
    {0x60, 0x52, "Num0"},      {0x61, 0x4F, "Num1"},        {0x62, 0x50, "Num2"},
    {0x63, 0x51, "Num3"},      {0x64, 0x4B, "Num4"},        {0x65, 0x4C, "Num5"},
    {0x66, 0x4D, "Num6"},      {0x67, 0x47, "Num7"},        {0x68, 0x48, "Num8"},
    {0x69, 0x49, "Num9"},      {0x6A, 0x37, "Multiply"},    {0x6B, 0x4E, "Add"},
    {0x6C, 0x00, "Separator"}, {0x6D, 0x4A, "Subtract"},    {0x6E, 0x53, "Decimal"},
    {0x6F, 0x35, "Divide"},    {0x70, 0x3B, "F1"},          {0x71, 0x3C, "F2"},
    {0x72, 0x3D, "F3"},        {0x73, 0x3E, "F4"},          {0x74, 0x3F, "F5"},
    {0x75, 0x40, "F6"},        {0x76, 0x41, "F7"},          {0x77, 0x42, "F8"},
    {0x78, 0x43, "F9"},        {0x79, 0x44, "F10"},         {0x7A, 0x57, "F11"},
    {0x7B, 0x58, "F12"},       {0x7C, 0x64, "F13"},         {0x7D, 0x65, "F14"},
    {0x7E, 0x66, "F15"},       {0x7F, 0x67, "F16"},         {0x80, 0x68, "F17"},
    {0x81, 0x69, "F18"},       {0x82, 0x6A, "F19"},         {0x83, 0x6B, "F20"},
    {0x84, 0x6C, "F21"},       {0x85, 0x6D, "F22"},         {0x86, 0x6E, "F23"},
    {0x87, 0x76, "F24"},       {0x90, 0x45, "NumLock"},     {0x91, 0x46, "ScrollLock"},
    {0xA0, 0x2A, "LShift"},    {0xA1, 0x36, "RShift"},      {0xA2, 0x1D, "LCtrl"},
    {0xA3, 0x1D, "RCtrl"},     {0xA4, 0x38, "LAlt"},        {0xA5, 0x38, "RAlt"},
    {0xBA, 0x27, "Semicolon"}, {0xBB, 0x0D, "Equals"},      {0xBC, 0x33, "Comma"},
    {0xBD, 0x0C, "Minus"},     {0xBE, 0x34, "Period"},      {0xBF, 0x35, "Slash"},
    {0xC0, 0x29, "Backquote"}, {0xDB, 0x1A, "LBracket"},    {0xDC, 0x2B, "Backslash"},
    {0xDD, 0x1B, "RBracket"},  {0xDE, 0x28, "Quote"},       {0xE2, 0x56, "Oem102"},
};

struct Alias {
  uint8_t vk;
  const char* name;
};

// Other names people write for the same keys (the platform's own among them).
const Alias kAliases[] = {
    {0x08, "Back"},     {0x0D, "Return"},  {0x11, "Control"}, {0x12, "Menu"},
    {0x14, "Capital"},  {0x14, "Caps"},    {0x1B, "Esc"},     {0x21, "Prior"},
    {0x21, "PgUp"},     {0x22, "Next"},    {0x22, "PgDn"},    {0x2C, "Snapshot"},
    {0x2C, "PrtSc"},    {0x2D, "Ins"},     {0x2E, "Del"},     {0x5B, "Win"},
    {0x60, "Numpad0"},  {0x61, "Numpad1"}, {0x62, "Numpad2"}, {0x63, "Numpad3"},
    {0x64, "Numpad4"},  {0x65, "Numpad5"}, {0x66, "Numpad6"}, {0x67, "Numpad7"},
    {0x68, "Numpad8"},  {0x69, "Numpad9"}, {0x91, "Scroll"},  {0xA2, "LControl"},
    {0xA3, "RControl"}, {0xA4, "LMenu"},   {0xA5, "RMenu"},   {0x13, "Break"},
};

const Key* Find(uint8_t vk) {
  for (const Key& k : kKeys)
    if (k.vk == vk) return &k;
  return nullptr;
}

// The same name without regard to case.
bool SameName(const char* name, size_t length, const char* key) {
  size_t i = 0;
  for (; i < length && key[i]; ++i) {
    char c = name[i], k = key[i];
    if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    if (k >= 'A' && k <= 'Z') k = (char)(k + 32);
    if (c != k) return false;
  }
  return i == length && !key[i];
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void AddKeyName(Text& out, uint8_t vk) {
  if (const Key* k = Find(vk)) {
    out += k->name;
  } else {
    static const char hex[] = "0123456789ABCDEF";
    char code[] = {'0', 'x', hex[vk >> 4], hex[vk & 15]};
    out.Add(code, 4);
  }
}

Text KeyName(uint8_t vk) {
  Text name;
  AddKeyName(name, vk);
  return name;
}

int KeyCode(const char* name, size_t length) {
  if (length >= 3 && length <= 4 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
    int code = 0;
    for (size_t i = 2; i < length; ++i) {
      int d = HexDigit(name[i]);
      if (d < 0) return -1;
      code = code * 16 + d;
    }
    return code;
  }
  for (const Key& k : kKeys)
    if (SameName(name, length, k.name)) return k.vk;
  for (const Alias& a : kAliases)
    if (SameName(name, length, a.name)) return a.vk;
  return -1;
}

uint32_t DefaultScan(uint8_t vk) {
  const Key* k = Find(vk);
  return k ? k->scan : 0;
}
