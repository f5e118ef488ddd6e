// Simulated desktop, input side: key states, the cursor, synthetic input,
// cursors and icons, system metrics and the version.
#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "sim/sim.h"

namespace sim {
namespace {

using namespace win;

struct Desk {
  BYTE sync[256] = {};   // the thread's key state bytes (GetKeyState)
  bool async[256] = {};  // physically down now
  bool since[256] = {};  // pressed since the last GetAsyncKeyState of that key
  bool lock[256] = {};   // physical toggle
  POINT cursor{100, 100};
  bool feedback = true;
  DWORD inputCost = 0;
  bool pressedSince = true;
  std::vector<Input> log;
  std::map<int, int> metrics{{SM_CXSCREEN, 1024},        {SM_CYSCREEN, 768},
                             {SM_CXDLGFRAME, 3},         {SM_CYSMCAPTION, 17},
                             {SM_CXVIRTUALSCREEN, 1024}, {SM_CYVIRTUALSCREEN, 768}};
  UINT doubleClick = 500;
  BYTE versionMajor = 6, versionMinor = 1;
  // Cursors and icons.
  HCURSOR shown = nullptr;
  int setCursorCalls = 0;
  std::vector<CreatedCursor> created;
  std::vector<HCURSOR> destroyed;
  std::map<std::string, void*> shared;  // loaded icons/cursors by instance + name
  // Low-level hooks, oldest first.
  struct Hook {
    HHOOK handle;
    int kind;
    HOOKPROC proc;
    bool live;     // installed and not unhooked
    bool dropped;  // taken away by the system
  };
  std::vector<Hook> hooks;
  bool hooksAvailable = true;
  int installs = 0, badUnhooks = 0, dpiPercent = 100;
  intptr_t awareness = -1;  // DPI_AWARENESS_CONTEXT_UNAWARE
  bool swapped = false, hooksNameSwapped = false;
  std::vector<std::array<uintptr_t, 4>> hotkeys;  // window (0: another program's), id, MOD_, vk
};

Desk& D() {
  static Desk desk;
  return desk;
}

constexpr DWORD LLMHF_INJECTED = 0x1;

bool IsLock(int vk) { return vk == VK_CAPITAL || vk == VK_NUMLOCK || vk == VK_SCROLL; }

bool ValidVk(int vk) { return vk >= 0 && vk < 256; }

// A physical press or release of one key: thread and async state follow.
void Press(int vk, bool down) {
  if (!ValidVk(vk)) return;
  Desk& d = D();
  if (down) {
    if (!d.async[vk] && IsLock(vk)) d.lock[vk] = !d.lock[vk];
    d.since[vk] = d.pressedSince;
  }
  d.async[vk] = down;
  BYTE toggle = IsLock(vk) ? (BYTE)(d.lock[vk] ? 1 : 0) : (BYTE)(d.sync[vk] & 1);
  d.sync[vk] = (BYTE)((down ? 0x80 : 0) | toggle);
}

// A metric as set: in physical pixels.
int Metric(int index) {
  auto it = D().metrics.find(index);
  return it == D().metrics.end() ? 0 : it->second;
}

bool Aware() { return D().awareness == -3 || D().awareness == -4; }

// A physical position or size as the thread sees it.
LONG Seen(LONG v) {
  if (Aware()) return v;
  int64_t scaled = (int64_t)v * 100;
  int64_t q = scaled / D().dpiPercent;
  return (LONG)(q * D().dpiPercent > scaled ? q - 1 : q);  // rounded down
}

// The hotkey of these MOD_ bits and key that lives (with its window), or nullptr.
std::array<uintptr_t, 4>* HotkeyOf(UINT mods, UINT vk) {
  for (auto& h : D().hotkeys)
    if ((h[2] & 7) == mods && h[3] == vk && (!h[0] || detail::LiveWindow((HWND)h[0]))) return &h;
  return nullptr;
}

void MoveCursor(LONG x, LONG y) {
  Desk& d = D();
  LONG left = Metric(SM_XVIRTUALSCREEN), top = Metric(SM_YVIRTUALSCREEN);
  LONG cx = Metric(SM_CXVIRTUALSCREEN), cy = Metric(SM_CYVIRTUALSCREEN);
  d.cursor.x = std::max<LONG>(left, std::min<LONG>(x, left + cx - 1));
  d.cursor.y = std::max<LONG>(top, std::min<LONG>(y, top + cy - 1));
}

// Calls every hook of this kind that is still called, newest first, until
// one takes the event away: true then. Each runs in the thread's own
// awareness (a hook is called from the message loop, not from a window).
bool CallHooks(int kind, WPARAM wParam, LPARAM lParam) {
  std::vector<Desk::Hook> hooks = D().hooks;  // a hook may unhook itself or others
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it)
    if (it->kind == kind && it->live && !it->dropped && it->proc(HC_ACTION, wParam, lParam))
      return true;
  return false;
}

bool KeyHooks(int vk, int scan, DWORD flags) {
  KBDLLHOOKSTRUCT k{(DWORD)vk, (DWORD)scan, flags, sim::Now(), 0};
  return CallHooks(WH_KEYBOARD_LL, flags & LLKHF_UP ? WM_KEYUP : WM_KEYDOWN, (LPARAM)&k);
}

// at: where the cursor is, or goes to for a move; physical, as the hooks get it.
void MouseHooks(UINT message, int data, POINT at, DWORD flags = 0) {
  MSLLHOOKSTRUCT m{at, (DWORD)data << 16, flags, sim::Now(), 0};
  CallHooks(WH_MOUSE_LL, message, (LPARAM)&m);
}

// The button a mouse message presses or releases: (vk, down), vk 0 for none.
std::pair<int, bool> ButtonOf(UINT message, int data) {
  switch (message) {
    case WM_LBUTTONDOWN: return {VK_LBUTTON, true};
    case WM_LBUTTONUP: return {VK_LBUTTON, false};
    case WM_RBUTTONDOWN: return {VK_RBUTTON, true};
    case WM_RBUTTONUP: return {VK_RBUTTON, false};
    case WM_MBUTTONDOWN: return {VK_MBUTTON, true};
    case WM_MBUTTONUP: return {VK_MBUTTON, false};
    case WM_XBUTTONDOWN: return {VK_XBUTTON1 + data - 1, true};
    case WM_XBUTTONUP: return {VK_XBUTTON1 + data - 1, false};
  }
  return {0, false};
}

// Set-1 scan codes of a US keyboard by virtual key (see MapVirtualKeyA in sim.h).
struct ScanTable {
  BYTE scan[256] = {};
  ScanTable() {
    const char* rows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
    const BYTE starts[] = {0x10, 0x1E, 0x2C};
    for (int r = 0; r < 3; ++r)
      for (int i = 0; rows[r][i]; ++i) scan[(int)rows[r][i]] = (BYTE)(starts[r] + i);
    for (int digit = 1; digit <= 9; ++digit) scan['0' + digit] = (BYTE)(0x01 + digit);
    for (int i = 0; i < 10; ++i) scan[0x70 + i] = (BYTE)(0x3B + i);  // F1-F10
    static const BYTE pairs[][2] = {
        {'0', 0x0B},  {0x08, 0x0E}, {0x09, 0x0F}, {0x0D, 0x1C}, {0x10, 0x2A}, {0x11, 0x1D},
        {0x12, 0x38}, {0x13, 0x45}, {0x14, 0x3A}, {0x1B, 0x01}, {0x20, 0x39}, {0x21, 0x49},
        {0x22, 0x51}, {0x23, 0x4F}, {0x24, 0x47}, {0x25, 0x4B}, {0x26, 0x48}, {0x27, 0x4D},
        {0x28, 0x50}, {0x2C, 0x54}, {0x2D, 0x52}, {0x2E, 0x53}, {0x5B, 0x5B}, {0x5C, 0x5C},
        {0x5D, 0x5D}, {0x60, 0x52}, {0x61, 0x4F}, {0x62, 0x50}, {0x63, 0x51}, {0x64, 0x4B},
        {0x65, 0x4C}, {0x66, 0x4D}, {0x67, 0x47}, {0x68, 0x48}, {0x69, 0x49}, {0x6A, 0x37},
        {0x6B, 0x4E}, {0x6D, 0x4A}, {0x6E, 0x53}, {0x6F, 0x35}, {0x7A, 0x57}, {0x7B, 0x58},
        {0x90, 0x45}, {0x91, 0x46}, {0xA0, 0x2A}, {0xA1, 0x36}, {0xA2, 0x1D}, {0xA3, 0x1D},
        {0xA4, 0x38}, {0xA5, 0x38}, {0xBA, 0x27}, {0xBB, 0x0D}, {0xBC, 0x33}, {0xBD, 0x0C},
        {0xBE, 0x34}, {0xBF, 0x35}, {0xC0, 0x29}, {0xDB, 0x1A}, {0xDC, 0x2B}, {0xDD, 0x1B},
        {0xDE, 0x28}, {0xE2, 0x56}};
    for (auto& p : pairs) scan[p[0]] = p[1];
  }
};

void* LoadShared(bool icon, HINSTANCE instance, LPCSTR name) {
  bool id = ((uintptr_t)name >> 16) == 0;
  std::string key = (icon ? "icon:" : "cursor:") + std::to_string((uintptr_t)instance) + ":" +
                    (id ? "#" + std::to_string((uintptr_t)name) : name);
  void*& handle = D().shared[key];
  if (!handle) handle = detail::NewHandle();
  return handle;
}

// A new entry at the end of the input log, stamped with the clock.
Input& Log(Input::Kind kind) {
  D().log.push_back(Input{});
  Input& in = D().log.back();
  in.kind = kind;
  in.time = sim::Now();
  return in;
}

}  // namespace

namespace detail {
void ResetInput() { D() = Desk{}; }

HANDLE WINAPI SetThreadDpiAwarenessContext(HANDLE context) {
  intptr_t asked = (intptr_t)context;
  if (asked != -1 && asked != -3 && asked != -4) return nullptr;
  return (HANDLE)std::exchange(D().awareness, asked);
}

POINT Unaware(POINT p) {
  if (!Aware()) return p;
  intptr_t own = std::exchange(D().awareness, -1);  // read as an unaware thread would
  POINT seen{Seen(p.x), Seen(p.y)};
  D().awareness = own;
  return seen;
}
}  // namespace detail

// ---- Keys ------------------------------------------------------------------------

void SetKeyDown(int vk, bool down) { Press(vk, down); }

void UserKey(int vk, int scan, bool extended, bool down) {
  if (KeyHooks(vk, scan, (extended ? LLKHF_EXTENDED : 0) | (down ? 0 : LLKHF_UP))) return;
  bool repeat = D().async[vk];
  Press(vk, down);
  if (vk >= VK_LSHIFT && vk <= VK_RMENU) Press(VK_SHIFT + (vk - VK_LSHIFT) / 2, down);
  UINT mods = D().async[VK_MENU] | D().async[VK_CONTROL] << 1 | D().async[VK_SHIFT] << 2;
  auto* h = down ? HotkeyOf(mods, (UINT)vk) : nullptr;
  if (h && (*h)[0] && !(repeat && ((*h)[2] & MOD_NOREPEAT)))
    win::PostMessageA((HWND)(*h)[0], WM_HOTKEY, (*h)[1], (LPARAM)(mods | vk << 16));
}

void HoldHotkey(UINT modifiers, UINT vk) { D().hotkeys.push_back({0, 0, modifiers, vk}); }

void UserMouse(UINT message, int data) {
  UINT heard = message;
  if (D().swapped && D().hooksNameSwapped && message >= WM_LBUTTONDOWN && message <= WM_RBUTTONUP)
    heard = message < WM_RBUTTONDOWN ? message + 3 : message - 3;
  MouseHooks(heard, data, D().cursor);
  auto [vk, down] = ButtonOf(message, data);
  if (vk) Press(vk, down);
}

void UserMouseAt(int x, int y, UINT message) {
  MouseHooks(WM_MOUSEMOVE, 0, POINT{x, y});
  MouseHooks(message, 0, POINT{x, y});
  D().cursor = POINT{x, y};
  Press(ButtonOf(message, 0).first, ButtonOf(message, 0).second);
}

void SetHooksAvailable(bool on) { D().hooksAvailable = on; }
void DropHooks() {
  for (auto& h : D().hooks) h.dropped = true;
}
int InstalledHooks() {
  return detail::Count(D().hooks, [](auto& h) { return h.live && !h.dropped; });
}
int HookInstalls() { return D().installs; }
int BadUnhooks() { return D().badUnhooks; }
void SetDpiScale(int percent) { D().dpiPercent = percent; }
bool PerMonitorAware() { return Aware(); }
void SetSwappedButtons(bool swapped, bool hooksNameSwapped) {
  D().swapped = swapped;
  D().hooksNameSwapped = hooksNameSwapped;
}

void Tap(int vk) {
  Press(vk, true);
  Press(vk, false);
}

void SetToggle(int vk, bool on) {
  if (!ValidVk(vk)) return;
  D().lock[vk] = on;
  D().sync[vk] = (BYTE)((D().sync[vk] & 0x80) | (on ? 1 : 0));
}

bool KeyDown(int vk) { return ValidVk(vk) && D().async[vk]; }
bool PressedSince(int vk) { return ValidVk(vk) && D().since[vk]; }
bool LockOn(int vk) { return ValidVk(vk) && D().lock[vk]; }
void SetPressedSinceBits(bool on) { D().pressedSince = on; }

// ---- Cursor ----------------------------------------------------------------------

void SetCursorAt(int x, int y) {
  MouseHooks(WM_MOUSEMOVE, 0, POINT{x, y});
  D().cursor = POINT{x, y};
}
HCURSOR ShownCursor() { return D().shown; }
int SetCursorCalls() { return D().setCursorCalls; }
const std::vector<CreatedCursor>& CreatedCursors() { return D().created; }
const std::vector<HCURSOR>& DestroyedCursors() { return D().destroyed; }
int LiveCursors() {
  return detail::Count(D().created, [](auto& c) { return !c.destroyed; });
}

// ---- Input log -------------------------------------------------------------------

const std::vector<Input>& Inputs() { return D().log; }
void ClearInputs() { D().log.clear(); }
void SetInputFeedback(bool on) { D().feedback = on; }
void SetInputCost(DWORD ms) { D().inputCost = ms; }

// ---- System values ----------------------------------------------------------------

void SetMetric(int index, int value) { D().metrics[index] = value; }
void SetDoubleClickTime(UINT ms) { D().doubleClick = ms; }
void SetVersion(BYTE major, BYTE minor) {
  D().versionMajor = major;
  D().versionMinor = minor;
}

}  // namespace sim

namespace win {

using sim::D;

int WINAPI GetSystemMetrics(int index) {
  if (index == SM_SWAPBUTTON) return D().swapped;
  int v = sim::Metric(index);
  bool screen = index == SM_CXSCREEN || index == SM_CYSCREEN ||
                (index >= SM_XVIRTUALSCREEN && index <= SM_CYVIRTUALSCREEN);
  return screen ? sim::Seen(v) : v;
}

UINT WINAPI GetDoubleClickTime() { return D().doubleClick; }

DWORD WINAPI GetCurrentThreadId() { return sim::kOurThread; }

DWORD WINAPI GetVersion() {
  return (DWORD)D().versionMajor | ((DWORD)D().versionMinor << 8) | (7601u << 16);
}

short WINAPI GetKeyState(int vk) {
  if (!sim::ValidVk(vk)) return 0;
  return (short)(signed char)D().sync[vk];
}

short WINAPI GetAsyncKeyState(int vk) {
  if (!sim::ValidVk(vk)) return 0;
  auto& d = D();
  unsigned r = (d.async[vk] ? 0x8000u : 0u) | (d.since[vk] ? 1u : 0u);
  d.since[vk] = false;
  return (short)(uint16_t)r;
}

BOOL WINAPI GetKeyboardState(BYTE* state) {
  if (!state) return FALSE;
  std::memcpy(state, D().sync, 256);
  return TRUE;
}

BOOL WINAPI SetKeyboardState(BYTE* state) {
  if (!state) return FALSE;
  std::memcpy(sim::Log(sim::Input::KeyboardState).state.data(), state, 256);
  std::memcpy(D().sync, state, 256);
  return TRUE;
}

BOOL WINAPI GetCursorPos(POINT* point) {
  if (!point) return FALSE;
  *point = {sim::Seen(D().cursor.x), sim::Seen(D().cursor.y)};
  return TRUE;
}

UINT WINAPI MapVirtualKeyA(UINT code, UINT mapType) {
  static const sim::ScanTable table;
  return mapType != 0 || code > 255 ? 0 : table.scan[code];
}

void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, DWORD_PTR) {
  sim::Input& in = sim::Log(sim::Input::Key);
  in.vk = vk;
  in.scan = scan;
  in.flags = flags;
  sim::detail::Elapse(D().inputCost);
  bool up = flags & KEYEVENTF_KEYUP;
  if (sim::KeyHooks(vk, scan,
                    LLKHF_INJECTED | (flags & KEYEVENTF_EXTENDEDKEY ? LLKHF_EXTENDED : 0) |
                        (up ? LLKHF_UP : 0)))
    return;
  if (D().feedback) sim::Press(vk, !up);
}

UINT WINAPI SendInput(UINT count, INPUT* inputs, int size) {
  if (!inputs || size != (int)sizeof(INPUT)) return 0;
  for (UINT i = 0; i < count; ++i) {
    const KEYBDINPUT& k = inputs[i].ki;
    if (inputs[i].type != INPUT_KEYBOARD || !(k.dwFlags & KEYEVENTF_UNICODE)) return i;  // not modelled
    sim::Input& in = sim::Log(sim::Input::Key);
    in.vk = VK_PACKET;
    in.flags = k.dwFlags;
    in.data = k.wScan;
    sim::KeyHooks(VK_PACKET, k.wScan,
                  LLKHF_INJECTED | (k.dwFlags & KEYEVENTF_KEYUP ? LLKHF_UP : 0));
  }
  return count;
}

// What the hooks hear of a mouse_event: a move, then each button, then the wheel.
void MouseEventHooks(DWORD flags, DWORD data) {
  if (flags & MOUSEEVENTF_MOVE) sim::MouseHooks(WM_MOUSEMOVE, 0, D().cursor, sim::LLMHF_INJECTED);
  static const std::pair<DWORD, UINT> kButtons[] = {
      {MOUSEEVENTF_LEFTDOWN, WM_LBUTTONDOWN},   {MOUSEEVENTF_LEFTUP, WM_LBUTTONUP},
      {MOUSEEVENTF_RIGHTDOWN, WM_RBUTTONDOWN},  {MOUSEEVENTF_RIGHTUP, WM_RBUTTONUP},
      {MOUSEEVENTF_MIDDLEDOWN, WM_MBUTTONDOWN}, {MOUSEEVENTF_MIDDLEUP, WM_MBUTTONUP},
      {MOUSEEVENTF_XDOWN, WM_XBUTTONDOWN},      {MOUSEEVENTF_XUP, WM_XBUTTONUP},
      {MOUSEEVENTF_WHEEL, WM_MOUSEWHEEL},       {MOUSEEVENTF_HWHEEL, WM_MOUSEHWHEEL}};
  for (auto [flag, message] : kButtons)
    if (flags & flag) sim::MouseHooks(message, (int)data, D().cursor, sim::LLMHF_INJECTED);
}

void WINAPI mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD data, DWORD_PTR) {
  sim::Input& in = sim::Log(sim::Input::Mouse);
  in.flags = flags;
  in.dx = dx;
  in.dy = dy;
  in.data = data;
  sim::detail::Elapse(D().inputCost);
  MouseEventHooks(flags, data);
  if (!D().feedback) return;
  bool desk = (flags & MOUSEEVENTF_VIRTUALDESK) != 0;
  // An absolute coordinate (0-65535) on the screen, or on the virtual screen
  // with 'desk': units of the desktop as it is, physical, whoever asks.
  auto scale = [desk](DWORD d, int origin, int size) {
    uint64_t span = (uint64_t)std::max(0, sim::Metric(size));
    int64_t v = (desk ? sim::Metric(origin) : 0) + (int64_t)(((uint64_t)d * span + 32767) / 65535);
    return (LONG)std::min<int64_t>(v, 0x7FFFFFFF);
  };
  if ((flags & MOUSEEVENTF_MOVE) && (flags & MOUSEEVENTF_ABSOLUTE)) {
    sim::MoveCursor(scale(dx, SM_XVIRTUALSCREEN, desk ? SM_CXVIRTUALSCREEN : SM_CXSCREEN),
                    scale(dy, SM_YVIRTUALSCREEN, desk ? SM_CYVIRTUALSCREEN : SM_CYSCREEN));
  } else if (flags & MOUSEEVENTF_MOVE) {
    sim::MoveCursor(D().cursor.x + (int32_t)dx, D().cursor.y + (int32_t)dy);
  }
  if (flags & MOUSEEVENTF_LEFTDOWN) sim::Press(VK_LBUTTON, true);
  if (flags & MOUSEEVENTF_LEFTUP) sim::Press(VK_LBUTTON, false);
  if (flags & MOUSEEVENTF_RIGHTDOWN) sim::Press(VK_RBUTTON, true);
  if (flags & MOUSEEVENTF_RIGHTUP) sim::Press(VK_RBUTTON, false);
  if (flags & MOUSEEVENTF_MIDDLEDOWN) sim::Press(VK_MBUTTON, true);
  if (flags & MOUSEEVENTF_MIDDLEUP) sim::Press(VK_MBUTTON, false);
  if (flags & (MOUSEEVENTF_XDOWN | MOUSEEVENTF_XUP))
    sim::Press(VK_XBUTTON1 + (int)data - 1, (flags & MOUSEEVENTF_XDOWN) != 0);
  in.x = D().cursor.x;
  in.y = D().cursor.y;
}

HHOOK WINAPI SetWindowsHookExA(int id, HOOKPROC proc, HINSTANCE, DWORD thread) {
  auto& d = D();
  if (!d.hooksAvailable || !proc || thread || (id != WH_KEYBOARD_LL && id != WH_MOUSE_LL))
    return nullptr;
  HHOOK handle = (HHOOK)sim::detail::NewHandle();
  d.hooks.push_back({handle, id, proc, true, false});
  ++d.installs;
  return handle;
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hook) {
  for (auto& h : D().hooks)
    if (h.handle == hook && h.live) {
      h.live = false;
      return h.dropped ? FALSE : TRUE;
    }
  ++D().badUnhooks;
  return FALSE;
}

LRESULT WINAPI CallNextHookEx(HHOOK, int, WPARAM, LPARAM) { return 0; }

BOOL WINAPI RegisterHotKey(HWND window, int id, UINT modifiers, UINT vk) {
  if (sim::HotkeyOf(modifiers & 7, vk)) return FALSE;
  D().hotkeys.push_back({(uintptr_t)window, (uintptr_t)id, modifiers, vk});
  return TRUE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
  return (HCURSOR)sim::LoadShared(false, instance, name);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
  return (HICON)sim::LoadShared(true, instance, name);
}

HCURSOR WINAPI CreateCursor(HINSTANCE instance, int hotX, int hotY, int width, int height,
                            const void* andPlane, const void* xorPlane) {
  if (!andPlane || !xorPlane || width <= 0 || height <= 0) return nullptr;
  size_t bytes = (size_t)((width + 15) / 16 * 2) * (size_t)height;
  const BYTE *a = (const BYTE*)andPlane, *x = (const BYTE*)xorPlane;
  HCURSOR handle = (HCURSOR)sim::detail::NewHandle();
  D().created.push_back(sim::CreatedCursor{handle, instance, hotX, hotY, width, height,
                                           std::vector<BYTE>(a, a + bytes),
                                           std::vector<BYTE>(x, x + bytes), false});
  return handle;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
  ++D().setCursorCalls;
  return std::exchange(D().shown, cursor);
}

BOOL WINAPI DestroyCursor(HCURSOR cursor) {
  D().destroyed.push_back(cursor);
  for (auto& c : D().created)
    if (c.handle == cursor && !c.destroyed) {
      c.destroyed = true;
      return TRUE;
    }
  return FALSE;
}

}  // namespace win
