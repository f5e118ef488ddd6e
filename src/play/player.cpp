#include "play/player.h"

#include "core/state.h"
#include "record/input.h"

using namespace win;

void MoveTo(const EventRecord& r) {
  DWORD cx = (DWORD)GetSystemMetrics(SM_CXSCREEN), cy = (DWORD)GetSystemMetrics(SM_CYSCREEN);
  DWORD dx = r.paramL * 65535u / (cx ? cx : 1);
  DWORD dy = r.paramH * 65535u / (cy ? cy : 1);
  mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, dx, dy, 0, 0);
  SetCursorPos((int)r.paramL, (int)r.paramH);
}

DWORD RecordedGap(const EventRecord* events, DWORD i) {
  return PlayedGap(events[i - 1].time, events[i].time);
}

namespace {

void Report(HWND window, DWORD code) {
  if (gApp.lastCommand)
    PostMessageA(window, WM_COMMAND, (gApp.lastCommand & 0xFFFF) | (code << 16), (LPARAM)code);
}

bool IsMove(const EventRecord* events, DWORD i, DWORD capacity) {
  return i < capacity && events[i].message == WM_MOUSEMOVE;
}

void Play(const EventRecord& r) {
  switch (r.message) {
    case WM_KEYDOWN:
    case WM_KEYUP: {
      int vk = r.paramL & 0xFF;
      if (vk != VK_LSHIFT) SendKey(vk, r.message == WM_KEYUP);  // Shift comes as VK_SHIFT
      break;
    }
    case WM_MOUSEMOVE: MoveTo(r); break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      gApp.clickPlayed = 1;
      mouse_event(r.message == WM_LBUTTONDOWN ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP, 0, 0, 0,
                  0);
      gApp.leftHeld = r.message == WM_LBUTTONDOWN;
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      mouse_event(r.message == WM_RBUTTONDOWN ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP, 0, 0,
                  0, 0);
      gApp.leftHeld = 0;
      break;
    default: break;  // not a kind we write
  }
}

}  // namespace

void PlaybackStep(HWND window, UINT_PTR timerId) {
  // Pause down now, or pressed and released since the last query.
  if (IsKeyDown(breakKey) || (GetAsyncKeyState(breakKey) & 0xFF)) {
    Report(window, 2);
    return;
  }
  EventRecord* events = gApp.recordingBuffer;
  DWORD capacity = Capacity(events);
  DWORD& i = gApp.eventCursor;
  if (i < capacity && events[i].message) {
    Play(events[i]);
    ++i;
    if (i < capacity && events[i].message) {
      if (gApp.fastSpeed != 1) {
        SetTimer(window, timerId, RecordedGap(events, i), nullptr);
        return;
      }
      // Fast: of a run of moves with the button up, play only the first, every
      // sixth and the last, back to back, then pause 75 ms. Drags play whole.
      bool moved = false;
      while (!gApp.leftHeld && IsMove(events, i, capacity)) {
        if (GetAsyncKeyState(breakKey)) {
          Report(window, 2);
          return;
        }
        if (i % 6 == 0 || !IsMove(events, i + 1, capacity)) {
          MoveTo(events[i]);
          Sleep(1);
          moved = true;
        }
        ++i;
      }
      SetTimer(window, timerId, moved ? 75 : 1, nullptr);
      return;
    }
  }
  // The run is over. After a click, let a following click not join it into a
  // double click.
  if (gApp.clickPlayed == 1) Sleep(GetDoubleClickTime() >> 1);
  Report(window, 1);
}
