// The repeat count parser against a plain reference written another way.
#include <string>

#include "boxes/injected.h"

static int32_t Reference(const std::string& text) {
  size_t at = text.find_first_of("0123456789");
  if (at == std::string::npos) return 0;
  uint64_t value = 0;
  for (size_t i = at; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = (value * 10 + (uint64_t)(text[i] - '0')) & 0xFFFFFFFFu;
  bool negative = at > 0 && text[at - 1] == '-';
  uint32_t v = (uint32_t)value;
  return (int32_t)(negative ? (uint32_t)(0 - (uint64_t)v) : v);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text((const char*)data, size);
  text = text.c_str();
  if (ParseDecimal(text.c_str()) != Reference(text)) abort();
  return 0;
}
