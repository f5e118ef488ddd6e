#include "record/input.h"

#include "core/state.h"
#include "format/record.h"

using namespace win;

bool IsLockKey(int vk) { return vk == VK_CAPITAL || vk == VK_NUMLOCK || vk == VK_SCROLL; }

static bool IsButton(int vk) {
  return vk == VK_LBUTTON || vk == VK_RBUTTON || (vk >= VK_MBUTTON && vk <= VK_XBUTTON2);
}

bool IsKeyDown(int vk) {
  if (IsButton(vk)) return (GetAsyncKeyState(vk) & 0x8000) != 0;
  if (IsLockKey(vk)) return (GetKeyState(vk) & 1) != 0;
  return (GetKeyState(vk) & 0x8000) != 0;
}

void ReadKeysDown(BYTE down[256]) {
  // One key query brings the whole thread state up to date (under Wine it is
  // a server round trip per call), then one call reads all 256 keys.
  GetKeyState(VK_SHIFT);
  GetKeyboardState(down);
  for (int vk = 0; vk < 256; ++vk)
    down[vk] = IsButton(vk) ? IsKeyDown(vk) : (down[vk] >> (IsLockKey(vk) ? 0 : 7)) & 1;
}

bool IsExtendedKey(int vk) {
  return (vk >= VK_PRIOR && vk <= VK_DELETE) || vk == VK_CONTROL || vk == VK_LWIN ||
         vk == VK_RWIN || vk == VK_APPS || vk == VK_RCONTROL || vk == VK_RMENU;
}

void SendKey(int vk, bool up, DWORD scanAndBits) {
  gApp.pressedAs[vk] = up ? 0 : (WORD)scanAndBits;
  if (!(scanAndBits & kKeyAsPressed))
    scanAndBits = MapVirtualKeyA(vk, 0) | (IsExtendedKey(vk) ? kKeyExtended : 0);
  DWORD flags =
      (up ? KEYEVENTF_KEYUP : 0) | (scanAndBits & kKeyExtended ? KEYEVENTF_EXTENDEDKEY : 0);
  keybd_event((BYTE)vk, (BYTE)scanAndBits, flags, 0);
}

void SendChar(WORD unit) {
  INPUT in[2] = {};
  for (int i = 0; i < 2; ++i) {
    in[i].type = INPUT_KEYBOARD;
    in[i].ki.wScan = unit;
    in[i].ki.dwFlags = KEYEVENTF_UNICODE | (i ? KEYEVENTF_KEYUP : 0);
  }
  SendInput(2, in, sizeof in[0]);
}

// The thread's awareness set, where the system has the call: the context it
// replaced, or nullptr.
static HANDLE SetDpiContext(HANDLE context) {
  // Looked up once: the hooks and every step ask for it.
  if (!gApp.dpiLooked) {
    gApp.dpiLooked = 1;
    gApp.dpiCall = GetProcAddress(GetModuleHandleA("user32"), "SetThreadDpiAwarenessContext");
  }
  auto set = (SetThreadDpiAwarenessContextProc)gApp.dpiCall;
  return set ? set(context) : nullptr;
}

bool HeldNow(int vk) { return (GetKeyState(vk) | GetAsyncKeyState(vk)) & 0x8000; }

// The first per-monitor awareness: Windows 10 1607 and Wine know no other,
// and it reads and sends positions as the second does.
HANDLE InPhysicalPixels() { return SetDpiContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE()); }

void RestorePixels(HANDLE previous) {
  if (previous) SetDpiContext(previous);
}

void ReleaseAllKeys() {
  // The locks that are on stay on, and our own view of them must say so: the
  // player asks it before it plays a lock record.
  BYTE state[256];
  for (int vk = 0; vk < 256; ++vk) {
    state[vk] = IsLockKey(vk) && IsKeyDown(vk);
    gApp.keyStateTable[vk] = 0;  // the playback holds nothing now
  }
  for (int vk = 0; vk < 256; ++vk) {
    if (!(GetAsyncKeyState(vk) & 0x8000) && !IsKeyDown(vk)) continue;
    SendKey(vk, true, gApp.pressedAs[vk]);
    // A key event does not lift a mouse button (a drag broken off with Pause
    // would stay held): the mouse's own release does.
    static const WORD kRelease[] = {0,
                                    MOUSEEVENTF_LEFTUP,
                                    MOUSEEVENTF_RIGHTUP,
                                    0,
                                    MOUSEEVENTF_MIDDLEUP,
                                    MOUSEEVENTF_XUP,
                                    MOUSEEVENTF_XUP};
    if (vk <= VK_XBUTTON2 && kRelease[vk])
      mouse_event(kRelease[vk], 0, 0, vk >= VK_XBUTTON1 ? vk - VK_XBUTTON1 + XBUTTON1 : 0, 0);
  }
  SetKeyboardState(state);
  for (int vk = 0; vk < 255; ++vk) GetAsyncKeyState(vk);
}
