#include "kvrec/recording.h"

#include <math.h>
#include <stdio.h>

#include "format/player.h"
#include "kvrec/keys.h"

namespace {

const char kVerdict[] = ": Not a valid recording: ";  // Kavorin's own words for a refused file

uint32_t Get32(const unsigned char* p) { return ReadLittle32(p); }

void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

std::string Hex(uint32_t v) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), digits[v & 15]);
    v >>= 4;
  } while (v);
  return "0x" + out;
}

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What a record is, for messages: "a left up", "a key down (A)".
std::string Describe(uint32_t message, uint32_t paramL) {
  switch (message) {
    case kKeyDown: return "a key down (" + KeyName((uint8_t)paramL) + ")";
    case kKeyUp: return "a key up (" + KeyName((uint8_t)paramL) + ")";
    case kMouseMove: return "a move";
    case kLeftDown: return "a left down";
    case kLeftUp: return "a left up";
    case kRightDown: return "a right down";
    case kRightUp: return "a right up";
    case kMiddleDown: return "a middle down";
    case kMiddleUp: return "a middle up";
    case kEndOfRecording: return "an end record";
    default: return "a record of message " + Hex(message);
  }
}

// The PE machine of a program image; 0 when the image has no PE header.
uint16_t MachineOf(const std::vector<unsigned char>& bytes, uint32_t limit) {
  if (limit < 0x40) return 0;
  uint32_t pe = Get32(&bytes[0x3C]);
  if (pe > limit - 6 || Get32(&bytes[pe]) != 0x00004550) return 0;  // "PE\0\0"
  return (uint16_t)(bytes[pe + 4] | bytes[pe + 5] << 8);
}

std::string Decimal(double v) {
  char text[32];
  snprintf(text, sizeof text, "%g", v);
  return text;
}

bool LooksLikeProgram(const std::vector<unsigned char>& bytes) {
  return bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

}  // namespace

std::string MachineName(uint16_t machine) {
  switch (machine) {
    case 0x014C: return "i386";
    case 0x8664: return "x86-64";
    case 0xAA64: return "arm64";
    default: return "machine " + Hex(machine);
  }
}

Recording ParseRecording(const std::string& name, const std::vector<unsigned char>& bytes,
                         bool* program) {
  if (program) *program = false;
  Recording r;
  uint64_t size = bytes.size();
  if (!RecordingFits(size))
    throw Failure(name + kVerdict + "its " + std::to_string(size) +
                  " bytes are more than a recording can hold; expected at most " +
                  std::to_string(0xFFFFFFFFu - kLoadSlack) + " bytes");
  uint32_t offset = 0;
  std::string what = "the file";
  if (LooksLikeProgram(bytes)) {
    // A program is read as Kavorin reads its own file: from its stamped size on.
    uint32_t slot = FindSizeSlot(bytes.data(), (uint32_t)size);
    if (!slot)
      throw Failure(name + kVerdict +
                    "it is a program without Kavorin's size marker; expected a .rec file or a "
                    "player that Kavorin compiled");
    r.player = true;
    r.stampedSize = Get32(&bytes[slot]);
    if (r.stampedSize < slot + 4 || r.stampedSize > size)
      throw Failure(name + ": a damaged Kavorin program: its " + std::to_string(size) +
                    " bytes do not hold its stamped size " + std::to_string(r.stampedSize) +
                    "; expected a compiled player, larger than that");
    r.machine = MachineOf(bytes, r.stampedSize);
    r.image.assign(bytes.begin(), bytes.begin() + r.stampedSize);
    if (!IsCompiledPlayer(size, r.stampedSize)) {
      if (program) {
        *program = true;
        return r;
      }
      throw Failure(
          name + ": holds no recording: it is Kavorin itself (" + std::to_string(size) +
          " bytes, its stamped size); expected a compiled player, larger than its stamped size");
    }
    offset = r.stampedSize;
    what = "the " + Plural(size - offset, "byte", "bytes") + " behind the program (from byte " +
           std::to_string(offset) + ")";
  }
  const unsigned char* data = bytes.data() + offset;
  uint32_t n = (uint32_t)(size - offset);
  switch (CheckRecording(data, n)) {
    case kRecordingOk: break;
    case kTooShort:
      throw Failure(name + kVerdict +
                    (n ? what + " holds 1 byte" : std::string("the file is empty")) +
                    "; expected at least one whole record of 20 bytes");
    case kFirstByteNotZero:
      throw Failure(name + kVerdict + what + " starts with " +
                    (n >= 8 ? Describe(Get32(data), Get32(data + 4)) : "the byte " + Hex(data[0])) +
                    "; expected a first record that is a key down or a move (a zero first byte)");
    case kNotWholeRecords:
      throw Failure(name + kVerdict + (offset ? what : "its " + std::to_string(n) + " bytes") +
                    " are not a whole number of 20-byte records");
  }
  r.records.resize(n / kRecordSize);
  for (size_t i = 0; i < r.records.size(); ++i) {
    const unsigned char* p = data + i * kRecordSize;
    r.records[i] = EventRecord{Get32(p), Get32(p + 4), Get32(p + 8), Get32(p + 12), Get32(p + 16)};
  }
  return r;
}

Recording ParseProgram(const std::string& name, const std::vector<unsigned char>& bytes) {
  bool program = false;
  Recording r;
  try {
    r = ParseRecording(name, bytes, &program);
  } catch (const Failure&) {
    program = false;
  }
  if (program) return r;
  if (r.player)
    throw Failure(name + ": a compiled player (" + std::to_string(bytes.size()) +
                  " bytes, stamped size " + std::to_string(r.stampedSize) +
                  "); expected Kavorin.exe as built, whose size is its stamped size (kvrec extract "
                  "gives a player's recording)");
  throw Failure(
      name + ": not Kavorin; expected Kavorin.exe as built, a program with Kavorin's size marker");
}

std::vector<unsigned char> RecordBytes(const std::vector<EventRecord>& records) {
  std::vector<unsigned char> out(records.size() * kRecordSize);
  for (size_t i = 0; i < records.size(); ++i) {
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

std::vector<unsigned char> Bytes(const Recording& r) {
  std::vector<unsigned char> out = r.image;
  std::vector<unsigned char> records = RecordBytes(r.records);
  out.insert(out.end(), records.begin(), records.end());
  return out;
}

Summary Summarize(const std::vector<EventRecord>& records) {
  Summary s;
  s.played = records.size();
  for (size_t i = 0; i < records.size(); ++i) {
    const EventRecord& e = records[i];
    int kind = 9;
    switch (e.message) {
      case kKeyDown: kind = 0; break;
      case kKeyUp: kind = 1; break;
      case kMouseMove: kind = 2; break;
      case kLeftDown: kind = 3; break;
      case kLeftUp: kind = 4; break;
      case kRightDown: kind = 5; break;
      case kRightUp: kind = 6; break;
      case kMiddleDown: kind = 7; break;
      case kMiddleUp: kind = 8; break;
      default: break;
    }
    ++s.kinds[kind];
    if (e.message == kEndOfRecording && s.played == records.size()) s.played = i;
    if (i && i < s.played) s.durationMs += PlayedGap(records[i - 1].time, e.time);
    if (kind >= 2 && kind <= 8) {
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

std::string KindCounts(const Summary& s) {
  static const char* const names[] = {"key down",  "key up",     "move",     "left down",
                                      "left up",   "right down", "right up", "middle down",
                                      "middle up", "other"};
  std::string out;
  for (int k = 0; k < 10; ++k) {
    if (!s.kinds[k]) continue;
    if (!out.empty()) out += ", ";
    out += std::to_string(s.kinds[k]) + " " + names[k];
  }
  return out.empty() ? "no events" : out;
}

std::string Seconds(uint64_t ms) {
  std::string frac = std::to_string(ms % 1000);
  return std::to_string(ms / 1000) + "." + std::string(3 - frac.size(), '0') + frac + " s";
}

std::vector<uint64_t> PlayedTimes(const std::vector<EventRecord>& records) {
  std::vector<uint64_t> t(records.size());
  for (size_t i = 1; i < records.size(); ++i)
    t[i] = t[i - 1] + PlayedGap(records[i - 1].time, records[i].time);
  return t;
}

std::vector<EventRecord> Retime(const std::vector<EventRecord>& records, double speed,
                                const std::string& name) {
  std::vector<EventRecord> out = records;
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
      throw Failure(name + ": at speed " + Decimal(speed) + " the wait before event " +
                    std::to_string(i + 1) +
                    " would be longer than a recording can hold; expected a speed that keeps every "
                    "wait below 2147483648 ms");
    uint64_t next = (uint64_t)at;
    out[i].time = out[i - 1].time + (uint32_t)(next - scaled);
    scaled = next;
  }
  return out;
}

bool ParseSpanEnd(const std::string& text, SpanEnd& end) {
  end = SpanEnd{};
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (!digits || digits > 15) return false;
  uint64_t whole = std::stoull(text.substr(0, digits));
  std::string rest = text.substr(digits);
  end.given = true;
  if (rest.empty()) {
    end.value = whole;
    return whole >= 1;
  }
  end.isTime = true;
  if (rest == "ms") {
    end.value = whole;
    return true;
  }
  // Seconds, with up to three decimals.
  uint64_t ms = 0;
  size_t i = 0;
  if (rest[0] == '.') {
    for (i = 1; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
      if (i > 3) return false;
      ms = ms * 10 + (uint64_t)(rest[i] - '0');
    }
    if (i == 1) return false;
    for (size_t k = i; k <= 3; ++k) ms *= 10;
  }
  if (rest.substr(i) != "s") return false;
  end.value = whole * 1000 + ms;
  return true;
}

std::vector<EventRecord> Cut(const std::vector<EventRecord>& records, SpanEnd from, SpanEnd to,
                             const std::string& name) {
  size_t n = records.size();
  std::vector<uint64_t> t = PlayedTimes(records);
  size_t first = 0, last = n;  // the span is [first, last)
  if (from.given) {
    if (from.isTime) {
      while (first < n && t[first] < from.value) ++first;
    } else if (from.value > n) {
      throw Failure(name + ": --from event " + std::to_string(from.value) +
                    " is past the end; expected an event from 1 to " + std::to_string(n));
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
    throw Failure(name +
                  ": nothing to keep: the span holds no event; expected --from before --to (the "
                  "recording has " +
                  Plural(n, "event", "events") + ", " + Seconds(n ? t[n - 1] : 0) + ")");
  std::vector<EventRecord> out(records.begin() + (long)first, records.begin() + (long)last);
  unsigned char head[kRecordSize];
  Put32(head, out[0].message);
  if (CheckRecording(head, kRecordSize) != kRecordingOk) {
    size_t next = first;
    while (next < last && (records[next].message & 0xFF)) ++next;
    std::string hint = next < last ? " such as event " + std::to_string(next + 1) : "";
    throw Failure(
        name + ": the span would start with event " + std::to_string(first + 1) + ", " +
        Describe(out[0].message, out[0].paramL) +
        ", and Kavorin refuses such a recording; expected --from at a key down or a move" + hint);
  }
  return out;
}
