// Open, Save and Compile: the dialogs, the proposed names, the extension rule,
// and that a failure never loses a file.
#include <sys/stat.h>

#include "desk.h"
#include "files/commands.h"
#include "files/recfile.h"

using namespace win;

namespace {

class FileCommands : public WindowDesk {
 protected:
  void Name(const char* name) { CopyText(gApp.currentName, name, sizeof gApp.currentName); }
  // Starts a recording and lets it take 'events' moves, one a tick.
  void RecordMoves(int events, int from = 0) {
    if (!sim::TimerExists(main_, kTimerRecord)) Command(kCmdRecord);
    for (int i = from; i < from + events; ++i) {
      sim::SetCursorAt(10 + i, 20);
      sim::Advance(10);
    }
  }
  std::vector<EventRecord> Recorded() const {
    return {gApp.recordingBuffer, gApp.recordingBuffer + gApp.eventCursor};
  }
};

TEST_F(FileCommands, OpenDialogDescription) {
  sim::PushFileCancel();
  Command(kCmdOpen);
  ASSERT_EQ(sim::FileDialogs().size(), 1u);
  const sim::FileDialogCall& d = sim::FileDialogs()[0];
  EXPECT_FALSE(d.save);
  EXPECT_EQ(d.owner, main_);
  EXPECT_EQ(d.filter, (std::vector<std::string>{"Recording Files (*.rec)", "*.rec",
                                                "All Files (*.*)", "*.*"}));
  EXPECT_EQ(d.file, "");
  EXPECT_EQ(d.initialDir, "");
  EXPECT_EQ(d.flags, OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_LONGNAMES);
  EXPECT_FALSE(d.title.has_value());
  EXPECT_FALSE(d.defExt.has_value());
}

TEST_F(FileCommands, ADeadOwnerGivesWayToTheForegroundWindow) {
  HWND other = (HWND)(uintptr_t)0x777;
  sim::SetForeground(other);
  sim::PushFileCancel();
  char buffer[256] = "";
  EXPECT_EQ(ChooseFile((HWND)(uintptr_t)0x999, buffer, kRecordingFilter, 2), 0);
  EXPECT_EQ(sim::FileDialogs()[0].owner, other);
  EXPECT_TRUE(sim::FileDialogs()[0].save);
  EXPECT_EQ(sim::FileDialogs()[0].flags, OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_LONGNAMES);
}

TEST_F(FileCommands, OpenLoadsAndTurnsTipsOff) {
  std::string path = WriteBytes("demo.rec", Bytes({Move(3, 3)}));
  gApp.statusFlags = 3;
  sim::PushFileChoice(path);
  Command(kCmdOpen);
  EXPECT_EQ(Title(), "demo.rec");
  EXPECT_STREQ(gApp.pathBuffer, "demo.rec");
  EXPECT_EQ(gApp.statusFlags, 0);
  EXPECT_EQ(gApp.eventCursor, 1u);
}

// A cancelled Open and a refused one change nothing: the recording, the
// tips, the title; Play then plays what was there.
TEST_F(FileCommands, OpenCancelledOrRefusedChangesNothing) {
  Use({Move(3, 3)});
  EventRecord* kept = gApp.recordingBuffer;
  Name("kept.rec");
  SetWindowTextA(main_, "kept.rec");
  sim::PushFileCancel();
  Command(kCmdOpen);
  EXPECT_EQ(gApp.recordingBuffer, kept);
  EXPECT_EQ(gApp.statusFlags, 1);
  EXPECT_EQ(Title(), "kept.rec");
  EXPECT_STREQ(gApp.pathBuffer, "");

  std::string bad = WriteBytes("bad.rec", {1, 2, 3});
  sim::PushFileChoice(bad);
  Command(kCmdOpen);
  EXPECT_EQ(sim::Boxes().back().text, "Not a valid recording");
  EXPECT_EQ(gApp.recordingBuffer, kept);
  EXPECT_EQ(gApp.eventCount, 1u);
  EXPECT_EQ(gApp.statusFlags, 1);
  EXPECT_EQ(Title(), "kept.rec");
  EXPECT_EQ(std::string(gApp.pathBuffer), bad);
  size_t boxes = sim::Boxes().size();
  Command(kCmdPlay);
  EXPECT_EQ(sim::Boxes().size(), boxes);  // no nothing-recorded box: it plays
  EXPECT_EQ(Title(), "{Break} to end");
  sim::Advance(1000);
  POINT at = {};
  GetCursorPos(&at);
  EXPECT_EQ(at.x, 3);
  EXPECT_EQ(Title(), "kept.rec");
}

// A refused Open leaves a running playback its recording: the runs play on
// to their end, the recording's own key released by its own key-up.
TEST_F(FileCommands, ARefusedOpenDuringAPlaybackLetsItPlayOn) {
  Use({Key(WM_KEYDOWN, 'K', 0), Move(5, 5, 50), Move(6, 6, 5000), Key(WM_KEYUP, 'K', 9000)});
  Name("kept.rec");
  gApp.repeatCount = 3;
  Command(kCmdPlay);
  sim::Advance(200);
  ASSERT_TRUE(GetAsyncKeyState('K') & 0x8000);
  ASSERT_EQ(Title(), "{Break} to end: 1");
  sim::PushFileChoice(WriteBytes("bad.rec", {1, 2, 3}));
  Command(kCmdOpen);
  EXPECT_EQ(sim::Boxes().back().text, "Not a valid recording");
  sim::Advance(100);
  EXPECT_TRUE(sim::TimerExists(main_, kTimerPlay));
  EXPECT_TRUE(GetAsyncKeyState('K') & 0x8000);
  EXPECT_EQ(Title(), "{Break} to end: 1");
  for (int i = 0; i < 600 && Title() != "kept.rec"; ++i) sim::Advance(100);
  const std::vector<std::string>& titles = sim::Window(main_)->titles;
  EXPECT_NE(std::find(titles.begin(), titles.end(), "{Break} to end: 3"), titles.end());
  EXPECT_EQ(Title(), "kept.rec");
  EXPECT_FALSE(sim::TimerExists(main_, kTimerPlay));
  EXPECT_FALSE(GetAsyncKeyState('K') & 0x8000);
  EXPECT_EQ(gApp.statusFlags & kBusy, 0);
  EXPECT_EQ(sim::Boxes().size(), 1u);
}

// A recording under way when Open is refused, for a bad file or for want of
// memory, goes on recording with every event it had.
TEST_F(FileCommands, ARefusedOpenDuringARecordingKeepsItRecording) {
  RecordMoves(50);
  ASSERT_EQ(gApp.eventCursor, 52u);  // where the cursor was at the start, the mark, 50 moves
  std::vector<EventRecord> before = Recorded();
  sim::PushFileChoice(WriteBytes("bad.rec", {1, 2, 3}));
  Command(kCmdOpen);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].text, "Not a valid recording");
  RecordMoves(5, 50);
  sim::PushFileChoice(WriteBytes("good.rec", Bytes({Move(7, 7)})));
  sim::FailAlloc(100);  // every piece of address space the load tries
  Command(kCmdOpen);
  sim::FailAlloc(0);
  ASSERT_EQ(sim::Boxes().size(), 2u);
  EXPECT_EQ(sim::Boxes()[1].text, "Not enough memory to open the recording");
  EXPECT_EQ(sim::Boxes()[1].caption, "Kavorin");
  EXPECT_EQ(sim::Boxes()[1].style, kWarningBox);
  RecordMoves(5, 55);
  EXPECT_TRUE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(Title(), "{Break} to end");
  EXPECT_EQ(gApp.statusFlags, kTipsOn | kBusy);
  Command(kCmdRecord);
  std::vector<EventRecord> after = Recorded();
  ASSERT_EQ(after.size(), 62u);
  EXPECT_EQ(std::memcmp(after.data(), before.data(), 52 * kRecordSize), 0);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(after[i + 2].paramL, DWORD(10 + i)) << i;
  EXPECT_EQ(sim::LiveBlocks(), 1);
}

// An Open accepted during a recording ends it first, as a click on the red
// ball would; then the file is the recording, whole (a click on our own
// window inside it is the file's, not the recording's end to trim back to).
TEST_F(FileCommands, AnOpenAcceptedDuringARecordingStopsItFirst) {
  RecordMoves(50);
  DWORD main = (DWORD)(uintptr_t)main_;
  std::vector<EventRecord> file = {
      Move(7, 7), {WM_LBUTTONDOWN, 7, 7, 10, main}, {WM_LBUTTONUP, 7, 7, 20, main}, Move(8, 8, 30)};
  sim::PushFileChoice(WriteBytes("file.rec", Bytes(file)));
  Command(kCmdOpen);
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(sim::TimerPeriodsHeld(), 0);
  EXPECT_EQ(gApp.statusFlags, 0);
  EXPECT_EQ(Title(), "file.rec");
  EXPECT_EQ(gApp.eventCount, 4u);
  EXPECT_EQ(std::memcmp(gApp.recordingBuffer, file.data(), 4 * kRecordSize), 0);
  EXPECT_EQ(sim::LiveBlocks(), 1);  // the recording's block is gone
  sim::SetCursorAt(400, 400);       // no more ticks record
  sim::Advance(100);
  EXPECT_EQ(gApp.eventCount, 4u);
  sim::PushFileChoice("C:\\again.rec");
  Command(kCmdSave);
  EXPECT_EQ(ReadBytes("again.rec"), Bytes(file));
}

// A seek that fails reads and writes nothing: the load or the compile that
// needed it fails with its own message and loses nothing.
TEST_F(FileCommands, AFailedSeekFailsTheLoadOrTheCompile) {
  std::vector<unsigned char> ten = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  WriteBytes("ten", ten);
  char buffer[16] = "x";
  sim::FailSeek();
  EXPECT_EQ(ReadFileAt("C:\\ten", 3, buffer, 16), 0u);
  EXPECT_EQ(buffer[0], 0);
  sim::FailSeek();
  EXPECT_EQ(WriteFileAt("C:\\ten", -1, "Z", 1), 0u);
  EXPECT_EQ(ReadBytes("ten"), ten);  // not written over the start

  Use({Move(3, 3)});
  EventRecord* kept = gApp.recordingBuffer;
  Name("kept.rec");
  SetWindowTextA(main_, "kept.rec");
  std::string good = WriteBytes("good.rec", Bytes({Move(5, 5)}));
  sim::PushFileChoice(good);
  sim::FailSeek();
  Command(kCmdOpen);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].text, "Not a valid recording");
  EXPECT_EQ(sim::Boxes()[0].caption, good);
  EXPECT_EQ(gApp.recordingBuffer, kept);
  EXPECT_EQ(Title(), "kept.rec");

  std::vector<unsigned char> old(100, 'o');
  WriteBytes("old.exe", old);
  sim::PushFileChoice("C:\\old.exe");
  sim::FailSeek();
  Command(kCmdCompile);
  ASSERT_EQ(sim::Boxes().size(), 2u);
  EXPECT_EQ(sim::Boxes()[1].text, "Compile Failed!\n\nC:\\old.exe");
  EXPECT_EQ(ReadBytes("old.exe"), old);
  EXPECT_EQ(Listing(), (std::set<std::string>{"Kavorin.exe", "good.rec", "old.exe", "ten"}));
  EXPECT_EQ(sim::OpenFiles(), 0);
}

TEST_F(FileCommands, SaveAndCompileRefuseWithNothingRecorded) {
  for (UINT id : {kCmdSave, kCmdCompile}) {
    Command(id);
    EXPECT_EQ(sim::Boxes().back().text, kNothingRecorded);
    EXPECT_EQ(sim::Boxes().back().caption, "Kavorin");
    EXPECT_EQ(sim::Boxes().back().style, kInfoBox);
  }
  Use({});
  for (UINT id : {kCmdSave, kCmdCompile}) Command(id);
  EXPECT_EQ(sim::Boxes().size(), 4u);
  EXPECT_TRUE(sim::FileDialogs().empty());
}

TEST_F(FileCommands, ProposedNames) {
  Use({Move(3, 3)});
  struct Case {
    const char* name;
    UINT id;
    const char* proposed;
  } cases[] = {{"demo.rec", kCmdSave, "demo.rec"}, {"demo.rec", kCmdCompile, "demo"},
               {"DEMO.REC", kCmdCompile, "DEMO"},  {"demo", kCmdCompile, "demo"},
               {"rec", kCmdCompile, "rec"},        {"", kCmdSave, ""}};
  for (const Case& c : cases) {
    Name(c.name);
    sim::PushFileCancel();
    Command(c.id);
    EXPECT_EQ(sim::FileDialogs().back().file, c.proposed) << c.name;
    EXPECT_EQ(sim::FileDialogs().back().initialDir, c.proposed);
  }
  Name("abcdefghijklmnopqrstuvwxyz0123");  // 30 characters, as a long name is kept
  sim::PushFileCancel();
  Command(kCmdSave);
  EXPECT_EQ(sim::FileDialogs().back().file, "abcdefghijklmnopqrstuvwxyz0123");
  EXPECT_EQ(sim::FileDialogs().back().filter[0], "Recording Files (*.rec)");
  sim::PushFileCancel();
  Command(kCmdCompile);
  EXPECT_EQ(sim::FileDialogs().back().filter[0], "Program Files (*.exe)");
}

TEST_F(FileCommands, SaveAppliesTheExtensionRuleAndWritesExactly) {
  Use({Move(1, 1), Key(WM_KEYDOWN, 'A'), Key(WM_KEYUP, 'A')});
  struct Case {
    const char* chosen;
    const char* written;
  } cases[] = {{"demo", "demo.rec"},
               {"DEMO.REC", "DEMO.REC"},
               {"demo.txt", "demo.txt.rec"},
               {"ab", "ab.rec"}};
  for (const Case& c : cases) {
    sim::PushFileChoice(std::string("C:\\") + c.chosen);
    Command(kCmdSave);
    EXPECT_EQ(ReadBytes(c.written).size(), 60u) << c.chosen;
    EXPECT_EQ(Title(), c.written);
    EXPECT_STREQ(gApp.currentName, c.written);
    EXPECT_EQ(gApp.statusFlags, 0);
  }
  // Over a longer file: exactly 20 x n bytes.
  WriteBytes("long.rec", std::vector<unsigned char>(1000, 9));
  sim::PushFileChoice("C:\\long.rec");
  Command(kCmdSave);
  std::vector<unsigned char> saved = ReadBytes("long.rec");
  ASSERT_EQ(saved.size(), 60u);
  EXPECT_EQ(std::memcmp(saved.data(), gApp.recordingBuffer, 60), 0);
}

TEST_F(FileCommands, SaveAfterABrokenOffRunWritesTheWholeRecording) {
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 1000), Move(5, 5, 2000)});
  Command(kCmdPlay);
  sim::Advance(100);
  sim::Tap(VK_PAUSE);
  sim::Advance(2000);
  ASSERT_EQ(gApp.eventCursor, 1u);
  sim::PushFileChoice("C:\\after.rec");
  Command(kCmdSave);
  EXPECT_EQ(ReadBytes("after.rec").size(), 60u);
}

TEST_F(FileCommands, AFailedSaveWarnsAndLosesNothing) {
  Use({Move(1, 1)});
  Name("before.rec");
  SetWindowTextA(main_, "before.rec");
  std::vector<unsigned char> old(100, 7), users(30, 'u');
  WriteBytes("old.rec", old);
  WriteBytes("old.rec.tmp", users);  // the user's own file of that name
  WriteBytes("ro.rec", old);
  ASSERT_EQ(chmod(Host("ro.rec").c_str(), 0444), 0);
  ASSERT_EQ(std::system(("mkdir '" + Host("folder.rec") + "'").c_str()), 0);
  struct Case {
    const char* chosen;
    long long space;
  } cases[] = {
      {"C:\\missing\\x.rec", -1}, {"C:\\folder.rec", -1}, {"C:\\old.rec", 10}, {"C:\\ro.rec", -1}};
  for (const Case& c : cases) {
    sim::SetDiskSpace(c.space);
    sim::PushFileChoice(c.chosen);
    Command(kCmdSave);
    const sim::BoxInfo& box = sim::Boxes().back();
    EXPECT_NE(box.text->find(c.chosen), std::string::npos) << *box.text;
    EXPECT_EQ(box.style, kWarningBox);
    EXPECT_EQ(Title(), "before.rec");
    EXPECT_STREQ(gApp.currentName, "before.rec");
    EXPECT_EQ(gApp.statusFlags, 1);
  }
  EXPECT_EQ(ReadBytes("old.rec"), old);
  EXPECT_EQ(ReadBytes("old.rec.tmp"), users);
  EXPECT_EQ(ReadBytes("ro.rec"), old);
  EXPECT_EQ(Listing(), (std::set<std::string>{"Kavorin.exe", "folder.rec", "old.rec", "old.rec.tmp",
                                              "ro.rec"}));
  EXPECT_EQ(sim::OpenFiles(), 0);
}

TEST_F(FileCommands, AUsersTmpFilesSurviveSaveAndCompile) {
  Use({Move(1, 1), Key(WM_KEYDOWN, 'A'), Key(WM_KEYUP, 'A')});
  std::vector<unsigned char> users = {'k', 'e', 'e', 'p'};
  WriteBytes("demo.rec.tmp", users);
  WriteBytes("demo.exe.tmp", users);
  sim::PushFileChoice("C:\\demo.rec");
  Command(kCmdSave);
  sim::PushFileChoice("C:\\demo.exe");
  Command(kCmdCompile);
  EXPECT_EQ(ReadBytes("demo.rec").size(), 60u);
  EXPECT_EQ(ReadBytes("demo.exe").size(), StubImageSize() + 60u);
  EXPECT_EQ(ReadBytes("demo.rec.tmp"), users);
  EXPECT_EQ(ReadBytes("demo.exe.tmp"), users);
  EXPECT_EQ(Listing(), (std::set<std::string>{"Kavorin.exe", "demo.exe", "demo.exe.tmp", "demo.rec",
                                              "demo.rec.tmp"}));
}

// A path written with forward slashes: the temporary files lie in the
// target's own folder, as with backslashes.
TEST_F(FileCommands, SaveAndCompileToAForwardSlashPathWorkBesideTheTarget) {
  Use({Move(1, 1)});
  ASSERT_EQ(std::system(("mkdir '" + Host("sub") + "'").c_str()), 0);
  // Every temporary name Save or Compile would try in the drive's own folder
  // is taken there: only a name beside the target can be had.
  for (DWORD attempt = 0; attempt < kTempAttempts; ++attempt) {
    char temp[kTempPathSize];
    TempNameFor(temp, "C:\\x", attempt);
    WriteBytes(temp + 3, {'u'});
  }
  std::set<std::string> top = Listing();
  sim::PushFileChoice("C:/sub/demo.rec");
  Command(kCmdSave);
  EXPECT_EQ(ReadBytes("sub/demo.rec"), Bytes({Move(1, 1)}));
  sim::PushFileChoice("C:/sub/demo.exe");
  Command(kCmdCompile);
  EXPECT_EQ(ReadBytes("sub/demo.exe").size(), StubImageSize() + kRecordSize);
  EXPECT_EQ(Listing("sub"), (std::set<std::string>{"demo.exe", "demo.rec"}));
  EXPECT_EQ(Listing(), top);
}

TEST_F(FileCommands, APathWithNoRoomForTheExtensionIsRefused) {
  Use({Move(1, 1)});
  std::string path = "C:\\" + std::string(250, 'p');  // 253 characters
  sim::PushFileChoice(path);
  Command(kCmdSave);
  EXPECT_NE(sim::Boxes().back().text->find("no room"), std::string::npos);
  EXPECT_EQ(Title(), "Kavorin v1.22");
  std::string dir(100, 'd');
  ASSERT_EQ(std::system(("mkdir '" + Host(dir) + "'").c_str()), 0);
  std::string fits = "C:\\" + dir + "\\" + std::string(147, 'q');  // 251 + ".rec" = 255
  sim::PushFileChoice(fits);
  Command(kCmdSave);
  EXPECT_EQ(Title(), std::string(30, 'q'));
}

TEST_F(FileCommands, CompileCopiesUsAndAppendsTheRecords) {
  std::vector<unsigned char> image(StubImageSize());
  for (size_t i = 0; i < image.size(); ++i) image[i] = (unsigned char)(i * 7);
  WriteBytes("Kavorin.exe", image);
  Use({Move(1, 1), Key(WM_KEYDOWN, 'A'), Key(WM_KEYUP, 'A')});
  Name("demo.rec");
  SetWindowTextA(main_, "demo.rec");
  gApp.statusFlags = 1;
  WriteBytes("demo.exe", std::vector<unsigned char>(50000, 1));  // an old target
  sim::PushFileChoice("C:\\demo");
  Command(kCmdCompile);
  std::vector<unsigned char> player = ReadBytes("demo.exe");
  ASSERT_EQ(player.size(), StubImageSize() + 3 * kRecordSize);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), player.begin()));
  EXPECT_EQ(std::memcmp(player.data() + StubImageSize(), gApp.recordingBuffer, 3 * kRecordSize), 0);
  EXPECT_EQ(sim::Boxes().back().text, "Compile Successful: \"demo.exe\"\n\nFile Size:  29k");
  EXPECT_EQ(sim::Boxes().back().style, kInfoBox);
  EXPECT_EQ(Title(), "demo.rec");  // nothing else changes
  EXPECT_EQ(gApp.statusFlags, 1);
  EXPECT_STREQ(gApp.pathBuffer, "demo.exe");
  sim::PushFileChoice("C:\\upper.EXE");
  Command(kCmdCompile);
  EXPECT_EQ(ReadBytes("upper.EXE").size(), StubImageSize() + 3 * kRecordSize);
}

TEST_F(FileCommands, ACompileThatCannotCopyOrWriteFails) {
  Use({Move(1, 1)});
  sim::SetModulePath("C:\\gone\\Kavorin.exe");  // our own file cannot be copied
  sim::PushFileChoice("C:\\demo.exe");
  Command(kCmdCompile);
  EXPECT_EQ(sim::Boxes().back().text, "Compile Failed!\n\nC:\\demo.exe");
  EXPECT_FALSE(Exists("demo.exe"));
  sim::SetModulePath("C:\\Kavorin.exe");
  sim::PushFileChoice("C:\\missing\\demo.exe");
  Command(kCmdCompile);
  EXPECT_EQ(sim::Boxes().back().text, "Compile Failed!\n\nC:\\missing\\demo.exe");
  sim::SetDiskSpace(StubImageSize() + 5);  // room for the copy, not for the records
  sim::PushFileChoice("C:\\full.exe");
  Command(kCmdCompile);
  EXPECT_EQ(sim::Boxes().back().text, "Compile Failed!\n\nC:\\full.exe");
  EXPECT_FALSE(Exists("full.exe"));
  EXPECT_EQ(Listing(), (std::set<std::string>{"Kavorin.exe"}));
  // An old player at the target survives a compile that fails.
  std::vector<unsigned char> old(100, 'o');
  WriteBytes("old.exe", old);
  sim::SetDiskSpace(StubImageSize() + 5);
  sim::PushFileChoice("C:\\old.exe");
  Command(kCmdCompile);
  EXPECT_EQ(sim::Boxes().back().text, "Compile Failed!\n\nC:\\old.exe");
  EXPECT_EQ(ReadBytes("old.exe"), old);
  EXPECT_EQ(sim::OpenFiles(), 0);
}

TEST_F(FileCommands, ACompiledPlayerLoadsWhatSaveWrites) {
  Use({Move(1, 1), Key(WM_KEYDOWN, 'A', 10), Key(WM_KEYUP, 'A', 20)});
  sim::PushFileChoice("C:\\p.exe");
  Command(kCmdCompile);
  sim::PushFileChoice("C:\\p.rec");
  Command(kCmdSave);
  std::vector<unsigned char> player = ReadBytes("p.exe"), rec = ReadBytes("p.rec");
  ASSERT_EQ(player.size(), StubImageSize() + rec.size());
  EXPECT_TRUE(std::equal(rec.begin(), rec.end(), player.begin() + StubImageSize()));
}

}  // namespace
