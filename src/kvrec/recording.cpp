#include "kvrec/recording.h"

#include <math.h>

#include "format/player.h"
#include "kvrec/keys.h"
#include "kvrec/program.h"

namespace {

const char kVerdict[] = ": Not a valid recording: ";  // Kavorin's own words for a refused file

uint32_t Get32(const unsigned char* p) { return ReadLittle32(p); }

void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

bool LooksLikeProgram(const unsigned char* bytes, size_t size) {
  return size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

const uint32_t kMostBytes = 0xFFFFFFFFu - kLoadSlack;

}  // namespace

Text Describe(const EventRecord& e) {
  switch (e.message) {
    case kKeyDown: return "a key down (" + KeyName((uint8_t)e.paramL) + ")";
    case kKeyUp: return "a key up (" + KeyName((uint8_t)e.paramL) + ")";
    case kMouseMove: return "a move";
    case kLeftDown: return "a left down";
    case kLeftUp: return "a left up";
    case kRightDown: return "a right down";
    case kRightUp: return "a right up";
    case kMiddleDown: return "a middle down";
    case kMiddleUp: return "a middle up";
    case kWheel: return "a wheel";
    case kHWheel: return "a horizontal wheel";
    case kXDown: return "an x button down";
    case kXUp: return "an x button up";
    case kTypedChar: return "a typed character";
    case kPhysicalMark: return "the mark of physical pixels";
    case kEndOfRecording: return "an end record";
    default: return "a record of message " + Hex(e.message);
  }
}

bool FailTooLarge(Failure& f, const Text& shown, uint64_t size) {
  return Fail(f, shown + kVerdict + "its " + Decimal(size) +
                     " bytes are more than a recording can hold; expected at most " +
                     Decimal(kMostBytes) + " bytes");
}

bool ParseRecording(const char* name, const unsigned char* bytes, size_t size, Recording& r,
                    Failure& f, bool* program) {
  if (program) *program = false;
  r = Recording{};
  Text shown = Shown(name);
  if (!RecordingFits(size)) return FailTooLarge(f, shown, size);
  uint32_t offset = 0;
  Text what = "the file";
  if (LooksLikeProgram(bytes, size)) {
    // A program is read as Kavorin reads its own file: from its stamped size on.
    const char* notOurs = ": not a Kavorin program or player: Not a valid recording (a program ";
    const char* expected = "); expected a .rec file or a player that Kavorin compiled";
    uint32_t slot = FindStampSlot(bytes, size);
    if (!slot) return Fail(f, shown + notOurs + "without Kavorin's size stamp" + expected);
    uint32_t stamped = Get32(bytes + slot);
    if (stamped < slot + 4 || stamped > size)
      return Fail(f, shown + notOurs + "whose size stamp, " + Decimal(stamped) +
                         ", is not within its " + Decimal(size) + " bytes" + expected);
    r.player = true;
    r.stampedSize = stamped;
    r.machine = MachineOf(bytes, stamped);
    r.image = ByteList(bytes, stamped);
    if (!IsCompiledPlayer(size, stamped)) {
      if (program) return *program = true;
      return Fail(f, shown + ": a Kavorin program with no recording behind it: Not a valid " +
                         "recording (its " + Decimal(size) +
                         " bytes are its stamped size); expected a compiled player, larger than "
                         "its stamped size");
    }
    offset = stamped;
    what = "the " + Plural(size - offset, "byte", "bytes") + " behind the program (from byte " +
           Decimal(offset) + ")";
  }
  const unsigned char* data = bytes + offset;
  uint32_t n = (uint32_t)(size - offset);
  switch (CheckRecording(data, n)) {
    case kRecordingOk: break;
    case kTooShort:
      return Fail(f, shown + kVerdict + (n ? what + " holds 1 byte" : Text("the file is empty")) +
                         "; expected at least one whole record of 20 bytes");
    case kFirstByteNotZero: {
      EventRecord first{n >= 4 ? Get32(data) : 0, n >= 8 ? Get32(data + 4) : 0, 0, 0, 0};
      return Fail(f, shown + kVerdict + what + " starts with " +
                         (n >= 8 ? Describe(first) : "the byte " + Hex(data[0])) +
                         "; expected a first record that is a key down or a move (a zero first "
                         "byte)");
    }
    case kNotWholeRecords:
      return Fail(f, shown + kVerdict + (offset ? what : "its " + Decimal(n) + " bytes") +
                         " are not a whole number of 20-byte records");
  }
  r.records.resize(n / kRecordSize);
  for (size_t i = 0; i < r.records.size(); ++i) {
    const unsigned char* p = data + i * kRecordSize;
    r.records[i] = EventRecord{Get32(p), Get32(p + 4), Get32(p + 8), Get32(p + 12), Get32(p + 16)};
  }
  return true;
}

bool ParseProgram(const char* name, const unsigned char* bytes, size_t size, Recording& r,
                  Failure& f) {
  bool program = false;
  if (ParseRecording(name, bytes, size, r, f, &program) && program) return true;
  if (r.player)
    return Fail(f, Shown(name) + ": a compiled player (" + Decimal(size) + " bytes, stamped size " +
                       Decimal(r.stampedSize) +
                       "); expected Kavorin.exe as built, whose size is its stamped size (kvrec "
                       "extract gives a player's recording)");
  return Fail(f, Shown(name) +
                     ": not a Kavorin program or player; expected Kavorin.exe as built, a program "
                     "with Kavorin's size stamp");
}

ByteList RecordBytes(const EventRecord* records, size_t n) {
  ByteList out;
  out.resize(n * kRecordSize);
  for (size_t i = 0; i < n; ++i) {
    unsigned char* p = out.data() + i * kRecordSize;
    const EventRecord& e = records[i];
    Put32(p, e.message);
    Put32(p + 4, e.paramL);
    Put32(p + 8, e.paramH);
    Put32(p + 12, e.time);
    Put32(p + 16, e.hwnd);
  }
  return out;
}

ByteList FileBytes(const Recording& r) {
  ByteList out = r.image;
  ByteList records = RecordBytes(r.records);
  out.append(records.data(), records.size());
  return out;
}

Kind KindOf(uint32_t message) {
  switch (message) {
    case kKeyDown: return kKindKeyDown;
    case kKeyUp: return kKindKeyUp;
    case kMouseMove: return kKindMove;
    case kLeftDown: return kKindLeftDown;
    case kLeftUp: return kKindLeftUp;
    case kRightDown: return kKindRightDown;
    case kRightUp: return kKindRightUp;
    case kMiddleDown: return kKindMiddleDown;
    case kMiddleUp: return kKindMiddleUp;
    case kWheel: return kKindWheel;
    case kHWheel: return kKindHWheel;
    case kXDown: return kKindXDown;
    case kXUp: return kKindXUp;
    case kTypedChar: return kKindTypedChar;
    default: return kKindOther;
  }
}

Summary Summarize(const Records& records) {
  Summary s;
  s.played = records.size();
  for (size_t i = 0; i < records.size(); ++i) {
    const EventRecord& e = records[i];
    Kind kind = KindOf(e.message);
    ++s.kinds[kind];
    if (e.message == kEndOfRecording && s.played == records.size()) s.played = i;
    if (i && i < s.played) s.durationMs += PlayedGap(records[i - 1].time, e.time);
    if (IsPointer(kind)) {
      int32_t x = (int32_t)e.paramL, y = (int32_t)e.paramH;
      if (!s.mouse) {
        s.left = s.right = x;
        s.top = s.bottom = y;
        s.mouse = true;
      }
      s.left = x < s.left ? x : s.left;
      s.right = x > s.right ? x : s.right;
      s.top = y < s.top ? y : s.top;
      s.bottom = y > s.bottom ? y : s.bottom;
    }
  }
  return s;
}

Text KindCounts(const Summary& s) {
  static const char* const names[kKinds] = {
      "key down",         "key up",        "move",        "left down", "left up",
      "right down",       "right up",      "middle down", "middle up", "wheel",
      "horizontal wheel", "x button down", "x button up", "typed character", "other"};
  Text out;
  for (int k = 0; k < kKinds; ++k) {
    if (!s.kinds[k]) continue;
    if (!out.empty()) out += ", ";
    out.AddDecimal(s.kinds[k]).Add(' ') += names[k];
  }
  return out.empty() ? Text("no events") : out;
}

Text Seconds(uint64_t ms) {
  Text out = Decimal(ms / 1000) + ".";
  uint64_t frac = ms % 1000;
  if (frac < 100) out += '0';
  if (frac < 10) out += '0';
  return out.AddDecimal(frac) + " s";
}

List<uint64_t> PlayedTimes(const Records& records) {
  List<uint64_t> t;
  t.resize(records.size());
  for (size_t i = 1; i < records.size(); ++i)
    t[i] = t[i - 1] + PlayedGap(records[i - 1].time, records[i].time);
  return t;
}

bool Retime(const Records& records, double speed, const char* speedText, const char* name,
            Records& out, Failure& f) {
  out = records;
  uint64_t clock = 0;   // the run's clock at recorded speed
  uint64_t scaled = 0;  // and at the new speed
  for (size_t i = 1; i < records.size(); ++i) {
    uint32_t gap = records[i].time - records[i - 1].time;
    if (gap >= 0x80000000u) {  // plays at once: keep it as it is
      out[i].time = out[i - 1].time + gap;
      continue;
    }
    clock += gap;
    double at = floor((double)clock / speed + 0.5);
    if (!(at < 9.0e15) || at - (double)scaled >= 2147483648.0)
      return Fail(f, Shown(name) + ": at speed " + Shown(speedText) + " the wait before event " +
                         Decimal(i + 1) +
                         " would be longer than a recording can hold; expected a speed that "
                         "keeps every wait below 2147483648 ms");
    uint64_t next = (uint64_t)at;
    out[i].time = out[i - 1].time + (uint32_t)(next - scaled);
    scaled = next;
  }
  return true;
}

bool ParseSpanEnd(const char* text, SpanEnd& end) {
  end = SpanEnd{};
  uint64_t whole = 0;
  size_t digits = 0;
  for (; text[digits] >= '0' && text[digits] <= '9'; ++digits) {
    if (digits == 15) return false;
    whole = whole * 10 + (uint64_t)(text[digits] - '0');
  }
  if (!digits) return false;
  const char* rest = text + digits;
  end.given = true;
  if (!*rest) {
    end.value = whole;
    return whole >= 1;
  }
  end.isTime = true;
  if (!strcmp(rest, "ms")) {
    end.value = whole;
    return true;
  }
  // Seconds, with up to three decimals.
  uint64_t ms = 0;
  size_t i = 0;
  if (rest[0] == '.') {
    for (i = 1; rest[i] >= '0' && rest[i] <= '9'; ++i) {
      if (i > 3) return false;
      ms = ms * 10 + (uint64_t)(rest[i] - '0');
    }
    if (i == 1) return false;
    for (size_t k = i; k <= 3; ++k) ms *= 10;
  }
  if (strcmp(rest + i, "s") != 0) return false;
  end.value = whole * 1000 + ms;
  return true;
}

bool Cut(const Records& records, SpanEnd from, SpanEnd to, const char* name, Records& out,
         Failure& f) {
  size_t n = records.size();
  List<uint64_t> t = PlayedTimes(records);
  size_t first = 0, last = n;  // the span is [first, last)
  if (from.given) {
    if (from.isTime) {
      while (first < n && t[first] < from.value) ++first;
    } else if (from.value > n) {
      return Fail(f, Shown(name) + ": --from event " + Decimal(from.value) +
                         " is past the end; expected an event from 1 to " + Decimal(n));
    } else {
      first = (size_t)from.value - 1;
    }
  }
  if (to.given) {
    if (to.isTime) {
      last = 0;
      while (last < n && t[last] <= to.value) ++last;
    } else if (to.value < n) {
      last = (size_t)to.value;
    }
  }
  if (first >= last)
    return Fail(f, Shown(name) +
                       ": nothing to keep: the span holds no event; expected --from before --to "
                       "(the recording has " +
                       Plural(n, "event", "events") + ", " + Seconds(n ? t[n - 1] : 0) + ")");
  unsigned char head[kRecordSize];
  Put32(head, records[first].message);
  if (CheckRecording(head, kRecordSize) != kRecordingOk) {
    size_t next = first;
    while (next < last && (records[next].message & 0xFF)) ++next;
    Text hint = next < last ? " such as event " + Decimal(next + 1) : Text();
    return Fail(f, Shown(name) + ": the span would start with event " + Decimal(first + 1) + ", " +
                       Describe(records[first]) +
                       ", and Kavorin refuses such a recording; expected --from at a key down or "
                       "a move" +
                       hint);
  }
  out = Records(records.data() + first, last - first);
  return true;
}
