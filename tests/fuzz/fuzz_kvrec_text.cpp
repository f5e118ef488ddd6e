// Any text given to kvrec build: refused with a place and what was expected
// there, or built into a recording Kavorin takes, whose dump builds back to
// the same bytes and dumps to the same text (a fixed point after one round).
#include <stdint.h>
#include <stdlib.h>

#include <string_view>
#include <vector>

#include "kvrec/recording.h"
#include "kvrec/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text((const char*)data, size);
  std::vector<EventRecord> records;
  TextError e;
  if (!ReadText(text, records, e)) {
    size_t lines = 1;
    for (char c : text) lines += c == '\n';
    if (e.line < 1 || e.line > lines || e.column < 1 || e.what.rfind("expected ", 0) != 0) abort();
    return 0;
  }
  std::vector<unsigned char> bytes = RecordBytes(records);
  if (!IsValidRecording(bytes.data(), (uint32_t)bytes.size())) abort();
  std::string once = WriteText(records, "fuzz.rec");
  std::vector<EventRecord> back;
  if (!ReadText(once, back, e)) abort();
  if (RecordBytes(back) != bytes) abort();
  if (WriteText(back, "fuzz.rec") != once) abort();
  return 0;
}
