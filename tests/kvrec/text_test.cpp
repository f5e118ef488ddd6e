// The text of a recording: hand-written texts read as meant, every fault
// named by its place, and an exact round trip for every valid recording.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include "kvrec/keys.h"
#include "kvrec/recording.h"
#include "kvrec/text.h"
#include "samples.h"

namespace {

std::vector<EventRecord> Read(const std::string& text) {
  Records records;
  TextError e;
  EXPECT_TRUE(ReadText(text.data(), text.size(), records, e))
      << e.line << ":" << e.column << ": " << Str(e.what) << "\n"
      << text;
  return Vec(records);
}

TextError Fault(const std::string& text) {
  Records records;
  TextError e;
  EXPECT_FALSE(ReadText(text.data(), text.size(), records, e)) << text;
  return e;
}

std::string Written(const std::vector<EventRecord>& records, const char* source = "t.rec") {
  return Str(WriteText(RecordsOf(records), source));
}

// build(dump(records)) gives the records back, and the text is a fixed point.
void ExpectRoundTrip(const std::vector<EventRecord>& records, const char* source = "t.rec") {
  std::string text = Written(records, source);
  Records back;
  TextError e;
  ASSERT_TRUE(ReadText(text.data(), text.size(), back, e))
      << e.line << ":" << e.column << ": " << Str(e.what) << "\n"
      << text;
  ASSERT_EQ(Vec(RecordBytes(back)), Rec(records)) << text;
  EXPECT_EQ(Written(Vec(back), source), text);
}

int KeyCodeOf(const char* name) { return KeyCode(name, strlen(name)); }

}  // namespace

TEST(KvrecText, AHandWrittenTextNeedsOnlyWaitsAndEvents) {
  auto r = Read(
      "# a click and a capital A\n"
      "0    move 310 310\n"
      "120  left down 420 400\n"
      "80   left up 420 400\n"
      "200  down Shift\n"
      "30   down a      # names without regard to case\n"
      "40   UP A\n"
      "20   up shift\n");
  ASSERT_EQ(r.size(), 7u);
  EXPECT_TRUE((r[0] == EventRecord{kMouseMove, 310, 310, 0, 0}));
  EXPECT_TRUE((r[1] == EventRecord{kLeftDown, 420, 400, 120, 0}));
  EXPECT_TRUE((r[2] == EventRecord{kLeftUp, 420, 400, 200, 0}));
  // Keys get the recorder's scan code, in paramL's second byte and in paramH.
  EXPECT_TRUE((r[3] == EventRecord{kKeyDown, 0x10 | 0x2A << 8, 0x2A, 400, 0}));
  EXPECT_TRUE((r[4] == EventRecord{kKeyDown, 'A' | 0x1E << 8, 0x1E, 430, 0}));
  EXPECT_TRUE((r[5] == EventRecord{kKeyUp, 'A' | 0x1E << 8, 0x1E, 470, 0}));
  EXPECT_EQ(r[6].time, 490u);
}

TEST(KvrecText, StartScanWindowAndRawRecords) {
  auto r = Read(
      "\xEF\xBB\xBF"  // a byte-order mark
      "start 4294967290\r\n"
      "0 move -5 0x10 window=0x10020\r\n"
      "10\tdown F5 scan=0x3f\r\n"
      "-3 up 0x41 window=0\r\n"
      "7 msg 0x203 1 2\r\n"
      "0 end\r\n"
      "1 right down 1 2\n"
      "1 right up 4294967295 -2147483648\n"
      "1 middle down -1280 -200\n"
      "1 Middle Up 3 4");
  ASSERT_EQ(r.size(), 9u);
  EXPECT_TRUE((r[0] == EventRecord{kMouseMove, 0xFFFFFFFB, 16, 4294967290u, 0x10020}));
  // Across the wrap of the tick counter; the window stays until changed.
  EXPECT_TRUE((r[1] == EventRecord{kKeyDown, 0x74 | 0x3F << 8, 0x3F, 4, 0x10020}));
  EXPECT_TRUE((r[2] == EventRecord{kKeyUp, 0x41 | 0x1E << 8, 0x1E, 1, 0}));
  EXPECT_TRUE((r[3] == EventRecord{0x203, 1, 2, 8, 0}));
  EXPECT_TRUE((r[4] == EventRecord{0, 0, 0, 8, 0}));
  EXPECT_TRUE((r[5] == EventRecord{kRightDown, 1, 2, 9, 0}));
  EXPECT_TRUE((r[6] == EventRecord{kRightUp, 0xFFFFFFFF, 0x80000000, 10, 0}));
  EXPECT_TRUE((r[7] == EventRecord{kMiddleDown, (uint32_t)-1280, (uint32_t)-200, 11, 0}));
  EXPECT_TRUE((r[8] == EventRecord{kMiddleUp, 3, 4, 12, 0}));
}

TEST(KvrecText, WheelsXButtonsAndTheTwoKeyBits) {
  auto r = Read(
      "0 move 400 300 window=0x10020\n"
      "10 wheel -120 400 300\n"
      "10 hwheel 30 401 299\n"
      "10 X1 down 400 300\n"
      "10 x1 up 400 300\n"
      "10 x2 down -5 -6\n"
      "10 x2 up -5 -6\n"
      "10 down RCtrl ext exact\n"
      "10 up RCtrl EXACT Ext\n"
      "10 down Enter exact scan=0x9c\n"
      "10 down A ext\n"
      "10 up A\n"
      "0 pixels physical\n"
      "5 char U+E9\n"
      "5 down CapsLock exact on\n");
  ASSERT_EQ(r.size(), 15u);
  // The delta and the button live in the last field; the window before and
  // after them is the one carried on.
  EXPECT_TRUE((r[1] == EventRecord{kWheel, 400, 300, 10, (uint32_t)-120}));
  EXPECT_TRUE((r[2] == EventRecord{kHWheel, 401, 299, 20, 30}));
  EXPECT_TRUE((r[3] == EventRecord{kXDown, 400, 300, 30, 1}));
  EXPECT_TRUE((r[4] == EventRecord{kXUp, 400, 300, 40, 1}));
  EXPECT_TRUE((r[5] == EventRecord{kXDown, (uint32_t)-5, (uint32_t)-6, 50, 2}));
  EXPECT_TRUE((r[6] == EventRecord{kXUp, (uint32_t)-5, (uint32_t)-6, 60, 2}));
  const uint32_t both = kKeyExtended | kKeyAsPressed;
  EXPECT_TRUE((r[7] == EventRecord{kKeyDown, 0xA3 | 0x1D << 8, 0x1D | both, 70, 0x10020}));
  EXPECT_TRUE((r[8] == EventRecord{kKeyUp, 0xA3 | 0x1D << 8, 0x1D | both, 80, 0x10020}));
  EXPECT_TRUE((r[9] == EventRecord{kKeyDown, 0x0D | 0x9C << 8, 0x9C | kKeyAsPressed, 90, 0x10020}));
  EXPECT_TRUE((r[10] == EventRecord{kKeyDown, 'A' | 0x1E << 8, 0x1E | kKeyExtended, 100, 0x10020}));
  EXPECT_TRUE((r[11] == EventRecord{kKeyUp, 'A' | 0x1E << 8, 0x1E, 110, 0x10020}));
  EXPECT_TRUE((r[12] == EventRecord{kPhysicalMark, 0, 0, 110, 0x10020}));
  EXPECT_TRUE((r[13] == EventRecord{kTypedChar, 0xE9, 0, 115, 0x10020}));
  EXPECT_EQ(r[14].paramH, 0x3Au | kKeyAsPressed | kLockOn);

  // And back: a key without the bits reads as it always has.
  std::string text = Written(r);
  for (const char* line :
       {"\n0     move 400 300 window=0x10020\n", "\n10    wheel -120 400 300\n",
        "\n10    hwheel 30 401 299\n", "\n10    x1 down 400 300\n", "\n10    x2 up -5 -6\n",
        "\n10    down RCtrl ext exact\n", "\n10    up RCtrl ext exact\n",
        "\n10    down Enter scan=0x9c exact\n", "\n10    down A ext\n", "\n10    up A\n",
        "\n0     pixels physical\n", "\n5     char U+00E9\n", "\n5     down CapsLock exact on\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  EXPECT_NE(text.find("\n# 4 key down, 2 key up, 1 move, 1 wheel, 1 horizontal wheel, 2 x button "
                      "down, 2 x button up, 1 typed character, 1 other\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\n# mouse area: x -5 to 401, y -6 to 300\n"), std::string::npos) << text;
  ExpectRoundTrip(r);
}

TEST(KvrecText, KeyNamesAndAliases) {
  EXPECT_EQ(KeyCodeOf("Enter"), 0x0D);
  EXPECT_EQ(KeyCodeOf("return"), 0x0D);
  EXPECT_EQ(KeyCodeOf("NUMLOCK"), 0x90);
  EXPECT_EQ(KeyCodeOf("Left"), 0x25);
  EXPECT_EQ(KeyCodeOf("0"), 0x30);
  EXPECT_EQ(KeyCodeOf("0x0"), 0);
  EXPECT_EQ(KeyCodeOf("0xff"), 0xFF);
  EXPECT_EQ(KeyCodeOf("0x100"), -1);
  EXPECT_EQ(KeyCodeOf("10"), -1);
  EXPECT_EQ(KeyCodeOf("Shiftx"), -1);
  EXPECT_EQ(KeyCodeOf("Shif"), -1);
  EXPECT_EQ(KeyCode("Shift", 4), -1);
  // Every name reads back as its own code.
  for (int vk = 0; vk < 256; ++vk) {
    std::string name = Str(KeyName((uint8_t)vk));
    EXPECT_EQ(KeyCodeOf(name.c_str()), vk) << name;
  }
  EXPECT_EQ(DefaultScan('A'), 0x1Eu);
  EXPECT_EQ(DefaultScan(0x87), 0x76u);  // F24
  EXPECT_EQ(DefaultScan(0x07), 0u);
}

TEST(KvrecText, EveryFaultNamesItsPlaceAndWhatWasExpected) {
  struct Case {
    const char* text;
    size_t line, column;
    const char* expected;
  } cases[] = {
      {"", 1, 1, "at least one event, found the end of the text"},
      {"# only a comment\n", 2, 1, "at least one event"},
      {"0 move 1 1\nten down A\n", 2, 1, "expected the wait before the event in ms"},
      {"0 jump 1 1\n", 1, 3,
       "expected an event: move, left, right, middle, x1, x2, wheel, hwheel, down, up, char, "
       "pixels, end or msg, found \"jump\""},
      {"0 move 1 1\n0 char 233\n", 2, 8, "a character as U+ and 1 to 4 hex digits (U+00E9)"},
      {"0 move 1 1\n0 char U+10000\n", 2, 8, "U+ and 1 to 4 hex digits"},
      {"0 move 1 1\n0 pixels logical\n", 2, 10, "expected \"physical\""},
      {"0 move 1\n", 1, 9,
       "expected the y of the mouse in screen pixels, found the end of the line"},
      {"0 move 1 2 # y given\n0 move 1 x\n", 2, 10, "found \"x\""},
      {"0 left click 1 1\n", 1, 8, "expected \"down\" or \"up\""},
      {"0 x3 down 1 1\n", 1, 3, "expected an event: move"},
      {"0 down Foo\n", 1, 8, "expected a key name"},
      {"0 down\n", 1, 7, "expected a key name"},
      {"0 move 1 1 scan=3\n", 1, 12, "expected window= or the end of the line"},
      {"0 move 1 1 ext\n", 1, 12, "expected window= or the end of the line"},
      {"0 down A scan=0x100\n", 1, 10, "scan=N with N from 0 to 0xff (the extended bit is ext)"},
      {"0 down A scan=0x200\n", 1, 10, "scan=N with N from 0 to 0xff"},
      {"0 down A window=1 window=2\n", 1, 19, "scan=, ext, exact, on, window= or the end of the line"},
      {"0 down A ext ext\n", 1, 14, "scan=, ext, exact, on, window="},
      {"0 down A ext=1\n", 1, 10, "scan=, ext, exact, on, window="},
      {"0 move 1 1\n0 wheel 1 1\n", 2, 12, "the y of the mouse"},
      {"0 move 1 1\n0 wheel x 1 1\n", 2, 9, "the wheel's turn, 120 a notch"},
      {"0 move 1 1\n0 wheel 1 2 3 window=4\n", 2, 15, "expected the end of the line"},
      {"0 move 1 1\n0 x1 up 2 3 window=4\n", 2, 13, "expected the end of the line"},
      {"0 move 4294967296 1\n", 1, 8, "the x of the mouse"},
      {"4294967296 move 1 1\n", 1, 1, "the wait before the event"},
      // A wait is the difference of two 32-bit times: within a signed 32-bit range.
      {"0 move 1 1\n4294967295 move 1 1\n", 2, 1,
       "expected the wait before the event in ms, a whole number from -2147483648 to "
       "2147483647, or \"start\", found \"4294967295\""},
      {"0 move 1 1\n2147483648 move 1 1\n", 2, 1, "from -2147483648 to 2147483647"},
      {"0 move 1 1\nstart 5\n", 2, 1, "\"start\" comes once, before the first event"},
      {"start\n", 1, 6, "the time of the first event's start"},
      {"0 msg 0x200 1\n", 1, 14, "the record's paramH"},
      // A recording Kavorin would refuse is not built.
      {"\n  10 left down 1 1\n0 move 1 1\n", 2, 6, "a first event that starts a recording"},
      {"0 up A\n", 1, 3, "a first event that starts a recording"},
      {"0 msg 0x201 0 0\n", 1, 3, "a first event that starts a recording"},
      {"0 wheel 120 1 1\n", 1, 3, "a first event that starts a recording"},
      {"0 x2 down 1 1\n", 1, 3, "a first event that starts a recording"},
  };
  for (const Case& c : cases) {
    TextError e = Fault(c.text);
    EXPECT_EQ(e.line, c.line) << c.text;
    EXPECT_EQ(e.column, c.column) << c.text;
    EXPECT_NE(Str(e.what).find(c.expected), std::string::npos) << c.text << " -> " << Str(e.what);
  }
  // A text saved as UTF-16 is named as such, as a whole.
  for (const char* bom : {"\xFF\xFE", "\xFE\xFF"}) {
    TextError e = Fault(std::string(bom, 2) + std::string("0\0 \0m\0o\0v\0e\0", 12));
    EXPECT_EQ(e.line, 0u);
    EXPECT_EQ(Str(e.what), "is UTF-16; save it as UTF-8 or ANSI");
  }
}

TEST(KvrecText, TheDumpCarriesOnlyWhatBuildWouldNotFillIn) {
  std::vector<EventRecord> r = {
      {kMouseMove, 310, 310, 86400000, 0x10020},
      {kKeyDown, 'A' | 0x1E << 8, 0x1E, 86400010, 0x10020},     // the recorder's scan code
      {kKeyUp, 'A' | 0x1F << 8, 0x1F, 86400020, 0x10020},       // another, in both places
      {kKeyUp, 'A' | 0x1E << 8, 0x1F, 86400030, 0x30040},       // two scan codes that differ
      {kLeftDown, 0xFFFFFFFF, 5, 86400000, 0x30040},            // a time that goes back
      {kWheel, 1, 2, 86400001, 0xFFFFFF88},                     // a wheel keeps the window
      {kXDown, 1, 2, 86400002, 7},                              // an X button but 1 or 2
      {kKeyDown, 0xA3 | 0x1D << 8, 0x1D | 0x800, 86400003, 7},  // a bit that is not ours
      {kKeyDown, 0xA3 | 0x31D << 8, 0x31D, 86400004, 7},        // a wide scan code: not a key's
  };
  std::string text = Written(r, "demo.rec");
  EXPECT_NE(text.find("# kvrec text of demo.rec: 9 events, 0.034 s\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nstart 86400000\n0     move 310 310 window=0x10020\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\n10    down A\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n10    up A scan=0x1f\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n10    msg 0x101 7745 31 window=0x30040\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n-30   left down -1 5\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n1     wheel -120 1 2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n1     msg 0x20b 1 2 window=0x7\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n1     msg 0x100 7587 2077\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n1     msg 0x100 204195 797\n"), std::string::npos) << text;
  ExpectRoundTrip(r);
}

TEST(KvrecText, ANameCannotAddLinesToTheText) {
  std::vector<EventRecord> r = {{kMouseMove, 1, 2, 0, 0}, {kMouseMove, 3, 4, 10, 0}};
  for (const char* name : {"a\n0 down A\n.rec", "b\r0 down A.rec", "c\t\x01\x7f.rec"}) {
    std::string text = Written(r, name);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << text;
    ExpectRoundTrip(r, name);
  }
  EXPECT_NE(Written(r, "a\n0 down A\r\t\x01.rec").find("of a\\n0 down A\\r\\t\\x01.rec: 2 events"),
            std::string::npos);
}

// Each seed of the fuzzers read three ways: as a .rec file, appended to a
// compiled player, and made a recording the way the player's fuzzer makes one.
TEST(KvrecText, RoundTripOfEveryValidRecordingInTheFuzzCorpus) {
  int valid = 0, refused = 0;
  const std::vector<unsigned char> program = MakeProgram();
  for (const std::string& folder : FilesIn(KV_SOURCE_DIR "/tests/fuzz/corpus")) {
    for (const std::string& path : FilesIn(folder)) {
      std::ifstream in(path, std::ios::binary);
      std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
      std::vector<unsigned char> played;
      if (bytes.size() > 20) {
        played.assign(bytes.begin() + 1, bytes.end() - (long)((bytes.size() - 1) % 20));
        played[0] = 0;
      }
      for (int way = 0; way < 3; ++way) {
        const std::vector<unsigned char>& data = way == 2 ? played : bytes;
        if (way == 2 && played.empty()) continue;
        if (way == 0 && data.size() >= 2 && data[0] == 'M' && data[1] == 'Z')
          continue;  // read as a program
        bool rules = data.size() >= 2 && data[0] == 0 && data.size() % 20 == 0;
        Recording r;
        std::string verdict = Verdict(way == 1 ? Joined(program, data) : data, &r, path.c_str());
        if (!verdict.empty()) {
          EXPECT_FALSE(rules) << path << " way " << way;
          EXPECT_NE(verdict.find(": Not a valid recording: "), std::string::npos) << verdict;
          ++refused;
          continue;
        }
        EXPECT_TRUE(rules) << path << " way " << way;
        ++valid;
        std::string text = Str(WriteText(r.records, "corpus"));
        Records back;
        TextError e;
        ASSERT_TRUE(ReadText(text.data(), text.size(), back, e)) << path << ": " << Str(e.what);
        EXPECT_EQ(Vec(RecordBytes(back)), data) << path;
      }
    }
  }
  EXPECT_GE(valid, 12);
  EXPECT_GE(refused, 6);
}

TEST(KvrecText, RoundTripOfGeneratedRecordings) {
  std::mt19937 random(20240615);
  auto pick = [&](std::initializer_list<uint32_t> values) {
    return *(values.begin() + random() % values.size());
  };
  auto any32 = [&]() -> uint32_t {
    switch (random() % 4) {
      case 0: return random() % 2000;
      case 1: return pick({0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFF, 0x1000000});
      default: return (uint32_t)random();
    }
  };
  for (int n = 0; n < 3000; ++n) {
    std::vector<EventRecord> r(1 + random() % 40);
    uint32_t time = random() % 3 ? (uint32_t)random() : 0, window = pick({0, 0x10020, 0x3004e});
    for (size_t i = 0; i < r.size(); ++i) {
      EventRecord& e = r[i];
      e.message =
          pick({kKeyDown, kKeyUp, kMouseMove, kLeftDown, kLeftUp, kRightDown, kRightUp, kMiddleDown,
                kMiddleUp, kWheel, kHWheel, kXDown, kXUp, kEndOfRecording, 0x203, kTypedChar,
                kPhysicalMark, 0x300});
      if (random() % 20 == 0) e.message = (uint32_t)random();
      if (i == 0 && (e.message & 0xFF)) e.message = random() % 2 ? kKeyDown : kMouseMove;
      if (e.message == kKeyDown || e.message == kKeyUp) {
        uint32_t vk = random() % 256;
        uint32_t scan =
            random() % 4 ? DefaultScan((uint8_t)vk) : any32() & (random() % 2 ? 0xFF : 0xFFFFFF);
        e.paramL = vk | scan << 8;
        e.paramH = random() % 8 ? scan | pick({0, 0, kKeyExtended, kKeyAsPressed,
                                               kKeyExtended | kKeyAsPressed, kLockOn, 0x800})
                                : any32();
      } else {
        e.paramL = random() % 2 ? random() % 1920 : any32();
        e.paramH = random() % 2 ? random() % 1080 : any32();
      }
      if (e.message == kEndOfRecording && random() % 2) e.paramL = e.paramH = 0;
      time += random() % 8 ? random() % 300 : any32();
      e.time = time;
      if (random() % 10 == 0) window = any32();
      e.hwnd = window;
      if (e.message == kWheel || e.message == kHWheel)
        e.hwnd = pick({120, (uint32_t)-120, 30, (uint32_t)-240}) + (random() % 10 ? 0 : any32());
      if (e.message == kXDown || e.message == kXUp)
        e.hwnd = random() % 8 ? 1 + random() % 2 : any32();
    }
    ExpectRoundTrip(r);
    if (HasFatalFailure()) return;
  }
}
