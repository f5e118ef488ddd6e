// Pure routines: the number parser, command-line argument, path and name
// rules, the validity rules of a recording and the compile message.
#include <gtest/gtest.h>

#include <string>

#include "app/startup.h"
#include "app/toolbar.h"
#include "boxes/injected.h"
#include "core/state.h"
#include "files/commands.h"
#include "files/recfile.h"
#include "format/player.h"
#include "play/player.h"
#include "record/input.h"

namespace {

TEST(ParseDecimal, TakesTheFirstRunOfDigitsWithTheSignRightBeforeIt) {
  struct Case {
    const char* text;
    int32_t want;
  } cases[] = {
      {"12", 12},
      {"abc-7x9", -7},
      {"--5", -5},
      {"a-b5", 5},
      {"3-4", 3},
      {"  42", 42},
      {"-", 0},
      {"x", 0},
      {"", 0},
      {"0", 0},
      {"-0", 0},
      {"007", 7},
      {"4294967297", 1},
      {"2147483648", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.want) << '"' << c.text << '"';
  EXPECT_EQ(ParseDecimal(nullptr), 0);
}

std::string Argument(const char* line) {
  std::string buffer = line;
  return ArgumentOf(buffer.data());
}

TEST(CommandLine, DropsOurOwnNameAndTheBlanksAfterIt) {
  EXPECT_EQ(Argument("Kavorin.exe"), "");
  EXPECT_EQ(Argument("Kavorin.exe   demo.rec"), "demo.rec");
  EXPECT_EQ(Argument("\"C:\\Program Files\\Kavorin.exe\" \"C:\\my recs\\demo.rec\""),
            "\"C:\\my recs\\demo.rec\"");
  EXPECT_EQ(Argument("\"C:\\a b\\Kavorin.exe\"demo.rec"), "demo.rec");
  EXPECT_EQ(Argument("Kavorin.exe\ta b  c"), "a b  c");  // the rest is one argument
  EXPECT_EQ(Argument("\"unterminated name"), "");
}

std::string Unquoted(const char* text) {
  std::string buffer = text;
  RemoveQuotes(buffer.data());
  return buffer.c_str();
}

TEST(CommandLine, QuotesAreRemovedWhereverTheyStand) {
  EXPECT_EQ(Unquoted("\"C:\\my recs\\demo.rec\""), "C:\\my recs\\demo.rec");
  EXPECT_EQ(Unquoted("\"C:\\a.rec\" \"D:\\b.rec\""), "C:\\a.rec D:\\b.rec");
  EXPECT_EQ(Unquoted("\"\"\"\""), "");
  EXPECT_EQ(Unquoted("no quotes"), "no quotes");
}

std::string Stripped(const char* text) {
  std::string buffer = text;
  StripDirectory(buffer.data());
  return buffer.c_str();
}

TEST(StripDirectory, KeepsTheTextAfterTheLastBackslashOnly) {
  EXPECT_EQ(Stripped("C:\\rec\\demo.rec"), "demo.rec");
  EXPECT_EQ(Stripped("demo.rec"), "demo.rec");
  EXPECT_EQ(Stripped("C:demo.rec"), "C:demo.rec");  // no other separator counts
  EXPECT_EQ(Stripped("C:\\rec\\"), "");
  EXPECT_EQ(Stripped("a/b/c.rec"), "a/b/c.rec");
  EXPECT_EQ(Stripped(""), "");
}

TEST(RecordingFormat, ValidityRules) {
  unsigned char data[64] = {};
  for (unsigned size : {0u, 1u, 19u, 21u, 30u}) EXPECT_FALSE(IsValidRecording(data, size)) << size;
  for (unsigned size : {20u, 40u, 60u}) EXPECT_TRUE(IsValidRecording(data, size)) << size;
  // The first byte is the low byte of the first record's kind: key-down and
  // move pass, key-up and every button event fail.
  for (unsigned kind : {0x100u, 0x200u}) {
    data[0] = kind & 0xFF;
    EXPECT_TRUE(IsValidRecording(data, kRecordSize)) << std::hex << kind;
  }
  for (unsigned kind : {0x101u, 0x201u, 0x202u, 0x204u, 0x205u}) {
    data[0] = kind & 0xFF;
    EXPECT_FALSE(IsValidRecording(data, kRecordSize)) << std::hex << kind;
  }
}

TEST(Names, ExtensionComparedWithoutRegardToCase) {
  EXPECT_TRUE(EndsWithNoCase("demo.rec", ".rec"));
  EXPECT_TRUE(EndsWithNoCase("DEMO.REC", ".rec"));
  EXPECT_TRUE(EndsWithNoCase(".rec", ".rec"));
  EXPECT_FALSE(EndsWithNoCase("demo", ".rec"));
  EXPECT_FALSE(EndsWithNoCase("rec", ".rec"));
  EXPECT_FALSE(EndsWithNoCase("demo.txt", ".rec"));
}

TEST(Names, BoundedCopiesNeverOverrun) {
  char small[8];
  CopyText(small, "a long text indeed", sizeof small);
  EXPECT_STREQ(small, "a long ");
  AppendText(small, "more", sizeof small);
  EXPECT_STREQ(small, "a long ");
  char room[8] = "ab";
  AppendText(room, "cdefghij", sizeof room);
  EXPECT_STREQ(room, "abcdefg");
}

std::string Compiled(int32_t size) {
  char text[320];
  CompileMessage(text, sizeof text, "demo.exe", size);
  return text;
}

TEST(CompileMessage, SizeInKilobytesUpToOneMegabyteThenInMegabytes) {
  const int32_t stub = kUnstampedSize;
  EXPECT_EQ(Compiled(stub + kRecordSize), "Compile Successful: \"demo.exe\"\n\nFile Size:  29k");
  EXPECT_EQ(Compiled(stub + 100 * kRecordSize),
            "Compile Successful: \"demo.exe\"\n\nFile Size:  30k");
  EXPECT_EQ(Compiled(1048576), "Compile Successful: \"demo.exe\"\n\nFile Size:  1024k");
  EXPECT_EQ(Compiled(1048596), "Compile Successful: \"demo.exe\"\n\nFile Size:  1 MB");
  EXPECT_EQ(Compiled(5 * 1048576 + 7), "Compile Successful: \"demo.exe\"\n\nFile Size:  5 MB");
}

TEST(CompileMessage, ALongNameIsCutToTheBuffer) {
  std::string name(400, 'n');
  char text[64];
  CompileMessage(text, sizeof text, name.c_str(), 30000);
  EXPECT_EQ(std::string(text).size(), 63u);
}

TEST(ToolbarLayout, ButtonAtSplitsTheGapsTwoLeftThreeRight) {
  struct Case {
    int x, button;
  } cases[] = {{0, 0},   {22, 0},  {23, 1},  {43, 1},  {44, 2},
               {106, 4}, {107, 5}, {130, 5}, {500, 5}, {65535, 5}};
  for (const Case& c : cases) EXPECT_EQ(ButtonAt(c.x), c.button) << "x = " << c.x;
  // y is not looked at: the high word carries it.
  EXPECT_EQ(ButtonAt((25 << 16) | 23), 1);
}

TEST(Keys, ExtendedSet) {
  for (int vk = 0; vk < 256; ++vk) {
    bool want = (vk >= 0x21 && vk <= 0x2E) || vk == 0x11 || vk == 0x5B || vk == 0x5C ||
                vk == 0x5D || vk == 0xA3 || vk == 0xA5;  // right Ctrl, right Alt
    EXPECT_EQ(IsExtendedKey(vk), want) << "vk " << vk;
  }
}

TEST(Playback, RecordedGapsAndBackwardTimes) {
  EventRecord events[4] = {};
  events[0].time = 1000;
  events[1].time = 1016;
  events[2].time = 1016;
  events[3].time = 900;  // a damaged file: earlier than its predecessor
  EXPECT_EQ(RecordedGap(events, 1), 16u);
  EXPECT_EQ(RecordedGap(events, 2), 0u);
  EXPECT_EQ(RecordedGap(events, 3), 0u);
  // Across the tick counter's wrap the small gap is kept.
  events[0].time = 0xFFFFFFF0u;
  events[1].time = 0x10u;
  EXPECT_EQ(RecordedGap(events, 1), 0x20u);
}

}  // namespace
