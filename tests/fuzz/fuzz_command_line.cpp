// Any command line: the argument is a tail of it, and removing quotes leaves
// no quote and never grows the text.
#include <string.h>

#include <string>

#include "app/startup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line((const char*)data, size);
  line = line.c_str();  // the platform hands over one zero-terminated text
  std::string copy = line;
  char* argument = ArgumentOf(line.data());
  if (argument < line.data() || argument > line.data() + line.size()) abort();
  if (strcmp(argument, copy.c_str() + (argument - line.data())) != 0) abort();
  size_t before = strlen(argument);
  RemoveQuotes(argument);
  if (strchr(argument, '"') || strlen(argument) > before) abort();
  return 0;
}
