// Any text given to kvrec build: refused with a place and what was expected
// there (or, for a UTF-16 text, as a whole), or built into a recording
// Kavorin takes, whose dump builds back to the same bytes and dumps to the
// same text (a fixed point after one round).
#include <stdint.h>
#include <stdlib.h>

#include "kvrec/recording.h"
#include "kvrec/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = (const char*)data;
  Records records;
  TextError e;
  if (!ReadText(text, size, records, e)) {
    size_t lines = 1;
    for (size_t i = 0; i < size; ++i) lines += text[i] == '\n';
    bool utf16 =
        size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
    if (utf16) {
      if (e.line != 0 || !(e.what == "is UTF-16; save it as UTF-8 or ANSI")) abort();
      return 0;
    }
    if (e.line < 1 || e.line > lines || e.column < 1 || e.what.Find("expected ") != 0) abort();
    return 0;
  }
  ByteList bytes = RecordBytes(records);
  if (!IsValidRecording(bytes.data(), (uint32_t)bytes.size())) abort();
  Text once = WriteText(records, "fuzz.rec");
  Records back;
  if (!ReadText(once.c_str(), once.size(), back, e)) abort();
  if (RecordBytes(back) != bytes) abort();
  if (!(WriteText(back, "fuzz.rec") == once)) abort();
  return 0;
}
