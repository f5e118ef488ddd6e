// The text of a recording: one event per line, the wait before it in
// milliseconds, then the event (docs/kvrec.md has the grammar). Written so
// that reading it back gives the very same records.
#pragma once

#include <stddef.h>

#include <string>
#include <string_view>
#include <vector>

#include "format/record.h"

struct TextError {
  size_t line = 0, column = 0;  // from 1
  std::string what;             // "expected ..., found ..."
};

// Reads the text of a recording into records. False, with the place of the
// first fault and what was expected there, when the text is not one or would
// not make a recording Kavorin plays.
bool ReadText(std::string_view text, std::vector<EventRecord>& records, TextError& error);

// The text of records, headed by comments with their counts and duration
// that name `source`. Scan codes and windows are written only where they
// differ from what ReadText fills in.
std::string WriteText(const std::vector<EventRecord>& records, std::string_view source);
