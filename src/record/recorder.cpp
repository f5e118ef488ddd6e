#include "record/recorder.h"

#include "core/state.h"
#include "record/input.h"

using namespace win;

namespace {

constexpr DWORD kGrowBytes = 20000;  // the least the block grows by
constexpr DWORD kMargin = 100;       // free records that trigger growth

void BeginRecording() {
  for (BYTE& b : gApp.keyStateTable) b = 0;
  // No position yet: the first tick records where the cursor is.
  gApp.lastMove.x = gApp.lastMove.y = (LONG)0x80000000;
  gApp.eventCursor = 0;
  gApp.eventCount = 0;
  // Locks already on when we start are not changes.
  const int locks[3] = {VK_NUMLOCK, VK_CAPITAL, VK_SCROLL};
  for (int vk : locks)
    if (GetKeyState(vk) & 1) gApp.keyStateTable[vk] = 1;
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
  HoldFineTimer(true);
  SetTimer(gApp.mainWindow, kTimerRecord, 10, nullptr);
  SetTitle(kTitleBreak);
  InvalidateRect(gApp.mainWindow, nullptr, TRUE);
}

}  // namespace

void StopRecording(bool trimToLastClick) {
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

void OnRecordCommand() {
  gApp.lastCommand = kCmdRecord;
  if (IsRecording())
    StopRecording();
  else
    StartRecording();
}

namespace {

// Keeps free records ahead of the recording; false when memory ran out.
bool MakeRoom() {
  if (gApp.eventCursor + kMargin < Capacity(gApp.recordingBuffer)) return true;
  // Grow by half the block (at least 20,000 bytes): a growth copies the
  // whole block, and fixed steps would copy an hour's recording hundreds
  // of times, each copy longer than the last.
  DWORD size = BlockSize(gApp.recordingBuffer);
  DWORD step = size / 2 > kGrowBytes ? size / 2 : kGrowBytes;
  void* grown =
      size <= 0xFFFFFFFFu - step ? ResizeBlock(gApp.recordingBuffer, size + step) : nullptr;
  if (!grown) return false;
  gApp.recordingBuffer = (EventRecord*)grown;
  return true;
}

}  // namespace

void RecorderTick() {
  if (!gApp.recordingBuffer) BeginRecording();
  if (!MakeRoom()) {
    // Out of memory: end the recording properly and keep every event: no
    // click on our window ended this one, so nothing is cut.
    StopRecording(false);
    MessageBoxA(gApp.mainWindow,
                "Out of memory: the recording was stopped.\n\nEverything recorded so far is kept.",
                kCaption, kWarningBox);
    return;
  }

  POINT at = {};
  GetCursorPos(&at);
  BYTE down[256];
  ReadKeysDown(down);

  EventRecord e = {};
  for (int vk = 1; vk < 256; ++vk) {
    if (down[vk] == gApp.keyStateTable[vk]) continue;
    gApp.keyStateTable[vk] = down[vk];
    if (vk == VK_LBUTTON || vk == VK_RBUTTON || vk == VK_MBUTTON) {
      UINT press = vk == VK_LBUTTON   ? WM_LBUTTONDOWN
                   : vk == VK_RBUTTON ? WM_RBUTTONDOWN
                                      : WM_MBUTTONDOWN;
      e.message = down[vk] ? press : press + 1;
      e.paramL = (DWORD)at.x;
      e.paramH = (DWORD)at.y;
    } else if (vk != VK_LSHIFT) {  // left Shift arrives as VK_SHIFT alone
      DWORD scan = MapVirtualKeyA(vk, 0);
      e.message = down[vk] ? WM_KEYDOWN : WM_KEYUP;
      e.paramL = (DWORD)vk + scan * 256;
      e.paramH = scan;
    }
    break;
  }

  if (!e.message) {
    // Every change of position, the screen's edges included.
    if (at.x == gApp.lastMove.x && at.y == gApp.lastMove.y) return;
    gApp.lastMove = at;
    e.message = WM_MOUSEMOVE;
    e.paramL = (DWORD)at.x;
    e.paramH = (DWORD)at.y;
  }

  if (e.message == WM_KEYDOWN && (e.paramL & 0xFF) == breakKey) {
    ReleaseAllKeys();
    PostCommand(LOWORD(gApp.lastCommand), 0);
    return;
  }

  e.time = timeGetTime();  // the clock playback reads too
  e.hwnd = (DWORD)(uintptr_t)GetForegroundWindow();
  gApp.recordingBuffer[gApp.eventCursor++] = e;
  gApp.eventCount = gApp.eventCursor;
}
