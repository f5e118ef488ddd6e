// Playback: what each record makes the player send, its timing, fast mode,
// the break key, and series of runs.
#include "desk.h"
#include "files/recfile.h"
#include "play/player.h"

using namespace win;

namespace {

class Player : public WindowDesk {
 protected:
  // The moves sent, each where its units take it when converted back as the
  // system does (truncating), whether or not input feedback is on.
  struct Moved {
    int x, y;
    DWORD time;
  };
  std::vector<Moved> Moves() const {
    std::vector<Moved> out;
    for (const sim::Input& in : Sent(sim::Input::Mouse)) {
      if (!(in.flags & MOUSEEVENTF_MOVE)) continue;
      auto back = [](DWORD units, int origin, int size) {
        return GetSystemMetrics(origin) + (int)((uint64_t)units * GetSystemMetrics(size) / 65536);
      };
      out.push_back({back(in.dx, SM_XVIRTUALSCREEN, SM_CXVIRTUALSCREEN),
                     back(in.dy, SM_YVIRTUALSCREEN, SM_CYVIRTUALSCREEN), in.time});
    }
    return out;
  }
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
       At(WM_MBUTTONDOWN, 512, 384), At(WM_MBUTTONUP, 512, 384), Button(0x203), Button(0x103)});
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
  std::vector<Moved> pos = Moves();
  ASSERT_EQ(pos.size(), 1u);
  EXPECT_EQ(pos[0].x, 512);
  EXPECT_EQ(pos[0].y, 384);
  EXPECT_EQ(mouse[0].x, 512);  // where the cursor went
  EXPECT_EQ(mouse[0].y, 384);
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
// hand-written text may have it, is a press of its own; but for a left
// Shift, which plays nothing alone (the plain Shift beside it plays).
TEST_F(Player, OlderRecordingsPlayEachModifierPressOnceOnItsSide) {
  sim::SetInputFeedback(false);
  Use({Key(WM_KEYDOWN, VK_SHIFT), Key(WM_KEYDOWN, VK_RSHIFT), Key(WM_KEYUP, VK_SHIFT),
       Key(WM_KEYUP, VK_RSHIFT),  // right Shift
       Key(WM_KEYDOWN, VK_CONTROL), Key(WM_KEYDOWN, 'A'), Key(WM_KEYDOWN, VK_LCONTROL),
       Key(WM_KEYUP, 'A'), Key(WM_KEYUP, VK_CONTROL), Key(WM_KEYUP, VK_LCONTROL),  // left Ctrl+A
       Key(WM_KEYDOWN, VK_MENU), Key(WM_KEYDOWN, VK_RMENU), Key(WM_KEYUP, VK_MENU),
       Key(WM_KEYUP, VK_RMENU),                             // right Alt
       Key(WM_KEYDOWN, VK_SHIFT), Key(WM_KEYUP, VK_SHIFT),  // left Shift: never sided
       Key(WM_KEYDOWN, VK_RCONTROL), Key(WM_KEYUP, VK_RCONTROL), Key(WM_KEYDOWN, VK_LSHIFT),
       Key(WM_KEYUP, VK_LSHIFT)});
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
  std::vector<Moved> pos = Moves();
  ASSERT_EQ(pos.size(), 7u);
  std::vector<DWORD> at;
  for (const Moved& in : pos) at.push_back(in.time - pos[0].time);
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
    std::vector<Moved> pos = Moves();
    ASSERT_EQ(pos.size(), 6000u) << period;
    DWORD start = pos[0].time, late = 0;
    for (DWORD i = 0; i < 6000; ++i) {
      ASSERT_EQ(pos[i].x, (int)(1 + i % 1000)) << "in order, at " << i;
      ASSERT_GE(pos[i].time - start, 10 * i) << "never early, at " << i;
      late = std::max(late, pos[i].time - start - 10 * i);
    }
    // Each slept for, to the millisecond, whatever the timers' period; and
    // no lateness adds up: the last one too.
    EXPECT_LE(late, 1u) << period;
    EXPECT_LE(pos.back().time - start - 59990, 1u) << period;
  }
}

TEST_F(Player, GapsShorterThanATimerCanWaitPlayOnTime) {
  // 7 ms apart: each is slept for inside a step. A step that lets other
  // messages in after a few records goes on as soon as they are done, not
  // after a timer, which cannot wait less than 10 ms: every record on time,
  // also where a sleep ends a millisecond after what it asked, and where
  // sending a move takes 5 ms of the 7.
  std::vector<EventRecord> r;
  for (DWORD i = 0; i < 200; ++i) r.push_back(Move(1 + i, 1, 5000 + 7 * i));
  Use(r);
  for (DWORD late : {0u, 1u, 5u}) {
    sim::SetSleepLate(late == 1);
    sim::SetInputCost(late == 5 ? 5 : 0);
    PlayAll();
    std::vector<Moved> pos = Moves();
    ASSERT_EQ(pos.size(), 200u);
    for (DWORD i = 0; i < 200; ++i)
      ASSERT_EQ(pos[i].time - pos[0].time, 7 * i) << "at " << i << ", sleeps " << late << " late";
  }
}

TEST_F(Player, LongerWaitsWakeEarlyByTimerAndSleepTheRestAtEitherTimerPeriod) {
  // Gaps around the point where a timer takes over (26 ms: its 10 ms floor
  // plus how early it is set), and long ones, with timers that fire only on
  // Wine's 10 ms ticks or Windows' default 15.625 ms ones: a timer up to a
  // tick late still wakes us before the record, and the rest is slept.
  const DWORD gaps[] = {10, 16, 25, 26, 27, 31, 40, 41, 56, 57, 66, 100, 333, 1000, 16, 10};
  for (DWORD period : {10000u, 15625u}) {
    sim::SetTimerGranularity(period);
    std::vector<EventRecord> r = {Move(1, 1, 7000)};
    for (DWORD gap : gaps) r.push_back(Move(r.size() + 1, 1, r.back().time + gap));
    Use(r);
    size_t timersBefore = PlayTimerDelays().size();
    DWORD sleptBefore = sim::SleptMs();
    PlayAll();
    std::vector<Moved> pos = Moves();
    ASSERT_EQ(pos.size(), r.size()) << period;
    for (size_t i = 1; i < pos.size(); ++i) {
      LONG error = (LONG)(pos[i].time - pos[i - 1].time) - (LONG)(r[i].time - r[i - 1].time);
      EXPECT_LE(std::abs(error), 1) << "gap " << i << ", period " << period;
      EXPECT_GE(pos[i].time - pos[0].time, r[i].time - r[0].time) << "never early";
    }
    std::vector<UINT> timers = PlayTimerDelays();
    for (size_t t = timersBefore + 1; t < timers.size(); ++t) {  // after the 25 ms start
      EXPECT_GE(timers[t], 10u) << "no timer below the floor";
      EXPECT_LE(timers[t], 40u) << "Pause looked at meanwhile";
    }
    // Gaps up to 25 ms are slept whole; each longer one sleeps only what is
    // left after its timers, at most 25 ms.
    DWORD slept = sim::SleptMs() - sleptBefore, whole = 10 + 16 + 25 + 16 + 10;
    EXPECT_GE(slept, whole) << period;
    EXPECT_LE(slept, whole + 11 * 25) << period;
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
  for (const Moved& in : Moves()) xs.push_back(in.x);
  // After the key: only moves 6 and 12 (multiples of 6) and 14, the last of the run.
  EXPECT_EQ(xs, (std::vector<int>{6, 12, 14, 16, 17, 18, 19}));
  std::vector<UINT> delays = PlayTimerDelays();
  // The 75 ms pause after the moves comes in two waits, Pause looked at between them.
  EXPECT_EQ(delays, (std::vector<UINT>{25, 40, 35, 1, 1, 1, 1, 1}));
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
  for (const Moved& in : Moves()) xs.push_back(in.x);
  EXPECT_EQ(xs, (std::vector<int>{1, 7, 9}));  // index 0 by the step, 6, and the last (8)
}

TEST_F(Player, ALongFastRunOfMovesIsPlayedOverStepsThatLetMessagesIn) {
  gApp.fastSpeed = 1;
  std::vector<EventRecord> r;
  for (DWORD i = 0; i < 3000; ++i) r.push_back(Move(1 + i % 500, 1));
  Use(r);
  Command(kCmdPlay);
  bool handled = false;
  sim::After(60, [] { PostCommand(kCmdToggleTips, 0); });  // 500 ms into the run's moves
  sim::After(110, [&] { handled = gApp.statusFlags == 0; });
  sim::Advance(1000);
  EXPECT_TRUE(handled) << "no step may run much longer than 40 ms";
  EXPECT_EQ(Moves().size(), 501u) << "thinned as in one step: the first, every sixth and the last";
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
  EXPECT_EQ(Moves().size(), 3u);
}

TEST_F(Player, TheDoubleClickWaitComesOnlyAfterAClickAndNeverAfterABreak) {
  sim::SetDoubleClickTime(400);
  // Records at one time: none has a wait of its own to sleep.
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 0)});
  PlayAll();
  EXPECT_EQ(sim::SleptMs(), 0u);
  Use({Button(WM_LBUTTONDOWN, 0), Button(WM_LBUTTONUP, 0)});
  PlayAll();
  EXPECT_EQ(sim::SleptMs(), 200u);
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 0)});  // no click in this run
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

TEST_F(Player, APausePressedWhileAStepSleepsKeepsTheRecordItSleptFor) {
  Use({Key(WM_KEYDOWN, 'A', 0), Key(WM_KEYDOWN, 'B', 20)});
  Command(kCmdPlay);
  sim::After(35, [] { sim::SetKeyDown(VK_PAUSE, true); });  // B is slept for from 25 to 44
  sim::Advance(100);
  for (const sim::Input& in : sim::Inputs()) EXPECT_NE(in.vk, 'B');
}

TEST_F(Player, APauseTappedAsTheLastRecordPlaysEndsTheSeries) {
  gApp.repeatCount = 2;
  Use({Key(WM_KEYDOWN, 'A', 0), Key(WM_KEYUP, 'A', 20)});
  Command(kCmdPlay);
  sim::After(45, [] { sim::Tap(VK_PAUSE); });  // after the step's last look at Pause
  sim::Advance(500);
  EXPECT_EQ(Sent(sim::Input::Key)[0].vk, 'A');
  for (size_t i = 1; i < Sent(sim::Input::Key).size(); ++i)
    EXPECT_TRUE(Sent(sim::Input::Key)[i].flags & KEYEVENTF_KEYUP) << "no second run, at " << i;
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

// Esc or Ctrl+Break held by the user stops a playback within 50 ms as Pause
// does, nothing left held; the playback's own Esc does not.
TEST_F(Player, EscOrCtrlBreakOfTheUserStopsItNotAnEscItPlays) {
  sim::SetPressedSinceBits(false);
  for (int vk : {VK_ESCAPE, VK_CANCEL}) {
    Use({Key(WM_KEYDOWN, VK_ESCAPE, 0), Key(WM_KEYDOWN, VK_SHIFT, 10),
         Key(WM_KEYUP, VK_ESCAPE, 500), Key(WM_KEYUP, VK_SHIFT, 20000)});
    Command(kCmdPlay);
    sim::Advance(1000);
    ASSERT_TRUE(gApp.statusFlags & kBusy) << vk;
    sim::SetKeyDown(vk, true);
    DWORD t = sim::Now();
    while ((gApp.statusFlags & kBusy) && sim::Now() - t < 100) sim::Advance(1);
    EXPECT_LE(sim::Now() - t, 50u) << vk;
    EXPECT_FALSE(sim::KeyDown(VK_LSHIFT)) << vk;
  }
}

TEST_F(Player, HeldKeysAreReleasedAsPressedAtPauseAndWhenTheWindowCloses) {
  for (bool close : {false, true}) {
    // Keypad Enter, and keypad 7 with Num Lock off: Home (0x24), not extended.
    Use({{WM_KEYDOWN, VK_RETURN | 0x1C << 8, 0x31C, 0, 0},
         {WM_KEYDOWN, 0x24 | 0x47 << 8, 0x247, 10, 0},
         Key(WM_KEYUP, 'K', 5000)});
    Command(kCmdPlay);
    sim::Advance(100);
    sim::ClearInputs();
    close ? (void)DestroyWindow(main_) : sim::Tap(VK_PAUSE);
    sim::Advance(100);
    std::vector<DWORD> ups;  // vk, scan, extended
    for (const sim::Input& in : Sent(sim::Input::Key))
      if (in.flags & KEYEVENTF_KEYUP) ups.push_back(in.vk << 16 | in.scan << 8 | (in.flags & 1));
    EXPECT_EQ(ups, (std::vector<DWORD>{0x0D1C01, 0x244700})) << (close ? "closed" : "Pause");
  }
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

TEST_F(Player, TimerThrottlingIsOptedOutOfWhereTheSystemHasTheCall) {
  // Available: asked for when playing and when recording, for this process,
  // to ignore the timer resolution (the mask set, the state clear).
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 10)});
  PlayAll();
  Command(kCmdRecord);
  Command(kCmdRecord);
  const std::vector<sim::ProcessInformationCall>& calls = sim::ProcessInformationCalls();
  ASSERT_EQ(calls.size(), 2u);
  for (const sim::ProcessInformationCall& c : calls) {
    EXPECT_EQ(c.process, (HANDLE)(intptr_t)-1);
    EXPECT_EQ(c.infoClass, 4);  // ProcessPowerThrottling
    EXPECT_EQ(c.size, 12u);
    EXPECT_EQ(c.throttling.Version, 1u);
    EXPECT_EQ(c.throttling.ControlMask, 4u);  // PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION
    EXPECT_EQ(c.throttling.StateMask, 0u);
  }
  // Refused (Windows 8 and 8.1 know the call, not the class): played all the same.
  sim::SetProcessInformationResult(FALSE);
  Use({Key(WM_KEYDOWN, 'K', 0), Key(WM_KEYUP, 'K', 10)});
  PlayAll();
  EXPECT_EQ(sim::ProcessInformationCalls().size(), 3u);
  EXPECT_EQ(Sent(sim::Input::Key).size(), 2u);
  // Missing (before Windows 8): not asked for, and played all the same.
  sim::SetProcAvailable("SetProcessInformation", false);
  PlayAll();
  EXPECT_EQ(sim::ProcessInformationCalls().size(), 3u);
  EXPECT_EQ(Sent(sim::Input::Key).size(), 2u);
  EXPECT_EQ(sim::TimerPeriodsHeld(), 0);
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
  EXPECT_EQ(Moves().size(), 2u) << "the release found the cursor there";
}

TEST_F(Player, MonitorsLeftOfAndAboveThePrimaryArePlayedWhereRecorded) {
  // Each move is one absolute mouse_event onto its pixel (one move message for
  // the application), on desktops of one to three monitors of odd sizes.
  struct Layout {
    int left, top, width, height;  // the virtual desktop; the primary at 0,0
  };
  const Layout layouts[] = {{0, 0, 1024, 768},
                            {0, 0, 1920 + 1366, 1080},
                            {-1920, 0, 1920 + 1024, 1200},
                            {0, -1080, 1920, 1080 + 768},
                            {-1280, -200, 1280 + 1024 + 1920, 1280},
                            {-2560, -440, 2560 + 1024 + 1280, 1440}};
  for (const Layout& d : layouts) {
    sim::SetMetric(SM_XVIRTUALSCREEN, d.left);
    sim::SetMetric(SM_YVIRTUALSCREEN, d.top);
    sim::SetMetric(SM_CXVIRTUALSCREEN, d.width);
    sim::SetMetric(SM_CYVIRTUALSCREEN, d.height);
    // The corners, the primary's origin, and points along a diagonal.
    std::vector<POINT> spots = {{d.left, d.top},
                                {d.left + d.width - 1, d.top},
                                {d.left, d.top + d.height - 1},
                                {d.left + d.width - 1, d.top + d.height - 1},
                                {0, 0}};
    for (int k = 1; k < 30; ++k)
      spots.push_back({d.left + d.width * k / 30 + k % 3, d.top + d.height * k / 30 + k % 5});
    std::vector<EventRecord> r;
    for (const POINT& p : spots) r.push_back(Move((DWORD)p.x, (DWORD)p.y, 10 * (DWORD)r.size()));
    // A right click at a place no move went to, on the top left monitor.
    const POINT click = {d.left + 7, d.top + 9};
    r.push_back(At(WM_RBUTTONDOWN, (DWORD)click.x, (DWORD)click.y, 1000));
    r.push_back(At(WM_RBUTTONUP, (DWORD)click.x, (DWORD)click.y, 1010));
    Use(r);
    PlayAll();
    std::vector<sim::Input> mouse = Sent(sim::Input::Mouse);
    ASSERT_EQ(mouse.size(), spots.size() + 3) << "one call a move; the click's move, its two";
    spots.push_back(click);  // the click moved there first
    for (size_t i = 0; i < spots.size(); ++i) {
      EXPECT_EQ(mouse[i].flags, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK);
      EXPECT_EQ(mouse[i].x, spots[i].x) << d.width << " wide, move " << i;
      EXPECT_EQ(mouse[i].y, spots[i].y) << d.height << " high, move " << i;
      // Exactly the pixel again, whether the system converts back by 65536 or
      // by 65535 (truncating): a move a pixel short would take a click with it.
      for (DWORD scale : {65536u, 65535u}) {
        EXPECT_EQ(d.left + (int)((uint64_t)mouse[i].dx * d.width / scale), spots[i].x) << i;
        EXPECT_EQ(d.top + (int)((uint64_t)mouse[i].dy * d.height / scale), spots[i].y) << i;
      }
    }
    EXPECT_EQ(mouse[spots.size()].flags, MOUSEEVENTF_RIGHTDOWN);
    EXPECT_EQ(mouse[spots.size() + 1].flags, MOUSEEVENTF_RIGHTUP);
  }
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
