#include "kvrec/basics.h"

#include <stdio.h>
#include <stdlib.h>

void* GrowItems(void* block, size_t& capacity, size_t need, size_t itemSize) {
  size_t grown = capacity ? capacity : 16;
  while (grown < need) grown = grown > (size_t)-1 / 2 ? need : grown * 2;
  void* moved = grown <= (size_t)-1 / itemSize ? realloc(block, grown * itemSize) : nullptr;
  if (!moved) {
    fputs("kvrec: out of memory\n", stderr);
    exit(1);
  }
  capacity = grown;
  return moved;
}

void FreeItems(void* block) { free(block); }

long Text::Find(const char* part) const {
  const char* found = strstr(c_str(), part);
  return found ? (long)(found - c_str()) : -1;
}

Text& Text::AddDecimal(uint64_t v) {
  char digits[20];
  int n = 20;
  do {
    digits[--n] = (char)('0' + v % 10);
    v /= 10;
  } while (v);
  return Add(digits + n, (size_t)(20 - n));
}

Text& Text::AddSigned(int64_t v) {
  if (v >= 0) return AddDecimal((uint64_t)v);
  return Add('-').AddDecimal((uint64_t)0 - (uint64_t)v);
}

Text& Text::AddHex(uint32_t v) {
  static const char digits[] = "0123456789abcdef";
  char text[10];
  int n = 10;
  do {
    text[--n] = digits[v & 15];
    v >>= 4;
  } while (v);
  text[--n] = 'x';
  text[--n] = '0';
  return Add(text + n, (size_t)(10 - n));
}

Text Decimal(uint64_t v) {
  Text t;
  t.AddDecimal(v);
  return t;
}

Text Signed(int64_t v) {
  Text t;
  t.AddSigned(v);
  return t;
}

Text Hex(uint32_t v) {
  Text t;
  t.AddHex(v);
  return t;
}

Text Plural(uint64_t n, const char* one, const char* many) {
  return Decimal(n) + " " + (n == 1 ? one : many);
}

Text Shown(const char* name) {
  static const char hex[] = "0123456789abcdef";
  Text out;
  for (const unsigned char* c = (const unsigned char*)name; *c; ++c) {
    if (*c >= 0x20 && *c != 0x7F) {
      out += (char)*c;
    } else if (*c == '\n' || *c == '\r' || *c == '\t') {
      out += *c == '\n' ? "\\n" : *c == '\r' ? "\\r" : "\\t";
    } else {
      char escape[] = {'\\', 'x', hex[*c >> 4], hex[*c & 15]};
      out.Add(escape, 4);
    }
  }
  return out;
}

bool Fail(Failure& f, Text text, int status) {
  f.status = status;
  f.text = static_cast<Text&&>(text);
  return false;
}
