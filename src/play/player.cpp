#include "play/player.h"

#include "core/state.h"
#include "record/input.h"

using namespace win;

namespace {

// The longest wait in a playback without a look at Pause: a tap of 60 ms is
// always seen (Wine never sets the pressed-since bit, so a tap between two
// looks would be lost), and a held one is heard within 50 ms even from a
// timer that fires a little late.
constexpr DWORD kPauseEvery = 40;
// The shortest wait a window timer makes (USER_TIMER_MINIMUM).
constexpr DWORD kTimerFloor = 10;
// How much sooner than its record a timer is set: where our 1 ms period is
// not granted, a timer fires up to a whole default tick (15.625 ms) late.
// The rest of the wait is slept, to the millisecond.
constexpr DWORD kEarly = 16;
// Records one step plays in a turn (behind, or slept for), before it lets
// other messages in.
constexpr int kStepBatch = 8;

// An offset on the virtual desktop in the 0..65535 units of an absolute move;
// a position off today's desktop goes to its edge. Rounded up, so that the
// system's own conversion back (truncating, by 65536 or 65535) gives exactly
// this pixel: one short, and a click that follows the move could land there.
DWORD Absolute(LONG offset, int size) {
  if (size < 1) return 0;
  if (offset < 0) offset = 0;
  if (offset >= size) offset = size - 1;
  DWORD units = ((DWORD)offset * 65536u + (DWORD)size - 1) / (DWORD)size;
  return units > 65535 ? 65535 : units;
}

// Lets other messages in, and goes on as soon as they are done: a timer
// would wake us late. The timer set as well marks a running playback.
void HandOver(HWND window, UINT_PTR timerId) {
  PostMessageA(window, WM_TIMER, timerId, 0);
  SetTimer(window, timerId, kPauseEvery, nullptr);
}

void Report(HWND window, DWORD code) {
  if (gApp.lastCommand)
    PostMessageA(window, WM_COMMAND, (gApp.lastCommand & 0xFFFF) | (code << 16), (LPARAM)code);
}

bool IsMove(const EventRecord* events, DWORD i, DWORD capacity) {
  return i < capacity && events[i].message == WM_MOUSEMOVE;
}

// A button or the wheel acts where it was recorded: the moves before it may
// have been thinned, or recorded after it, or not at all.
void Click(const EventRecord& r, DWORD flags, DWORD data = 0) {
  POINT at = {};
  GetCursorPos(&at);
  if (at.x != (LONG)r.paramL || at.y != (LONG)r.paramH) MoveTo(r);
  mouse_event(flags, 0, 0, data, 0);
}

// Recordings sampled before keys were taken as pressed name Shift, Ctrl and
// Alt twice: the plain code (0x10-0x12), and on the same or a later sample
// the code of the side (0xA0-0xA5; older ones never left Shift). The pair is
// one press, of that side: the plain record plays as the side it is paired
// with, or as the left key, and the sided record it is paired with plays
// nothing. Of the sampled keys of a modifier, a plain one pairs with the next,
// when that is a sided one going the same way.
constexpr DWORD kPairWithin = 16;  // records between the two of a pair, at most

// The plain code of Shift, Ctrl or Alt, either code of a side, or 0.
int PlainOf(int vk) {
  if (vk >= VK_LSHIFT && vk <= VK_RMENU) return VK_SHIFT + (vk - VK_LSHIFT) / 2;
  return vk >= VK_SHIFT && vk <= VK_MENU ? vk : 0;
}

// The key a sampled record presses: the side for a plain Shift, Ctrl or Alt;
// 0 for the sided record of a pair.
int SampledKey(const EventRecord* events, DWORD i, DWORD capacity) {
  const EventRecord& r = events[i];
  int vk = r.paramL & 0xFF, plain = PlainOf(vk);
  if (!plain) return vk;
  // The nearest sampled key of the same modifier: after a plain one, before a sided one.
  int step = vk == plain ? 1 : -1;
  for (DWORD j = i + step, n = 0; j < capacity && n < kPairWithin && events[j].message;
       j += step, ++n) {
    const EventRecord& e = events[j];
    int other = e.paramL & 0xFF;
    if ((e.message != WM_KEYDOWN && e.message != WM_KEYUP) || (e.paramH & kKeyAsPressed) ||
        PlainOf(other) != plain)
      continue;
    if ((other == plain) == (vk == plain) || e.message != r.message) break;
    return vk == plain ? other : 0;
  }
  // A left Shift on its own plays nothing: samplers before keys were taken
  // as pressed wrote it beside the plain Shift, which plays.
  return vk == plain ? VK_LSHIFT + 2 * (vk - VK_SHIFT) : vk == VK_LSHIFT ? 0 : vk;
}

void PlayKey(const EventRecord* events, DWORD i, DWORD capacity) {
  const EventRecord& r = events[i];
  bool down = r.message == WM_KEYDOWN;
  int vk = r.paramH & kKeyAsPressed ? (int)(r.paramL & 0xFF) : SampledKey(events, i, capacity);
  if (!vk) return;
  gApp.keyStateTable[vk] = down;  // what the playback holds (BreakKeyDown)
  if (IsLockKey(vk)) {
    // Recorded as pressed: the press as long as it was, and where the press
    // would turn the lock away from the state it had then (it was on, or
    // off, as the playback started), a tap first puts it right.
    if (r.paramH & kKeyAsPressed) {
      if (down && !(GetAsyncKeyState(vk) & 0x8000) && IsKeyDown(vk) == !!(r.paramH & kLockOn)) {
        SendKey(vk, false, r.paramH);
        SendKey(vk, true, r.paramH);
      }
      return SendKey(vk, !down, r.paramH);
    }
    // The record says the lock went on or off: a full press, when needed, gets it there.
    if (IsKeyDown(vk) != down) {
      SendKey(vk, false, r.paramH);
      SendKey(vk, true, r.paramH);
    }
    return;
  }
  SendKey(vk, !down, r.paramH);
}

void Play(const EventRecord* events, DWORD i, DWORD capacity) {
  const EventRecord& r = events[i];
  switch (r.message) {
    case WM_KEYDOWN:
    case WM_KEYUP: PlayKey(events, i, capacity); break;
    case kTypedChar: SendChar((WORD)r.paramL); break;
    case WM_MOUSEMOVE: MoveTo(r); break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      gApp.clickPlayed = 1;
      Click(r, r.message == WM_LBUTTONDOWN ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP);
      gApp.leftHeld = r.message == WM_LBUTTONDOWN;
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      Click(r, r.message == WM_RBUTTONDOWN ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP);
      gApp.leftHeld = 0;
      break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      Click(r, r.message == WM_MBUTTONDOWN ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_MIDDLEUP);
      gApp.leftHeld = 0;
      break;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
      Click(r, r.message == WM_XBUTTONDOWN ? MOUSEEVENTF_XDOWN : MOUSEEVENTF_XUP, r.hwnd);
      break;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      Click(r, r.message == WM_MOUSEWHEEL ? MOUSEEVENTF_WHEEL : MOUSEEVENTF_HWHEEL, r.hwnd);
      break;
    default: break;  // not a kind we know
  }
}

// The run is over. After a click, let a following click not join it into a
// double click; Pause is still heard while we wait.
void EndRun(HWND window) {
  if (gApp.clickPlayed == 1) {
    for (DWORD left = GetDoubleClickTime() >> 1; left;) {
      DWORD nap = left < kPauseEvery ? left : kPauseEvery;
      Sleep(nap);
      left -= nap;
      if (BreakKeyDown()) {
        Report(window, 2);
        return;
      }
    }
  }
  Report(window, 1);
}

}  // namespace

// The virtual desktop (left, top, width, height), read once a step: under
// Wine each read is a round trip to its server, and a 1000 Hz recording
// has no time for four of them a move.
static LONG gDesk[4];

static_assert(SM_CYVIRTUALSCREEN == SM_XVIRTUALSCREEN + 3, "the desktop's four metrics follow each other");

static void ReadDesk() {
  for (int k = 0; k < 4; ++k) gDesk[k] = GetSystemMetrics(SM_XVIRTUALSCREEN + k);
}

void MoveTo(const EventRecord& r) {
  if (!gDesk[2]) ReadDesk();
  // In units of the whole virtual desktop, so monitors left of or above the
  // primary one (negative coordinates) are reached too. One call, one move
  // message for the application: the units land on the pixel itself, and a
  // SetCursorPos after it would only add a second message, and its time.
  LONG x = (LONG)r.paramL, y = (LONG)r.paramH;
  mouse_event(
      MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK,
      Absolute(x - gDesk[0], gDesk[2]), Absolute(y - gDesk[1], gDesk[3]), 0, 0);
}

DWORD RecordedGap(const EventRecord* events, DWORD i) {
  return PlayedGap(events[i - 1].time, events[i].time);
}

bool BreakKeyDown() {
  // Pause down now (either view of it), or pressed and released since the
  // last query; or Ctrl+Break down; or Esc down, unless the playback holds
  // it (an Esc press it played; nor is Esc's pressed-since bit read, which
  // that press sets too). Looked at every 40 ms at most, so a tap of 50 ms is
  // seen. A low-level hook of ours would hear them at once, but would hold
  // every event we play until we pump messages.
  return IsKeyDown(breakKey) || (GetAsyncKeyState(breakKey) & 0x80FF) || HeldNow(VK_CANCEL) ||
         (HeldNow(VK_ESCAPE) && !gApp.keyStateTable[VK_ESCAPE]);
}

namespace {

void Step(HWND window, UINT_PTR timerId) {
  if (BreakKeyDown()) {
    Report(window, 2);
    return;
  }
  EventRecord* events = gApp.recordingBuffer;
  DWORD capacity = Capacity(events);
  DWORD& i = gApp.eventCursor;
  if (gApp.waitForRelease) {
    if (HeldNow(VK_SHIFT) || HeldNow(VK_CONTROL) || HeldNow(VK_MENU))
      return (void)SetTimer(window, timerId, kTimerFloor, nullptr);
    gApp.waitForRelease = 0;
    ReleaseAllKeys();
  }
  DWORD now = timeGetTime();
  if (i == 0) gApp.runClock = now;  // the run starts with its first record
  for (int n = 0;; ++n) {
    if (i >= capacity || !events[i].message) {
      EndRun(window);
      return;
    }
    // Each record is due when the run's clock says, whenever this step came.
    DWORD due = gApp.runClock;
    if (i && gApp.fastSpeed != 1) due += RecordedGap(events, i);
    LONG wait = (LONG)(due - now);
    UINT timer = 0;
    if (wait > 0 && (gApp.fastSpeed == 1 || (DWORD)wait >= kTimerFloor + kEarly)) {
      // A timer, early enough never to wake us late; the rest is slept in
      // the step it wakes. Fast mode's waits are timers whole.
      if (gApp.fastSpeed != 1) wait -= kEarly;
      timer = (DWORD)wait < kPauseEvery ? (UINT)wait : kPauseEvery;
    } else if (n == kStepBatch) {
      return HandOver(window, timerId);
    }
    if (timer) {
      SetTimer(window, timerId, timer, nullptr);
      return;
    }
    if (wait > 0) {
      // Sooner than a timer can wake us early for: slept for, and played in
      // this same step. A sleep ends up to a millisecond after its whole
      // milliseconds: the last one is waited out on the clock instead, so
      // the record plays as the clock turns to its millisecond.
      // Pause and the other stops are looked at after a sleep; records a
      // millisecond apart are looked at as each step starts, 8 records on.
      Sleep((DWORD)wait - 1);
      if (wait > 1 && BreakKeyDown()) {
        Report(window, 2);
        return;
      }
      // Yielding while it waits: the program the input goes to, and under
      // Wine its server, need the processor to take it.
      while ((LONG)((now = timeGetTime()) - due) < 0) Sleep(0);
    }
    Play(events, i, capacity);
    ++i;
    gApp.runClock = due;
    now = timeGetTime();  // playing takes time too
    if (gApp.fastSpeed != 1) continue;
    // Fast: of a run of moves with the button up, play only the first, every
    // sixth and the last, back to back, then pause 75 ms. Drags play whole;
    // every other record follows after 1 ms. A long run goes on in the next
    // step, so that messages are handled between.
    DWORD pause = 1;
    while (!gApp.leftHeld && IsMove(events, i, capacity)) {
      if (BreakKeyDown()) {
        Report(window, 2);
        return;
      }
      if (i % 6 == 0 || !IsMove(events, i + 1, capacity)) {
        // Past the bound, the next step goes on from this move, which it
        // plays first: the thinning stays as it would have been.
        if (timeGetTime() - now >= kPauseEvery) {
          pause = 0;
          n = kStepBatch - 1;  // the next record hands over
          break;
        }
        MoveTo(events[i]);
        Sleep(1);
        pause = 75;
      }
      ++i;
    }
    gApp.runClock = (now = timeGetTime()) + pause;
  }
}

}  // namespace

void PlaybackStep(HWND window, UINT_PTR timerId) {
  // A recording made in physical pixels plays in them, on every monitor;
  // any other in the pixels it was made in, as it always has.
  EventRecord* events = gApp.recordingBuffer;
  HANDLE context = HasPhysicalPixels(events, Capacity(events)) ? InPhysicalPixels() : nullptr;
  ReadDesk();
  Step(window, timerId);
  RestorePixels(context);
}
