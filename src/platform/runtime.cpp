// Windows build only: the few routines the compiler may call on its own when
// there is no C runtime. -ffreestanding keeps these loops from becoming calls
// to themselves.
#include <stddef.h>

extern "C" {
void* memset(void* to, int value, size_t count) {
  unsigned char* p = (unsigned char*)to;
  while (count--) *p++ = (unsigned char)value;
  return to;
}
void* memcpy(void* to, const void* from, size_t count) {
  unsigned char* p = (unsigned char*)to;
  const unsigned char* q = (const unsigned char*)from;
  while (count--) *p++ = *q++;
  return to;
}
}
