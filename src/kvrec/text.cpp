#include "kvrec/text.h"

#include "kvrec/keys.h"

namespace {

constexpr uint32_t kKeyBits = kKeyExtended | kKeyAsPressed | kLockOn;

bool IsKeyKind(uint32_t m) { return m == kKeyDown || m == kKeyUp; }
bool IsWheel(uint32_t m) { return m == kWheel || m == kHWheel; }

// ---- Writing --------------------------------------------------------------

// A key record is written as "down KEY" when its paramL holds the key's code
// and a scan code, and its paramH is that scan code with none, one or both
// of the two key bits added: the bits it adds. A scan code is one byte; a
// wider one would hold the bits itself, and is written as the record it is.
bool KeyForm(const EventRecord& r, uint32_t& scan, uint32_t& bits) {
  scan = r.paramL >> 8;
  bits = r.paramH & ~scan;
  return IsKeyKind(r.message) && scan <= kScanMask && !(scan & ~r.paramH) && !(bits & ~kKeyBits);
}

// "x1 down" and the like, for an X button record that names button 1 or 2.
const char* XWords(const EventRecord& r) {
  if ((r.message != kXDown && r.message != kXUp) || (r.hwnd != 1 && r.hwnd != 2)) return nullptr;
  static const char* const words[] = {"x1 down", "x1 up", "x2 down", "x2 up"};
  return words[(r.hwnd - 1) * 2 + (r.message == kXUp)];
}

// Wheels and X buttons keep their delta or their button in the last field,
// where the others keep the window: the text gives it in the event itself,
// and those lines neither name a window nor change the one carried on.
bool OwnsLastField(const EventRecord& r) { return IsWheel(r.message) || XWords(r); }

const char* ButtonWords(uint32_t m) {
  switch (m) {
    case kMouseMove: return "move";
    case kLeftDown: return "left down";
    case kLeftUp: return "left up";
    case kRightDown: return "right down";
    case kRightUp: return "right up";
    case kMiddleDown: return "middle down";
    case kMiddleUp: return "middle up";
    default: return nullptr;
  }
}

void AddPlace(Text& out, const EventRecord& r) {
  out.Add(' ').AddSigned((int32_t)r.paramL).Add(' ').AddSigned((int32_t)r.paramH);
}

void AddEvent(Text& out, const EventRecord& r) {
  uint32_t scan = 0, bits = 0;
  const char* words = nullptr;
  if (KeyForm(r, scan, bits)) {
    uint8_t vk = (uint8_t)(r.paramL & 0xFF);
    out += r.message == kKeyDown ? "down " : "up ";
    AddKeyName(out, vk);
    if (scan != DefaultScan(vk)) out.Add(" scan=", 6).AddHex(scan);
    if (bits & kKeyExtended) out += " ext";
    if (bits & kKeyAsPressed) out += " exact";
    if (bits & kLockOn) out += " on";
  } else if ((words = ButtonWords(r.message)) || (words = XWords(r))) {
    out += words;
    AddPlace(out, r);
  } else if (IsWheel(r.message)) {
    out += r.message == kWheel ? "wheel " : "hwheel ";
    out.AddSigned((int32_t)r.hwnd);
    AddPlace(out, r);
  } else if (r.message == kTypedChar && r.paramL <= 0xFFFF && !r.paramH) {
    static const char hex[] = "0123456789ABCDEF";
    char unit[] = {'U', '+', hex[r.paramL >> 12], hex[r.paramL >> 8 & 15], hex[r.paramL >> 4 & 15],
                   hex[r.paramL & 15]};
    out.Add("char ", 5).Add(unit, 6);
  } else if (r.message == kPhysicalMark && !r.paramL && !r.paramH) {
    out += "pixels physical";
  } else if (r.message == kEndOfRecording && !r.paramL && !r.paramH) {
    out += "end";
  } else {
    // Anything else as it is: kinds Kavorin does not play, key records whose
    // two fields disagree, X buttons other than 1 and 2.
    out += "msg ";
    out.AddHex(r.message).Add(' ').AddDecimal(r.paramL).Add(' ').AddDecimal(r.paramH);
  }
}

// ---- Reading --------------------------------------------------------------

struct Token {
  const char* text;
  size_t length;
  size_t column;  // from 1
};

// A word as an error shows it: quoted, at most 40 characters, unusual bytes
// as \xNN.
Text Quoted(const char* text, size_t length) {
  static const char hex[] = "0123456789abcdef";
  Text out = "\"";
  for (size_t i = 0; i < length; ++i) {
    if (i == 40) {
      out += "...";
      break;
    }
    unsigned char c = (unsigned char)text[i];
    if (c < 0x20 || c >= 0x7F) {
      char escape[] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
      out.Add(escape, 4);
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

bool SameWord(const Token& t, const char* word) {
  size_t i = 0;
  for (; i < t.length && word[i]; ++i) {
    char c = t.text[i];
    if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    if (c != word[i]) return false;
  }
  return i == t.length && !word[i];
}

// A decimal number or 0x followed by hex digits, with an optional minus sign,
// within [low, high].
bool ParseNumber(const char* t, size_t n, int64_t low, int64_t high, int64_t& value) {
  bool negative = n && t[0] == '-';
  if (negative) ++t, --n;
  if (!n) return false;
  uint64_t v = 0;
  if (n > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    if (n > 10) return false;
    for (size_t i = 2; i < n; ++i) {
      char c = t[i];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) return false;
      v = v * 16 + (uint64_t)d;
    }
  } else {
    if (n > 10) return false;
    for (size_t i = 0; i < n; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      v = v * 10 + (uint64_t)(t[i] - '0');
    }
  }
  value = negative ? -(int64_t)v : (int64_t)v;
  return value >= low && value <= high;
}

constexpr int64_t kLow32 = -2147483648LL;  // a 32-bit field read as signed
constexpr int64_t kHigh32 = 4294967295LL;  // or as unsigned
constexpr int64_t kLongestWait = 2147483647LL;

class LineReader {
 public:
  LineReader(const List<Token>& tokens, size_t line, size_t end, TextError& error)
      : t_(tokens), line_(line), end_(end), error_(error) {}

  bool Fail(size_t at, const char* expected) {
    error_.line = line_;
    error_.column = at < t_.size() ? t_[at].column : end_;
    error_.what = Text("expected ") + expected + ", found " +
                  (at < t_.size() ? Quoted(t_[at].text, t_[at].length) : "the end of the line");
    return false;
  }
  bool Has(size_t at) const { return at < t_.size(); }
  const Token& At(size_t at) const { return t_[at]; }
  bool Is(size_t at, const char* word) const { return Has(at) && SameWord(t_[at], word); }
  bool Number(size_t at, int64_t low, int64_t high, const char* what, uint32_t& out) {
    int64_t v = 0;
    if (!Has(at) || !ParseNumber(t_[at].text, t_[at].length, low, high, v)) return Fail(at, what);
    out = (uint32_t)v;
    return true;
  }
  // x and y from token `at` on.
  bool Place(size_t at, EventRecord& r) {
    return Number(at, kLow32, kHigh32, "the x of the mouse in screen pixels", r.paramL) &&
           Number(at + 1, kLow32, kHigh32, "the y of the mouse in screen pixels", r.paramH);
  }

 private:
  const List<Token>& t_;
  size_t line_, end_;
  TextError& error_;
};

void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

const char kEvents[] =
    "an event: move, left, right, middle, x1, x2, wheel, hwheel, down, up, char, pixels, end or "
    "msg";

}  // namespace

Text WriteText(const Records& records, const char* source) {
  Summary s = Summarize(records);
  Text out;
  out.Reserve(records.size() * 24 + 512);
  out += "# kvrec text of ";
  out += Shown(source);
  out += ": ";
  out.AddDecimal(records.size());
  out += records.size() == 1 ? " event, " : " events, ";
  out += Seconds(s.durationMs);
  out += "\n# " + KindCounts(s) + "\n";
  if (s.played < records.size()) {
    out += "# playback ends at event ";
    out.AddDecimal(s.played + 1);
    out += " (end): what follows it is never played\n";
  }
  if (s.mouse) {
    out += "# mouse area: x ";
    out.AddSigned(s.left).Add(" to ", 4).AddSigned(s.right).Add(", y ", 4).AddSigned(s.top);
    out.Add(" to ", 4).AddSigned(s.bottom).Add('\n');
  }
  out += "# each line: the wait before the event in ms, then the event\n";
  if (!records.empty() && records[0].time) {
    out += "start ";
    out.AddDecimal(records[0].time).Add('\n');
  }
  uint32_t window = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const EventRecord& r = records[i];
    size_t lineStart = out.size();
    uint32_t gap = i ? r.time - records[i - 1].time : 0;
    out.AddSigned((int32_t)gap);
    do out += ' ';
    while (out.size() - lineStart < 6);
    AddEvent(out, r);
    if (!OwnsLastField(r) && r.hwnd != window) {
      out += " window=";
      out.AddHex(r.hwnd);
      window = r.hwnd;
    }
    out += '\n';
  }
  return out;
}

bool ReadText(const char* text, size_t size, Records& records, TextError& error) {
  records.clear();
  records.reserve(size / 16);
  if (size >= 2 && (((unsigned char)text[0] == 0xFF && (unsigned char)text[1] == 0xFE) ||
                    ((unsigned char)text[0] == 0xFE && (unsigned char)text[1] == 0xFF))) {
    error.line = error.column = 0;
    error.what = "is UTF-16; save it as UTF-8 or ANSI";
    return false;
  }
  List<Token> tokens;
  uint32_t start = 0, window = 0;
  bool started = false;
  size_t firstLine = 0, firstColumn = 0;
  size_t line = 0, pos = 0, lineBegin = 0;
  if (size >= 3 && !memcmp(text, "\xEF\xBB\xBF", 3))
    pos = 3;  // a byte-order mark some editors write
  for (bool more = true; more;) {
    ++line;
    lineBegin = pos;
    const char* nl = (const char*)memchr(text + pos, '\n', size - pos);
    more = nl != nullptr;
    size_t end = more ? (size_t)(nl - text) : size;
    const char* body = text + pos;
    size_t length = end - pos;
    pos = more ? end + 1 : size;
    if (const char* hash = (const char*)memchr(body, '#', length)) length = (size_t)(hash - body);
    tokens.clear();
    for (size_t i = 0; i < length;) {
      char c = body[i];
      if (c == ' ' || c == '\t' || c == '\r') {
        ++i;
        continue;
      }
      size_t j = i;
      while (j < length && body[j] != ' ' && body[j] != '\t' && body[j] != '\r') ++j;
      tokens.push_back(Token{body + i, j - i, i + 1});
      i = j;
    }
    if (tokens.empty()) continue;
    LineReader in(tokens, line, length + 1, error);

    if (in.Is(0, "start")) {
      if (!records.empty() || started)
        return in.Fail(0, "an event (\"start\" comes once, before the first event)");
      if (!in.Number(1, 0, kHigh32, "the time of the first event's start in ms, 0 to 4294967295",
                     start))
        return false;
      if (in.Has(2)) return in.Fail(2, "the end of the line");
      started = true;
      continue;
    }

    EventRecord r{};
    uint32_t gap = 0;
    if (!in.Number(0, kLow32, kLongestWait,
                   "the wait before the event in ms, a whole number from -2147483648 to "
                   "2147483647, or \"start\"",
                   gap))
      return false;
    if (!in.Has(1)) return in.Fail(1, kEvents);
    size_t next = 2;
    bool key = false, ownField = false;
    r.hwnd = window;
    if (in.Is(1, "move")) {
      r.message = kMouseMove;
      if (!in.Place(2, r)) return false;
      next = 4;
    } else if (in.Is(1, "left") || in.Is(1, "right") || in.Is(1, "middle") || in.Is(1, "x1") ||
               in.Is(1, "x2")) {
      uint32_t press = in.Is(1, "left")     ? kLeftDown
                       : in.Is(1, "right")  ? kRightDown
                       : in.Is(1, "middle") ? kMiddleDown
                                            : kXDown;
      if (in.Is(2, "down")) {
        r.message = press;
      } else if (in.Is(2, "up")) {
        r.message = press + 1;
      } else {
        return in.Fail(2, "\"down\" or \"up\"");
      }
      if (press == kXDown) {
        r.hwnd = in.Is(1, "x1") ? 1 : 2;
        ownField = true;
      }
      if (!in.Place(3, r)) return false;
      next = 5;
    } else if (in.Is(1, "wheel") || in.Is(1, "hwheel")) {
      r.message = in.Is(1, "wheel") ? kWheel : kHWheel;
      if (!in.Number(2, kLow32, kHigh32, "the wheel's turn, 120 a notch (negative: the other way)",
                     r.hwnd))
        return false;
      if (!in.Place(3, r)) return false;
      ownField = true;
      next = 5;
    } else if (in.Is(1, "down") || in.Is(1, "up")) {
      r.message = in.Is(1, "down") ? kKeyDown : kKeyUp;
      int vk = in.Has(2) ? KeyCode(in.At(2).text, in.At(2).length) : -1;
      if (vk < 0)
        return in.Fail(2, "a key name (A, F5, Shift, Enter, Left, ...) or a key code 0x00 to 0xff");
      r.paramH = DefaultScan((uint8_t)vk);
      r.paramL = (uint32_t)vk | r.paramH << 8;
      key = true;
      next = 3;
    } else if (in.Is(1, "char")) {
      const Token* t = in.Has(2) ? &in.At(2) : nullptr;
      int64_t unit = -1;
      if (!t || t->length < 3 || (t->text[0] != 'U' && t->text[0] != 'u') || t->text[1] != '+' ||
          !ParseNumber((Text("0x") + Text(t->text + 2, t->length - 2)).c_str(), t->length, 0,
                       0xFFFF, unit))
        return in.Fail(2, "a character as U+ and 1 to 4 hex digits (U+00E9)");
      r.message = kTypedChar;
      r.paramL = (uint32_t)unit;
      next = 3;
    } else if (in.Is(1, "pixels")) {
      if (!in.Is(2, "physical")) return in.Fail(2, "\"physical\"");
      r.message = kPhysicalMark;
      next = 3;
    } else if (in.Is(1, "end")) {
      r.message = kEndOfRecording;
    } else if (in.Is(1, "msg")) {
      if (!in.Number(2, 0, kHigh32, "the message number of the record", r.message) ||
          !in.Number(3, 0, kHigh32, "the record's paramL", r.paramL) ||
          !in.Number(4, 0, kHigh32, "the record's paramH", r.paramH))
        return false;
      next = 5;
    } else {
      return in.Fail(1, kEvents);
    }

    bool scanGiven = false, windowGiven = false;
    uint32_t bits = 0;
    for (; in.Has(next); ++next) {
      const Token& option = in.At(next);
      const char* eq = (const char*)memchr(option.text, '=', option.length);
      Token name{option.text, eq ? (size_t)(eq - option.text) : option.length, option.column};
      const char* value = eq ? eq + 1 : nullptr;
      size_t valueLength = eq ? option.length - name.length - 1 : 0;
      int64_t v = 0;
      if (key && eq && SameWord(name, "scan") && !scanGiven) {
        if (!ParseNumber(value, valueLength, 0, kScanMask, v))
          return in.Fail(next, "scan=N with N from 0 to 0xff (the extended bit is ext)");
        r.paramH = (uint32_t)v;
        r.paramL = (r.paramL & 0xFF) | r.paramH << 8;
        scanGiven = true;
      } else if (key && !eq && SameWord(name, "ext") && !(bits & kKeyExtended)) {
        bits |= kKeyExtended;
      } else if (key && !eq && SameWord(name, "exact") && !(bits & kKeyAsPressed)) {
        bits |= kKeyAsPressed;
      } else if (key && !eq && SameWord(name, "on") && !(bits & kLockOn)) {
        bits |= kLockOn;
      } else if (!ownField && eq && SameWord(name, "window") && !windowGiven) {
        if (!ParseNumber(value, valueLength, 0, kHigh32, v))
          return in.Fail(next, "window=N with N from 0 to 0xffffffff");
        r.hwnd = (uint32_t)v;
        windowGiven = true;
      } else {
        return in.Fail(next, key        ? "scan=, ext, exact, on, window= or the end of the line"
                             : ownField ? "the end of the line"
                                        : "window= or the end of the line");
      }
    }
    r.paramH |= bits;
    if (!ownField) window = r.hwnd;
    r.time = (records.empty() ? start : records.back().time) + gap;
    if (records.empty()) {
      firstLine = line;
      firstColumn = tokens[1].column;
    }
    // The result must be what Kavorin takes as a recording, by its own rules.
    if (!RecordingFits((uint64_t)(records.size() + 1) * kRecordSize))
      return in.Fail(0, ("the end of the text: a recording holds at most " +
                         Decimal((0xFFFFFFFFu - kLoadSlack) / kRecordSize) + " events")
                            .c_str());
    records.push_back(r);
  }

  unsigned char first[kRecordSize] = {};
  if (!records.empty()) Put32(first, records[0].message);
  switch (CheckRecording(first, (uint32_t)(records.size() * kRecordSize))) {
    case kRecordingOk: return true;
    case kFirstByteNotZero:
      error.line = firstLine;
      error.column = firstColumn;
      error.what =
          "expected a first event that starts a recording: a key down, a move, or msg with a "
          "number that is a multiple of 256 (Kavorin refuses a recording that starts otherwise)";
      return false;
    default:
      error.line = line;
      error.column = size - lineBegin + 1;
      error.what = "expected at least one event, found the end of the text";
      return false;
  }
}
