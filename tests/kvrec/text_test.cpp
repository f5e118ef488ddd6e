// The text of a recording: hand-written texts read as meant, every fault
// named by its place, and an exact round trip for every valid recording.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "kvrec/keys.h"
#include "kvrec/recording.h"
#include "kvrec/text.h"
#include "samples.h"

namespace {

std::vector<EventRecord> Read(const std::string& text) {
  std::vector<EventRecord> records;
  TextError e;
  EXPECT_TRUE(ReadText(text, records, e)) << e.line << ":" << e.column << ": " << e.what << "\n"
                                          << text;
  return records;
}

TextError Fault(const std::string& text) {
  std::vector<EventRecord> records;
  TextError e;
  EXPECT_FALSE(ReadText(text, records, e)) << text;
  return e;
}

// build(dump(records)) gives the records back, and the text is a fixed point.
void ExpectRoundTrip(const std::vector<EventRecord>& records) {
  std::string text = WriteText(records, "t.rec");
  std::vector<EventRecord> back;
  TextError e;
  ASSERT_TRUE(ReadText(text, back, e)) << e.line << ":" << e.column << ": " << e.what << "\n"
                                       << text;
  ASSERT_EQ(RecordBytes(back), RecordBytes(records)) << text;
  EXPECT_EQ(WriteText(back, "t.rec"), text);
}

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

TEST(KvrecText, KeyNamesAndAliases) {
  EXPECT_EQ(KeyCode("Enter"), 0x0D);
  EXPECT_EQ(KeyCode("return"), 0x0D);
  EXPECT_EQ(KeyCode("NUMLOCK"), 0x90);
  EXPECT_EQ(KeyCode("Left"), 0x25);
  EXPECT_EQ(KeyCode("0"), 0x30);
  EXPECT_EQ(KeyCode("0x0"), 0);
  EXPECT_EQ(KeyCode("0xff"), 0xFF);
  EXPECT_EQ(KeyCode("0x100"), -1);
  EXPECT_EQ(KeyCode("10"), -1);
  EXPECT_EQ(KeyCode("Shiftx"), -1);
  // Every name reads back as its own code.
  for (int vk = 0; vk < 256; ++vk)
    EXPECT_EQ(KeyCode(KeyName((uint8_t)vk)), vk) << KeyName((uint8_t)vk);
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
       "expected an event: move, left, right, middle, down, up, end or msg, found \"jump\""},
      {"0 move 1\n", 1, 9,
       "expected the y of the mouse in screen pixels, found the end of the line"},
      {"0 move 1 2 # y given\n0 move 1 x\n", 2, 10, "found \"x\""},
      {"0 left click 1 1\n", 1, 8, "expected \"down\" or \"up\""},
      {"0 down Foo\n", 1, 8, "expected a key name"},
      {"0 down\n", 1, 7, "expected a key name"},
      {"0 move 1 1 scan=3\n", 1, 12, "expected window= or the end of the line"},
      {"0 down A scan=0x1000000\n", 1, 10, "scan=N with N from 0 to 0xffffff"},
      {"0 down A window=1 window=2\n", 1, 19, "scan=, window= or the end of the line"},
      {"0 move 4294967296 1\n", 1, 8, "the x of the mouse"},
      {"4294967296 move 1 1\n", 1, 1, "the wait before the event"},
      {"0 move 1 1\nstart 5\n", 2, 1, "\"start\" comes once, before the first event"},
      {"start\n", 1, 6, "the time of the first event's start"},
      {"0 msg 0x200 1\n", 1, 14, "the record's paramH"},
      // A recording Kavorin would refuse is not built.
      {"\n  10 left down 1 1\n0 move 1 1\n", 2, 6, "a first event that starts a recording"},
      {"0 up A\n", 1, 3, "a first event that starts a recording"},
      {"0 msg 0x201 0 0\n", 1, 3, "a first event that starts a recording"},
  };
  for (const Case& c : cases) {
    TextError e = Fault(c.text);
    EXPECT_EQ(e.line, c.line) << c.text;
    EXPECT_EQ(e.column, c.column) << c.text;
    EXPECT_NE(e.what.find(c.expected), std::string::npos) << c.text << " -> " << e.what;
  }
}

TEST(KvrecText, TheDumpCarriesOnlyWhatBuildWouldNotFillIn) {
  std::vector<EventRecord> r = {
      {kMouseMove, 310, 310, 86400000, 0x10020},
      {kKeyDown, 'A' | 0x1E << 8, 0x1E, 86400010, 0x10020},  // the recorder's scan code
      {kKeyUp, 'A' | 0x1F << 8, 0x1F, 86400020, 0x10020},    // another, in both places
      {kKeyUp, 'A' | 0x1E << 8, 0x1F, 86400030, 0x30040},    // two scan codes that differ
      {kLeftDown, 0xFFFFFFFF, 5, 86400000, 0x30040},         // a time that goes back
  };
  std::string text = WriteText(r, "demo.rec");
  EXPECT_NE(text.find("# kvrec text of demo.rec: 5 events, 0.030 s\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nstart 86400000\n0     move 310 310 window=0x10020\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\n10    down A\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n10    up A scan=0x1f\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n10    msg 0x101 7745 31 window=0x30040\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n-30   left down -1 5\n"), std::string::npos) << text;
  ExpectRoundTrip(r);
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
        try {
          r = ParseRecording(path, way == 1 ? Joined(program, data) : data);
        } catch (const Failure& f) {
          EXPECT_FALSE(rules) << path << " way " << way;
          EXPECT_NE(std::string(f.what()).find(": Not a valid recording: "), std::string::npos)
              << f.what();
          ++refused;
          continue;
        }
        EXPECT_TRUE(rules) << path << " way " << way;
        ++valid;
        std::vector<EventRecord> back;
        TextError e;
        ASSERT_TRUE(ReadText(WriteText(r.records, "corpus"), back, e)) << path << ": " << e.what;
        EXPECT_EQ(RecordBytes(back), data) << path;
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
      e.message = pick({kKeyDown, kKeyUp, kMouseMove, kLeftDown, kLeftUp, kRightDown, kRightUp,
                        kMiddleDown, kMiddleUp, kEndOfRecording, 0x203, 0x102, 0x300});
      if (random() % 20 == 0) e.message = (uint32_t)random();
      if (i == 0 && (e.message & 0xFF)) e.message = random() % 2 ? kKeyDown : kMouseMove;
      if (e.message == kKeyDown || e.message == kKeyUp) {
        uint32_t vk = random() % 256;
        uint32_t scan =
            random() % 4 ? DefaultScan((uint8_t)vk) : any32() & (random() % 2 ? 0xFF : 0xFFFFFF);
        e.paramL = vk | scan << 8;
        e.paramH = random() % 8 ? scan : any32();
      } else {
        e.paramL = random() % 2 ? random() % 1920 : any32();
        e.paramH = random() % 2 ? random() % 1080 : any32();
      }
      if (e.message == kEndOfRecording && random() % 2) e.paramL = e.paramH = 0;
      time += random() % 8 ? random() % 300 : any32();
      e.time = time;
      if (random() % 10 == 0) window = any32();
      e.hwnd = window;
    }
    ExpectRoundTrip(r);
    if (HasFatalFailure()) return;
  }
}
