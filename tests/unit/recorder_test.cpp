// The recorder and the release of held keys: what a user does between two
// samples, and what ends up in the recording.
#include "desk.h"
#include "record/input.h"

using namespace win;

namespace {

class Recorder : public WindowDesk {
 protected:
  void SetUp() override {
    WindowDesk::SetUp();
    sim::SetCursorAt(300, 200);
  }
  void Start() {
    Command(kCmdRecord);
    ASSERT_TRUE(sim::TimerExists(main_, kTimerRecord));
  }
  void Ticks(int n) { sim::Advance(10 * n); }
  std::vector<EventRecord> Events() const {
    if (!gApp.recordingBuffer) return {};
    return {gApp.recordingBuffer, gApp.recordingBuffer + gApp.eventCursor};
  }
  // The key events recorded, as (message, vk) pairs.
  std::vector<std::pair<DWORD, DWORD>> Keys() const {
    std::vector<std::pair<DWORD, DWORD>> out;
    for (const EventRecord& e : Events())
      if (e.message == WM_KEYDOWN || e.message == WM_KEYUP)
        out.push_back({e.message, e.paramL & 0xFF});
    return out;
  }
};

TEST_F(Recorder, StartingSetsBusyReleasesTheButtonAndTitles) {
  CopyText(gApp.currentName, "old.rec", sizeof gApp.currentName);
  gApp.recordingBuffer = (EventRecord*)ResizeBlock(nullptr, kMinBlock);
  int invalidations = sim::Window(main_)->invalidations;
  sim::ClearInputs();
  Start();
  EXPECT_EQ(gApp.statusFlags, kTipsOn | kBusy);
  EXPECT_EQ(gApp.lastCommand, (DWORD)kCmdRecord);
  ASSERT_FALSE(sim::Inputs().empty());
  EXPECT_EQ(sim::Inputs()[0].kind, sim::Input::Mouse);
  EXPECT_EQ(sim::Inputs()[0].flags, MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(gApp.recordingBuffer, nullptr);  // the old recording is dropped
  EXPECT_EQ(sim::TimerPeriod(main_, kTimerRecord), 10u);
  EXPECT_EQ(Title(), "{Break} to end");
  EXPECT_GT(sim::Window(main_)->invalidations, invalidations);

  Ticks(1);
  EXPECT_EQ(BlockSize(gApp.recordingBuffer), 20000u);
  Command(kCmdRecord);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(Title(), "old.rec");  // a new recording keeps the name
  EXPECT_EQ(gApp.statusFlags, kTipsOn);
}

TEST_F(Recorder, OneEventPerTickLowestCodeFirst) {
  Start();
  Ticks(1);  // the first sample records where the cursor is
  sim::SetKeyDown(VK_CONTROL, true);
  sim::SetKeyDown(0xA2, true);  // left Ctrl
  sim::SetKeyDown('A', true);
  Ticks(1);
  EXPECT_EQ(Keys(), (std::vector<std::pair<DWORD, DWORD>>{{WM_KEYDOWN, 0x11}}));
  Ticks(1);
  EXPECT_EQ(Keys().back(), (std::pair<DWORD, DWORD>{WM_KEYDOWN, 'A'}));
  Ticks(1);
  EXPECT_EQ(Keys().back(), (std::pair<DWORD, DWORD>{WM_KEYDOWN, 0xA2}));
  Ticks(3);
  EXPECT_EQ(Keys().size(), 3u);
  EventRecord a = Events()[2];
  EXPECT_EQ(a.paramL, 'A' + 0x1Eu * 256);  // vk + scan * 256
  EXPECT_EQ(a.paramH, 0x1Eu);
}

TEST_F(Recorder, LeftShiftIsRecordedAsShiftAloneRightShiftAsBoth) {
  Start();
  Ticks(1);
  sim::SetKeyDown(VK_SHIFT, true);
  sim::SetKeyDown(0xA0, true);
  Ticks(4);
  sim::SetKeyDown(VK_SHIFT, false);
  sim::SetKeyDown(0xA0, false);
  Ticks(4);
  EXPECT_EQ(Keys(), (std::vector<std::pair<DWORD, DWORD>>{{WM_KEYDOWN, 16}, {WM_KEYUP, 16}}));
  sim::SetKeyDown(VK_SHIFT, true);
  sim::SetKeyDown(0xA1, true);
  Ticks(4);
  EXPECT_EQ(Keys().size(), 4u);
  EXPECT_EQ(Keys()[3], (std::pair<DWORD, DWORD>{WM_KEYDOWN, 0xA1}));
}

TEST_F(Recorder, LocksRecordTheirStateNotThePresses) {
  sim::SetToggle(VK_NUMLOCK, true);  // already on: not a change
  Start();
  Ticks(1);
  sim::SetKeyDown(VK_CAPITAL, true);  // turns it on
  Ticks(2);
  sim::SetKeyDown(VK_CAPITAL, false);
  Ticks(2);
  sim::SetKeyDown(VK_CAPITAL, true);  // turns it off
  Ticks(2);
  sim::SetKeyDown(VK_CAPITAL, false);
  Ticks(2);
  EXPECT_EQ(Keys(), (std::vector<std::pair<DWORD, DWORD>>{{WM_KEYDOWN, VK_CAPITAL},
                                                          {WM_KEYUP, VK_CAPITAL}}));
}

TEST_F(Recorder, EveryChangeOfPositionIsRecordedTheScreenEdgesToo) {
  Start();
  Ticks(1);
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].message, (DWORD)WM_MOUSEMOVE);
  EXPECT_EQ(Events()[0].paramL, 300u);
  EXPECT_EQ(Events()[0].paramH, 200u);
  Ticks(3);  // the cursor rests: nothing more
  EXPECT_EQ(Events().size(), 1u);
  // Positions that once hid behind others: the same x + y, and the edges.
  const POINT path[] = {{301, 199}, {0, 50}, {50, 0}, {0, 0}, {1023, 767}};
  for (const POINT& p : path) {
    sim::SetCursorAt(p.x, p.y);
    Ticks(1);
  }
  ASSERT_EQ(Events().size(), 6u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Events()[i + 1].message, (DWORD)WM_MOUSEMOVE);
    EXPECT_EQ((LONG)Events()[i + 1].paramL, path[i].x) << i;
    EXPECT_EQ((LONG)Events()[i + 1].paramH, path[i].y) << i;
  }
}

TEST_F(Recorder, AClickCarriesItsPositionAndTheMoveFollows) {
  Start();
  Ticks(1);
  // The mouse moves and presses between two samples: the press comes first
  // and holds the new position, then the move is recorded too.
  sim::SetCursorAt(420, 400);
  sim::SetKeyDown(VK_LBUTTON, true);
  Ticks(1);
  ASSERT_EQ(Events().size(), 2u);
  EXPECT_EQ(Events()[1].message, (DWORD)WM_LBUTTONDOWN);
  EXPECT_EQ(Events()[1].paramL, 420u);
  EXPECT_EQ(Events()[1].paramH, 400u);
  Ticks(1);
  ASSERT_EQ(Events().size(), 3u);
  EXPECT_EQ(Events()[2].message, (DWORD)WM_MOUSEMOVE);
}

TEST_F(Recorder, TheMiddleButtonIsRecordedWithItsPosition) {
  Start();
  Ticks(1);
  sim::SetCursorAt(-200, -50);  // a monitor left of and above the primary
  sim::SetKeyDown(VK_MBUTTON, true);
  Ticks(2);
  sim::SetKeyDown(VK_MBUTTON, false);
  Ticks(2);
  std::vector<EventRecord> e = Events();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[1].message, 0x207u);
  EXPECT_EQ((int32_t)e[1].paramL, -200);
  EXPECT_EQ((int32_t)e[1].paramH, -50);
  EXPECT_EQ(e[2].message, (DWORD)WM_MOUSEMOVE);
  EXPECT_EQ(e[3].message, 0x208u);
  EXPECT_TRUE(Keys().empty());  // never as a key
}

TEST_F(Recorder, TimeAndForegroundAreReadWhenStoring) {
  HWND other = (HWND)(uintptr_t)0x1234;
  sim::SetForeground(other);
  Start();
  Ticks(1);
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].time, sim::Now());
  EXPECT_EQ(Events()[0].hwnd, 0x1234u);
}

TEST_F(Recorder, PauseEndsTheRecordingAndIsNotStored) {
  Start();
  Ticks(1);
  sim::SetKeyDown('B', true);
  Ticks(1);
  sim::SetKeyDown('B', false);
  Ticks(1);
  sim::SetKeyDown(VK_PAUSE, true);
  sim::ClearInputs();
  Ticks(1);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(Title(), "Kavorin");
  EXPECT_EQ(Keys().size(), 2u);  // B down, B up; no Pause
  EXPECT_EQ(gApp.recordingBuffer[gApp.eventCursor].message, 0u);
  // Everything held was released, Pause included.
  bool pauseReleased = false;
  for (const sim::Input& in : sim::Inputs())
    if (in.kind == sim::Input::Key && in.vk == VK_PAUSE && (in.flags & KEYEVENTF_KEYUP))
      pauseReleased = true;
  EXPECT_TRUE(pauseReleased);
  sim::SetKeyDown(VK_PAUSE, false);
  Ticks(3);
  EXPECT_EQ(Keys().size(), 2u);
}

TEST_F(Recorder, StopTrimsBackToTheLastClickOnOurOwnWindow) {
  Start();
  Ticks(1);  // record 0: a move
  sim::SetForeground(main_);
  sim::SetKeyDown(VK_LBUTTON, true);  // a click on our window (record 1)
  Ticks(1);
  sim::SetKeyDown(VK_LBUTTON, false);
  sim::SetForeground(nullptr);
  Ticks(1);
  sim::SetKeyDown('C', true);
  Ticks(1);
  ASSERT_EQ(Events().size(), 4u);
  Command(kCmdRecord);
  EXPECT_EQ(gApp.eventCursor, 1u);
  EXPECT_EQ(gApp.recordingBuffer[1].message, 0u);
  EXPECT_EQ(gApp.eventCount, 1u);
}

TEST_F(Recorder, RecordZeroIsNeverExaminedAndNoOwnClickCutsNothing) {
  sim::SetForeground(main_);
  sim::SetKeyDown(VK_LBUTTON, true);
  Start();  // releases the button: the first sample records the release
  sim::SetKeyDown(VK_LBUTTON, true);
  Ticks(1);
  ASSERT_EQ(Events()[0].message, (DWORD)WM_LBUTTONDOWN);
  sim::SetForeground(nullptr);
  sim::SetKeyDown(VK_LBUTTON, false);
  Ticks(1);
  sim::SetKeyDown(VK_LBUTTON, true);  // a click on another window
  Ticks(1);
  size_t n = Events().size();
  // Stopped by Pause, however it is stopped.
  sim::SetKeyDown(VK_PAUSE, true);
  Ticks(1);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(gApp.eventCursor, n);
}

TEST_F(Recorder, GrowsAtTheMarginAndKeepsEveryRecord) {
  Start();
  for (int i = 0; i < 950; ++i) {
    sim::SetCursorAt(10 + i % 200, 10 + (i / 200));
    Ticks(1);
  }
  std::vector<EventRecord> before = Events();
  ASSERT_GE(before.size(), 899u);
  EXPECT_EQ(BlockSize(gApp.recordingBuffer), 40000u);
  for (int i = 0; i < 100; ++i) {
    sim::SetCursorAt(500 + i, 300);
    Ticks(1);
  }
  std::vector<EventRecord> after = Events();
  ASSERT_GE(after.size(), before.size());
  EXPECT_EQ(std::memcmp(after.data(), before.data(), before.size() * kRecordSize), 0);
  EXPECT_LT(gApp.eventCursor + 100, Capacity(gApp.recordingBuffer) + 1);
}

TEST_F(Recorder, AStopBeforeTheFirstTickWritesNothing) {
  Start();
  Command(kCmdRecord);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(gApp.recordingBuffer, nullptr);
  EXPECT_EQ(Title(), "Kavorin");
  EXPECT_EQ(gApp.statusFlags, kTipsOn);
}

// A long recording grows its block by half at a time: few copies of the
// whole block, every event kept in order, always room behind the last one.
TEST_F(Recorder, ALongRecordingGrowsGeometricallyAndKeepsEveryEvent) {
  Start();
  std::vector<DWORD> sizes;
  const int kEvents = 20000;
  for (int i = 0; i < kEvents; ++i) {
    sim::SetCursorAt(1 + i % 1000, 1 + i / 1000);
    Ticks(1);
    DWORD size = BlockSize(gApp.recordingBuffer);
    if (sizes.empty() || sizes.back() != size) sizes.push_back(size);
    ASSERT_GE(size / kRecordSize, gApp.eventCursor + 1) << i;
  }
  ASSERT_EQ(gApp.eventCursor, (DWORD)kEvents);
  EXPECT_EQ(sizes.front(), 20000u);
  for (size_t i = 1; i < sizes.size(); ++i) EXPECT_GE(sizes[i], sizes[i - 1] + sizes[i - 1] / 2);
  EXPECT_LE(sizes.size(), 10u);  // 20,000 bytes to 400,000 in steps of half the block
  Command(kCmdRecord);
  std::vector<EventRecord> events = Events();
  ASSERT_EQ(events.size(), (size_t)kEvents);
  for (int i = 0; i < kEvents; ++i) {
    ASSERT_EQ(events[i].paramL, DWORD(1 + i % 1000)) << i;
    ASSERT_EQ(events[i].paramH, DWORD(1 + i / 1000)) << i;
  }
}

// The stop says everything is kept, and keeps it: a click on our own window
// in the middle of the recording cuts nothing on this path.
TEST_F(Recorder, AFailedGrowthEndsTheRecordingKeepingEverything) {
  Start();
  for (int i = 0; i < 900; ++i) {  // 900 + 100 reaches the 1,000 records of the block
    sim::SetCursorAt(10 + i % 200, 10 + i / 200);
    if (i == 400) sim::SetForeground(main_);
    if (i == 401 || i == 402) sim::SetKeyDown(VK_LBUTTON, i == 401);  // a click on our window
    if (i == 403) sim::SetForeground(nullptr);
    Ticks(1);
  }
  DWORD n = gApp.eventCursor;
  std::vector<EventRecord> before = Events();
  sim::FailAlloc();
  sim::SetCursorAt(700, 700);
  Ticks(1);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(gApp.eventCursor, n);
  EXPECT_EQ(std::memcmp(gApp.recordingBuffer, before.data(), n * kRecordSize), 0);
  EXPECT_EQ(gApp.recordingBuffer[n].message, 0u);
  ASSERT_FALSE(sim::Boxes().empty());
  EXPECT_EQ(sim::Boxes().back().text,
            "Out of memory: the recording was stopped.\n\nEverything recorded so far is kept.");
  EXPECT_EQ(Title(), "Kavorin");
  int clicks = 0;
  for (DWORD i = 0; i < n; ++i)
    clicks += before[i].message == WM_LBUTTONDOWN && before[i].hwnd == (DWORD)(uintptr_t)main_;
  EXPECT_EQ(clicks, 1);
}

TEST_F(Recorder, RecordingEndsARunningPlayback) {
  gApp.recordingBuffer = (EventRecord*)ResizeBlock(nullptr, kMinBlock);
  for (int i = 0; i < 50; ++i) gApp.recordingBuffer[i] = Move(10 + i, 10, 1000 * i);
  Command(kCmdPlay);
  ASSERT_TRUE(sim::TimerExists(main_, kTimerPlay));
  Start();
  EXPECT_FALSE(sim::TimerExists(main_, kTimerPlay));
  Ticks(5);
  EXPECT_TRUE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(Title(), "{Break} to end");
  // Play during the recording stops it first, then plays what was recorded.
  DWORD recorded = gApp.eventCursor;
  Command(kCmdPlay);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_TRUE(sim::TimerExists(main_, kTimerPlay));
  EXPECT_EQ(gApp.eventCount, recorded);
}

using Release = Desk;

int KeyUps(int vk, DWORD flags) {
  int n = 0;
  for (const sim::Input& in : sim::Inputs())
    if (in.kind == sim::Input::Key && in.vk == vk && in.flags == flags) ++n;
  return n;
}

TEST_F(Release, CapsLockOnGetsOneNonExtendedKeyUp) {
  sim::SetToggle(VK_CAPITAL, true);
  ReleaseAllKeys();
  int keys = 0;
  for (const sim::Input& in : sim::Inputs()) keys += in.kind == sim::Input::Key;
  EXPECT_EQ(keys, 1);
  EXPECT_EQ(KeyUps(VK_CAPITAL, KEYEVENTF_KEYUP), 1);
  EXPECT_EQ(sim::Inputs()[0].scan, 0x3A);
  EXPECT_TRUE(sim::LockOn(VK_CAPITAL));
}

TEST_F(Release, RightCtrlIsReleasedExtendedAndEverythingIsCleared) {
  sim::SetKeyDown(VK_CONTROL, true);
  sim::SetKeyDown(0xA3, true);
  sim::SetKeyDown(VK_LBUTTON, true);
  sim::Tap(VK_PAUSE);
  ReleaseAllKeys();
  EXPECT_EQ(KeyUps(VK_CONTROL, KEYEVENTF_KEYUP | KEYEVENTF_EXTENDEDKEY), 1);
  EXPECT_EQ(KeyUps(0xA3, KEYEVENTF_KEYUP | KEYEVENTF_EXTENDEDKEY), 1);  // the right-hand key
  EXPECT_EQ(KeyUps(VK_LBUTTON, KEYEVENTF_KEYUP), 1);
  int lifted = 0;
  for (const sim::Input& in : sim::Inputs())
    lifted += in.kind == sim::Input::Mouse && in.flags == MOUSEEVENTF_LEFTUP;
  EXPECT_EQ(lifted, 1);
  EXPECT_FALSE(sim::KeyDown(VK_LBUTTON));
  // Then 256 zero bytes, then every pressed-since bit cleared.
  const sim::Input* state = nullptr;
  for (const sim::Input& in : sim::Inputs())
    if (in.kind == sim::Input::KeyboardState) state = &in;
  ASSERT_NE(state, nullptr);
  for (BYTE b : state->state) EXPECT_EQ(b, 0);
  EXPECT_FALSE(sim::PressedSince(VK_PAUSE));
  EXPECT_FALSE(IsKeyDown(VK_CONTROL));
}

TEST_F(Release, TheLocksThatAreOnStayOnInOurOwnViewToo) {
  sim::SetToggle(VK_CAPITAL, true);
  sim::SetToggle(VK_SCROLL, true);
  sim::SetKeyDown(VK_MBUTTON, true);
  ReleaseAllKeys();
  EXPECT_TRUE(IsKeyDown(VK_CAPITAL));
  EXPECT_TRUE(IsKeyDown(VK_SCROLL));
  EXPECT_FALSE(IsKeyDown(VK_NUMLOCK));
  EXPECT_FALSE(sim::KeyDown(VK_MBUTTON));  // lifted by the mouse's own release
  int lifted = 0;
  for (const sim::Input& in : sim::Inputs())
    lifted += in.kind == sim::Input::Mouse && in.flags == MOUSEEVENTF_MIDDLEUP;
  EXPECT_EQ(lifted, 1);
}

TEST_F(Release, WhichQueryReadsWhichKey) {
  sim::SetToggle(VK_SCROLL, true);
  EXPECT_TRUE(IsKeyDown(VK_SCROLL));  // a lock reads as down while it is on
  EXPECT_FALSE(IsKeyDown(VK_NUMLOCK));
  sim::SetKeyDown(VK_RBUTTON, true);
  EXPECT_TRUE(IsKeyDown(VK_RBUTTON));
  sim::SetKeyDown('Z', true);
  EXPECT_TRUE(IsKeyDown('Z'));
  BYTE down[256];
  ReadKeysDown(down);
  for (int vk = 0; vk < 256; ++vk) EXPECT_EQ(down[vk], IsKeyDown(vk) ? 1 : 0) << vk;
}

}  // namespace
