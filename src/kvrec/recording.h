// What kvrec reads and writes, as bytes: a .rec file or a compiled player,
// judged by the rules Kavorin loads them by (format/), and the edits kvrec
// makes to a recording. No files here; files.h reads and writes them.
#pragma once

#include <stdint.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "format/record.h"

// An error kvrec reports: the text names the place (file, or file:line:column)
// and what was expected there; status 1 for bad input, 2 for bad usage.
struct Failure : std::runtime_error {
  int status;
  Failure(const std::string& text, int code = 1) : std::runtime_error(text), status(code) {}
};

// A file as kvrec sees it. For a player, image is its first stampedSize
// bytes (the program) and the records follow; for a .rec, image is empty.
struct Recording {
  bool player = false;
  uint16_t machine = 0;      // PE machine of a player's image
  uint32_t stampedSize = 0;  // the size stamped in a player's image
  std::vector<unsigned char> image;
  std::vector<EventRecord> records;
};

// Judges the bytes of a file named `name` the way Kavorin does: a .rec is
// loaded from offset 0, a program with the size marker (a compiled player)
// from its stamped size. Throws Failure with Kavorin's verdict, "Not a valid
// recording", and the rule that failed. `program` is set for a Kavorin
// program with nothing appended, which holds no recording; records stay empty.
Recording ParseRecording(const std::string& name, const std::vector<unsigned char>& bytes,
                         bool* program = nullptr);
// Kavorin.exe as built: a program whose size is its stamped size.
Recording ParseProgram(const std::string& name, const std::vector<unsigned char>& bytes);
// The bytes of the file: the image, if any, then the records.
std::vector<unsigned char> Bytes(const Recording& r);
std::vector<unsigned char> RecordBytes(const std::vector<EventRecord>& records);

// "i386", "x86-64", or the machine number.
std::string MachineName(uint16_t machine);

struct Summary {
  // key down, key up, move, left down, left up, right down, right up,
  // middle down, middle up, other
  uint64_t kinds[10] = {};
  uint64_t durationMs = 0;  // what a run at recorded speed takes
  size_t played = 0;        // records a run plays: all, or those before the first end record
  bool mouse = false;       // the area below holds something
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
Summary Summarize(const std::vector<EventRecord>& records);
// "3 key down, 3 key up, 12 move"
std::string KindCounts(const Summary& s);
// Milliseconds as "12.345 s".
std::string Seconds(uint64_t ms);

// The run's clock: for each record the milliseconds from the first one,
// waits as a run at recorded speed makes them.
std::vector<uint64_t> PlayedTimes(const std::vector<EventRecord>& records);

// Gaps divided by speed (> 0), rounded on the run's clock so that the whole
// run scales too. Waits of no time (backward times) stay as they are.
// Throws Failure (naming `name`) when a gap would no longer fit.
std::vector<EventRecord> Retime(const std::vector<EventRecord>& records, double speed,
                                const std::string& name);

// One end of a span: an event number (from 1) or a time on the run's clock.
struct SpanEnd {
  bool given = false;
  bool isTime = false;
  uint64_t value = 0;  // event number, or milliseconds
};
// "12" (event 12), "1500ms", "1.5s"; false when it is neither.
bool ParseSpanEnd(const std::string& text, SpanEnd& end);
// The records from `from` to `to`, both included. Throws Failure (naming
// `name`) when nothing is left or what is left is not a recording.
std::vector<EventRecord> Cut(const std::vector<EventRecord>& records, SpanEnd from, SpanEnd to,
                             const std::string& name);
