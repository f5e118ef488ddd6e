// The text of a recording: one event per line, the wait before it in
// milliseconds, then the event (docs/kvrec.md has the grammar). Written so
// that reading it back gives the very same records.
#pragma once

#include <stddef.h>

#include "format/record.h"
#include "kvrec/basics.h"
#include "kvrec/recording.h"

struct TextError {
  size_t line = 0, column = 0;  // from 1; 0 when the fault is the whole text's
  Text what;                    // "expected ..., found ..."
};

// Reads the text of a recording into records. False, with the place of the
// first fault and what was expected there, when the text is not one or would
// not make a recording Kavorin plays.
bool ReadText(const char* text, size_t size, Records& records, TextError& error);

// The text of records, headed by comments with their counts and duration
// that name `source` (shown with its control characters escaped). Scan codes
// and windows are written only where they differ from what ReadText fills in.
Text WriteText(const Records& records, const char* source);
