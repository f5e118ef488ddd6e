// Files as kvrec reads them (Kavorin's verdict, players and programs) and the
// edits it makes: retime and cut.
#include <gtest/gtest.h>

#include "kvrec/program.h"
#include "kvrec/recording.h"
#include "samples.h"

namespace {

std::string VerdictOn(const std::vector<unsigned char>& bytes) {
  Recording r;
  Failure f;
  if (ParseRecording("f", bytes.data(), bytes.size(), r, f)) return "";
  EXPECT_EQ(f.status, 1);
  return Str(f.text);
}

// Moves one per 10 ms from time 1000, with the kinds given.
std::vector<EventRecord> Events(std::initializer_list<uint32_t> kinds) {
  std::vector<EventRecord> r;
  for (uint32_t k : kinds)
    r.push_back({k, (uint32_t)r.size(), 7, 1000 + 10 * (uint32_t)r.size(), 0});
  return r;
}

std::vector<uint32_t> Times(const Records& r) {
  std::vector<uint32_t> t;
  for (const EventRecord& e : r) t.push_back(e.time);
  return t;
}

std::vector<uint32_t> Retimed(const std::vector<EventRecord>& r, double speed) {
  Records out;
  Failure f;
  EXPECT_TRUE(Retime(RecordsOf(r), speed, "2", "f", out, f)) << Str(f.text);
  return Times(out);
}

std::string RetimeFault(const std::vector<EventRecord>& r, double speed, const char* speedText,
                        const char* name) {
  Records out;
  Failure f;
  EXPECT_FALSE(Retime(RecordsOf(r), speed, speedText, name, out, f));
  return Str(f.text);
}

std::vector<EventRecord> CutOf(const std::vector<EventRecord>& r, SpanEnd from, SpanEnd to) {
  Records out;
  Failure f;
  EXPECT_TRUE(Cut(RecordsOf(r), from, to, "f", out, f)) << Str(f.text);
  return Vec(out);
}

std::string CutFault(const std::vector<EventRecord>& r, SpanEnd from, SpanEnd to,
                     const char* name = "f") {
  Records out;
  Failure f;
  EXPECT_FALSE(Cut(RecordsOf(r), from, to, name, out, f));
  return Str(f.text);
}

std::string ProgramFault(const std::vector<unsigned char>& bytes, const char* name) {
  Recording r;
  Failure f;
  EXPECT_FALSE(ParseProgram(name, bytes.data(), bytes.size(), r, f));
  return Str(f.text);
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
  EXPECT_NE(VerdictOn(Rec({{kWheel, 1, 1, 0, (uint32_t)-120}})).find("starts with a wheel;"),
            std::string::npos);
  EXPECT_NE(VerdictOn(Rec({{kXUp, 1, 1, 0, 2}})).find("starts with an x button up;"),
            std::string::npos);
  // Only the first byte and the length count: a zero record, odd kinds later on.
  EXPECT_EQ(VerdictOn(std::vector<unsigned char>(40)), "");
  EXPECT_EQ(VerdictOn(Rec({{0x12345600, 0, 0, 0, 0}, {0x203, 1, 2, 3, 4}})), "");
  Recording r;
  ASSERT_EQ(Verdict(Rec({{kMouseMove, 3, 4, 5, 6}}), &r), "");
  EXPECT_FALSE(r.player);
  ASSERT_EQ(r.records.size(), 1u);
  EXPECT_TRUE((r.records[0] == EventRecord{kMouseMove, 3, 4, 5, 6}));
  // A name is shown with its control characters escaped, never as a line of its own.
  Recording named;
  EXPECT_EQ(Verdict({1, 2}, &named, "a\n0 down A\t.rec").find("a\\n0 down A\\t.rec: Not a valid"),
            0u);
}

TEST(KvrecFiles, APlayerIsReadFromItsStampedSize) {
  std::vector<unsigned char> program = MakeProgram(4096, 0x8664);
  std::vector<unsigned char> rec = Rec({{kMouseMove, 3, 4, 5, 6}, {kKeyDown, 'A', 0, 9, 6}});
  Recording r;
  ASSERT_EQ(Verdict(Joined(program, rec), &r, "p.exe"), "");
  EXPECT_TRUE(r.player);
  EXPECT_EQ(r.stampedSize, 4096u);
  EXPECT_EQ(Str(MachineName(r.machine)), "x86-64");
  EXPECT_EQ(Vec(r.image), program);
  EXPECT_EQ(Vec(RecordBytes(r.records)), rec);
  EXPECT_EQ(Vec(FileBytes(r)), Joined(program, rec));
  ASSERT_EQ(Verdict(Joined(MakeProgram(), rec), &r), "");
  EXPECT_EQ(Str(MachineName(r.machine)), "i386");

  // What follows the program must pass the same rules.
  EXPECT_NE(VerdictOn(Joined(Joined(program, rec), {1, 2, 3, 4, 5}))
                .find("Not a valid recording: the 45 bytes behind the program (from byte 4096) are "
                      "not a whole number"),
            std::string::npos);
  EXPECT_NE(
      VerdictOn(Joined(program, Rec({{kRightUp, 0, 0, 0, 0}}))).find("starts with a right up"),
      std::string::npos);
  EXPECT_NE(VerdictOn(Joined(program, {0})).find("holds 1 byte"), std::string::npos);
}

TEST(KvrecFiles, AProgramIsNamedForWhatItIs) {
  std::vector<unsigned char> program = MakeProgram(4096);
  // Kavorin itself holds no recording; taken as a program only where asked.
  EXPECT_EQ(VerdictOn(program),
            "f: a Kavorin program with no recording behind it: Not a valid recording (its 4096 "
            "bytes are its stamped size); expected a compiled player, larger than its stamped "
            "size");
  bool isProgram = false;
  Recording k;
  EXPECT_EQ(Verdict(program, &k, "k.exe", &isProgram), "");
  EXPECT_TRUE(isProgram);
  EXPECT_TRUE(k.records.empty());
  // A program without the stamp, or whose stamp does not fit it (a marker by
  // chance, or a file cut short), is none of Kavorin's.
  std::vector<unsigned char> foreign = program;
  foreign[0x200] = 'x';
  EXPECT_EQ(VerdictOn(foreign),
            "f: not a Kavorin program or player: Not a valid recording (a program without "
            "Kavorin's size stamp); expected a .rec file or a player that Kavorin compiled");
  EXPECT_EQ(VerdictOn(std::vector<unsigned char>(program.begin(), program.end() - 1)),
            "f: not a Kavorin program or player: Not a valid recording (a program whose size "
            "stamp, 4096, is not within its 4095 bytes); expected a .rec file or a player that "
            "Kavorin compiled");
  std::vector<unsigned char> tiny = program;
  tiny[0x204] = 4;  // inside the program's own header
  tiny[0x205] = 0;
  EXPECT_NE(VerdictOn(tiny).find("f: not a Kavorin program or player"), std::string::npos);
}

TEST(KvrecFiles, CompileTakesOnlyKavorinAsBuilt) {
  std::vector<unsigned char> program = MakeProgram();
  Recording k;
  Failure f;
  ASSERT_TRUE(ParseProgram("k.exe", program.data(), program.size(), k, f));
  EXPECT_EQ(Vec(k.image), program);
  EXPECT_EQ(ProgramFault(Joined(program, Rec({{kMouseMove, 1, 1, 1, 1}})), "p.exe")
                .find("p.exe: a compiled player (2068 bytes, stamped size 2048); expected "
                      "Kavorin.exe as built"),
            0u);
  // A player whose recording is damaged is still a player.
  EXPECT_EQ(ProgramFault(Joined(program, {1, 2, 3}), "d.exe").find("d.exe: a compiled player"), 0u);
  EXPECT_EQ(ProgramFault(Rec({{kMouseMove, 1, 1, 1, 1}}), "r.rec"),
            "r.rec: not a Kavorin program or player; expected Kavorin.exe as built, a program "
            "with Kavorin's size stamp");
}

TEST(KvrecFiles, TheExecutionLevelAProgramsManifestRequests) {
  auto level = [](const std::vector<unsigned char>& image, std::string* named = nullptr) {
    Text text;
    ExecutionLevel l = RequestedLevel(image.data(), image.size(), text);
    if (named) *named = Str(text);
    return l;
  };
  std::string manifest =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
      "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>\n"
      "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>\n"
      "</requestedPrivileges></security></trustInfo></assembly>\n";
  std::string named;
  for (uint16_t machine : {0x014C, 0x8664}) {
    EXPECT_EQ(level(MakeProgram(2048, machine, &manifest), &named), kLevelRequested);
    EXPECT_EQ(named, "asInvoker");
  }
  std::string admin =
      "<requestedExecutionLevel uiAccess='false'\n  level = 'requireAdministrator'/>";
  EXPECT_EQ(level(MakeProgram(2048, 0x014C, &admin), &named), kLevelRequested);
  EXPECT_EQ(named, "requireAdministrator");
  std::string none = "<assembly><dependency/></assembly>";
  EXPECT_EQ(level(MakeProgram(2048, 0x014C, &none)), kNoLevelRequested);
  std::string unnamed = "<requestedExecutionLevel uiAccess=\"false\"/>";
  EXPECT_EQ(level(MakeProgram(2048, 0x014C, &unnamed)), kNoLevelRequested);
  EXPECT_EQ(level(MakeProgram()), kNoManifest);
  // Damaged or cut short anywhere: no manifest, and nothing read past the end.
  std::vector<unsigned char> good = MakeProgram(2048, 0x014C, &manifest);
  for (size_t end = 0; end < 0x460 + manifest.size(); end += 7)
    level(std::vector<unsigned char>(good.begin(), good.begin() + (long)end));
  // The header's offset, the optional header's size, the resources' address, the section's
  // file offset, the type's id, its directory, the data's address.
  for (size_t at : {0x3C, 0x94, 0x108, 0x18C, 0x410, 0x414, 0x448}) {
    std::vector<unsigned char> bad = good;
    bad[at + 1] ^= 0x7F;
    EXPECT_NE(level(bad), kLevelRequested) << at;
  }
}

TEST(KvrecFiles, SummaryCountsKindsTimeAndTheMouseArea) {
  std::vector<EventRecord> r = {{kMouseMove, (uint32_t)-5, 100, 1000, 0},
                                {kKeyDown, 'A', 0, 1100, 0},
                                {kLeftDown, 300, 40, 1050, 0},
                                {kLeftUp, 300, 40, 1300, 0},
                                {0x203, 9999, 9999, 1400, 0},
                                {kMiddleDown, 310, 40, 1400, 0},
                                {kWheel, 320, 30, 1400, (uint32_t)-120},
                                {kHWheel, 20, 50, 1400, 120},
                                {kXDown, 330, 45, 1400, 1},
                                {kXUp, 330, 45, 1400, 1},
                                {kEndOfRecording, 0, 0, 1500, 0},
                                {kMouseMove, 1, 1, 9000, 0}};
  Summary s = Summarize(RecordsOf(r));
  EXPECT_EQ(Str(KindCounts(s)),
            "1 key down, 2 move, 1 left down, 1 left up, 1 middle down, 1 wheel, 1 horizontal "
            "wheel, 1 x button down, 1 x button up, 2 other");
  EXPECT_EQ(s.played, 10u);
  // 100, then a time that goes back (played at once), 250, 100; nothing after the end.
  EXPECT_EQ(s.durationMs, 450u);
  EXPECT_EQ(Str(Seconds(s.durationMs)), "0.450 s");
  EXPECT_EQ(Str(Seconds(61005)), "61.005 s");
  EXPECT_TRUE(s.mouse);
  EXPECT_EQ(s.left, -5);
  EXPECT_EQ(s.right, 330);  // the middle button's, the wheels' and the X buttons' places count too
  EXPECT_EQ(s.top, 1);
  EXPECT_EQ(s.bottom, 100);
}

TEST(KvrecEdit, RetimeScalesTheWholeRun) {
  std::vector<EventRecord> r =
      Events({kMouseMove, kMouseMove, kMouseMove, kMouseMove});  // 10 ms apart
  r[3].time = r[2].time + 15;
  EXPECT_EQ(Retimed(r, 2), (std::vector<uint32_t>{1000, 1005, 1010, 1018}));
  // Rounded on the run's clock: three waits of 10 at speed 3 make 10 ms, not 9 or 12.
  EXPECT_EQ(Retimed(Events({kMouseMove, kMouseMove, kMouseMove, kMouseMove}), 3),
            (std::vector<uint32_t>{1000, 1003, 1007, 1010}));
  EXPECT_EQ(Retimed(r, 0.5), (std::vector<uint32_t>{1000, 1020, 1040, 1070}));
  // A time that goes back plays at once whatever the speed; the tick counter's wrap is a wait like
  // any other.
  std::vector<EventRecord> odd = Events({kMouseMove, kMouseMove, kMouseMove});
  odd[0].time = 0xFFFFFFFA;
  odd[1].time = 4;  // 10 ms later
  odd[2].time = 2;  // back by 2
  EXPECT_EQ(Retimed(odd, 2), (std::vector<uint32_t>{0xFFFFFFFA, 0xFFFFFFFF, 0xFFFFFFFD}));
  std::vector<EventRecord> longWait = Events({kMouseMove, kMouseMove});
  longWait[1].time += 0x7FFFFF00;
  EXPECT_EQ(RetimeFault(longWait, 0.25, "0.25", "long.rec")
                .find("long.rec: at speed 0.25 the wait before event 2 would be longer"),
            0u);
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
  ASSERT_TRUE(ParseSpanEnd("999999999999999", e));
  for (const char* bad : {"", "0", "-1", "1.5", "1.2345s", "s", "1.s", "12 s", "1e3ms", "x",
                          "1000000000000000", "0x10"})
    EXPECT_FALSE(ParseSpanEnd(bad, e)) << bad;
}

TEST(KvrecEdit, CutKeepsASpanByNumberOrTime) {
  std::vector<EventRecord> r =
      Events({kMouseMove, kKeyDown, kLeftDown, kMouseMove, kKeyUp, kMouseMove, kWheel, kXDown});
  auto number = [](uint64_t n) { return SpanEnd{true, false, n}; };
  auto ms = [](uint64_t t) { return SpanEnd{true, true, t}; };
  EXPECT_EQ(Rec(CutOf(r, number(2), number(4))), Rec({r[1], r[2], r[3]}));
  EXPECT_EQ(Rec(CutOf(r, SpanEnd{}, number(99))), Rec(r));
  EXPECT_EQ(Rec(CutOf(r, number(6), SpanEnd{})), Rec({r[5], r[6], r[7]}));
  // Times from the first event, both ends included.
  EXPECT_EQ(Rec(CutOf(r, ms(5), ms(30))), Rec({r[1], r[2], r[3]}));
  EXPECT_EQ(Rec(CutOf(r, ms(30), ms(30))), Rec({r[3]}));
  // What is left must be a recording Kavorin takes.
  EXPECT_EQ(CutFault(r, number(3), SpanEnd{}, "f.rec"),
            "f.rec: the span would start with event 3, a left down, and Kavorin refuses such a "
            "recording; expected --from at a key down or a move such as event 4");
  EXPECT_NE(CutFault(r, number(7), SpanEnd{}).find("event 7, a wheel, and Kavorin refuses"),
            std::string::npos);
  EXPECT_NE(CutFault(r, number(8), SpanEnd{}).find("event 8, an x button down, and Kavorin"),
            std::string::npos);
  EXPECT_NE(CutFault(r, number(9), SpanEnd{})
                .find("--from event 9 is past the end; expected an event from 1 to 8"),
            std::string::npos);
  EXPECT_NE(CutFault(r, number(4), number(3)).find("nothing to keep"), std::string::npos);
  EXPECT_NE(CutFault(r, ms(71), SpanEnd{}).find("nothing to keep"), std::string::npos);
}
