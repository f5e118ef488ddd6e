#include "kvrec/text.h"

#include "kvrec/keys.h"
#include "kvrec/recording.h"

namespace {

// ---- Writing --------------------------------------------------------------

void AppendDecimal(std::string& out, uint64_t v) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = (char)('0' + v % 10);
    v /= 10;
  } while (v);
  while (n) out += digits[--n];
}

void AppendSigned(std::string& out, int64_t v) {
  if (v < 0) {
    out += '-';
    AppendDecimal(out, (uint64_t)0 - (uint64_t)v);
  } else {
    AppendDecimal(out, (uint64_t)v);
  }
}

void AppendHex(std::string& out, uint32_t v) {
  static const char hex[] = "0123456789abcdef";
  char digits[8];
  int n = 0;
  do {
    digits[n++] = hex[v & 15];
    v >>= 4;
  } while (v);
  out += "0x";
  while (n) out += digits[--n];
}

bool IsKeyKind(uint32_t m) { return m == kKeyDown || m == kKeyUp; }

const char* MouseWords(uint32_t m) {
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

void AppendEvent(std::string& out, const EventRecord& r) {
  if (IsKeyKind(r.message) && r.paramL >> 8 == r.paramH) {
    uint8_t vk = (uint8_t)(r.paramL & 0xFF);
    out += r.message == kKeyDown ? "down " : "up ";
    out += KeyName(vk);
    if (r.paramH != DefaultScan(vk)) {
      out += " scan=";
      AppendHex(out, r.paramH);
    }
  } else if (const char* words = MouseWords(r.message)) {
    out += words;
    out += ' ';
    AppendSigned(out, (int32_t)r.paramL);
    out += ' ';
    AppendSigned(out, (int32_t)r.paramH);
  } else if (r.message == kEndOfRecording && !r.paramL && !r.paramH) {
    out += "end";
  } else {
    // Anything else, key events whose two scan codes differ among them, as it is.
    out += "msg ";
    AppendHex(out, r.message);
    out += ' ';
    AppendDecimal(out, r.paramL);
    out += ' ';
    AppendDecimal(out, r.paramH);
  }
}

// ---- Reading --------------------------------------------------------------

struct Token {
  std::string_view text;
  size_t column;  // from 1
};

std::string Shown(std::string_view text) {
  std::string out = "\"";
  size_t n = 0;
  for (char c : text) {
    if (++n > 40) {
      out += "...";
      break;
    }
    if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7F) {
      static const char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[(unsigned char)c >> 4];
      out += hex[c & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

bool SameWord(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    if (c != b[i]) return false;
  }
  return i == a.size() && !b[i];
}

// A decimal number or 0x followed by hex digits, with an optional minus sign,
// within [low, high].
bool ParseNumber(std::string_view t, int64_t low, int64_t high, int64_t& value) {
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.remove_prefix(1);
  if (t.empty()) return false;
  uint64_t v = 0;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    t.remove_prefix(2);
    if (t.size() > 8) return false;
    for (char c : t) {
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) return false;
      v = v * 16 + (uint64_t)d;
    }
  } else {
    if (t.size() > 10) return false;
    for (char c : t) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + (uint64_t)(c - '0');
    }
  }
  value = negative ? -(int64_t)v : (int64_t)v;
  return value >= low && value <= high;
}

constexpr int64_t kLow32 = -2147483648LL;  // a 32-bit field read as signed
constexpr int64_t kHigh32 = 4294967295LL;  // or as unsigned

class LineReader {
 public:
  LineReader(std::vector<Token>& tokens, size_t line, size_t end, TextError& error)
      : t_(tokens), line_(line), end_(end), error_(error) {}

  bool Fail(size_t at, const std::string& expected) {
    error_.line = line_;
    error_.column = at < t_.size() ? t_[at].column : end_;
    error_.what = "expected " + expected + ", found " +
                  (at < t_.size() ? Shown(t_[at].text) : "the end of the line");
    return false;
  }
  bool Has(size_t at) const { return at < t_.size(); }
  std::string_view Text(size_t at) const { return t_[at].text; }
  bool Number(size_t at, int64_t low, int64_t high, const std::string& what, uint32_t& out) {
    int64_t v = 0;
    if (!Has(at) || !ParseNumber(t_[at].text, low, high, v)) return Fail(at, what);
    out = (uint32_t)v;
    return true;
  }

 private:
  std::vector<Token>& t_;
  size_t line_, end_;
  TextError& error_;
};

void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

}  // namespace

std::string WriteText(const std::vector<EventRecord>& records, std::string_view source) {
  Summary s = Summarize(records);
  std::string out;
  out.reserve(records.size() * 24 + 512);
  out += "# kvrec text of ";
  out += source;
  out += ": ";
  AppendDecimal(out, records.size());
  out += records.size() == 1 ? " event, " : " events, ";
  out += Seconds(s.durationMs);
  out += "\n# " + KindCounts(s) + "\n";
  if (s.played < records.size()) {
    out += "# playback ends at event ";
    AppendDecimal(out, s.played + 1);
    out += " (end): what follows it is never played\n";
  }
  if (s.mouse) {
    out += "# mouse area: x ";
    AppendSigned(out, s.left);
    out += " to ";
    AppendSigned(out, s.right);
    out += ", y ";
    AppendSigned(out, s.top);
    out += " to ";
    AppendSigned(out, s.bottom);
    out += '\n';
  }
  out += "# each line: the wait before the event in ms, then the event\n";
  if (!records.empty() && records[0].time) {
    out += "start ";
    AppendDecimal(out, records[0].time);
    out += '\n';
  }
  uint32_t window = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const EventRecord& r = records[i];
    size_t lineStart = out.size();
    uint32_t gap = i ? r.time - records[i - 1].time : 0;
    AppendSigned(out, gap >= 0x80000000u ? (int64_t)gap - 0x100000000LL : (int64_t)gap);
    do out += ' ';
    while (out.size() - lineStart < 6);
    AppendEvent(out, r);
    if (r.hwnd != window) {
      out += " window=";
      AppendHex(out, r.hwnd);
      window = r.hwnd;
    }
    out += '\n';
  }
  return out;
}

bool ReadText(std::string_view text, std::vector<EventRecord>& records, TextError& error) {
  records.clear();
  records.reserve(text.size() / 16);
  std::vector<Token> tokens;
  uint32_t start = 0, window = 0;
  bool started = false;
  size_t firstLine = 0, firstColumn = 0;
  size_t line = 0, pos = 0, lineBegin = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;  // a byte-order mark some editors write
  for (bool more = true; more;) {
    ++line;
    lineBegin = pos;
    size_t nl = text.find('\n', pos);
    more = nl != std::string_view::npos;
    size_t end = more ? nl : text.size();
    std::string_view body = text.substr(pos, end - pos);
    pos = more ? nl + 1 : text.size();
    size_t hash = body.find('#');
    if (hash != std::string_view::npos) body = body.substr(0, hash);
    tokens.clear();
    for (size_t i = 0; i < body.size();) {
      char c = body[i];
      if (c == ' ' || c == '\t' || c == '\r') {
        ++i;
        continue;
      }
      size_t j = i;
      while (j < body.size() && body[j] != ' ' && body[j] != '\t' && body[j] != '\r') ++j;
      tokens.push_back(Token{body.substr(i, j - i), i + 1});
      i = j;
    }
    if (tokens.empty()) continue;
    LineReader in(tokens, line, body.size() + 1, error);

    if (SameWord(tokens[0].text, "start")) {
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
    if (!in.Number(0, kLow32, kHigh32,
                   "the wait before the event in ms (a whole number), or \"start\"", gap))
      return false;
    if (!in.Has(1)) return in.Fail(1, "an event: move, left, right, middle, down, up, end or msg");
    std::string_view word = in.Text(1);
    size_t next = 2;
    bool key = false;
    if (SameWord(word, "move") || SameWord(word, "left") || SameWord(word, "right") ||
        SameWord(word, "middle")) {
      if (SameWord(word, "move")) {
        r.message = kMouseMove;
      } else {
        uint32_t press = SameWord(word, "left")    ? kLeftDown
                         : SameWord(word, "right") ? kRightDown
                                                   : kMiddleDown;
        if (in.Has(2) && SameWord(in.Text(2), "down")) {
          r.message = press;
        } else if (in.Has(2) && SameWord(in.Text(2), "up")) {
          r.message = press + 1;
        } else {
          return in.Fail(2, "\"down\" or \"up\"");
        }
        next = 3;
      }
      if (!in.Number(next, kLow32, kHigh32, "the x of the mouse in screen pixels", r.paramL))
        return false;
      if (!in.Number(next + 1, kLow32, kHigh32, "the y of the mouse in screen pixels", r.paramH))
        return false;
      next += 2;
    } else if (SameWord(word, "down") || SameWord(word, "up")) {
      r.message = SameWord(word, "down") ? kKeyDown : kKeyUp;
      int vk = in.Has(2) ? KeyCode(in.Text(2)) : -1;
      if (vk < 0)
        return in.Fail(2, "a key name (A, F5, Shift, Enter, Left, ...) or a key code 0x00 to 0xff");
      r.paramH = DefaultScan((uint8_t)vk);
      r.paramL = (uint32_t)vk | r.paramH << 8;
      key = true;
      next = 3;
    } else if (SameWord(word, "end")) {
      r.message = kEndOfRecording;
    } else if (SameWord(word, "msg")) {
      if (!in.Number(2, 0, kHigh32, "the message number of the record", r.message) ||
          !in.Number(3, 0, kHigh32, "the record's paramL", r.paramL) ||
          !in.Number(4, 0, kHigh32, "the record's paramH", r.paramH))
        return false;
      next = 5;
    } else {
      return in.Fail(1, "an event: move, left, right, middle, down, up, end or msg");
    }

    bool scanGiven = false, windowGiven = false;
    r.hwnd = window;
    for (; in.Has(next); ++next) {
      std::string_view option = in.Text(next);
      size_t eq = option.find('=');
      std::string_view name = option.substr(0, eq == std::string_view::npos ? option.size() : eq);
      std::string_view value =
          eq == std::string_view::npos ? std::string_view() : option.substr(eq + 1);
      int64_t v = 0;
      if (key && SameWord(name, "scan") && eq != std::string_view::npos && !scanGiven) {
        if (!ParseNumber(value, 0, 0xFFFFFF, v))
          return in.Fail(next, "scan=N with N from 0 to 0xffffff");
        r.paramH = (uint32_t)v;
        r.paramL = (r.paramL & 0xFF) | r.paramH << 8;
        scanGiven = true;
      } else if (SameWord(name, "window") && eq != std::string_view::npos && !windowGiven) {
        if (!ParseNumber(value, 0, kHigh32, v))
          return in.Fail(next, "window=N with N from 0 to 0xffffffff");
        r.hwnd = (uint32_t)v;
        windowGiven = true;
      } else {
        return in.Fail(
            next, key ? "scan=, window= or the end of the line" : "window= or the end of the line");
      }
    }
    window = r.hwnd;
    r.time = (records.empty() ? start : records.back().time) + gap;
    if (records.empty()) {
      firstLine = line;
      firstColumn = tokens[1].column;
    }
    // The result must be what Kavorin takes as a recording, by its own rules.
    if (!RecordingFits((uint64_t)(records.size() + 1) * kRecordSize))
      return in.Fail(0, "the end of the text: a recording holds at most " +
                            std::to_string((0xFFFFFFFFu - kLoadSlack) / kRecordSize) + " events");
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
      error.column = text.size() - lineBegin + 1;
      error.what = "expected at least one event, found the end of the text";
      return false;
  }
}
