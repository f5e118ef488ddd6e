// State, command dispatch, the recording buffer, the file routines, loading
// and start-up, through the real window procedure on the simulated desktop.
#include "desk.h"
#include "files/recfile.h"

using namespace win;

namespace {

using State = Desk;

TEST_F(State, InitialValues) {
  EXPECT_EQ(gApp.repeatCount, 1);
  EXPECT_STREQ(gApp.repeatText, "1");
  EXPECT_EQ(gApp.statusFlags, 1);
  EXPECT_EQ(gApp.fastSpeed, 0);
  EXPECT_EQ(gApp.continuousPlayback, 0);
  EXPECT_EQ(gApp.lastCommand, 0u);
  EXPECT_STREQ(gApp.currentName, "");
  EXPECT_EQ(gApp.recordingBuffer, nullptr);
}

TEST_F(State, CommandsOutsideTheTableChangeNothing) {
  HWND main = OpenWindow();
  sim::ClearInputs();
  size_t boxes = sim::Boxes().size(), titles = sim::Window(main)->titles.size();
  for (UINT id : {0x8006u, 0x8007u, 0x8008u, 0x8009u, 0x8012u, 0x7FFFu, 0x0001u, 0xFFFFu})
    Command(id);
  EXPECT_EQ(gApp.lastCommand, 0u);
  EXPECT_EQ(sim::Boxes().size(), boxes);
  EXPECT_EQ(sim::Window(main)->titles.size(), titles);
  EXPECT_TRUE(sim::Inputs().empty());
  // Every message still reaches the default procedure.
  EXPECT_GE(sim::DefProcCount(main, WM_COMMAND), 8);
}

TEST_F(State, IsRecordingLeavesTheTenMillisecondTimerRunning) {
  HWND main = OpenWindow();
  EXPECT_FALSE(IsRecording());
  EXPECT_FALSE(sim::TimerExists(main, kTimerRecord));
  SetTimer(main, kTimerRecord, 10, nullptr);
  sim::Advance(7);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(IsRecording());
    EXPECT_TRUE(sim::TimerExists(main, kTimerRecord));
    EXPECT_EQ(sim::TimerPeriod(main, kTimerRecord), 10u);
  }
  gApp.mainWindow = nullptr;
  EXPECT_FALSE(IsRecording());
}

TEST_F(State, IdleTitleIsTheCurrentNameOrKavorin) {
  OpenWindow();
  EXPECT_EQ(Title(), "Kavorin v1.22");
  SetIdleTitle();
  EXPECT_EQ(Title(), "Kavorin");
  CopyText(gApp.currentName, "demo.rec", sizeof gApp.currentName);
  SetIdleTitle();
  EXPECT_EQ(Title(), "demo.rec");
}

using Buffer = Desk;

// A block grows within the address space it set aside: the same address, what
// it holds kept, zeros behind, only the pages asked for committed. Past its
// reservation it moves, once, to one twice its size.
TEST_F(Buffer, AGrowingBlockStaysInPlaceUntilItsReservationIsFull) {
  auto* block = (unsigned char*)ResizeBlock(nullptr, 20000);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(BlockSize(block), 20000u);
  EXPECT_EQ(Capacity(block), 1000u);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(ResizeBlock(block, 20000), block);  // a size it has: as it is
  EXPECT_EQ(ResizeBlock(block, 100), block);    // and it never shrinks
  EXPECT_EQ(BlockSize(block), 20000u);
  for (int i = 0; i < 20000; ++i) block[i] = (unsigned char)(i * 7);

  // An hour of ticks, 20,000 bytes at a time: never a copy, never more
  // committed than a page beyond what the block holds.
  for (DWORD size = 40000; size <= 7200000; size += 20000) {
    ASSERT_EQ(ResizeBlock(block, size), block) << size;
    ASSERT_EQ(BlockSize(block), size);
    ASSERT_EQ(block[size - 1], 0) << size;
  }
  EXPECT_LE(sim::CommittedBytes(), 7200000u + 4096 + 8);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(block[i], (unsigned char)(i * 7)) << i;

  auto* moved = (unsigned char*)ResizeBlock(block, kReserveBytes + 20000);
  ASSERT_NE(moved, nullptr);
  EXPECT_NE(moved, block);
  EXPECT_EQ(BlockSize(moved), kReserveBytes + 20000);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(moved[i], (unsigned char)(i * 7)) << i;
  EXPECT_EQ(moved[7200000], 0);
  EXPECT_EQ(moved[kReserveBytes + 19999], 0);
  EXPECT_EQ(ResizeBlock(moved, kReserveBytes + 40000), moved);  // room again
  EXPECT_EQ(sim::LiveBlocks(), 1);
  FreeBlock(moved);
  FreeBlock(nullptr);
  EXPECT_EQ(sim::LiveBlocks(), 0);
  EXPECT_EQ(BlockSize(nullptr), 0u);
  void* small = ResizeBlock(nullptr, 100);
  EXPECT_EQ(BlockSize(small), kMinBlock);
  FreeBlock(small);
}

// A 32-bit address space may have no 256 MiB in one piece: the block takes
// the most there is and grows as far as the space goes, keeping every byte.
TEST_F(Buffer, AReservationTooLargeForTheAddressSpaceTakesWhatThereIs) {
  sim::SetAddressSpace(1 << 20);
  auto* block = (unsigned char*)ResizeBlock(nullptr, 20000);
  ASSERT_NE(block, nullptr);
  DWORD size = 20000;
  int moves = 0;
  for (;;) {
    block[size - 1] = (unsigned char)(size / 20000);
    auto* grown = (unsigned char*)ResizeBlock(block, size + 20000);
    if (!grown) break;
    moves += grown != block;
    block = grown;
    size += 20000;
  }
  EXPECT_GE(size, (1u << 20) - 65536);  // all but the rounding of the last piece
  EXPECT_EQ(BlockSize(block), size);    // the growth that failed kept the block
  for (DWORD at = 20000; at <= size; at += 20000) ASSERT_EQ(block[at - 1], at / 20000) << at;
  EXPECT_LE(moves, 8);  // narrowed down to what fits, not a move at every step
  EXPECT_EQ(sim::LiveBlocks(), 1);
  FreeBlock(block);
}

TEST_F(Buffer, FailedGrowthKeepsTheOldBlock) {
  auto* block = (unsigned char*)ResizeBlock(nullptr, kMinBlock);
  block[7] = 42;
  sim::FailAlloc();  // the commit in place
  EXPECT_EQ(ResizeBlock(block, 8192), nullptr);
  EXPECT_EQ(BlockSize(block), kMinBlock);
  sim::FailAlloc(100);  // every reservation the move beyond it tries
  EXPECT_EQ(ResizeBlock(block, kReserveBytes + 1), nullptr);
  sim::FailAlloc(0);
  EXPECT_EQ(block[7], 42);
  EXPECT_EQ(sim::LiveBlocks(), 1);
  FreeBlock(block);
  EXPECT_EQ(AllocZeroed(0x10000, 0x10000), nullptr);  // 4 GiB does not fit 32 bits
  EXPECT_EQ(AllocZeroed(1, 0xFFFFFFFFu), nullptr);    // nor its header with it
  EXPECT_EQ(sim::LiveBlocks(), 0);
  EXPECT_EQ(sim::BadFrees(), 0);
}

using Files = Desk;

TEST_F(Files, SizeOfMissingEmptyAndOwnFile) {
  EXPECT_EQ(FileSizeOf("C:\\missing.rec"), 0u);
  WriteBytes("empty.rec", {});
  EXPECT_EQ(FileSizeOf("C:\\empty.rec"), 0u);
  WriteBytes("five.rec", {1, 2, 3, 4, 5});
  EXPECT_EQ(FileSizeOf("C:\\five.rec"), 5u);
  EXPECT_EQ(FileSizeOf(nullptr), StubImageSize());
  EXPECT_EQ(FileSizeOf(""), StubImageSize());
  EXPECT_EQ(sim::OpenFiles(), 0);
}

TEST_F(Files, ReadAtOffsetsAndTheZeroByteBehind) {
  WriteBytes("ten", {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(ReadFileAt("C:\\ten", 3, buffer, 100), 7u);
  EXPECT_STREQ(buffer, "3456789");
  EXPECT_EQ(ReadFileAt("C:\\ten", -4, buffer, 100), 4u);
  EXPECT_STREQ(buffer, "6789");
  EXPECT_EQ(ReadFileAt("C:\\ten", 0, buffer, 2), 2u);
  EXPECT_STREQ(buffer, "01");
  EXPECT_EQ(ReadFileAt("C:\\ten", 10, buffer, 100), 0u);
  EXPECT_EQ(ReadFileAt("C:\\ten", 50, buffer, 100), 0u);
  EXPECT_EQ(ReadFileAt("C:\\missing", 0, buffer, 100), 0u);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(sim::OpenFiles(), 0);
}

TEST_F(Files, WriteAtNeverTruncatesAndANegativeOffsetAppends) {
  WriteBytes("f", {'a', 'b', 'c', 'd', 'e'});
  EXPECT_EQ(WriteFileAt("C:\\f", 0, "XY", 2), 2u);
  EXPECT_EQ(ReadBytes("f"), (std::vector<unsigned char>{'X', 'Y', 'c', 'd', 'e'}));
  EXPECT_EQ(WriteFileAt("C:\\f", -1, "Z", 1), 1u);
  EXPECT_EQ(ReadBytes("f"), (std::vector<unsigned char>{'X', 'Y', 'c', 'd', 'e', 'Z'}));
  EXPECT_EQ(WriteFileAt("C:\\new", 0, "Q", 1), 1u);
  EXPECT_EQ(ReadBytes("new"), (std::vector<unsigned char>{'Q'}));
  EXPECT_EQ(WriteFileAt("C:\\no folder\\x", 0, "Q", 1), 0u);
  EXPECT_EQ(sim::OpenFiles(), 0);
}

TEST_F(Files, ReplaceWritesExactlyOrLeavesTheOldFile) {
  WriteBytes("old.rec", std::vector<unsigned char>(100, 7));
  EXPECT_TRUE(ReplaceFileWith("C:\\old.rec", "abc", 3));
  EXPECT_EQ(ReadBytes("old.rec"), (std::vector<unsigned char>{'a', 'b', 'c'}));
  sim::SetDiskSpace(2);
  EXPECT_FALSE(ReplaceFileWith("C:\\old.rec", "12345", 5));
  EXPECT_EQ(ReadBytes("old.rec"), (std::vector<unsigned char>{'a', 'b', 'c'}));
  EXPECT_EQ(Listing(), (std::set<std::string>{"Kavorin.exe", "old.rec"}));
  EXPECT_EQ(sim::OpenFiles(), 0);
}

// The temporary file is a new one of our own beside the target: a user's
// files of any name, "demo.rec.tmp" or one of the names we would try, are
// never written, taken over or deleted.
TEST_F(Files, TemporaryNamesAreNewFilesBesideTheTarget) {
  char first[kTempPathSize], second[kTempPathSize];
  TempNameFor(first, "C:\\sub\\demo.rec", 0);
  TempNameFor(second, "C:\\sub\\demo.rec", 1);
  EXPECT_EQ(std::string(first).rfind("C:\\sub\\", 0), 0u) << first;
  EXPECT_EQ(std::string(first).find('\\', 7), std::string::npos) << first;
  EXPECT_STRNE(first, second);
  EXPECT_STRNE(first, "C:\\sub\\demo.rec.tmp");
  TempNameFor(first, "C:demo.rec", 0);
  EXPECT_EQ(std::string(first).rfind("C:", 0), 0u);
  EXPECT_EQ(std::string(first).find('\\'), std::string::npos);
  // Forward slashes divide folders too, alone or mixed with backslashes.
  for (std::string path : {"C:/Users/me/demo.rec", "C:\\Users/me/demo.rec",
                           "C:/Users\\me\\demo.rec", "//server/share/me/demo.rec"}) {
    TempNameFor(first, path.c_str(), 0);
    std::string folder = path.substr(0, path.size() - 8);  // up to "demo.rec"
    EXPECT_EQ(std::string(first).rfind(folder + "~kv", 0), 0u) << path << " -> " << first;
    EXPECT_EQ(std::string(first).size(), folder.size() + kTempNameLength) << first;
  }
  TempNameFor(first, ("C:\\" + std::string(256, 'd') + "\\x.rec").c_str(), 0);
  EXPECT_STREQ(first, "");  // no room for a name: no temporary file at all

  std::vector<unsigned char> mine = {'m', 'i', 'n', 'e'};
  WriteBytes("demo.rec.tmp", mine);
  TempNameFor(first, "C:\\demo.rec", 0);
  std::string taken = std::string(first).substr(3);
  WriteBytes(taken, mine);
  EXPECT_TRUE(ReplaceFileWith("C:\\demo.rec", "abc", 3));
  EXPECT_EQ(ReadBytes("demo.rec"), (std::vector<unsigned char>{'a', 'b', 'c'}));
  EXPECT_EQ(ReadBytes("demo.rec.tmp"), mine);
  EXPECT_EQ(ReadBytes(taken), mine);
  EXPECT_EQ(Listing(), (std::set<std::string>{"Kavorin.exe", "demo.rec", "demo.rec.tmp", taken}));

  // Every name we would try is taken: the replace fails and touches nothing.
  std::set<std::string> before = {"Kavorin.exe", "demo.rec", "demo.rec.tmp"};
  for (DWORD attempt = 0; attempt < kTempAttempts; ++attempt) {
    TempNameFor(first, "C:\\demo.rec", attempt);
    WriteBytes(std::string(first).substr(3), mine);
    before.insert(std::string(first).substr(3));
  }
  EXPECT_FALSE(ReplaceFileWith("C:\\demo.rec", "xyz", 3));
  EXPECT_EQ(ReadBytes("demo.rec"), (std::vector<unsigned char>{'a', 'b', 'c'}));
  EXPECT_EQ(Listing(), before);
  for (const std::string& name : before) {
    if (name == "Kavorin.exe" || name == "demo.rec") continue;
    EXPECT_EQ(ReadBytes(name), mine) << name;
  }
  EXPECT_EQ(sim::OpenFiles(), 0);
}

using Loading = Desk;

// Paths of 259 characters are the longest the 8-bit file functions take: one
// loads; one of 260 or more is refused with its own warning, and the
// recording in memory stays as after any refused load.
TEST_F(Loading, APathTooLongForWindowsIsRefusedSayingSo) {
  HWND main = OpenWindow();
  std::string dir(120, 'd');
  ASSERT_EQ(std::system(("mkdir '" + Host(dir) + "'").c_str()), 0);
  for (size_t length : {259u, 260u, 300u}) {
    std::string name = std::string(length - 3 - dir.size() - 1 - 4, 'n') + ".rec";
    std::string path = WriteBytes(dir + "/" + name, Bytes({Move(5, 5)}));
    path = "C:\\" + dir + "\\" + name;
    ASSERT_EQ(path.size(), length);
    char text[400];
    CopyText(text, path.c_str(), sizeof text);
    Use({Move(1, 1)});
    SetWindowTextA(main, "before");
    size_t boxes = sim::Boxes().size();
    DWORD got = LoadRecording(text, 0);
    if (length == 259) {
      EXPECT_EQ(got, kRecordSize);
      EXPECT_EQ(sim::Boxes().size(), boxes);
      EXPECT_EQ(Title(), name.substr(0, 30));
      continue;
    }
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(sim::Boxes().size(), boxes + 1);
    const sim::BoxInfo& box = sim::Boxes().back();
    EXPECT_EQ(
        box.text->rfind("This path is too long to open: Windows takes at most 259 characters.\n\n"
                        "C:\\ddd",
                        0),
        0u)
        << *box.text;
    EXPECT_LT(box.text->size(), 200u);
    EXPECT_EQ(box.caption, "Kavorin");
    EXPECT_EQ(box.style, kWarningBox);
    ASSERT_NE(gApp.recordingBuffer, nullptr);
    EXPECT_EQ(gApp.recordingBuffer[0].paramL, 1u);
    EXPECT_EQ(Title(), "before");
    EXPECT_EQ(std::string(text), path);
  }
}

TEST_F(Loading, AValidFileBecomesTheRecording) {
  HWND main = OpenWindow();
  std::string path = WriteBytes("demo.rec", Bytes({Move(200, 200, 1000)}));
  char text[256];
  CopyText(text, path.c_str(), sizeof text);
  EXPECT_EQ(LoadRecording(text, 0), kRecordSize);
  EXPECT_STREQ(text, "demo.rec");
  EXPECT_EQ(gApp.eventCursor, 1u);
  EXPECT_EQ(BlockSize(gApp.recordingBuffer), kRecordSize + kLoadSlack);
  EXPECT_STREQ(gApp.currentName, "demo.rec");
  EXPECT_EQ(sim::Window(main)->title, "demo.rec");
  EXPECT_EQ(gApp.recordingBuffer[1].message, 0u);  // the slack reads as the terminator
}

// A refused file leaves the recording in memory as it was: the same block,
// its events, its cursor and count, the name and the title.
TEST_F(Loading, BadFilesAreRefusedAndTheOldRecordingStays) {
  HWND main = OpenWindow();
  std::vector<std::vector<unsigned char>> bad = {{},
                                                 {0},
                                                 std::vector<unsigned char>(19, 0),
                                                 std::vector<unsigned char>(21, 0),
                                                 std::vector<unsigned char>(30, 0),
                                                 Bytes({Key(0x101, 'A')}),
                                                 Bytes({Button(0x201)}),
                                                 Bytes({Button(0x202)}),
                                                 Bytes({Button(0x204)}),
                                                 Bytes({Button(0x205)})};
  for (size_t i = 0; i < bad.size(); ++i) {
    char good[256];
    CopyText(good, WriteBytes("good.rec", Bytes({Move(5, 5)})).c_str(), sizeof good);
    ASSERT_GT(LoadRecording(good, 0), 0u);
    EventRecord* kept = gApp.recordingBuffer;
    gApp.eventCursor = 0;  // as a playback leaves it
    std::string path = WriteBytes("bad " + std::to_string(i) + ".rec", bad[i]);
    char text[256];
    CopyText(text, path.c_str(), sizeof text);
    EXPECT_EQ(LoadRecording(text, 0), 0u) << i;
    EXPECT_EQ(gApp.recordingBuffer, kept);
    EXPECT_EQ(kept[0].paramL, 5u);
    EXPECT_EQ(gApp.eventCursor, 0u);
    EXPECT_EQ(gApp.eventCount, 1u);
    EXPECT_EQ(text, path);  // not cut
    const sim::BoxInfo& box = sim::Boxes().back();
    EXPECT_EQ(box.text, "Not a valid recording");
    EXPECT_EQ(box.caption, path);
    EXPECT_EQ(box.style, kWarningBox);
    EXPECT_EQ(box.owner, main);
    EXPECT_STREQ(gApp.currentName, "good.rec");  // unchanged
    EXPECT_EQ(Title(), "good.rec");
  }
  for (const char* missing : {"C:\\missing.rec", "C:\\", ""}) {
    char text[256];
    CopyText(text, missing, sizeof text);
    EXPECT_EQ(LoadRecording(text, 0), 0u);
    EXPECT_EQ(sim::Boxes().back().caption, std::string(missing));
  }
  EXPECT_EQ(sim::LiveBlocks(), 1);  // the good recording, and only it
  EXPECT_EQ(sim::OpenFiles(), 0);
}

TEST_F(Loading, AZeroRecordInsideTheDataIsKept) {
  OpenWindow();
  std::string path = WriteBytes("two.rec", Bytes({Move(5, 5), EventRecord{}}));
  char text[256];
  CopyText(text, path.c_str(), sizeof text);
  EXPECT_EQ(LoadRecording(text, 0), 40u);
  EXPECT_EQ(gApp.eventCursor, 2u);
}

TEST_F(Loading, AtTheCompiledPlayerOffset) {
  OpenWindow();
  std::vector<unsigned char> player(StubImageSize(), 'M');
  auto records = Bytes({Move(1, 2), Key(0x100, 'A'), Key(0x101, 'A')});
  player.insert(player.end(), records.begin(), records.end());
  std::string path = WriteBytes("player.exe", player);
  char text[256];
  CopyText(text, path.c_str(), sizeof text);
  EXPECT_EQ(LoadRecording(text, (int32_t)StubImageSize()), 60u);
  EXPECT_STREQ(text, "player.exe");
  EXPECT_EQ(std::memcmp(gApp.recordingBuffer, records.data(), 60), 0);
  EXPECT_EQ(gApp.recordingBuffer[3].message, 0u);
  EXPECT_EQ(gApp.eventCount, 3u);  // what Save and Compile would write
  // The program alone, or with 5 stray bytes, is not a recording.
  player.resize(StubImageSize() + 65, 0);
  CopyText(text, WriteBytes("cut.exe", player).c_str(), sizeof text);
  EXPECT_EQ(LoadRecording(text, (int32_t)StubImageSize()), 0u);
  player.resize(StubImageSize());
  CopyText(text, WriteBytes("bare.exe", player).c_str(), sizeof text);
  EXPECT_EQ(LoadRecording(text, (int32_t)StubImageSize()), 0u);
}

TEST_F(Loading, LongNamesShowTheirFirstThirtyCharacters) {
  OpenWindow();
  std::string name = "abcdefghijklmnopqrstuvwxyz0123456789.rec";
  std::string path = WriteBytes(name, Bytes({Move(5, 5)}));
  char text[256];
  CopyText(text, path.c_str(), sizeof text);
  ASSERT_GT(LoadRecording(text, 0), 0u);
  EXPECT_EQ(std::string(gApp.currentName), name.substr(0, 30));
  EXPECT_EQ(Title(), name.substr(0, 30));
}

TEST_F(Loading, FilesOfFourGigabytesOrJustBelowAreRefusedUnread) {
  OpenWindow();
  // Sparse files: no disk is used. 4 GiB + 20 would read as 20 bytes in 32
  // bits; 4 GiB - 20 leaves no room for the slack in 32 bits.
  for (long long size : {4294967296LL + 20, 4294967296LL - 20}) {
    std::string name = "huge" + std::to_string(size) + ".rec";
    { std::ofstream(Host(name)).put(0); }
    ASSERT_EQ(truncate(Host(name).c_str(), size), 0);
    char text[256];
    CopyText(text, ("C:\\" + name).c_str(), sizeof text);
    EXPECT_EQ(LoadRecording(text, 0), 0u) << size;
    EXPECT_EQ(sim::Boxes().back().text, "Not a valid recording");
    EXPECT_EQ(gApp.recordingBuffer, nullptr);
    size_t largest = 0;
    for (size_t asked : sim::AllocRequests()) largest = asked > largest ? asked : largest;
    EXPECT_LT(largest, 1u << 20);
    std::remove(Host(name).c_str());
  }
}

TEST_F(Loading, OutOfMemorySaysSoAndKeepsTheRecording) {
  OpenWindow();
  Use({Move(1, 1), Move(2, 2)});
  EventRecord* kept = gApp.recordingBuffer;
  std::string path = WriteBytes("demo.rec", Bytes({Move(5, 5)}));
  char text[256];
  CopyText(text, path.c_str(), sizeof text);
  sim::FailAlloc(100);  // every piece of address space the load tries
  EXPECT_EQ(LoadRecording(text, 0), 0u);
  sim::FailAlloc(0);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].text, "Not enough memory to open the recording");
  EXPECT_EQ(sim::Boxes()[0].caption, "Kavorin");
  EXPECT_EQ(sim::Boxes()[0].style, kWarningBox);
  EXPECT_EQ(gApp.recordingBuffer, kept);
  EXPECT_EQ(gApp.eventCount, 2u);
  EXPECT_EQ(kept[1].paramL, 2u);
  EXPECT_EQ(text, path);
  EXPECT_EQ(sim::LiveBlocks(), 1);
}

using StartUpTest = Desk;

TEST_F(StartUpTest, WindowFromTheMetrics) {
  sim::SetMetric(SM_CXDLGFRAME, 3);
  sim::SetMetric(SM_CYSMCAPTION, 17);
  sim::SetMetric(SM_CXSCREEN, 1024);
  sim::SetMetric(SM_CYSCREEN, 768);
  RECT r = MainWindowRect();
  EXPECT_EQ(r.right - r.left, 137);
  EXPECT_EQ(r.bottom - r.top, 6 + 17 + 26);
  EXPECT_EQ(r.left, 512 - 68);  // halving truncates
  EXPECT_EQ(r.top, 384 - 49);   // the bottom edge sits on the centre line
  HWND main = OpenWindow();
  const sim::WindowInfo* w = sim::Window(main);
  EXPECT_EQ(w->clientWidth, 131);
  EXPECT_EQ(w->clientHeight, 26);
  EXPECT_EQ(w->exStyle, WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
  EXPECT_EQ(w->style, 0x86C80000u);
  EXPECT_EQ(w->title, "Kavorin v1.22");
  const sim::ClassInfo* cls = sim::Class("KavorinClass");
  ASSERT_NE(cls, nullptr);
  EXPECT_EQ(cls->fields.style, 0u);
  EXPECT_EQ((uintptr_t)cls->fields.hbrBackground, 16u);
  EXPECT_EQ(cls->fields.hIconSm, nullptr);
}

// Runs the whole start-up with this command line until the program closes
// its window itself or the test does after 'closeAfter' ms.
int RunProgram(const char* argument, DWORD closeAfter = 200) {
  sim::After(closeAfter, [] {
    if (gApp.mainWindow) PostMessageA(gApp.mainWindow, WM_CLOSE, 0, 0);
  });
  std::string text = argument;
  return StartUp(sim::ModuleHandle(), text.data());
}

TEST_F(StartUpTest, RecorderWindowWaitsAndClosesWithCodeZero) {
  EXPECT_EQ(RunProgram(""), 0);
  const sim::WindowInfo* w = sim::Window(gApp.mainWindow);
  EXPECT_EQ(w->shows, std::vector<int>{SW_SHOW});
  EXPECT_FALSE(w->alive);
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_EQ(gApp.lastCommand, 0u);  // nothing was played
  EXPECT_EQ(sim::LiveBlocks(), 0);
  EXPECT_FALSE(sim::Stalled());
}

// From any program, Play's hotkey stops a playback and starts one; Record's,
// which another program holds, is named in the Help box.
TEST_F(StartUpTest, HotkeysPlayAndStopAndOneHeldElsewhereIsNamed) {
  sim::HoldHotkey(MOD_CONTROL | MOD_ALT | MOD_SHIFT, VK_F6);
  std::string path =
      WriteBytes("k.rec", Bytes({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 5000)}));
  std::vector<bool> busy;
  for (DWORD t : {100, 110, 120})
    sim::After(t, [&] {
      busy.push_back(gApp.statusFlags & kBusy);
      UserKeys(kPlayHotkey, true), UserKeys(kPlayHotkey, false), sim::Pump();
    });
  sim::After(130, [] { PostCommand(kCmdHelp, 0); });
  RunProgram(path.c_str(), 300);
  EXPECT_EQ(busy, (std::vector<bool>{true, false, true}));
  EXPECT_NE(sim::Boxes().back().text->find("Record/Stop (taken)\n{Ctrl+Alt+Shift+F5}\tPlay/Stop\n"),
            std::string::npos);
}

TEST_F(StartUpTest, APausePressedBeforeStartIsForgotten) {
  sim::Tap(VK_PAUSE);
  RunProgram("");
  EXPECT_FALSE(sim::PressedSince(VK_PAUSE));
}

TEST_F(StartUpTest, FailureToCreateTheWindowSaysSo) {
  sim::FailCreateWindow();
  EXPECT_EQ(RunProgram(""), 0);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].text, "Kavorin Run Failure");
  EXPECT_FALSE(sim::Boxes()[0].caption.has_value());
  EXPECT_EQ(sim::Boxes()[0].owner, nullptr);
  EXPECT_EQ(sim::Boxes()[0].style, MB_ICONWARNING | MB_TASKMODAL | MB_SETFOREGROUND);
  sim::Reset();
  gApp = AppState{};
  sim::FailRegisterClass();
  EXPECT_EQ(RunProgram(""), 0);
  EXPECT_EQ(sim::Boxes().back().text, "Kavorin Run Failure");
}

TEST_F(StartUpTest, AQuotedPathWithSpacesIsLoadedAndPlayed) {
  std::string path = WriteBytes("my recs.rec", Bytes({Move(200, 200)}));
  RunProgram(("\"" + path + "\"").c_str());
  EXPECT_STREQ(gApp.currentName, "my recs.rec");
  EXPECT_EQ(gApp.lastCommand, (DWORD)kCmdPlay);
  EXPECT_EQ(sim::Window(gApp.mainWindow)->shows, std::vector<int>{SW_SHOW});
}

TEST_F(StartUpTest, OnlyQuotesMakeAnEmptyNameThatIsRefused) {
  RunProgram("\"\"");
  ASSERT_EQ(sim::Boxes().size(), 2u);
  EXPECT_EQ(sim::Boxes()[0].text, "Not a valid recording");
  EXPECT_EQ(sim::Boxes()[0].caption, "");
  EXPECT_EQ(sim::Boxes()[1].text, kNothingRecorded);  // then Play finds nothing
}

TEST_F(StartUpTest, OwnSizeChoosesTheLaunchMode) {
  // Exactly the stub size: the recorder window.
  RunProgram("");
  EXPECT_EQ(sim::Window(gApp.mainWindow)->shows, std::vector<int>{SW_SHOW});

  // One byte more: a compiled player whose one stray byte is no recording.
  sim::Reset();
  gApp = AppState{};
  sim::MapDrive('C', folder_);
  sim::SetModulePath("C:\\Kavorin.exe");
  std::vector<unsigned char> image(29697, 'M');
  WriteBytes("Kavorin.exe", image);
  EXPECT_EQ(RunProgram(""), 0);
  EXPECT_EQ(sim::Window(gApp.mainWindow)->shows, std::vector<int>{SW_HIDE});
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].caption, "C:\\Kavorin.exe");
  EXPECT_EQ(gApp.lastCommand, 0u);  // no message loop ran
}

TEST_F(StartUpTest, AnArgumentWinsOverAnAppendedRecording) {
  std::vector<unsigned char> image(StubImageSize(), 'M');
  auto appended = Bytes({Move(1, 1)});
  image.insert(image.end(), appended.begin(), appended.end());
  WriteBytes("Kavorin.exe", image);
  std::string path = WriteBytes("other.rec", Bytes({Move(2, 2), Move(3, 3)}));
  bool free = false;  // a player takes no hotkey
  sim::After(20, [&] {
    free = RegisterHotKey(nullptr, 1, 7, VK_F5) && RegisterHotKey(nullptr, 2, 7, VK_F6);
  });
  RunProgram(path.c_str(), 5000);
  EXPECT_TRUE(free);
  EXPECT_STREQ(gApp.currentName, "other.rec");
  EXPECT_EQ(sim::Window(gApp.mainWindow)->shows, std::vector<int>{SW_HIDE});
}

}  // namespace
