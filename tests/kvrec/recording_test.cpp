// Files as kvrec reads them (Kavorin's verdict, players and programs) and the
// edits it makes: retime and cut.
#include <gtest/gtest.h>

#include "kvrec/recording.h"
#include "samples.h"

namespace {

std::string VerdictOn(const std::vector<unsigned char>& bytes) {
  try {
    ParseRecording("f", bytes);
    return "";
  } catch (const Failure& f) {
    EXPECT_EQ(f.status, 1);
    return f.what();
  }
}

std::vector<unsigned char> Rec(std::initializer_list<EventRecord> records) {
  return RecordBytes(records);
}

// Moves one per 10 ms from time 1000, with the kinds given.
std::vector<EventRecord> Events(std::initializer_list<uint32_t> kinds) {
  std::vector<EventRecord> r;
  for (uint32_t k : kinds)
    r.push_back({k, (uint32_t)r.size(), 7, 1000 + 10 * (uint32_t)r.size(), 0});
  return r;
}

std::vector<uint32_t> Times(const std::vector<EventRecord>& r) {
  std::vector<uint32_t> t;
  for (const EventRecord& e : r) t.push_back(e.time);
  return t;
}

template <class F>
std::string FailureOf(F f) {
  try {
    f();
  } catch (const Failure& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(KvrecFiles, ARecFileIsJudgedByKavorinsThreeRules) {
  EXPECT_EQ(VerdictOn({}),
            "f: Not a valid recording: the file is empty; expected at least one whole record of 20 "
            "bytes");
  EXPECT_NE(VerdictOn({0}).find("holds 1 byte"), std::string::npos);
  EXPECT_EQ(VerdictOn(std::vector<unsigned char>(21)),
            "f: Not a valid recording: its 21 bytes are not a whole number of 20-byte records");
  EXPECT_NE(VerdictOn(std::vector<unsigned char>(19)).find("not a whole number"),
            std::string::npos);
  EXPECT_NE(
      VerdictOn(Rec({{kKeyUp, 'A', 0, 0, 0}}))
          .find("starts with a key up (A); expected a first record that is a key down or a move"),
      std::string::npos);
  EXPECT_NE(VerdictOn(Rec({{kLeftDown, 1, 1, 0, 0}})).find("starts with a left down"),
            std::string::npos);
  // Only the first byte and the length count: a zero record, odd kinds later on.
  EXPECT_EQ(VerdictOn(std::vector<unsigned char>(40)), "");
  EXPECT_EQ(VerdictOn(Rec({{0x12345600, 0, 0, 0, 0}, {0x203, 1, 2, 3, 4}})), "");
  Recording r = ParseRecording("f", Rec({{kMouseMove, 3, 4, 5, 6}}));
  EXPECT_FALSE(r.player);
  ASSERT_EQ(r.records.size(), 1u);
  EXPECT_TRUE((r.records[0] == EventRecord{kMouseMove, 3, 4, 5, 6}));
}

TEST(KvrecFiles, APlayerIsReadFromItsStampedSize) {
  std::vector<unsigned char> program = MakeProgram(4096, 0x8664);
  std::vector<unsigned char> rec = Rec({{kMouseMove, 3, 4, 5, 6}, {kKeyDown, 'A', 0, 9, 6}});
  Recording r = ParseRecording("p.exe", Joined(program, rec));
  EXPECT_TRUE(r.player);
  EXPECT_EQ(r.stampedSize, 4096u);
  EXPECT_EQ(MachineName(r.machine), "x86-64");
  EXPECT_EQ(r.image, program);
  EXPECT_EQ(RecordBytes(r.records), rec);
  EXPECT_EQ(Bytes(r), Joined(program, rec));
  EXPECT_EQ(MachineName(ParseRecording("p", Joined(MakeProgram(), rec)).machine), "i386");

  // What follows the program must pass the same rules.
  EXPECT_NE(VerdictOn(Joined(Joined(program, rec), {1, 2, 3, 4, 5}))
                .find("Not a valid recording: the 45 bytes behind the program (from byte 4096) are "
                      "not a whole number"),
            std::string::npos);
  EXPECT_NE(
      VerdictOn(Joined(program, Rec({{kRightUp, 0, 0, 0, 0}}))).find("starts with a right up"),
      std::string::npos);
  EXPECT_NE(VerdictOn(Joined(program, {0})).find("holds 1 byte"), std::string::npos);
  // Kavorin itself holds no recording; a program without the marker is not ours.
  EXPECT_NE(VerdictOn(program).find("holds no recording: it is Kavorin itself (4096 bytes"),
            std::string::npos);
  bool isProgram = false;
  Recording k = ParseRecording("k.exe", program, &isProgram);
  EXPECT_TRUE(isProgram);
  EXPECT_TRUE(k.records.empty());
  std::vector<unsigned char> foreign = program;
  foreign[0x200] = 'x';
  EXPECT_NE(VerdictOn(foreign).find(
                "Not a valid recording: it is a program without Kavorin's size marker"),
            std::string::npos);
  EXPECT_NE(VerdictOn(std::vector<unsigned char>(program.begin(), program.end() - 1))
                .find("a damaged Kavorin program"),
            std::string::npos);
}

TEST(KvrecFiles, CompileTakesOnlyKavorinAsBuilt) {
  std::vector<unsigned char> program = MakeProgram();
  EXPECT_EQ(ParseProgram("k.exe", program).image, program);
  std::string player = FailureOf([&] {
    ParseProgram("p.exe", Joined(program, Rec({{kMouseMove, 1, 1, 1, 1}})));
  });
  EXPECT_NE(player.find("p.exe: a compiled player (2068 bytes, stamped size 2048); expected "
                        "Kavorin.exe as built"),
            std::string::npos);
  EXPECT_NE(FailureOf([&] {
              ParseProgram("r.rec", Rec({{kMouseMove, 1, 1, 1, 1}}));
            }).find("r.rec: not Kavorin"),
            std::string::npos);
}

TEST(KvrecFiles, SummaryCountsKindsTimeAndTheMouseArea) {
  std::vector<EventRecord> r = {{kMouseMove, (uint32_t)-5, 100, 1000, 0},
                                {kKeyDown, 'A', 0, 1100, 0},
                                {kLeftDown, 300, 40, 1050, 0},
                                {kLeftUp, 300, 40, 1300, 0},
                                {0x203, 9999, 9999, 1400, 0},
                                {kMiddleDown, 310, 40, 1400, 0},
                                {kEndOfRecording, 0, 0, 1500, 0},
                                {kMouseMove, 1, 1, 9000, 0}};
  Summary s = Summarize(r);
  EXPECT_EQ(KindCounts(s), "1 key down, 2 move, 1 left down, 1 left up, 1 middle down, 2 other");
  EXPECT_EQ(s.played, 6u);
  // 100, then a time that goes back (played at once), 250, 100; nothing after the end.
  EXPECT_EQ(s.durationMs, 450u);
  EXPECT_EQ(Seconds(s.durationMs), "0.450 s");
  EXPECT_EQ(Seconds(61005), "61.005 s");
  EXPECT_TRUE(s.mouse);
  EXPECT_EQ(s.left, -5);
  EXPECT_EQ(s.right, 310);  // the middle button's place counts too
  EXPECT_EQ(s.top, 1);
  EXPECT_EQ(s.bottom, 100);
}

TEST(KvrecEdit, RetimeScalesTheWholeRun) {
  std::vector<EventRecord> r =
      Events({kMouseMove, kMouseMove, kMouseMove, kMouseMove});  // 10 ms apart
  r[3].time = r[2].time + 15;
  EXPECT_EQ(Times(Retime(r, 2, "f")), (std::vector<uint32_t>{1000, 1005, 1010, 1018}));
  // Rounded on the run's clock: three waits of 10 at speed 3 make 10 ms, not 9 or 12.
  EXPECT_EQ(Times(Retime(Events({kMouseMove, kMouseMove, kMouseMove, kMouseMove}), 3, "f")),
            (std::vector<uint32_t>{1000, 1003, 1007, 1010}));
  EXPECT_EQ(Times(Retime(r, 0.5, "f")), (std::vector<uint32_t>{1000, 1020, 1040, 1070}));
  // A time that goes back plays at once whatever the speed; the tick counter's wrap is a wait like
  // any other.
  std::vector<EventRecord> odd = Events({kMouseMove, kMouseMove, kMouseMove});
  odd[0].time = 0xFFFFFFFA;
  odd[1].time = 4;  // 10 ms later
  odd[2].time = 2;  // back by 2
  EXPECT_EQ(Times(Retime(odd, 2, "f")),
            (std::vector<uint32_t>{0xFFFFFFFA, 0xFFFFFFFF, 0xFFFFFFFD}));
  std::vector<EventRecord> longWait = Events({kMouseMove, kMouseMove});
  longWait[1].time += 0x7FFFFF00;
  EXPECT_NE(FailureOf([&] {
              Retime(longWait, 0.25, "long.rec");
            }).find("long.rec: at speed 0.25 the wait before event 2 would be longer"),
            std::string::npos);
}

TEST(KvrecEdit, SpanEndsAreEventNumbersOrTimes) {
  SpanEnd e;
  ASSERT_TRUE(ParseSpanEnd("12", e));
  EXPECT_FALSE(e.isTime);
  EXPECT_EQ(e.value, 12u);
  ASSERT_TRUE(ParseSpanEnd("1500ms", e));
  EXPECT_TRUE(e.isTime);
  EXPECT_EQ(e.value, 1500u);
  ASSERT_TRUE(ParseSpanEnd("1.5s", e));
  EXPECT_EQ(e.value, 1500u);
  ASSERT_TRUE(ParseSpanEnd("2s", e));
  EXPECT_EQ(e.value, 2000u);
  ASSERT_TRUE(ParseSpanEnd("0.125s", e));
  EXPECT_EQ(e.value, 125u);
  for (const char* bad : {"", "0", "-1", "1.5", "1.2345s", "s", "1.s", "12 s", "1e3ms", "x"})
    EXPECT_FALSE(ParseSpanEnd(bad, e)) << bad;
}

TEST(KvrecEdit, CutKeepsASpanByNumberOrTime) {
  std::vector<EventRecord> r =
      Events({kMouseMove, kKeyDown, kLeftDown, kMouseMove, kKeyUp, kMouseMove});
  auto number = [](uint64_t n) { return SpanEnd{true, false, n}; };
  auto ms = [](uint64_t t) { return SpanEnd{true, true, t}; };
  EXPECT_EQ(RecordBytes(Cut(r, number(2), number(4), "f")), RecordBytes({r[1], r[2], r[3]}));
  EXPECT_EQ(RecordBytes(Cut(r, SpanEnd{}, number(99), "f")), RecordBytes(r));
  EXPECT_EQ(RecordBytes(Cut(r, number(4), SpanEnd{}, "f")), RecordBytes({r[3], r[4], r[5]}));
  // Times from the first event, both ends included.
  EXPECT_EQ(RecordBytes(Cut(r, ms(5), ms(30), "f")), RecordBytes({r[1], r[2], r[3]}));
  EXPECT_EQ(RecordBytes(Cut(r, ms(30), ms(30), "f")), RecordBytes({r[3]}));
  // What is left must be a recording Kavorin takes.
  EXPECT_NE(FailureOf([&] { Cut(r, number(3), SpanEnd{}, "f.rec"); })
                .find("f.rec: the span would start with event 3, a left down, and Kavorin refuses "
                      "such a recording; "
                      "expected --from at a key down or a move such as event 4"),
            std::string::npos);
  EXPECT_NE(FailureOf([&] {
              Cut(r, number(7), SpanEnd{}, "f");
            }).find("--from event 7 is past the end; expected an event from 1 to 6"),
            std::string::npos);
  EXPECT_NE(FailureOf([&] { Cut(r, number(4), number(3), "f"); }).find("nothing to keep"),
            std::string::npos);
  EXPECT_NE(FailureOf([&] { Cut(r, ms(51), SpanEnd{}, "f"); }).find("nothing to keep"),
            std::string::npos);
}
