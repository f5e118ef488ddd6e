#include "record/recorder.h"

#include "core/state.h"
#include "record/input.h"

using namespace win;

namespace {

constexpr DWORD kGrowBytes = 20000;  // the least the block grows by
constexpr DWORD kMargin = 100;       // free records that trigger growth

// What keyStateTable holds for each virtual key.
constexpr BYTE kDown = 1;      // down as far as we know (a lock: on)
constexpr BYTE kPressed = 2;   // its press is in the recording, its release not yet
constexpr BYTE kDiffered = 4;  // the last look at the key state disagreed with kDown
constexpr BYTE kHeld = 8;      // a lock key is held: its repeats do not toggle it

// A stop posted by the break key only ever stops: a recording that has
// already ended is not started again.
constexpr LPARAM kByBreak = 1;

// The record of each mouse button's press, by virtual key; its release is
// the next message number.
constexpr WORD kPressOf[] = {
    0, WM_LBUTTONDOWN, WM_RBUTTONDOWN, 0, WM_MBUTTONDOWN, WM_XBUTTONDOWN, WM_XBUTTONDOWN};

// Keeps free records ahead of the recording; false when memory ran out.
bool MakeRoom() {
  if (gApp.eventCursor + kMargin < Capacity(gApp.recordingBuffer)) return true;
  // The margin and a step more. The block has its address space set aside
  // and grows into it in place (ResizeBlock): no tick copies the recording,
  // and a step costs the same at the end of an hour as at the start.
  uint64_t size = (uint64_t)(gApp.eventCursor + kMargin) * kRecordSize + kGrowBytes;
  void* grown = size <= 0xFFFFFFFFu ? ResizeBlock(gApp.recordingBuffer, (DWORD)size) : nullptr;
  if (!grown) return false;
  gApp.recordingBuffer = (EventRecord*)grown;
  return true;
}

// Out of memory: end the recording properly and keep every event: no click
// on our window ended this one, so nothing is cut.
void OutOfMemory() {
  StopRecording(false);
  MessageBoxA(gApp.mainWindow,
              "Out of memory: the recording was stopped.\n\nEverything recorded so far is kept.",
              kCaption, kWarningBox);
}

// Appends a record stamped now. A full block (the hooks outran the ticks,
// and they cannot grow it) keeps its last record for the terminator.
void Store(DWORD message, DWORD paramL, DWORD paramH, DWORD last) {
  if (gApp.eventCursor + 1 >= Capacity(gApp.recordingBuffer)) return;
  gApp.recordingBuffer[gApp.eventCursor++] = {message, paramL, paramH, timeGetTime(), last};
  gApp.eventCount = gApp.eventCursor;
}

DWORD Foreground() { return (DWORD)(uintptr_t)GetForegroundWindow(); }

// Every change of position, the screen's edges included.
void StoreMove(POINT at) {
  if (at.x == gApp.lastMove.x && at.y == gApp.lastMove.y) return;
  gApp.lastMove = at;
  Store(WM_MOUSEMOVE, (DWORD)at.x, (DWORD)at.y, Foreground());
}

// A button or the wheel where the cursor is, after a move there if the ticks
// have not seen it yet. With 'under', the record names the window under the
// pointer: the hook hears a click on our own window before the click makes
// ours the foreground one.
void StoreMouse(DWORD message, DWORD last, bool under) {
  POINT at = {};
  GetCursorPos(&at);
  StoreMove(at);
  Store(message, (DWORD)at.x, (DWORD)at.y, under ? (DWORD)(uintptr_t)WindowFromPoint(at) : last);
}

// Pause ends the recording and is not recorded. What the user still holds
// is released once the recording has stopped.
void Break() {
  RemoveInputHooks();
  PostCommand(kCmdRecord, kByBreak);
}

// A press or release of a key or button as it reaches us. A press belongs
// in the recording when 'keep' says so; a release only when its press does.
bool Changed(int vk, bool down, bool keep = true) {
  BYTE& s = gApp.keyStateTable[vk];
  s = (BYTE)((s & ~(kDown | kDiffered)) | (down ? kDown : 0));
  if (down) {
    if (keep) s |= kPressed;
    return keep;
  }
  if (!(s & kPressed)) return false;
  s &= (BYTE)~kPressed;
  return true;
}

// A key pressed or released, or a lock turned on or off (a lock records its
// state, not its presses). scan: the scan code, and how the key was pressed.
// A key pressed on our own window is a command to us (F5, O, Enter), not
// part of what is recorded; a lock it turns is.
void KeyChanged(int vk, bool down, DWORD scan) {
  gApp.pressedAs[vk] = down ? (WORD)scan : 0;  // a key held at Pause is released as pressed
  if (vk == breakKey && down) return Break();
  DWORD front = Foreground(), message = down ? WM_KEYDOWN : WM_KEYUP;
  if (IsLockKey(vk)) {
    BYTE& s = gApp.keyStateTable[vk];
    s = (BYTE)((s ^ kDown) & ~kDiffered);
    message = s & kDown ? WM_KEYDOWN : WM_KEYUP;
  } else if (!Changed(vk, down, front != (DWORD)(uintptr_t)gApp.mainWindow)) {
    return;
  }
  Store(message, (DWORD)vk + (scan & kScanMask) * 256, scan, front);
}

void ButtonChanged(int vk, bool down) {
  bool x = vk >= VK_XBUTTON1;
  if (Changed(vk, down)) StoreMouse(kPressOf[vk] + !down, vk - VK_XBUTTON1 + XBUTTON1, !x);
}

void OnKey(const KBDLLHOOKSTRUCT& k) {
  int vk = (int)(k.vkCode & 0xFF);
  bool down = !(k.flags & LLKHF_UP);
  if (vk == VK_PACKET) return;  // a typed character, not a key
  if (IsLockKey(vk)) {
    BYTE& s = gApp.keyStateTable[vk];
    bool repeat = s & kHeld;
    s = (BYTE)(down ? s | kHeld : s & ~kHeld);
    if (!down || repeat) return;
  }
  // The key exactly as pressed: which side, which keypad, extended or not.
  KeyChanged(
      vk, down,
      (k.scanCode & kScanMask) | kKeyAsPressed | (k.flags & LLKHF_EXTENDED ? kKeyExtended : 0));
}

void OnMouse(DWORD message, DWORD data) {
  if (message == WM_MOUSEWHEEL || message == WM_MOUSEHWHEEL)
    return StoreMouse(message, (DWORD)(int16_t)data, false);
  for (int vk = VK_LBUTTON; vk <= VK_XBUTTON2; ++vk)
    if (kPressOf[vk] && message - kPressOf[vk] < 2 &&
        (vk < VK_XBUTTON1 || (DWORD)(vk - VK_XBUTTON1 + XBUTTON1) == data))
      return ButtonChanged(vk, message == kPressOf[vk]);
}

// Both hooks, told apart by the message: keys are 0x100-0x105, the mouse's
// from 0x200. They only append and return: they never allocate, wait or
// show anything, or Windows takes them away. Moves are left to the ticks,
// which read them in the coordinates playback uses.
LRESULT CALLBACK InputHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    if (wParam < WM_MOUSEMOVE)
      OnKey(*(const KBDLLHOOKSTRUCT*)lParam);
    else if (wParam != WM_MOUSEMOVE)
      OnMouse((DWORD)wParam, ((const MSLLHOOKSTRUCT*)lParam)->mouseData >> 16);
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
  // recording must, with a move: to where the cursor is.
  ReadKeysDown(gApp.keyStateTable);  // each 0 or 1: kDown
  gApp.lastMove.x = (LONG)0x80000000;
  POINT at = {};
  GetCursorPos(&at);
  StoreMove(at);
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

void StopRecording(bool trimToLastClick) {
  RemoveInputHooks();
  KillTimer(gApp.mainWindow, kTimerRecord);
  HoldFineTimer(false);
  SetIdleTitle();
  gApp.statusFlags &= (BYTE)~kBusy;
  if (EventRecord* events = gApp.recordingBuffer) {
    // Stop at the last click on our own window: that is the click that ended
    // the recording (record 0 is never looked at).
    DWORD i = trimToLastClick && gApp.eventCursor ? gApp.eventCursor - 1 : 0;
    DWORD main = (DWORD)(uintptr_t)gApp.mainWindow;
    while (i > 0) {
      const EventRecord& e = events[i];
      if (e.message == 0 || (e.message == WM_LBUTTONDOWN && e.hwnd == main)) break;
      --i;
    }
    if (i > 0) gApp.eventCursor = i;
    events[gApp.eventCursor] = EventRecord{};
    gApp.eventCount = gApp.eventCursor;
  }
  InvalidateRect(gApp.mainWindow, nullptr, TRUE);
}

void OnRecordCommand(LPARAM how) {
  gApp.lastCommand = kCmdRecord;
  if (IsRecording()) {
    StopRecording();
    if (how == kByBreak) ReleaseAllKeys();
  } else if (how != kByBreak) {
    StartRecording();
  }
}

// The keys as a tick sees them. Without hooks every change is recorded from
// this sample, as the recorder has always sampled. With them, a key or
// button that disagrees with what they told us at two looks in a row was
// missed: Windows drops a hook that kept input waiting too long, without a
// word. The change is recorded from the sample and the hooks put back.
void RecorderTick() {
  if (!MakeRoom()) return OutOfMemory();
  BYTE down[256];
  ReadKeysDown(down);
  bool hooked = gApp.hooks[0], missed = false;
  for (int vk = 1; vk < 256; ++vk) {
    BYTE& s = gApp.keyStateTable[vk];
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
      ButtonChanged(vk, down[vk]);
    else
      KeyChanged(vk, down[vk], MapVirtualKeyA(vk, 0));
  }
  if (missed && gApp.hooks[0]) InstallInputHooks();
  POINT at = {};
  GetCursorPos(&at);
  StoreMove(at);
}
