#include "boxes/injected.h"

#include "core/state.h"

using namespace win;

static const char kRepeatCaption[] = "Playback Repeats";
static const char kAboutCaption[] = "About Kavorin";

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int32_t ParseDecimal(const char* text) {
  if (!text || !*text) return 0;
  const char* p = text;
  while (*p && !IsDigit(*p)) ++p;
  char sign = p > text ? p[-1] : 0;
  uint32_t value = 0;
  while (IsDigit(*p)) value = value * 10 + (uint32_t)(*p++ - '0');
  return (int32_t)(sign == '-' ? 0u - value : value);
}

void OnSetRepeatCount() {
  SetTimer(gApp.mainWindow, kTimerRepeat, 10, nullptr);
  wsprintfA(gApp.repeatText, "%d", gApp.repeatCount);
  // The edit field goes into the blank lines below the first.
  if (MessageBoxA(gApp.mainWindow, "Number of Playback Loops:\t\n\n\n\n\n", kRepeatCaption,
                  MB_OKCANCEL | MB_ICONQUESTION | MB_TOPMOST) == IDOK) {
    int32_t count = ParseDecimal(gApp.repeatText);
    gApp.repeatCount = count < 0 ? 0 : count;
    gApp.continuousPlayback = 0;
  }
  KillTimer(gApp.mainWindow, kTimerRepeat);
}

namespace {

struct BoxSearch {
  const char* caption;
  HWND found;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM search) {
  BoxSearch& s = *(BoxSearch*)search;
  char title[32];
  GetWindowTextA(window, title, sizeof title);
  if (!SameNoCase(title, s.caption)) return TRUE;
  s.found = window;
  return FALSE;
}

// Our own box: only the windows of our thread are looked at, so that a box of
// another Kavorin with the same caption is never decorated from here.
HWND FindOurBox(const char* caption) {
  BoxSearch search = {caption, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), MatchCaption, (LPARAM)&search);
  return search.found;
}

}  // namespace

void InjectBoxControl(UINT_PTR timerId) {
  bool repeat = timerId == kTimerRepeat;
  HWND box = FindOurBox(repeat ? kRepeatCaption : kAboutCaption);
  if (!box) return;  // not open yet: try again on the next tick
  KillTimer(gApp.mainWindow, timerId);
  RECT client = {};
  GetClientRect(box, &client);
  bool oldLayout = (GetVersion() & 0xFF) < 6;  // message boxes grew taller from major version 6
  int y = repeat ? (oldLayout ? 45 : 60) : (oldLayout ? 15 : 30);
  HWND control = CreateWindowExA(
      WS_EX_TOPMOST, repeat ? "EDIT" : "STATIC", repeat ? gApp.repeatText : kHostName,
      repeat ? WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL
             : WS_CHILD | WS_VISIBLE | SS_CENTER,
      75, y, client.right - client.left - 150, 20, box,
      (HMENU)(uintptr_t)(repeat ? 0u : (UINT)kCmdWebsite), nullptr, nullptr);
  InvalidateRect(box, nullptr, TRUE);
  if (!control) return;
  SendMessageA(control, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), TRUE);
  SetWindowLongPtrA(control, GWLP_USERDATA, GetWindowLongPtrA(control, GWLP_WNDPROC));
  SetWindowLongPtrA(control, GWLP_WNDPROC, (LONG_PTR)(repeat ? RepeatEditProc : LinkLabelProc));
  ShowWindow(control, SW_SHOW);
  UpdateWindow(control);
  InvalidateRect(control, nullptr, TRUE);
  if (repeat) {
    // Typing replaces the shown count; Enter presses OK.
    SendMessageA(control, EM_SETSEL, 0, -1);
    SetFocus(control);
  }
}

LRESULT CALLBACK RepeatEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC old = (WNDPROC)GetWindowLongPtrA(window, GWLP_USERDATA);
  // The box is closing: keep what was typed, at most 30 characters.
  if (message == WM_DESTROY) GetWindowTextA(window, gApp.repeatText, 31);
  return old ? CallWindowProcA(old, window, message, wParam, lParam)
             : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK LinkLabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOUSEMOVE: SetCursor(gApp.handCursor); break;
    case WM_LBUTTONDOWN:
      // The home page opens while the About box stays.
      PostMessageA(gApp.mainWindow, WM_COMMAND, LOWORD(GetWindowLongPtrA(window, GWLP_ID)), 1);
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r = {};
      GetClientRect(window, &r);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0, 0, 255));
      SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      GetWindowTextA(window, gApp.pathBuffer, 255);
      UINT format = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS;
      if (IsWindow(window) && (GetWindowLongPtrA(window, GWL_STYLE) & SS_CENTER))
        format |= DT_CENTER;
      DrawTextA(dc, gApp.pathBuffer, -1, &r, format);
      EndPaint(window, &ps);
      return 1;
    }
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
