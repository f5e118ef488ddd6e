// Playback: what each record makes the player send, its timing, fast mode,
// the break key, and series of runs.
#include "desk.h"
#include "files/recfile.h"
#include "play/player.h"

using namespace win;

namespace {

class Player : public WindowDesk {
 protected:
  std::vector<UINT> PlayTimerDelays() const {
    std::vector<UINT> out;
    for (const sim::TimerCall& c : sim::TimerCalls())
      if (c.set && c.id == kTimerPlay) out.push_back(c.ms);
    return out;
  }
};

TEST_F(Player, EachKindMakesExactlyItsCall) {
  Use({Key(WM_KEYDOWN, 'A'), Key(WM_KEYUP, 'A'), Move(512, 384), At(WM_LBUTTONDOWN, 512, 384),
       At(WM_LBUTTONUP, 512, 384), At(WM_RBUTTONDOWN, 512, 384), At(WM_RBUTTONUP, 512, 384),
       At(WM_MBUTTONDOWN, 512, 384), At(WM_MBUTTONUP, 512, 384), Button(0x203), Button(0x102)});
  PlayAll();
  // Nothing is held before or after the run, so only the records speak.
  std::vector<sim::Input> keys = Sent(sim::Input::Key), mouse = Sent(sim::Input::Mouse);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].vk, 'A');
  EXPECT_EQ(keys[0].scan, 0x1E);
  EXPECT_EQ(keys[0].flags, 0u);
  EXPECT_EQ(keys[1].flags, KEYEVENTF_KEYUP);
  ASSERT_EQ(mouse.size(), 7u);
  EXPECT_EQ(mouse[0].flags, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK);
  // Rounded up: the system's truncating conversion back gives the pixel itself.
  EXPECT_EQ(mouse[0].dx, 512u * 65536u / 1024u);
  EXPECT_EQ(mouse[0].dy, 384u * 65536u / 768u);
  EXPECT_EQ(mouse[1].flags, MOUSEEVENTF_LEFTDOWN);
  EXPECT_EQ(mouse[2].flags, MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(mouse[3].flags, MOUSEEVENTF_RIGHTDOWN);
  EXPECT_EQ(mouse[4].flags, MOUSEEVENTF_RIGHTUP);
  EXPECT_EQ(mouse[5].flags, MOUSEEVENTF_MIDDLEDOWN);
  EXPECT_EQ(mouse[6].flags, MOUSEEVENTF_MIDDLEUP);
  for (int i = 1; i < 7; ++i) EXPECT_EQ(mouse[i].dx + mouse[i].dy, 0u);
  // The buttons found the cursor where they were recorded: no move of their own.
  std::vector<sim::Input> pos = Sent(sim::Input::CursorPos);
  ASSERT_EQ(pos.size(), 1u);
  EXPECT_EQ(pos[0].x, 512);
  EXPECT_EQ(pos[0].y, 384);
  EXPECT_EQ(gApp.clickPlayed, 1);
  EXPECT_EQ(gApp.leftHeld, 0);
  EXPECT_FALSE(sim::KeyDown(VK_MBUTTON));
}

TEST_F(Player, RightHandCtrlAndAltPlayAsTheRightHandKeys) {
  sim::SetInputFeedback(false);
  Use({Key(WM_KEYDOWN, 0xA3), Key(WM_KEYUP, 0xA3), Key(WM_KEYDOWN, 0xA5), Key(WM_KEYUP, 0xA5),
       Key(WM_KEYDOWN, 0xA2), Key(WM_KEYDOWN, 0xA4)});
  PlayAll();
  std::vector<sim::Input> keys = Sent(sim::Input::Key);
  ASSERT_EQ(keys.size(), 6u);
  EXPECT_EQ(keys[0].flags, KEYEVENTF_EXTENDEDKEY);  // right Ctrl
  EXPECT_EQ(keys[1].flags, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
  EXPECT_EQ(keys[2].flags, KEYEVENTF_EXTENDEDKEY);  // right Alt (AltGr)
  EXPECT_EQ(keys[3].flags, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
  EXPECT_EQ(keys[4].flags, 0u);  // the left-hand ones stay plain
  EXPECT_EQ(keys[5].flags, 0u);
}

// Sampled recordings name a modifier twice, the plain code and later its
// side: one press each, of the recorded side. A sided record alone, as a
// hand-written text may have it, is a press of its own.
TEST_F(Player, OlderRecordingsPlayEachModifierPressOnceOnItsSide) {
  sim::SetInputFeedback(false);
  Use({Key(WM_KEYDOWN, VK_SHIFT), Key(WM_KEYDOWN, VK_RSHIFT), Key(WM_KEYUP, VK_SHIFT),
       Key(WM_KEYUP, VK_RSHIFT),  // right Shift
       Key(WM_KEYDOWN, VK_CONTROL), Key(WM_KEYDOWN, 'A'), Key(WM_KEYDOWN, VK_LCONTROL),
       Key(WM_KEYUP, 'A'), Key(WM_KEYUP, VK_CONTROL), Key(WM_KEYUP, VK_LCONTROL),  // left Ctrl+A
       Key(WM_KEYDOWN, VK_MENU), Key(WM_KEYDOWN, VK_RMENU), Key(WM_KEYUP, VK_MENU),
       Key(WM_KEYUP, VK_RMENU),                             // right Alt
       Key(WM_KEYDOWN, VK_SHIFT), Key(WM_KEYUP, VK_SHIFT),  // left Shift: never sided
       Key(WM_KEYDOWN, VK_RCONTROL), Key(WM_KEYUP, VK_RCONTROL)});
  PlayAll();
  std::vector<std::pair<int, DWORD>> got;
  for (const sim::Input& in : Sent(sim::Input::Key)) got.push_back({in.vk, in.flags});
  const DWORD up = KEYEVENTF_KEYUP, ext = KEYEVENTF_EXTENDEDKEY;
  EXPECT_EQ(got, (std::vector<std::pair<int, DWORD>>{{VK_RSHIFT, 0},
                                                     {VK_RSHIFT, up},
                                                     {VK_LCONTROL, 0},
                                                     {'A', 0},
                                                     {'A', up},
                                                     {VK_LCONTROL, up},
                                                     {VK_RMENU, ext},
                                                     {VK_RMENU, ext | up},
                                                     {VK_LSHIFT, 0},
                                                     {VK_LSHIFT, up},
                                                     {VK_RCONTROL, ext},
                                                     {VK_RCONTROL, ext | up}}));
}

TEST_F(Player, ExtendedKeysCarryTheFlagOnDownAndUp) {
  sim::SetInputFeedback(false);
  Use({Key(WM_KEYDOWN, 0x25), Key(WM_KEYUP, 0x25), Key(WM_KEYDOWN, VK_CONTROL),
       Key(WM_KEYUP, VK_CONTROL)});
  PlayAll();
  std::vector<sim::Input> keys = Sent(sim::Input::Key);
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[0].flags, KEYEVENTF_EXTENDEDKEY);
  EXPECT_EQ(keys[1].flags, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
  EXPECT_EQ(keys[0].scan, 0x4B);  // recomputed from the key, not read from the record
  // A plain Ctrl with no side recorded after it is the left one, not extended.
  EXPECT_EQ(keys[2].vk, VK_LCONTROL);
  EXPECT_EQ(keys[2].flags, 0u);
}

TEST_F(Player, EachRecordPlaysWhenTheRunsClockSays) {
  // Equal times play together; a time below its predecessor's plays at once.
  Use({Move(1, 1, 1000), Move(2, 2, 1010), Move(3, 3, 1026), Move(4, 4, 1026), Move(5, 5, 1226),
       Move(6, 6, 900), Move(7, 7, 930)});
  PlayAll();
  std::vector<sim::Input> pos = Sent(sim::Input::CursorPos);
  ASSERT_EQ(pos.size(), 7u);
  std::vector<DWORD> at;
  for (const sim::Input& in : pos) at.push_back(in.time - pos[0].time);
  EXPECT_EQ(at, (std::vector<DWORD>{0, 10, 26, 26, 226, 226, 256}));
  for (UINT delay : PlayTimerDelays()) EXPECT_LE(delay, 50u);  // Pause is looked at meanwhile
  EXPECT_EQ(Title(), "Kavorin");
  EXPECT_EQ(gApp.eventCursor, 7u);  // left on the terminator
}

TEST_F(Player, SixtySecondsOfMovesPlayInSixtySecondsAtEitherTimerPeriod) {
  // Timers that fire only on the system timer's ticks: Wine's 10 ms, and the
  // 15.625 ms Windows ticks at unless a program asks for less.
  for (DWORD period : {10000u, 15625u}) {
    sim::SetTimerGranularity(period);
    std::vector<EventRecord> r;
    for (DWORD i = 0; i < 6000; ++i) r.push_back(Move(1 + i % 1000, 1 + i / 1000, 5000 + 10 * i));
    Use(r);
    PlayAll(70000);
    std::vector<sim::Input> pos = Sent(sim::Input::CursorPos);
    ASSERT_EQ(pos.size(), 6000u) << period;
    DWORD start = pos[0].time, late = 0;
    for (DWORD i = 0; i < 6000; ++i) {
      ASSERT_EQ(pos[i].x, (int)(1 + i % 1000)) << "in order, at " << i;
      ASSERT_GE(pos[i].time - start, 10 * i) << "never early, at " << i;
      late = std::max(late, pos[i].time - start - 10 * i);
    }
    // No lateness adds up: each move, the last one too, within one period
    // (in the simulated clock's whole milliseconds).
    DWORD whole = (period + 999) / 1000;
    EXPECT_LE(late, whole) << period;
    EXPECT_LE(pos.back().time - start - 59990, whole) << period;
  }
}

TEST_F(Player, GapsShorterThanATimerCanWaitPlayOnTime) {
  // 7 ms apart: each is slept for inside a step, and a step that hands over
  // to the next leaves the following record to a timer that cannot wait less
  // than 10 ms: that record is at most the 3 ms difference late, never a whole
  // timer period, and the lateness does not add up.
  std::vector<EventRecord> r;
  for (DWORD i = 0; i < 200; ++i) r.push_back(Move(1 + i, 1, 5000 + 7 * i));
  Use(r);
  PlayAll();
  std::vector<sim::Input> pos = Sent(sim::Input::CursorPos);
  ASSERT_EQ(pos.size(), 200u);
  for (DWORD i = 0; i < 200; ++i) {
    ASSERT_GE(pos[i].time - pos[0].time, 7 * i) << "never early, at " << i;
    ASSERT_LE(pos[i].time - pos[0].time, 7 * i + 3) << "at most 3 ms late, at " << i;
  }
}

TEST_F(Player, FastModeThinsMovesWithTheButtonUpButPlaysDrags) {
  gApp.fastSpeed = 1;
  std::vector<EventRecord> r;
  r.push_back(Key(WM_KEYDOWN, 'K'));                         // 0
  for (DWORD i = 1; i <= 14; ++i) r.push_back(Move(i, i));   // 1..14
  r.push_back(At(WM_LBUTTONDOWN, 14, 14));                   // 15
  for (DWORD i = 16; i <= 19; ++i) r.push_back(Move(i, i));  // a drag
  r.push_back(At(WM_LBUTTONUP, 19, 19));                     // 20
  Use(r);
  PlayAll();
  std::vector<int> xs;
  for (const sim::Input& in : Sent(sim::Input::CursorPos)) xs.push_back(in.x);
  // After the key: only moves 6 and 12 (multiples of 6) and 14, the last of the run.
  EXPECT_EQ(xs, (std::vector<int>{6, 12, 14, 16, 17, 18, 19}));
  std::vector<UINT> delays = PlayTimerDelays();
  // The 75 ms pause after the moves comes in two waits, Pause looked at between them.
  EXPECT_EQ(delays, (std::vector<UINT>{25, 50, 25, 1, 1, 1, 1, 1}));
  EXPECT_EQ(sim::SleptMs(), 3u + 250u);  // one 1 ms sleep per thinned move, then the click wait
}

TEST_F(Player, TheFirstMoveOfAStepAlwaysPlays) {
  gApp.fastSpeed = 1;
  sim::SetInputFeedback(false);
  std::vector<EventRecord> r;
  for (DWORD i = 0; i < 9; ++i) r.push_back(Move(i + 1, 1));
  Use(r);
  PlayAll();
  std::vector<int> xs;
  for (const sim::Input& in : Sent(sim::Input::CursorPos)) xs.push_back(in.x);
  EXPECT_EQ(xs, (std::vector<int>{1, 7, 9}));  // index 0 by the step, 6, and the last (8)
}

TEST_F(Player, LeftHeldCarriesOverABrokenOffRun) {
  Use({Button(WM_LBUTTONDOWN, 0), Move(5, 5, 1000), Move(6, 6, 2000)});
  Command(kCmdPlay);
  sim::Advance(30);  // the press plays
  EXPECT_EQ(gApp.leftHeld, 1);
  sim::Tap(VK_PAUSE);
  sim::Advance(2000);
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_EQ(gApp.leftHeld, 1);
  // The next fast run thins nothing until a button record plays.
  gApp.fastSpeed = 1;
  sim::SetInputFeedback(false);
  Use({Key(WM_KEYDOWN, 'K'), Move(1, 1), Move(2, 2), Move(3, 3)});
  PlayAll();
  EXPECT_EQ(Sent(sim::Input::CursorPos).size(), 3u);
}

TEST_F(Player, TheDoubleClickWaitComesOnlyAfterAClickAndNeverAfterABreak) {
  sim::SetDoubleClickTime(400);
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 10)});
  PlayAll();
  EXPECT_EQ(sim::SleptMs(), 0u);
  Use({Button(WM_LBUTTONDOWN, 0), Button(WM_LBUTTONUP, 10)});
  PlayAll();
  EXPECT_EQ(sim::SleptMs(), 200u);
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 10)});  // no click in this run
  PlayAll();
  EXPECT_EQ(sim::SleptMs(), 400u);
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 5000)});
  Command(kCmdPlay);
  sim::Advance(100);
  sim::SetKeyDown(VK_PAUSE, true);
  sim::Advance(6000);
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_EQ(sim::SleptMs(), 400u);
}

TEST_F(Player, APauseTappedBetweenStepsBreaksTheRun) {
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 500), Key(WM_KEYDOWN, 'L', 1000)});
  Command(kCmdPlay);
  sim::Advance(100);
  sim::Tap(VK_PAUSE);  // down and up again before the next step
  sim::Advance(2000);
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_EQ(Title(), "Kavorin");
  EXPECT_EQ(gApp.loopCounter, 0);
  EXPECT_EQ(gApp.eventCursor, 1u);
  EXPECT_EQ(gApp.eventCount, 3u);  // Save would still write everything
}

TEST_F(Player, APauseSeenInsideTheFastLoopBreaksTheRun) {
  gApp.fastSpeed = 1;
  std::vector<EventRecord> r = {Key(WM_KEYDOWN, 'K')};
  for (DWORD i = 1; i <= 60; ++i) r.push_back(Move(i, i));
  Use(r);
  Command(kCmdPlay);
  sim::After(26, [] { sim::Tap(VK_PAUSE); });  // during the loop's first 1 ms sleep
  sim::Advance(200);
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_LT(gApp.eventCursor, 20u);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerPlay));
}

TEST_F(Player, BothReportsCarryTheirHighWord) {
  Use({Key(WM_KEYDOWN, 'K', 0)});
  gApp.lastCommand = kCmdPlay;
  gApp.eventCursor = 0;
  PlaybackStep(main_, kTimerPlay);
  std::vector<MSG> q = sim::Queue();
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].wParam, 0x18003u);
  EXPECT_EQ(q[0].lParam, 1);
  sim::Pump();
  gApp.lastCommand = kCmdPlay;
  sim::SetKeyDown(VK_PAUSE, true);
  PlaybackStep(main_, kTimerPlay);
  q = sim::Queue();
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].wParam, 0x28003u);
  EXPECT_EQ(q[0].lParam, 2);
  sim::Pump();
  gApp.lastCommand = 0;  // nobody to report to
  PlaybackStep(main_, kTimerPlay);
  EXPECT_TRUE(sim::Queue().empty());
}

TEST_F(Player, NothingRecordedSaysSo) {
  Command(kCmdPlay);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].text, kNothingRecorded);
  EXPECT_EQ(sim::Boxes()[0].caption, "Kavorin");
  EXPECT_EQ(sim::Boxes()[0].style, kInfoBox);
  EXPECT_EQ(gApp.lastCommand, (DWORD)kCmdPlay);
  EXPECT_FALSE(sim::TimerExists(main_, kTimerPlay));
}

TEST_F(Player, ARepeatCountOfThreeRunsThreeTimesWithNumberedTitles) {
  gApp.repeatCount = 3;
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 10)});
  PlayAll();
  std::vector<std::string> titles;
  for (const std::string& t : sim::Window(main_)->titles)
    if (t.rfind("{Break}", 0) == 0) titles.push_back(t);
  EXPECT_EQ(titles, (std::vector<std::string>{"{Break} to end: 1", "{Break} to end: 2",
                                              "{Break} to end: 3"}));
  EXPECT_EQ(Title(), "Kavorin");
  EXPECT_EQ(gApp.loopCounter, 0);
  EXPECT_EQ(Sent(sim::Input::Key).size(), 6u);
}

TEST_F(Player, CountsOfZeroOneAndNegativeGiveOneRun) {
  for (int count : {0, 1, -5}) {
    gApp.repeatCount = count;
    Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 10)});
    size_t before = sim::Window(main_)->titles.size();
    PlayAll();
    std::vector<std::string> t(sim::Window(main_)->titles.begin() + before,
                               sim::Window(main_)->titles.end());
    EXPECT_EQ(t, (std::vector<std::string>{"{Break} to end", "Kavorin"})) << count;
  }
}

TEST_F(Player, ContinuousPlaybackRunsUntilPause) {
  gApp.continuousPlayback = 1;
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 10)});
  Command(kCmdPlay);
  sim::Advance(1000);
  EXPECT_TRUE(gApp.statusFlags & kBusy);
  EXPECT_GT(gApp.loopCounter, 5);
  sim::SetKeyDown(VK_PAUSE, true);
  sim::Advance(100);
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_EQ(gApp.loopCounter, 0);
  EXPECT_EQ(Title(), "Kavorin");
  EXPECT_FALSE(sim::TimerExists(main_, kTimerPlay));
}

TEST_F(Player, NothingStaysHeldAfterABreak) {
  Use({Key(WM_KEYDOWN, VK_SHIFT, 0), Key(WM_KEYDOWN, 'K', 10), Key(WM_KEYUP, 'K', 5000)});
  Command(kCmdPlay);
  sim::Advance(100);
  ASSERT_TRUE(sim::KeyDown(VK_LSHIFT));
  sim::Tap(VK_PAUSE);
  sim::Advance(6000);
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_FALSE(sim::KeyDown(VK_LSHIFT));
  EXPECT_FALSE(sim::KeyDown('K'));
}

TEST_F(Player, ACompiledPlayerClosesAfterItsFirstRunEvenWhenBroken) {
  std::vector<unsigned char> image(29697, 'M');
  WriteBytes("Kavorin.exe", image);
  gApp.repeatCount = 3;
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 5000)});
  Command(kCmdPlay);
  sim::Advance(100);
  sim::Tap(VK_PAUSE);
  sim::Advance(6000);
  EXPECT_FALSE(sim::Window(main_)->alive);
  EXPECT_TRUE(sim::QuitPosted());
}

TEST_F(Player, APauseTapInsideALongGapEndsTheRunAndNothingAfterItPlays) {
  Use({Key(WM_KEYDOWN, 'A', 0), Key(WM_KEYUP, 'A', 10), Key(WM_KEYDOWN, 'B', 10010),
       Key(WM_KEYUP, 'B', 10020)});
  Command(kCmdPlay);
  sim::Advance(25 + 1500);  // 1.5 s into the 10 s gap
  ASSERT_TRUE(gApp.statusFlags & kBusy);
  sim::SetPressedSinceBits(false);  // as under Wine: only the tap's 60 ms tell
  sim::SetKeyDown(VK_PAUSE, true);
  sim::After(60, [] { sim::SetKeyDown(VK_PAUSE, false); });
  sim::Advance(60);
  EXPECT_FALSE(gApp.statusFlags & kBusy) << "heard while Pause was down";
  sim::Advance(10000);
  for (const sim::Input& in : sim::Inputs()) EXPECT_NE(in.vk, 'B');
  for (UINT delay : PlayTimerDelays()) EXPECT_LE(delay, 50u);
}

TEST_F(Player, APauseTapDuringTheWaitAfterTheLastClickEndsTheSeries) {
  gApp.repeatCount = 3;
  Use({At(WM_LBUTTONDOWN, 100, 100, 0), At(WM_LBUTTONUP, 100, 100, 10)});
  sim::SetPressedSinceBits(false);
  Command(kCmdPlay);
  sim::After(25 + 10 + 100, [] { sim::SetKeyDown(VK_PAUSE, true); });  // inside the 250 ms wait
  sim::After(25 + 10 + 160, [] { sim::SetKeyDown(VK_PAUSE, false); });
  sim::Advance(2000);
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_LT(sim::SleptMs(), 250u);
  int presses = 0;
  for (const sim::Input& in : sim::Inputs())
    presses += in.kind == sim::Input::Mouse && in.flags == MOUSEEVENTF_LEFTDOWN;
  EXPECT_EQ(presses, 1) << "one run, not three";
}

TEST_F(Player, TheFineTimerPeriodIsHeldWhilePlayingAndGivenBackEveryWayOut) {
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 5000)});
  EXPECT_EQ(sim::TimerPeriodsHeld(), 0);
  Command(kCmdPlay);
  EXPECT_EQ(sim::TimerPeriodsHeld(), 1);
  sim::Advance(6000);  // the end
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_EQ(sim::TimerPeriodsHeld(), 0);
  gApp.repeatCount = 2;
  Command(kCmdPlay);
  Command(kCmdPlay);  // played again during the run: still one
  EXPECT_EQ(sim::TimerPeriodsHeld(), 1);
  sim::Advance(100);
  sim::Tap(VK_PAUSE);  // Pause
  sim::Advance(100);
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  EXPECT_EQ(sim::TimerPeriodsHeld(), 0);
  Command(kCmdRecord);  // recording holds it too
  EXPECT_EQ(sim::TimerPeriodsHeld(), 1);
  sim::Advance(50);
  Command(kCmdPlay);  // which Play stops first, then plays
  EXPECT_EQ(sim::TimerPeriodsHeld(), 1);
  sim::Advance(100);
  PostMessageA(main_, WM_CLOSE, 0, 0);  // the window closed in the middle of a run
  sim::Pump();
  EXPECT_FALSE(sim::Window(main_)->alive);
  EXPECT_EQ(sim::TimerPeriodsHeld(), 0);
  EXPECT_EQ(sim::UnmatchedPeriodEnds(), 0);
}

TEST_F(Player, ACompiledPlayerGivesTheTimerPeriodBackWhenItCloses) {
  WriteBytes("Kavorin.exe", std::vector<unsigned char>(29697, 'M'));
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 10)});
  Command(kCmdPlay);
  sim::Advance(1000);
  EXPECT_FALSE(sim::Window(main_)->alive);
  EXPECT_EQ(sim::TimerPeriodsHeld(), 0);
  EXPECT_EQ(sim::UnmatchedPeriodEnds(), 0);
}

TEST_F(Player, ALockEndsInItsRecordedState) {
  // Caps Lock on, a, Caps Lock off, b: "Ab".
  Use({Key(WM_KEYDOWN, VK_CAPITAL, 0), Key(WM_KEYDOWN, 'A', 10), Key(WM_KEYUP, 'A', 20),
       Key(WM_KEYUP, VK_CAPITAL, 30), Key(WM_KEYDOWN, 'B', 40), Key(WM_KEYUP, 'B', 50)});
  PlayAll();
  // Replay the log: which state the lock was in when each letter went down.
  bool on = false;
  std::string typed;
  for (const sim::Input& in : Sent(sim::Input::Key)) {
    if (in.vk == VK_CAPITAL && !(in.flags & KEYEVENTF_KEYUP)) on = !on;
    if ((in.vk == 'A' || in.vk == 'B') && !(in.flags & KEYEVENTF_KEYUP))
      typed += on ? (char)in.vk : (char)(in.vk + 32);
  }
  EXPECT_EQ(typed, "Ab");
  EXPECT_FALSE(sim::LockOn(VK_CAPITAL));
  // Played again with Caps Lock already on: "on" finds it on and sends
  // nothing; "off" turns it off.
  sim::SetToggle(VK_CAPITAL, true);
  Use({Key(WM_KEYDOWN, VK_CAPITAL, 0), Key(WM_KEYDOWN, 'A', 10), Key(WM_KEYUP, 'A', 20),
       Key(WM_KEYUP, VK_CAPITAL, 30)});
  PlayAll();
  int capsDowns = 0;
  for (const sim::Input& in : Sent(sim::Input::Key))
    capsDowns += in.vk == VK_CAPITAL && !(in.flags & KEYEVENTF_KEYUP);
  EXPECT_EQ(capsDowns, 1);
  EXPECT_FALSE(sim::LockOn(VK_CAPITAL));
  // And a Num Lock record that already matches sends nothing at all.
  Use({Key(WM_KEYUP, VK_NUMLOCK, 0)});
  PlayAll();
  for (const sim::Input& in : Sent(sim::Input::Key)) EXPECT_NE(in.vk, VK_NUMLOCK);
}

TEST_F(Player, AClickLandsWhereItWasRecorded) {
  // The press was sampled at (420,400) right after the move to (350,350).
  Use({Move(350, 350, 0), At(WM_LBUTTONDOWN, 420, 400, 10), At(WM_LBUTTONUP, 420, 400, 90)});
  POINT atPress{}, atRelease{};
  sim::ClearInputs();
  Command(kCmdPlay);
  for (int t = 0; t < 400 && (gApp.statusFlags & kBusy); t += 1) {
    sim::Advance(1);
    if (sim::KeyDown(VK_LBUTTON) && !atPress.x) GetCursorPos(&atPress);
    if (atPress.x && !sim::KeyDown(VK_LBUTTON) && !atRelease.x) GetCursorPos(&atRelease);
  }
  EXPECT_EQ(atPress.x, 420);
  EXPECT_EQ(atPress.y, 400);
  EXPECT_EQ(atRelease.x, 420);
  EXPECT_EQ(Sent(sim::Input::CursorPos).size(), 2u) << "the release found the cursor there";
}

TEST_F(Player, MonitorsLeftOfAndAboveThePrimaryArePlayedWhereRecorded) {
  // Three monitors: 1280 wide left of the primary (1024 x 768), 1920 x 1080 right of it.
  const int left = -1280, top = -200, width = 1280 + 1024 + 1920, height = 1280;
  sim::SetMetric(SM_XVIRTUALSCREEN, left);
  sim::SetMetric(SM_YVIRTUALSCREEN, top);
  sim::SetMetric(SM_CXVIRTUALSCREEN, width);
  sim::SetMetric(SM_CYVIRTUALSCREEN, height);
  struct Spot {
    int x, y;
  };
  const Spot spots[] = {{-1000, -100}, {2900, 1000}, {left, top}, {4223 + left, 1279 + top}};
  std::vector<EventRecord> r;
  for (const Spot& p : spots) r.push_back(Move((DWORD)p.x, (DWORD)p.y, 10 * (DWORD)r.size()));
  r.push_back(At(WM_RBUTTONDOWN, (DWORD)-640, (DWORD)-20, 100));
  r.push_back(At(WM_RBUTTONUP, (DWORD)-640, (DWORD)-20, 110));
  Use(r);
  PlayAll();
  std::vector<sim::Input> mouse = Sent(sim::Input::Mouse), pos = Sent(sim::Input::CursorPos);
  ASSERT_EQ(mouse.size(), 7u);
  ASSERT_EQ(pos.size(), 5u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(mouse[i].flags, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK);
    // Within the 0..65535 of the whole desktop, in proportion: no overflow.
    EXPECT_LE(mouse[i].dx, 65535u);
    EXPECT_LE(mouse[i].dy, 65535u);
    // Exactly the pixel again, whether the system converts back by 65536 or
    // by 65535 (truncating): a move a pixel short would take a click with it.
    for (DWORD scale : {65536u, 65535u}) {
      EXPECT_EQ(left + (int)((uint64_t)mouse[i].dx * width / scale), spots[i].x) << i;
      EXPECT_EQ(top + (int)((uint64_t)mouse[i].dy * height / scale), spots[i].y) << i;
    }
    EXPECT_EQ(pos[i].x, spots[i].x);
    EXPECT_EQ(pos[i].y, spots[i].y);
  }
  // The right click moved there first, on the left-hand monitor.
  EXPECT_EQ(pos[4].x, -640);
  EXPECT_EQ(pos[4].y, -20);
  EXPECT_EQ(mouse[5].flags, MOUSEEVENTF_RIGHTDOWN);
  EXPECT_EQ(mouse[6].flags, MOUSEEVENTF_RIGHTUP);
}

TEST_F(Player, AStepNeverReadsPastTheBlock) {
  // A block filled to its last byte with moves has no terminator.
  gApp.recordingBuffer = (EventRecord*)AllocZeroed(kMinBlock, 1);
  for (DWORD i = 0; i < kMinBlock / kRecordSize; ++i) gApp.recordingBuffer[i] = Move(i + 1, 1, i);
  gApp.fastSpeed = 1;
  PlayAll();
  EXPECT_FALSE(gApp.statusFlags & kBusy);
  gApp.fastSpeed = 0;
  PlayAll();
  EXPECT_FALSE(gApp.statusFlags & kBusy);
}

}  // namespace
