// The recorder and the release of held keys: what a user does between two
// samples, and what ends up in the recording.
#include <algorithm>

#include "desk.h"
#include "record/input.h"

using namespace win;

namespace {

// Where the input hooks cannot be had, the ticks sample the keys as the
// recorder always has: these cases are that sampler, on a system that
// cannot give positions in physical pixels either (before Windows 10 1607).
class Recorder : public WindowDesk {
 protected:
  void SetUp() override {
    WindowDesk::SetUp();
    sim::SetCursorAt(300, 200);
    sim::SetHooksAvailable(false);
    sim::SetProcAvailable("SetThreadDpiAwarenessContext", false);
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
  // The old recording is dropped, and the new one starts with where the cursor is.
  ASSERT_EQ(gApp.eventCursor, 1u);
  EXPECT_EQ(gApp.recordingBuffer[0].message, (DWORD)WM_MOUSEMOVE);
  EXPECT_EQ(gApp.recordingBuffer[0].paramL, 300u);
  EXPECT_EQ(sim::TimerPeriod(main_, kTimerRecord), 10u);
  EXPECT_EQ(Title(), "{Break} to end");
  EXPECT_GT(sim::Window(main_)->invalidations, invalidations);

  Ticks(1);
  EXPECT_GE(Capacity(gApp.recordingBuffer), 1000u);  // room set aside at the start
  Command(kCmdRecord);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(Title(), "old.rec");  // a new recording keeps the name
  EXPECT_EQ(gApp.statusFlags, kTipsOn);
}

TEST_F(Recorder, EveryChangeOfASampleLowestCodeFirst) {
  Start();
  Ticks(1);
  sim::SetKeyDown(VK_CONTROL, true);
  sim::SetKeyDown(0xA2, true);  // left Ctrl
  sim::SetKeyDown('A', true);
  Ticks(1);
  EXPECT_EQ(Keys(), (std::vector<std::pair<DWORD, DWORD>>{
                        {WM_KEYDOWN, 0x11}, {WM_KEYDOWN, 'A'}, {WM_KEYDOWN, 0xA2}}));
  Ticks(3);
  EXPECT_EQ(Keys().size(), 3u);
  EventRecord a = Events()[2];
  EXPECT_EQ(a.paramL, 'A' + 0x1Eu * 256);  // vk + scan * 256
  EXPECT_EQ(a.paramH, 0x1Eu);
}

// The sample sees the plain Shift and its side together; playback makes the
// pair one press of that side.
TEST_F(Recorder, ASampledShiftIsThePlainKeyAndItsSide) {
  Start();
  Ticks(1);
  sim::SetKeyDown(VK_SHIFT, true);
  sim::SetKeyDown(0xA1, true);
  Ticks(2);
  sim::SetKeyDown(VK_SHIFT, false);
  sim::SetKeyDown(0xA1, false);
  Ticks(2);
  EXPECT_EQ(Keys(), (std::vector<std::pair<DWORD, DWORD>>{
                        {WM_KEYDOWN, 16}, {WM_KEYDOWN, 0xA1}, {WM_KEYUP, 16}, {WM_KEYUP, 0xA1}}));
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

TEST_F(Recorder, AClickComesAfterAMoveToItsPlace) {
  Start();
  Ticks(1);
  // The mouse moves and presses between two samples: the move, then the
  // press, which holds the position too.
  sim::SetCursorAt(420, 400);
  sim::SetKeyDown(VK_LBUTTON, true);
  Ticks(2);
  ASSERT_EQ(Events().size(), 3u);
  EXPECT_EQ(Events()[1].message, (DWORD)WM_MOUSEMOVE);
  EXPECT_EQ(Events()[2].message, (DWORD)WM_LBUTTONDOWN);
  EXPECT_EQ(Events()[2].paramL, 420u);
  EXPECT_EQ(Events()[2].paramH, 400u);
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
  EXPECT_EQ(e[1].message, (DWORD)WM_MOUSEMOVE);
  EXPECT_EQ(e[2].message, 0x207u);
  EXPECT_EQ((int32_t)e[2].paramL, -200);
  EXPECT_EQ((int32_t)e[2].paramH, -50);
  EXPECT_EQ(e[3].message, 0x208u);
  EXPECT_TRUE(Keys().empty());  // never as a key
}

TEST_F(Recorder, TimeAndForegroundAreReadWhenStoring) {
  HWND other = (HWND)(uintptr_t)0x1234;
  sim::SetForeground(other);
  sim::Advance(7);
  Start();
  Ticks(1);
  sim::SetKeyDown('B', true);
  Ticks(1);
  ASSERT_EQ(Events().size(), 2u);
  EXPECT_EQ(Events()[0].time, 7u);  // the recording starts with the cursor's place
  EXPECT_EQ(Events()[1].time, sim::Now());
  EXPECT_EQ(Events()[1].hwnd, 0x1234u);
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

TEST_F(Recorder, AStopCutsOnlyTheClickOnOurOwnWindowThatMadeIt) {
  RECT r;
  ShowWindow(main_, SW_SHOW);
  GetWindowRect(main_, &r);
  Start();  // record 0: the cursor's place
  sim::SetCursorAt(r.left + 5, r.top + 5);
  Ticks(1);
  sim::SetKeyDown(VK_LBUTTON, true);  // a click on our window (record 2)
  Ticks(1);
  sim::SetKeyDown(VK_LBUTTON, false);
  Ticks(1);
  sim::SetKeyDown('C', true);
  Ticks(1);
  ASSERT_EQ(Events().size(), 5u);
  ASSERT_EQ(Events()[2].hwnd, (DWORD)(uintptr_t)main_);  // the window under the pointer
  sim::SetKeyDown(VK_LBUTTON, true);                     // on the red ball (record 5)
  Ticks(1);
  Command(kCmdRecord);
  EXPECT_EQ(gApp.eventCursor, 5u);
  EXPECT_EQ(gApp.recordingBuffer[5].message, 0u);
  EXPECT_EQ(gApp.eventCount, 5u);
}

TEST_F(Recorder, AClickElsewhereWhileOursIsInFrontCutsNothing) {
  sim::SetForeground(main_);
  Start();
  sim::SetKeyDown(VK_LBUTTON, true);  // at (300, 200): not on our window
  Ticks(2);
  sim::SetForeground(nullptr);  // the click brought the other window to the front
  sim::SetKeyDown('C', true);
  Ticks(1);
  ASSERT_EQ(Events().size(), 3u);
  Command(kCmdRecord);
  EXPECT_EQ(gApp.eventCount, 3u);
}

TEST_F(Recorder, ARecordingStartsWithAMoveAndNoOtherClickCutsIt) {
  sim::SetKeyDown(VK_LBUTTON, true);
  Start();  // releases the button
  sim::SetKeyDown(VK_LBUTTON, true);
  Ticks(1);
  ASSERT_EQ(Events()[0].message, (DWORD)WM_MOUSEMOVE);  // as every recording must start
  ASSERT_EQ(Events()[1].message, (DWORD)WM_LBUTTONDOWN);
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

TEST_F(Recorder, GrowsAsItGoesAndKeepsEveryRecord) {
  Start();
  for (int i = 0; i < 950; ++i) {
    sim::SetCursorAt(10 + i % 200, 10 + (i / 200));
    Ticks(1);
  }
  std::vector<EventRecord> before = Events();
  ASSERT_GE(before.size(), 899u);
  EXPECT_LT(gApp.eventCursor, Capacity(gApp.recordingBuffer));
  for (int i = 0; i < 100; ++i) {
    sim::SetCursorAt(500 + i, 300);
    Ticks(1);
  }
  std::vector<EventRecord> after = Events();
  ASSERT_EQ(after.size(), before.size() + 100);
  EXPECT_EQ(std::memcmp(after.data(), before.data(), before.size() * kRecordSize), 0);
  EXPECT_LT(gApp.eventCursor, Capacity(gApp.recordingBuffer));
}

TEST_F(Recorder, AStopBeforeTheFirstTickKeepsTheCursorsPlace) {
  Start();
  Command(kCmdRecord);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(gApp.eventCount, 1u);
  EXPECT_EQ(gApp.recordingBuffer[1].message, 0u);
  EXPECT_EQ(Title(), "Kavorin");
  EXPECT_EQ(gApp.statusFlags, kTipsOn);
}

// A long recording grows its block in place, a bounded step at a time:
// never a copy, never much committed ahead, every event kept in order,
// always room behind the last one.
TEST_F(Recorder, ALongRecordingGrowsInPlaceAndKeepsEveryEvent) {
  Start();
  const EventRecord* first = gApp.recordingBuffer;
  std::vector<DWORD> sizes;
  const int kEvents = 20000;
  for (int i = 0; i < kEvents; ++i) {
    sim::SetCursorAt(1 + i % 1000, 1 + i / 1000);
    Ticks(1);
    ASSERT_EQ(gApp.recordingBuffer, first) << i;
    DWORD size = BlockSize(gApp.recordingBuffer);
    if (sizes.empty() || sizes.back() != size) sizes.push_back(size);
    ASSERT_GE(size / kRecordSize, gApp.eventCursor + 1) << i;
  }
  ASSERT_EQ(gApp.eventCursor, (DWORD)kEvents + 1);  // and where the cursor was at the start
  for (size_t i = 1; i < sizes.size(); ++i) EXPECT_LE(sizes[i] - sizes[i - 1], 40000u) << i;
  EXPECT_LE(sim::CommittedBytes(), kEvents * kRecordSize + 40000 + 4096);
  Command(kCmdRecord);
  std::vector<EventRecord> events = Events();
  ASSERT_EQ(events.size(), (size_t)kEvents + 1);
  for (int i = 0; i < kEvents; ++i) {
    ASSERT_EQ(events[i + 1].paramL, DWORD(1 + i % 1000)) << i;
    ASSERT_EQ(events[i + 1].paramH, DWORD(1 + i / 1000)) << i;
  }
  EXPECT_EQ(sim::LiveBlocks(), 1);
}

// Where the address space has no room for the whole reservation (a 32-bit
// process), the recording takes what there is and records on as far as it
// goes; then it stops, says so, and keeps every event, in order.
TEST_F(Recorder, ARecordingInACrowdedAddressSpaceKeepsEveryEvent) {
  sim::SetAddressSpace(2 << 20);
  Start();
  const int kEvents = 60000;  // 1.2 MB
  int i = 0;
  for (; i < kEvents && sim::TimerExists(main_, kTimerRecord); ++i) {
    sim::SetCursorAt(1 + i % 1000, 1 + i / 1000);
    Ticks(1);
  }
  EXPECT_GT(i, 40000);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(*sim::Boxes()[0].text,
            "Out of memory: the recording was stopped.\n\nEverything recorded so far is kept.");
  std::vector<EventRecord> events = Events();
  ASSERT_EQ(events.size(), (size_t)i);  // where the cursor was, and every move but the last
  for (int j = 1; j < i; ++j) ASSERT_EQ(events[j].paramH, DWORD(1 + (j - 1) / 1000)) << j;
  EXPECT_EQ(sim::LiveBlocks(), 1);
}

// The stop says everything is kept, and keeps it: a click on our own window
// in the middle of the recording cuts nothing on this path.
TEST_F(Recorder, AFailedGrowthEndsTheRecordingKeepingEverything) {
  RECT r;
  ShowWindow(main_, SW_SHOW);
  GetWindowRect(main_, &r);
  Start();
  for (int i = 0; i < 500; ++i) {
    sim::SetCursorAt(10 + i % 200, 10 + i / 200);
    if (i == 401 || i == 402) {  // a click on our window
      sim::SetCursorAt(r.left + 2, r.top + 2);
      sim::SetKeyDown(VK_LBUTTON, i == 401);
    }
    Ticks(1);
  }
  // The next growth fails, whenever it comes.
  sim::FailAlloc();
  std::vector<EventRecord> before;
  for (int i = 500; i < 5000 && sim::TimerExists(main_, kTimerRecord); ++i) {
    before = Events();
    sim::SetCursorAt(10 + i % 200, 10 + i / 200);
    Ticks(1);
  }
  DWORD n = (DWORD)before.size();
  EXPECT_GT(n, 500u);
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

// Input as it happens, through the low-level hooks: every key, button and
// wheel event in the order and at the time it came, keys exactly as pressed.
class Capture : public WindowDesk {
 protected:
  void SetUp() override {
    WindowDesk::SetUp();
    ShowWindow(main_, SW_SHOW);
    sim::SetCursorAt(300, 200);
  }
  void Start() {
    Command(kCmdRecord);
    ASSERT_EQ(sim::InstalledHooks(), 2);
  }
  void Stop() {
    Command(kCmdRecord);
    EXPECT_EQ(sim::InstalledHooks(), 0);
  }
  // A key as a user presses it: its code, its own scan code, extended or not.
  struct Pressed {
    int vk, scan;
    bool extended;
  };
  void Press(const Pressed& k, bool down) { sim::UserKey(k.vk, k.scan, k.extended, down); }
  std::vector<EventRecord> Events() const {
    return {gApp.recordingBuffer, gApp.recordingBuffer + gApp.eventCount};
  }
  // A primary monitor of 1024 x 768 pixels seen at 100 %, scaled to
  // 'percent', and a monitor 'left' pixels wide at 100 % left of it.
  void ScaledDesktop(int percent, int left) {
    int cx = 1024 * percent / 100, cy = 768 * percent / 100;
    sim::SetDpiScale(percent);
    const std::pair<int, int> metrics[] = {{SM_CXSCREEN, cx},        {SM_CYSCREEN, cy},
                                           {SM_XVIRTUALSCREEN, -left}, {SM_YVIRTUALSCREEN, 0},
                                           {SM_CXVIRTUALSCREEN, left + cx}, {SM_CYVIRTUALSCREEN, cy}};
    for (auto [index, value] : metrics) sim::SetMetric(index, value);
  }
  std::vector<EventRecord> Of(std::initializer_list<DWORD> kinds) const {
    std::vector<EventRecord> out;
    for (const EventRecord& e : Events())
      if (std::find(kinds.begin(), kinds.end(), e.message) != kinds.end()) out.push_back(e);
    return out;
  }
};

TEST_F(Capture, KeysComeInTheOrderPressedWithTheirOwnTimesAndShortTapsToo) {
  Start();
  sim::Advance(3);
  // A rollover 1 ms apart, inside one tick: S before A, as typed.
  Press({'S', 0x1F, false}, true);
  sim::Advance(1);
  Press({'A', 0x1E, false}, true);
  sim::Advance(1);
  Press({'S', 0x1F, false}, false);
  Press({'A', 0x1E, false}, false);
  sim::Advance(1);
  Press({'D', 0x20, false}, true);  // a 2 ms tap, between two ticks
  sim::Advance(2);
  Press({'D', 0x20, false}, false);
  sim::Advance(20);
  std::vector<EventRecord> keys = Of({WM_KEYDOWN, WM_KEYUP});
  ASSERT_EQ(keys.size(), 6u);
  const std::pair<DWORD, DWORD> want[] = {{WM_KEYDOWN, 'S'}, {WM_KEYDOWN, 'A'}, {WM_KEYUP, 'S'},
                                          {WM_KEYUP, 'A'},   {WM_KEYDOWN, 'D'}, {WM_KEYUP, 'D'}};
  const DWORD at[] = {3, 4, 5, 5, 6, 8};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(keys[i].message, want[i].first) << i;
    EXPECT_EQ(keys[i].paramL & 0xFF, want[i].second) << i;
    EXPECT_EQ(keys[i].time, at[i]) << i;
  }
  EXPECT_EQ(keys[1].paramL, 'A' + 0x1Eu * 256);
  EXPECT_EQ(keys[1].paramH, 0x1Eu | kKeyAsPressed);
}

// Both sides of the modifiers, the keypad with Num Lock on and off, and the
// navigation keys: recorded and played with the same code, scan code and
// extended bit.
TEST_F(Capture, EveryKeyPlaysBackExactlyAsItWasPressed) {
  const Pressed keys[] = {{VK_LSHIFT, 0x2A, false},   {VK_RSHIFT, 0x36, false},
                          {VK_LCONTROL, 0x1D, false}, {VK_RCONTROL, 0x1D, true},
                          {VK_LMENU, 0x38, false},    {VK_RMENU, 0x38, true},
                          {VK_LWIN, 0x5B, true},      {VK_RWIN, 0x5C, true},
                          {VK_RETURN, 0x1C, true},  // keypad Enter
                          {VK_RETURN, 0x1C, false},   {0x24, 0x47, false},
                          {0x24, 0x47, true},  // keypad and plain Home
                          {0x67, 0x47, false},        {0x2E, 0x53, false},
                          {0x2E, 0x53, true},  // keypad 7, Delete
                          {0x25, 0x4B, true},         {0x25, 0x4B, false},
                          {0x6F, 0x35, true}};  // arrows, keypad /
  Start();
  for (const Pressed& k : keys) {
    Press(k, true);
    sim::Advance(3);
    Press(k, false);
    sim::Advance(3);
  }
  Stop();
  PlayAll();
  std::vector<sim::Input> sent = Sent(sim::Input::Key);
  ASSERT_EQ(sent.size(), 2 * std::size(keys));
  for (size_t i = 0; i < sent.size(); ++i) {
    const Pressed& k = keys[i / 2];
    EXPECT_EQ(sent[i].vk, k.vk) << i;
    EXPECT_EQ(sent[i].scan, k.scan) << i;
    EXPECT_EQ(sent[i].flags,
              (k.extended ? KEYEVENTF_EXTENDEDKEY : 0u) | (i % 2 ? KEYEVENTF_KEYUP : 0u))
        << i;
  }
}

TEST_F(Capture, TheWheelBothWaysFineStepsAndTheXButtonsPlayWhereTheyWere) {
  Start();
  sim::SetCursorAt(410, 320);
  sim::UserMouse(WM_MOUSEWHEEL, -120);
  sim::Advance(4);
  sim::UserMouse(WM_MOUSEWHEEL, 30);  // a fine step of a smooth wheel
  sim::UserMouse(WM_MOUSEHWHEEL, 120);
  sim::Advance(15);
  sim::SetCursorAt(-300, 40);  // a monitor left of the primary one
  sim::UserMouse(WM_XBUTTONDOWN, 1);
  sim::UserMouse(WM_XBUTTONUP, 1);
  sim::UserMouse(WM_XBUTTONDOWN, 2);
  sim::UserMouse(WM_XBUTTONUP, 2);
  sim::Advance(15);
  Stop();
  std::vector<EventRecord> e = Of({WM_MOUSEWHEEL, WM_MOUSEHWHEEL, WM_XBUTTONDOWN, WM_XBUTTONUP});
  const EventRecord want[] = {
      {WM_MOUSEWHEEL, 410, 320, 0, (DWORD)-120}, {WM_MOUSEWHEEL, 410, 320, 0, 30},
      {WM_MOUSEHWHEEL, 410, 320, 0, 120},        {WM_XBUTTONDOWN, (DWORD)-300, 40, 0, 1},
      {WM_XBUTTONUP, (DWORD)-300, 40, 0, 1},     {WM_XBUTTONDOWN, (DWORD)-300, 40, 0, 2},
      {WM_XBUTTONUP, (DWORD)-300, 40, 0, 2}};
  ASSERT_EQ(e.size(), std::size(want));
  for (size_t i = 0; i < e.size(); ++i) {
    EXPECT_EQ(e[i].message, want[i].message) << i;
    EXPECT_EQ(e[i].paramL, want[i].paramL) << i;
    EXPECT_EQ(e[i].paramH, want[i].paramH) << i;
    EXPECT_EQ(e[i].hwnd, want[i].hwnd) << i;
  }
  // The mark that positions are physical, then the move the hook heard.
  EXPECT_EQ(Events()[1].message, (DWORD)kPhysicalMark);
  EXPECT_EQ(Events()[2].message, (DWORD)WM_MOUSEMOVE);

  sim::SetMetric(SM_XVIRTUALSCREEN, -1024);
  sim::SetMetric(SM_CXVIRTUALSCREEN, 2048);
  PlayAll();
  std::vector<sim::Input> mouse;
  for (const sim::Input& in : Sent(sim::Input::Mouse))
    if (!(in.flags & MOUSEEVENTF_MOVE)) mouse.push_back(in);
  const std::pair<DWORD, DWORD> played[] = {{MOUSEEVENTF_WHEEL, (DWORD)-120},
                                            {MOUSEEVENTF_WHEEL, 30},
                                            {MOUSEEVENTF_HWHEEL, 120},
                                            {MOUSEEVENTF_XDOWN, 1},
                                            {MOUSEEVENTF_XUP, 1},
                                            {MOUSEEVENTF_XDOWN, 2},
                                            {MOUSEEVENTF_XUP, 2}};
  ASSERT_EQ(mouse.size(), std::size(played));
  for (size_t i = 0; i < mouse.size(); ++i) {
    EXPECT_EQ(mouse[i].flags, played[i].first) << i;
    EXPECT_EQ(mouse[i].data, played[i].second) << i;
  }
  POINT at;
  GetCursorPos(&at);
  EXPECT_EQ(at.x, -300);
  EXPECT_EQ(at.y, 40);
}

// A 150 % primary monitor and a 100 % one left of it: every position is a
// physical pixel (no pixel lost to the scale, negative left of the primary),
// read in the per-monitor context where it is read, in our timer ticks too,
// and played onto that same pixel. With the hooks every move is the hook's
// own point; without them the ticks sample the cursor in the same pixels.
TEST_F(Capture, OnAScaledMixedDesktopEveryPositionIsPhysicalAndPlaysOnItsPixel) {
  for (bool hooks : {true, false}) {
    SCOPED_TRACE(hooks ? "hooks" : "ticks");
    ScaledDesktop(150, 1280);
    sim::SetHooksAvailable(hooks);
    sim::SetCursorAt(301, 451);
    Command(kCmdRecord);
    const POINT path[] = {{302, 451}, {303, 452}, {-1279, 1151}, {-1, 0}, {1535, 1}};
    for (POINT p : path) {
      sim::SetCursorAt(p.x, p.y);
      sim::Advance(hooks ? 1 : 10);
    }
    sim::UserMouse(WM_RBUTTONDOWN);
    sim::Advance(10);
    sim::UserMouse(WM_RBUTTONUP);
    sim::Advance(20);
    Command(kCmdRecord);
    std::vector<EventRecord> moves = Of({WM_MOUSEMOVE}), clicks = Of({WM_RBUTTONUP});
    ASSERT_EQ(moves.size(), std::size(path) + 1);
    EXPECT_EQ(Events()[1].message, (DWORD)kPhysicalMark);
    EXPECT_EQ(moves[0].paramL, 301u);
    for (size_t i = 0; i < std::size(path); ++i) {
      EXPECT_EQ((LONG)moves[i + 1].paramL, path[i].x) << i;
      EXPECT_EQ((LONG)moves[i + 1].paramH, path[i].y) << i;
    }
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].paramL, 1535u);
    sim::SetCursorAt(0, 0);
    PlayAll();
    std::vector<sim::Input> played;
    for (const sim::Input& in : Sent(sim::Input::Mouse))
      if (in.flags & MOUSEEVENTF_MOVE) played.push_back(in);
    ASSERT_EQ(played.size(), moves.size());
    for (size_t i = 0; i < moves.size(); ++i) {
      EXPECT_EQ(played[i].x, (LONG)moves[i].paramL) << i;
      EXPECT_EQ(played[i].y, (LONG)moves[i].paramH) << i;
    }
    EXPECT_FALSE(sim::PerMonitorAware());  // each context given back
  }
}

// A recording made before positions were physical (no mark) holds the
// pixels of a program that is not DPI-aware, and plays in them exactly as
// it always has, on a scaled display too.
TEST_F(Capture, ARecordingWithoutTheMarkPlaysInThePixelsItWasMadeIn) {
  std::vector<std::vector<sim::Input>> sent;
  for (int scale : {100, 150}) {
    ScaledDesktop(scale, 0);
    Use({Move(400, 300), At(WM_LBUTTONDOWN, 400, 300), At(WM_LBUTTONUP, 400, 300),
         Move(1023, 767)});
    PlayAll();
    sent.push_back(Sent(sim::Input::Mouse));
    POINT at;
    GetCursorPos(&at);
    EXPECT_EQ(at.x, 1023);
    EXPECT_EQ(at.y, 767);
  }
  ASSERT_EQ(sent[0].size(), sent[1].size());
  for (size_t i = 0; i < sent[0].size(); ++i) {
    EXPECT_EQ(sent[0][i].flags, sent[1][i].flags) << i;
    EXPECT_EQ(sent[0][i].dx, sent[1][i].dx) << i;
    EXPECT_EQ(sent[0][i].dy, sent[1][i].dy) << i;
  }
}

// The hook hears a click on our window before that click brings our window
// to the front: the window under the pointer tells it is ours.
TEST_F(Capture, TheClickOnOurOwnWindowThatStopsTheRecordingIsCut) {
  RECT r;
  GetWindowRect(main_, &r);
  sim::SetForeground((HWND)(uintptr_t)0x4242);  // another program is in front
  Start();
  Press({'K', 0x25, false}, true);
  Press({'K', 0x25, false}, false);
  sim::Advance(10);
  DWORD kept = gApp.eventCount;
  sim::SetCursorAt(r.left + 60, r.top + 30);  // onto our Record button
  sim::Advance(10);
  sim::UserMouse(WM_LBUTTONDOWN);
  Command(kCmdRecord);  // what the press on our button posts
  sim::UserMouse(WM_LBUTTONUP);
  EXPECT_EQ(sim::InstalledHooks(), 0);
  EXPECT_EQ(gApp.eventCount, kept + 1);  // the move onto our window stays; its click goes
  EXPECT_EQ(gApp.recordingBuffer[gApp.eventCount].message, 0u);
}

// Keys pressed on our own window are commands to us: F5 there stops the
// recording and plays it, and is no part of it.
TEST_F(Capture, KeysPressedOnOurOwnWindowAreCommandsNotRecorded) {
  Start();
  Press({'T', 0x14, false}, true);
  Press({'T', 0x14, false}, false);
  sim::SetForeground(main_);
  Press({VK_F5, 0x3F, false}, true);
  Command(kCmdPlay);  // what F5 on our window posts
  Press({VK_F5, 0x3F, false}, false);
  std::vector<EventRecord> keys = Of({WM_KEYDOWN, WM_KEYUP});
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[1].paramL & 0xFF, (DWORD)'T');
  for (int t = 0; t < 200 && (gApp.statusFlags & kBusy); t += 5) sim::Advance(5);
}

// The release of the click that started the recording, and of any key held
// since before it, is no part of the recording; a recording starts with a
// move, as a recording must, whatever comes first.
TEST_F(Capture, ARecordingStartsWithAMoveAndNoReleaseOfAnEarlierPress) {
  Press({'Z', 0x2C, false}, true);
  sim::UserMouse(WM_LBUTTONDOWN);  // the click on our Record button
  Start();
  sim::UserMouse(WM_MOUSEWHEEL, -120);
  sim::UserMouse(WM_LBUTTONUP);
  Press({'Z', 0x2C, false}, false);
  Press({'Q', 0x10, false}, true);
  Press({'Q', 0x10, false}, false);
  sim::Advance(30);
  Stop();
  std::vector<EventRecord> e = Events();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].message, (DWORD)WM_MOUSEMOVE);
  EXPECT_EQ(e[1].message, (DWORD)kPhysicalMark);
  EXPECT_EQ(e[2].message, (DWORD)WM_MOUSEWHEEL);
  EXPECT_EQ(e[3].paramL & 0xFF, (DWORD)'Q');
  EXPECT_EQ(e[4].paramL & 0xFF, (DWORD)'Q');
}

// Started by its hotkey (held, repeating), with a click on our title bar,
// stopped each way: a stop cuts only what stopped it. Neither end has a key
// of the hotkeys, nor Ctrl+Break's Ctrl; only the click on the red ball goes.
TEST_F(Capture, AStopCutsOnlyWhatStoppedItAndAHotkeyLeavesNoTrace) {
  RECT r;
  GetWindowRect(main_, &r);
  RegisterHotkeys();
  // The last hotkey's chord is let go before our window hears the hotkey, as
  // under Wine, where the program in front takes the key first.
  const std::pair<std::vector<int>, bool> stops[] = {
      {{VK_PAUSE}, false}, {{VK_LCONTROL, VK_CANCEL}, false}, {kRecordHotkey, false},
      {kRecordHotkey, true}, {{}, false}};
  for (const auto& [stop, letGo] : stops) {
    UserKeys(kRecordHotkey, true);
    sim::Pump();
    sim::UserKey(0x75, 1, false, true);  // a repeat
    UserKeys(kRecordHotkey, false);
    for (bool down : {true, false}) Press({'K', 0x25, false}, down);
    sim::SetCursorAt(r.left + 100, r.top + 3);  // our title bar
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP}) sim::UserMouse(m);
    sim::Advance(20);
    sim::SetCursorAt(r.left + 55, r.bottom - 10);  // the red ball, for the last stop
    sim::Advance(20);
    UserKeys(stop, true);
    if (letGo) UserKeys(stop, false);
    if (stop.empty())
      sim::UserMouse(WM_LBUTTONDOWN), sim::UserMouse(WM_LBUTTONUP), Command(kCmdRecord);
    sim::Pump();
    ASSERT_FALSE(sim::TimerExists(main_, kTimerRecord));
    std::vector<std::pair<DWORD, DWORD>> got;
    for (const EventRecord& e : Events())
      if (e.message != WM_MOUSEMOVE && e.message != kPhysicalMark)
        got.push_back({e.message, e.hwnd ? e.hwnd : e.paramL & 0xFF});
    EXPECT_EQ(got, (std::vector<std::pair<DWORD, DWORD>>{{WM_KEYDOWN, 'K'},
                                                         {WM_KEYUP, 'K'},
                                                         {WM_LBUTTONDOWN, (DWORD)(uintptr_t)main_},
                                                         {WM_LBUTTONUP, (DWORD)(uintptr_t)main_}}))
        << stop.size() << letGo;
    EXPECT_EQ(Events().back().paramL, (DWORD)r.left + 55);  // the moves stay
    if (!letGo) UserKeys(stop, false);
  }
}

// A run its hotkey starts waits for the chord to be let go: released for the
// user at once, the keys would come back down under Wine, which follows the
// keyboard itself, and the program in front would get them.
TEST_F(Capture, ARunItsHotkeyStartsWaitsForTheChordToBeLetGo) {
  RegisterHotkeys();
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 10)});
  sim::ClearInputs();
  UserKeys(kPlayHotkey, true);
  sim::Advance(200);
  EXPECT_TRUE(gApp.statusFlags & kBusy);
  EXPECT_TRUE(Sent(sim::Input::Key).empty()) << "nothing sent, nothing released, while it is held";
  UserKeys(kPlayHotkey, false);
  sim::Advance(100);
  std::vector<int> vks;
  for (const sim::Input& in : Sent(sim::Input::Key)) vks.push_back(in.vk);
  EXPECT_EQ(vks, (std::vector<int>{'K', 'K'}));
}

TEST_F(Capture, PauseStopsTheRecordingUnrecordedAndReleasesWhatIsHeld) {
  Start();
  Press({VK_LSHIFT, 0x2A, false}, true);
  Press({VK_RETURN, 0x1C, true}, true);  // keypad Enter
  sim::Advance(5);
  Press({VK_PAUSE, 0x45, false}, true);
  EXPECT_EQ(sim::InstalledHooks(), 0);  // nothing more is heard
  sim::ClearInputs();
  sim::Pump();
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(Title(), "Kavorin");
  std::vector<EventRecord> keys = Of({WM_KEYDOWN, WM_KEYUP});
  ASSERT_EQ(keys.size(), 2u);  // Shift and keypad Enter down; no Pause
  EXPECT_FALSE(sim::KeyDown(VK_LSHIFT));
  ASSERT_EQ(Sent(sim::Input::Key)[0].vk, VK_RETURN);  // released as keypad Enter
  EXPECT_EQ(Sent(sim::Input::Key)[0].flags, KEYEVENTF_KEYUP | KEYEVENTF_EXTENDEDKEY);
  EXPECT_FALSE(sim::KeyDown(VK_PAUSE));
  EXPECT_TRUE(Sent(sim::Input::KeyboardState).size() == 1u);  // released through ReleaseAllKeys
  sim::Advance(30);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));  // not started again
}

// A lock key is recorded as pressed: its press, repeats and release, each
// saying whether the lock is on, and played so, the press as long as it was.
// The lock still ends as recorded when the playback finds it on already.
TEST_F(Capture, LocksAreRecordedAsPressedAndEndAsRecorded) {
  Start();
  Press({VK_CAPITAL, 0x3A, false}, true);
  sim::Advance(25);
  Press({VK_CAPITAL, 0x3A, false}, true);  // held: a repeat
  sim::Advance(25);
  Press({VK_CAPITAL, 0x3A, false}, false);
  Press({'W', 0x11, false}, true);
  Press({'W', 0x11, false}, true);
  Press({'W', 0x11, false}, false);
  sim::Advance(30);
  Stop();
  std::vector<std::pair<DWORD, DWORD>> got;
  for (const EventRecord& k : Of({WM_KEYDOWN, WM_KEYUP})) got.push_back({k.message, k.paramH});
  const DWORD caps = 0x3A | kKeyAsPressed | kLockOn, w = 0x11 | kKeyAsPressed;
  EXPECT_EQ(got, (std::vector<std::pair<DWORD, DWORD>>{{WM_KEYDOWN, caps},
                                                       {WM_KEYDOWN, caps},
                                                       {WM_KEYUP, caps},
                                                       {WM_KEYDOWN, w},
                                                       {WM_KEYDOWN, w},
                                                       {WM_KEYUP, w}}));
  for (bool onBefore : {false, true}) {
    sim::SetToggle(VK_CAPITAL, onBefore);
    PlayAll();
    EXPECT_TRUE(sim::LockOn(VK_CAPITAL)) << onBefore;
    std::vector<sim::Input> sent;
    for (const sim::Input& in : Sent(sim::Input::Key))
      if (in.vk == VK_CAPITAL) sent.push_back(in);
    // The release of what reads as held at the start may come first; then a
    // tap where the lock was on already, and the press as recorded.
    size_t at = !sent.empty() && sent[0].flags == KEYEVENTF_KEYUP;
    ASSERT_GE(sent.size(), at + (onBefore ? 5 : 3));
    if (onBefore) EXPECT_EQ(sent[at + 1].flags, KEYEVENTF_KEYUP);
    const sim::Input* press = &sent[at + (onBefore ? 2 : 0)];
    EXPECT_EQ(press[2].time - press[0].time, 50u) << onBefore;  // held as long as it was
    EXPECT_EQ(press[2].flags, KEYEVENTF_KEYUP);
  }
}

// Every move the hook hears is a record at its own millisecond, two in one
// millisecond too, and a move to where the last one went is not written
// twice. One input that moves and presses is pressed where it moved to. A
// place no hook heard the pointer go to is recorded from the ticks.
TEST_F(Capture, EveryMoveIsARecordAndAPressIsWhereItsInputPutIt) {
  Start();
  const struct {
    int x, y;
    DWORD after;
  } path[] = {{301, 200, 1}, {302, 201, 0}, {303, 201, 1}, {303, 201, 1}, {310, 205, 1}};
  for (auto p : path) {
    sim::SetCursorAt(p.x, p.y);
    sim::Advance(p.after);
  }
  sim::UserMouseAt(400, 300, WM_LBUTTONDOWN);
  sim::UserMouseAt(420, 310, WM_LBUTTONUP);
  sim::Advance(20);
  sim::DropHooks();
  sim::SetCursorAt(500, 400);
  sim::Advance(30);
  Stop();
  std::vector<EventRecord> e = Events();
  ASSERT_FALSE(e.empty());
  EXPECT_EQ(e.back().message, (DWORD)WM_MOUSEMOVE);
  EXPECT_EQ(e.back().paramL, 500u);
  e.pop_back();
  const EventRecord want[] = {{WM_MOUSEMOVE, 300, 200, 0, 0}, {kPhysicalMark, 0, 0, 0, 0},
                              {WM_MOUSEMOVE, 301, 200, 0, 0}, {WM_MOUSEMOVE, 302, 201, 1, 0},
                              {WM_MOUSEMOVE, 303, 201, 1, 0}, {WM_MOUSEMOVE, 310, 205, 3, 0},
                              {WM_MOUSEMOVE, 400, 300, 4, 0}, {WM_LBUTTONDOWN, 400, 300, 4, 0},
                              {WM_MOUSEMOVE, 420, 310, 4, 0}, {WM_LBUTTONUP, 420, 310, 4, 0}};
  ASSERT_EQ(e.size(), std::size(want));
  for (size_t i = 0; i < e.size(); ++i) {
    EXPECT_EQ(e[i].message, want[i].message) << i;
    EXPECT_EQ(e[i].paramL, want[i].paramL) << i;
    EXPECT_EQ(e[i].paramH, want[i].paramH) << i;
    EXPECT_EQ(e[i].time - e[0].time, want[i].time) << i;
  }
}

// A key remapper's hook, older than ours, takes Caps Lock away and sends
// left Ctrl instead: the recording holds what reached the system, left Ctrl
// alone, and the watchdog sees nothing missing. A bulk of 1,400 events
// between two ticks is kept whole, and so are characters typed as themselves,
// which play as the same characters.
HHOOK gRemapper;
LRESULT CALLBACK Remapper(int code, WPARAM wParam, LPARAM lParam) {
  auto* k = (const KBDLLHOOKSTRUCT*)lParam;
  if (k->vkCode != VK_CAPITAL) return CallNextHookEx(gRemapper, code, wParam, lParam);
  keybd_event(VK_LCONTROL, 0x1D, wParam == WM_KEYUP ? KEYEVENTF_KEYUP : 0, 0);
  return 1;
}

TEST_F(Capture, OnlyWhatReachesTheSystemIsKeptBulksAndTypedTextToo) {
  gRemapper = SetWindowsHookExA(WH_KEYBOARD_LL, Remapper, nullptr, 0);
  Command(kCmdRecord);
  Press({VK_CAPITAL, 0x3A, false}, true);
  sim::Advance(30);
  Press({VK_CAPITAL, 0x3A, false}, false);
  sim::Advance(30);
  for (int i = 0; i < 700; ++i) {
    Press({'B', 0x30, false}, true);
    Press({'B', 0x30, false}, false);
  }
  const wchar_t text[] = L"h\u00e9\u20ac";
  INPUT in[2 * 3] = {};
  for (int i = 0; i < 6; ++i)
    in[i] = {INPUT_KEYBOARD, {}}, in[i].ki.wScan = text[i / 2],
    in[i].ki.dwFlags = KEYEVENTF_UNICODE | (i % 2 ? KEYEVENTF_KEYUP : 0);
  SendInput(6, in, sizeof in[0]);
  sim::Advance(30);
  Command(kCmdRecord);
  UnhookWindowsHookEx(gRemapper);
  EXPECT_EQ(sim::HookInstalls(), 3);  // the remapper's and ours, never put back
  std::vector<EventRecord> keys = Of({WM_KEYDOWN, WM_KEYUP, kTypedChar});
  ASSERT_EQ(keys.size(), 2 + 1400 + 3u);
  EXPECT_EQ(keys[0].paramL, VK_LCONTROL + 0x1Du * 256);
  EXPECT_EQ(keys[1].message, (DWORD)WM_KEYUP);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(keys[1402 + i].paramL, (DWORD)text[i]) << i;
  PlayAll();
  std::vector<DWORD> typed;
  for (const sim::Input& k : Sent(sim::Input::Key))
    if (k.flags & KEYEVENTF_UNICODE) typed.push_back(k.data);
  EXPECT_EQ(typed, (std::vector<DWORD>{'h', 'h', 0xE9, 0xE9, 0x20AC, 0x20AC}));
}

// With the buttons swapped for a left hand, a held button is no missed
// event, whichever way the hooks name it.
TEST_F(Capture, SwappedButtonsHeldAreNoMissedEventEitherWay) {
  for (bool hooksNameSwapped : {false, true}) {
    sim::SetSwappedButtons(true, hooksNameSwapped);
    int installs = sim::HookInstalls();
    Start();
    sim::UserMouse(WM_LBUTTONDOWN);
    sim::Advance(50);
    sim::UserMouse(WM_LBUTTONUP);
    sim::Advance(20);
    Stop();
    EXPECT_EQ(sim::HookInstalls(), installs + 2) << hooksNameSwapped;
    EXPECT_EQ(Of({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP}).size(), 2u)
        << hooksNameSwapped;
  }
}

// Windows drops a hook that kept input waiting too long and says nothing.
// The ticks see the key state the hooks missed, record it, and put the
// hooks back; where none can be had, the ticks sample as they always have.
TEST_F(Capture, HooksThatGoSilentArePutBackAndNothingIsLost) {
  Start();
  // Not missed: a key a tick sees before its event reaches the hook (one
  // look; it takes two in a row), nor the plain Shift the hooks never name.
  Press({VK_LSHIFT, 0x2A, false}, true);
  sim::SetKeyDown('N', true);
  sim::Advance(10);
  Press({'N', 0x31, false}, true);
  sim::Advance(30);
  EXPECT_EQ(sim::HookInstalls(), 2);
  sim::DropHooks();
  sim::SetKeyDown('M', true);  // heard by nobody
  sim::SetKeyDown(VK_RBUTTON, true);
  sim::Advance(30);
  EXPECT_EQ(sim::InstalledHooks(), 2);
  EXPECT_EQ(sim::HookInstalls(), 4);
  std::vector<EventRecord> e = Of({WM_KEYDOWN, WM_RBUTTONDOWN});
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].paramL & 0xFF, (DWORD)VK_LSHIFT);
  EXPECT_EQ(e[1].paramH, 0x31u | kKeyAsPressed);   // from the hook
  EXPECT_EQ(e[2].message, (DWORD)WM_RBUTTONDOWN);  // lowest code first
  EXPECT_EQ(e[3].paramL, 'M' + 0x32u * 256);
  EXPECT_EQ(e[3].paramH, 0x32u);  // as sampled: the key's usual scan code
  // The new hooks hear what follows.
  Press({'M', 0x32, false}, false);
  sim::UserMouse(WM_RBUTTONUP);
  sim::Advance(30);
  EXPECT_EQ(Of({WM_KEYUP, WM_RBUTTONUP}).size(), 2u);
  EXPECT_EQ(sim::HookInstalls(), 4);  // and nothing more was missed
  Stop();
}

// The desktop's input waits for the hooks' thread: nothing that may wait
// long runs under them. The website, Save and Compile end the recording;
// Open takes the hooks out, and puts them back when its file is refused.
TEST_F(Capture, NoCommandWaitsOnFilesOrTheShellWhileTheHooksAreIn) {
  for (UINT id : {kCmdWebsite, kCmdSave, kCmdCompile, kCmdOpen}) {
    Start();
    sim::PushFileChoice("C:\\take.exe");  // Open: not a recording
    Command(id, 1);
    EXPECT_EQ(sim::WaitsUnderHooks(), 0) << id;
    EXPECT_EQ(sim::InstalledHooks(), id == kCmdOpen ? 2 : 0) << id;
    if (id == kCmdOpen) Stop();
  }
  EXPECT_EQ(sim::ShellCalls().size(), 1u);
  EXPECT_TRUE(Exists("take.exe.rec") && Exists("take.exe"));
}

TEST_F(Capture, WithoutHooksTheTicksSampleAndTheRecordingStillWorks) {
  sim::SetHooksAvailable(false);
  Command(kCmdRecord);
  EXPECT_TRUE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(sim::InstalledHooks(), 0);
  sim::SetKeyDown('H', true);
  sim::Advance(10);
  sim::SetKeyDown('H', false);
  sim::Advance(10);
  Command(kCmdRecord);
  EXPECT_EQ(Of({WM_KEYDOWN, WM_KEYUP}).size(), 2u);
}

// No recording runs while we play, so what playback sends is never
// recorded; and the hooks go with every way a recording ends.
TEST_F(Capture, OurOwnPlaybackIsNeverRecordedAndTheHooksGoWithEveryEnd) {
  Start();
  Press({'P', 0x19, false}, true);
  Press({'P', 0x19, false}, false);
  sim::Advance(15);
  DWORD recorded = gApp.eventCount;
  Command(kCmdPlay);  // stops the recording first
  EXPECT_EQ(sim::InstalledHooks(), 0);
  for (int t = 0; t < 200 && (gApp.statusFlags & kBusy); t += 5) sim::Advance(5);
  ASSERT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_EQ(gApp.eventCount, recorded);
  EXPECT_GT(Sent(sim::Input::Key).size(), 0u);

  Start();
  sim::FailAlloc(1000);
  for (DWORD i = 0; i < Capacity(gApp.recordingBuffer) / 2 + 10;
       ++i) {  // fills the block: it cannot grow
    Press({'P', 0x19, false}, true);
    Press({'P', 0x19, false}, false);
  }
  sim::Advance(10);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(sim::InstalledHooks(), 0);
  EXPECT_EQ(gApp.eventCount, Capacity(gApp.recordingBuffer) - 1);  // full, and ended
  sim::FailAlloc(0);
  EXPECT_EQ(sim::Boxes().size(), 1u);

  Start();
  DestroyWindow(main_);  // closed while recording
  EXPECT_EQ(sim::InstalledHooks(), 0);
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
