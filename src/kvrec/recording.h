// What kvrec reads and writes, as bytes: a .rec file or a compiled player,
// judged by the rules Kavorin loads them by (format/), and the edits kvrec
// makes to a recording. No files here; files.h reads and writes them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "format/record.h"
#include "kvrec/basics.h"

typedef List<unsigned char> ByteList;
typedef List<EventRecord> Records;

// A file as kvrec sees it. For a player, image is its first stampedSize
// bytes (the program) and the records follow; for a .rec, image is empty.
struct Recording {
  bool player = false;       // a Kavorin program: a compiled player, or Kavorin itself
  uint16_t machine = 0;      // PE machine of a player's image
  uint32_t stampedSize = 0;  // the size stamped in a player's image
  ByteList image;
  Records records;
};

// Judges the bytes of a file named `name` the way Kavorin does: a .rec is
// loaded from offset 0, a program with the size stamp (a compiled player)
// from its stamped size. False, with Kavorin's verdict "Not a valid
// recording" and the rule that failed, when Kavorin would refuse it; a
// program that is not Kavorin's, or Kavorin itself with nothing behind it, is
// named as such. With `program`, Kavorin itself is taken too (and *program
// set): its records stay empty.
bool ParseRecording(const char* name, const unsigned char* bytes, size_t size, Recording& r,
                    Failure& f, bool* program = nullptr);
// Kavorin's verdict on a file too large to load, by the name shown.
bool FailTooLarge(Failure& f, const Text& shown, uint64_t size);
// Kavorin.exe as built: a program whose size is its stamped size.
bool ParseProgram(const char* name, const unsigned char* bytes, size_t size, Recording& r,
                  Failure& f);
// The bytes of the file: the image, if any, then the records.
ByteList FileBytes(const Recording& r);
ByteList RecordBytes(const EventRecord* records, size_t n);
inline ByteList RecordBytes(const Records& records) {
  return RecordBytes(records.data(), records.size());
}

// What a record is, for messages: "a left up", "a key down (A)".
Text Describe(const EventRecord& e);

// The kinds info and the text's header count, in the order they are shown.
enum Kind {
  kKindKeyDown,
  kKindKeyUp,
  kKindMove,
  kKindLeftDown,
  kKindLeftUp,
  kKindRightDown,
  kKindRightUp,
  kKindMiddleDown,
  kKindMiddleUp,
  kKindWheel,
  kKindHWheel,
  kKindXDown,
  kKindXUp,
  kKindTypedChar,
  kKindOther,
  kKinds
};
Kind KindOf(uint32_t message);
// Whether a record of this kind happens at a place (its x and y).
inline bool IsPointer(Kind k) { return k >= kKindMove && k <= kKindXUp; }

struct Summary {
  uint64_t kinds[kKinds] = {};
  uint64_t durationMs = 0;  // what a run at recorded speed takes
  size_t played = 0;        // records a run plays: all, or those before the first end record
  bool mouse = false;       // the area below holds something
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
Summary Summarize(const Records& records);
// "3 key down, 3 key up, 12 move"
Text KindCounts(const Summary& s);
// Milliseconds as "12.345 s".
Text Seconds(uint64_t ms);

// The run's clock: for each record the milliseconds from the first one,
// waits as a run at recorded speed makes them.
List<uint64_t> PlayedTimes(const Records& records);

// Gaps divided by speed (> 0), rounded on the run's clock so that the whole
// run scales too. Waits of no time (backward times) stay as they are. False
// (naming `name`) when a gap would no longer fit.
bool Retime(const Records& records, double speed, const char* speedText, const char* name,
            Records& out, Failure& f);

// One end of a span: an event number (from 1) or a time on the run's clock.
struct SpanEnd {
  bool given = false;
  bool isTime = false;
  uint64_t value = 0;  // event number, or milliseconds
};
// "12" (event 12), "1500ms", "1.5s"; false when it is neither.
bool ParseSpanEnd(const char* text, SpanEnd& end);
// The records from `from` to `to`, both included. False (naming `name`) when
// nothing is left or what is left is not a recording.
bool Cut(const Records& records, SpanEnd from, SpanEnd to, const char* name, Records& out,
         Failure& f);
