#include "record/recorder.h"

#include "core/state.h"
#include "record/input.h"

using namespace win;

namespace {

constexpr DWORD kGrowBytes = 20000;  // a growth's step: 1000 records, five pages

// What keyStateTable holds for each virtual key.
constexpr BYTE kDown = 1;      // down as far as we know (a lock: on)
constexpr BYTE kPressed = 2;   // its press is in the recording, its release not yet
constexpr BYTE kDiffered = 4;  // the last look at the key state disagreed with kDown
constexpr BYTE kHeld = 8;      // a lock key is held: its repeats do not toggle it

// A stop posted by Pause (1), Ctrl+Break (3) or a full block (2) only ever
// stops: a recording that has already ended is not started again. A full
// block also says so.
constexpr LPARAM kByBreak = 1, kOutOfRoom = 2, kByCtrlBreak = 3;

// A key the hook heard counts as having reached the system, or not, once a
// tick finds it this old (the next event's hook asks at once): the system
// has long passed it on by then, and the watchdog's second look, a tick
// later, finds it settled.
constexpr DWORD kSettle = 2;

// The record of each mouse button's press, by virtual key; its release is
// the next message number.
constexpr WORD kPressOf[] = {
    0, WM_LBUTTONDOWN, WM_RBUTTONDOWN, 0, WM_MBUTTONDOWN, WM_XBUTTONDOWN, WM_XBUTTONDOWN};

// Room for one more record and the terminator behind it. The block grows a
// few pages at a time into the address space it set aside, never moving:
// committing pages waits on nothing, so the hooks grow it too, and no event
// is dropped while the reservation has room. false when it is full.
bool MakeRoom() {
  EventRecord* block = gApp.recordingBuffer;
  if (gApp.eventCursor + 1 < Capacity(block)) return true;
  DWORD size = BlockSize(block) + kGrowBytes, room = block ? BlockRoom(block) : size;
  if (size > room) size = room;
  void* grown = size > BlockSize(block) ? ResizeBlock(block, size) : nullptr;
  if (!grown) return false;
  gApp.recordingBuffer = (EventRecord*)grown;
  return gApp.eventCursor + 1 < Capacity(grown);
}

// Out of memory: end the recording properly and keep every event: as after
// Pause, nothing is cut.
void OutOfMemory() {
  StopRecording(kByBreak);
  MessageBoxA(gApp.mainWindow,
              "Out of memory: the recording was stopped.\n\nEverything recorded so far is kept.",
              kCaption, kWarningBox);
}

// Appends a record. A full block ends the recording as soon as our window
// hears of it (a hook must not wait on a message box); the hooks go at once.
void Store(DWORD message, DWORD paramL, DWORD paramH, DWORD last, DWORD time = timeGetTime()) {
  if (!MakeRoom()) {
    RemoveInputHooks();
    PostCommand(kCmdRecord, kOutOfRoom);
    return;
  }
  gApp.recordingBuffer[gApp.eventCursor++] = {message, paramL, paramH, time, last};
  gApp.eventCount = gApp.eventCursor;
}

DWORD Foreground() { return (DWORD)(uintptr_t)GetForegroundWindow(); }

// Every change of position, the screen's edges included; never the same one twice.
void StoreMove(POINT at) {
  if (at.x == gApp.lastMove.x && at.y == gApp.lastMove.y) return;
  gApp.lastMove = at;
  Store(WM_MOUSEMOVE, (DWORD)at.x, (DWORD)at.y, Foreground());
}

// A button or the wheel at its place, after a move there if none was
// recorded yet. With 'under', the record names the window under the
// pointer: the hook hears a click on our own window before the click makes
// ours the foreground one.
void StoreMouse(DWORD message, POINT at, DWORD last, bool under) {
  StoreMove(at);
  Store(message, (DWORD)at.x, (DWORD)at.y, under ? (DWORD)(uintptr_t)WindowFromPoint(at) : last);
}

// Pause, or Ctrl+Break (Pause with Ctrl), ends the recording and is not
// recorded. What the user still holds is released once the recording has
// stopped.
void Break(int vk) {
  RemoveInputHooks();
  PostCommand(kCmdRecord, vk == VK_CANCEL ? kByCtrlBreak : kByBreak);
}

// A press or release of a key or button as it reaches us. A press belongs
// in the recording when 'keep' says so; a release only when its press does.
bool Changed(int vk, bool down, bool keep = true) {
  BYTE& s = gApp.keyStateTable[vk];
  // A key held since before the recording (the hotkey that started it) repeats unrecorded.
  if ((s & (kDown | kPressed)) == kDown) keep = false;
  s = (BYTE)((s & ~(kDown | kDiffered)) | (down ? kDown : 0));
  if (down) {
    if (keep) s |= kPressed;
    return keep;
  }
  if (!(s & kPressed)) return false;
  s &= (BYTE)~kPressed;
  return true;
}

// A key pressed or released. scan: the scan code, and how the key was
// pressed. A key pressed on our own window is a command to us (F5, O,
// Enter), not part of what is recorded; a lock it turns is. A lock recorded
// as pressed keeps its presses, repeats and releases, each saying whether
// the lock is on; a sampled one records its state, not its presses.
void KeyChanged(int vk, bool down, DWORD scan, DWORD time = timeGetTime()) {
  gApp.pressedAs[vk] = down ? (WORD)scan : 0;  // a key held at Pause is released as pressed
  if ((vk == breakKey || vk == VK_CANCEL) && down) return Break(vk);
  DWORD front = Foreground(), message = down ? WM_KEYDOWN : WM_KEYUP;
  BYTE& s = gApp.keyStateTable[vk];
  if (IsLockKey(vk)) {
    if (scan & kKeyAsPressed) {
      if (!down && !(s & kHeld)) return;    // its press is not in the recording
      if (down && !(s & kHeld)) s ^= kDown;  // a repeat turns nothing
      s = (BYTE)((down ? s | kHeld : s & ~kHeld) & ~kDiffered);
      if (s & kDown) scan |= kLockOn;
    } else {
      s = (BYTE)((s ^ kDown) & ~kDiffered);
      message = s & kDown ? WM_KEYDOWN : WM_KEYUP;
    }
  } else if (!Changed(vk, down, front != (DWORD)(uintptr_t)gApp.mainWindow)) {
    return;
  }
  Store(message, (DWORD)vk + (scan & kScanMask) * 256, scan, front, time);
}

// The key the hook heard last is recorded once it reached the system's key
// state, and left out when it did not: an older hook of another program (a
// key remapper) took it away, and what reached the system in its place is
// heard as a key of its own. So the recording holds what the user got, and
// plays so with the remapper still running. The system hands the next event
// to the hooks only after the last one, so the next event's hook asks at
// once ('now'); a tick asks once the key has had kSettle ms.
void Settle(bool now) {
  EventRecord& k = gApp.pendingKey;
  if (!k.message || (!now && timeGetTime() - k.time < kSettle)) return;
  bool down = k.message == WM_KEYDOWN;
  k.message = 0;
  // A release is read where Windows keeps it (a stale GetKeyState could
  // hold a key down); a press in either view (HeldNow).
  int vk = (int)k.paramL;
  if ((down ? HeldNow(vk) : (GetAsyncKeyState(vk) & 0x8000) != 0) == down)
    KeyChanged(vk, down, k.paramH, k.time);
}

void ButtonChanged(int vk, bool down, POINT at) {
  bool x = vk >= VK_XBUTTON1;
  if (Changed(vk, down)) StoreMouse(kPressOf[vk] + !down, at, vk - VK_XBUTTON1 + XBUTTON1, !x);
}

// down: the hook's message is WM_KEYDOWN or WM_SYSKEYDOWN (Wine marks no
// release of a typed character in the flags, but in the message).
void OnKey(const KBDLLHOOKSTRUCT& k, bool down) {
  int vk = (int)(k.vkCode & 0xFF);
  // A character typed as itself (the emoji panel, a touch keyboard, a
  // program typing Unicode): the character, once, not a key.
  if (vk == VK_PACKET) {
    if (down) Store(kTypedChar, k.scanCode & 0xFFFF, 0, Foreground());
    return;
  }
  if (vk == breakKey || vk == VK_CANCEL) {
    if (down) Break(vk);
    return;
  }
  // The key exactly as pressed: which side, which keypad, extended or not.
  DWORD scan =
      (k.scanCode & kScanMask) | kKeyAsPressed | (k.flags & LLKHF_EXTENDED ? kKeyExtended : 0);
  gApp.pendingKey = {down ? WM_KEYDOWN : WM_KEYUP, (DWORD)vk, scan, timeGetTime(), 0};
}

void OnMouse(DWORD message, const MSLLHOOKSTRUCT& m) {
  // The hook's own point, physical: where one input both moves and presses,
  // the cursor is still where it was. Where positions cannot be physical,
  // the ticks read the moves and a button takes the cursor's place, in the
  // pixels the ticks read.
  POINT at = m.pt;
  if (!gApp.physicalPixels) GetCursorPos(&at);
  if (message == WM_MOUSEMOVE) {
    if (gApp.physicalPixels) StoreMove(at);
    return;
  }
  DWORD data = m.mouseData >> 16;
  if (message == WM_MOUSEWHEEL || message == WM_MOUSEHWHEEL)
    return StoreMouse(message, at, (DWORD)(int16_t)data, false);
  for (int vk = VK_LBUTTON; vk <= VK_XBUTTON2; ++vk)
    if (kPressOf[vk] && message - kPressOf[vk] < 2 &&
        (vk < VK_XBUTTON1 || (DWORD)(vk - VK_XBUTTON1 + XBUTTON1) == data))
      return ButtonChanged(vk, message == kPressOf[vk], at);
}

// Both hooks, told apart by the message: keys are 0x100-0x105, the mouse's
// from 0x200. They only append and return: they never wait or show
// anything, or Windows takes them away.
LRESULT CALLBACK InputHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    HANDLE context = InPhysicalPixels();
    Settle(true);
    if (wParam < WM_MOUSEMOVE)
      OnKey(*(const KBDLLHOOKSTRUCT*)lParam, !(wParam & 1));
    else
      OnMouse((DWORD)wParam, *(const MSLLHOOKSTRUCT*)lParam);
    RestorePixels(context);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void StartRecording() {
  // A playback still running would step through the new recording.
  if (KillTimer(gApp.mainWindow, kTimerPlay)) {
    gApp.loopCounter = 0;
    ReleaseAllKeys();
  }
  gApp.statusFlags |= kBusy;
  // The click on our Record button is still held down: record from a released button.
  mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
  if (gApp.recordingBuffer) FreeBlock(gApp.recordingBuffer);
  gApp.recordingBuffer = nullptr;
  gApp.eventCursor = 0;
  HoldFineTimer(true);
  SetTimer(gApp.mainWindow, kTimerRecord, 10, nullptr);
  SetTitle(kTitleBreak);
  InvalidateRect(gApp.mainWindow, nullptr, TRUE);
  if (!MakeRoom()) return OutOfMemory();
  // The keys held now are not changes, and the recording starts, as a
  // recording must, with a move: to where the cursor is. Then, where
  // positions can be had in physical pixels, the mark that says so.
  ReadKeysDown(gApp.keyStateTable);  // each 0 or 1: kDown
  gApp.pendingKey.message = 0;
  HANDLE context = InPhysicalPixels();
  gApp.physicalPixels = context != nullptr;
  gApp.lastMove.x = (LONG)0x80000000;
  POINT at = {};
  GetCursorPos(&at);
  StoreMove(at);
  EventRecord first = gApp.recordingBuffer[0];
  if (context) Store(kPhysicalMark, 0, 0, first.hwnd, first.time);
  RestorePixels(context);
  InstallInputHooks();  // without them, the ticks sample the keys
}

}  // namespace

static_assert(WH_MOUSE_LL == WH_KEYBOARD_LL + 1, "the mouse hook's kind follows the keyboard's");

bool InstallInputHooks() {
  RemoveInputHooks();
  for (int i = 0; i < 2; ++i) {
    gApp.hooks[i] = SetWindowsHookExA(WH_KEYBOARD_LL + i, InputHook, GetModuleHandleA(nullptr), 0);
    if (!gApp.hooks[i]) {
      RemoveInputHooks();
      return false;
    }
  }
  return true;
}

void RemoveInputHooks() {
  for (HHOOK& hook : gApp.hooks) {
    if (hook) UnhookWindowsHookEx(hook);
    hook = nullptr;
  }
}

void StopRecording(LPARAM how) {
  RemoveInputHooks();
  Settle(true);
  KillTimer(gApp.mainWindow, kTimerRecord);
  HoldFineTimer(false);
  SetIdleTitle();
  gApp.statusFlags &= (BYTE)~kBusy;
  if (EventRecord* events = gApp.recordingBuffer) {
    // What ended the recording is the last of it, among moves at most: the
    // click on our own window (and its release), or the presses of the keys
    // still held when a hotkey or Ctrl+Break stopped it. That is cut off,
    // with what follows; nothing before it (record 0 is never looked at).
    // Pause cuts nothing. A hotkey (its key in the high word) reaches us
    // when the program in front takes its key, which may be after the hooks
    // heard the chord let go: its key and the modifiers, pressed or let go,
    // are cut back to that key's press, and the modifiers' presses before it.
    DWORD main = (DWORD)(uintptr_t)gApp.mainWindow, cut = gApp.eventCursor;
    DWORD hot = how > kByCtrlBreak ? HIWORD(how) : 0;
    for (DWORD i = cut; how != kByBreak && i > 1;) {
      const EventRecord& e = events[--i];
      DWORD m = e.message, vk = e.paramL & 0xFF;
      if (m == WM_MOUSEMOVE || (!how && m == WM_LBUTTONUP)) continue;
      if (how > kByCtrlBreak && (m == WM_KEYDOWN || (hot && m == WM_KEYUP)) &&
          ((vk >= (DWORD)VK_LSHIFT && vk <= (DWORD)VK_RMENU) || vk == hot)) {
        if (vk == hot && m == WM_KEYDOWN) hot = 0;  // its press: only modifiers' presses before it
        cut = i;
        continue;
      }
      if (how ? m != WM_KEYDOWN || !(gApp.keyStateTable[e.paramL & 0xFF] & kDown)
              : m != WM_LBUTTONDOWN || e.hwnd != main)
        break;
      cut = i;
      if (!how) break;  // that one click
    }
    gApp.eventCursor = cut;
    events[cut] = EventRecord{};
    gApp.eventCount = gApp.eventCursor;
  }
  InvalidateRect(gApp.mainWindow, nullptr, TRUE);
}

void OnRecordCommand(LPARAM how) {
  gApp.lastCommand = kCmdRecord;
  if (IsRecording()) {
    if (how == kOutOfRoom) return OutOfMemory();
    StopRecording(how);
    if ((how | 2) == kByCtrlBreak) ReleaseAllKeys();
  } else if ((DWORD)how - 1 > 2) {  // not Pause, a full block or Ctrl+Break
    StartRecording();
  }
}

// The keys as a tick sees them. Without hooks every change is recorded from
// this sample, as the recorder has always sampled, and so is the cursor's
// place. With them, a key or button that disagrees with what they told us at
// two looks in a row was missed: Windows drops a hook that kept input
// waiting too long, without a word. The change is recorded from the sample
// and the hooks put back.
void RecorderTick() {
  HANDLE context = InPhysicalPixels();
  Settle(false);
  BYTE down[256];
  ReadKeysDown(down);
  POINT at = {};
  GetCursorPos(&at);
  bool hooked = gApp.hooks[0], missed = false;
  // With the buttons swapped for a left hand, the sample reads the physical
  // buttons, and the hooks may name either: where only the crossed view
  // agrees with them, the hooks name the swapped ones, and that view counts.
  BYTE* table = gApp.keyStateTable;
  BYTE left = table[VK_LBUTTON] & kDown, right = table[VK_RBUTTON] & kDown;
  if (GetSystemMetrics(SM_SWAPBUTTON) && left != right && down[VK_LBUTTON] == right &&
      down[VK_RBUTTON] == left) {
    down[VK_LBUTTON] = left;
    down[VK_RBUTTON] = right;
  }
  for (int vk = 1; vk < 256; ++vk) {
    BYTE& s = table[vk];
    if (down[vk] == (s & kDown)) {
      s &= (BYTE)~kDiffered;
      continue;
    }
    if (hooked) {
      // The hooks name the left or right Shift, Ctrl and Alt, never the plain key.
      if ((vk >= VK_SHIFT && vk <= VK_MENU) || vk == VK_PACKET) continue;
      if (!(s & kDiffered)) {
        s |= kDiffered;  // once may be an event still on its way to the hook
        continue;
      }
      missed = true;
    }
    if (vk <= VK_XBUTTON2 && kPressOf[vk])
      ButtonChanged(vk, down[vk], at);
    else
      KeyChanged(vk, down[vk], MapVirtualKeyA(vk, 0));
  }
  if (missed && gApp.hooks[0]) InstallInputHooks();
  // The cursor where no hook heard it go (a dropped hook; under Wine, over
  // a window that is not Wine's), at two looks in a row, is a move too.
  POINT& looked = gApp.lookedAt;
  if (!gApp.physicalPixels || !hooked || (at.x == looked.x && at.y == looked.y)) StoreMove(at);
  looked = at;
  RestorePixels(context);
}
