// Simulated desktop, input side: key states, the cursor, synthetic input,
// cursors and icons, system metrics and the version.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "sim/sim.h"

namespace sim {
namespace {

using namespace win;

struct Desk {
  BYTE sync[256] = {};   // the thread's key state bytes (GetKeyState)
  bool async[256] = {};  // physically down now
  bool since[256] = {};  // pressed since the last GetAsyncKeyState of that key
  bool lock[256] = {};   // physical toggle
  int asyncCalls[256] = {};
  POINT cursor{100, 100};
  bool feedback = true;
  std::vector<Input> log;
  std::map<int, int> metrics{
      {SM_CXSCREEN, 1024}, {SM_CYSCREEN, 768}, {SM_CXDLGFRAME, 3}, {SM_CYSMCAPTION, 17}};
  UINT doubleClick = 500;
  BYTE versionMajor = 6, versionMinor = 1;
  // Cursors and icons.
  HCURSOR shown = nullptr;
  int setCursorCalls = 0;
  std::vector<CreatedCursor> created;
  std::vector<HCURSOR> destroyed;
  std::vector<LoadedResource> loaded;
  std::map<std::string, void*> shared;  // loaded icons/cursors by instance + name
};

Desk& D() {
  static Desk desk;
  return desk;
}

bool IsLock(int vk) { return vk == VK_CAPITAL || vk == VK_NUMLOCK || vk == VK_SCROLL; }

bool ValidVk(int vk) { return vk >= 0 && vk < 256; }

// A physical press or release of one key: thread and async state follow.
void Press(int vk, bool down) {
  if (!ValidVk(vk)) return;
  Desk& d = D();
  if (down) {
    if (!d.async[vk] && IsLock(vk)) d.lock[vk] = !d.lock[vk];
    d.since[vk] = true;
  }
  d.async[vk] = down;
  BYTE toggle = IsLock(vk) ? (BYTE)(d.lock[vk] ? 1 : 0) : (BYTE)(d.sync[vk] & 1);
  d.sync[vk] = (BYTE)((down ? 0x80 : 0) | toggle);
}

void MoveCursor(LONG x, LONG y) {
  Desk& d = D();
  LONG cx = win::GetSystemMetrics(SM_CXSCREEN), cy = win::GetSystemMetrics(SM_CYSCREEN);
  d.cursor.x = std::max<LONG>(0, std::min<LONG>(x, cx - 1));
  d.cursor.y = std::max<LONG>(0, std::min<LONG>(y, cy - 1));
}

struct ScanTable {
  UINT scan[256] = {};
  ScanTable();
};

const ScanTable& Scans() {
  static const ScanTable table;
  return table;
}

ScanTable::ScanTable() {
  auto set = [this](int vk, UINT code) { scan[vk] = code; };
  const char* rows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  const UINT starts[] = {0x10, 0x1E, 0x2C};
  for (int r = 0; r < 3; ++r)
    for (int i = 0; rows[r][i]; ++i) set(rows[r][i], starts[r] + (UINT)i);
  for (int digit = 1; digit <= 9; ++digit) set('0' + digit, 0x01 + (UINT)digit);
  set('0', 0x0B);
  set(0x08, 0x0E);                                                      // back
  set(0x09, 0x0F);                                                      // tab
  set(0x0D, 0x1C);                                                      // return
  set(0x10, 0x2A);                                                      // shift
  set(0x11, 0x1D);                                                      // control
  set(0x12, 0x38);                                                      // menu (alt)
  set(0x13, 0x45);                                                      // pause
  set(0x14, 0x3A);                                                      // caps lock
  set(0x1B, 0x01);                                                      // escape
  set(0x20, 0x39);                                                      // space
  const UINT nav[] = {0x49, 0x51, 0x4F, 0x47, 0x4B, 0x48, 0x4D, 0x50};  // 0x21-0x28
  for (int i = 0; i < 8; ++i) set(0x21 + i, nav[i]);
  set(0x2C, 0x54);                                                                  // print screen
  set(0x2D, 0x52);                                                                  // insert
  set(0x2E, 0x53);                                                                  // delete
  set(0x5B, 0x5B);                                                                  // left win
  set(0x5C, 0x5C);                                                                  // right win
  set(0x5D, 0x5D);                                                                  // apps
  const UINT pad[] = {0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49};  // 0x60-0x69
  for (int i = 0; i < 10; ++i) set(0x60 + i, pad[i]);
  set(0x6A, 0x37);                                             // multiply
  set(0x6B, 0x4E);                                             // add
  set(0x6D, 0x4A);                                             // subtract
  set(0x6E, 0x53);                                             // decimal
  set(0x6F, 0x35);                                             // divide
  for (int i = 0; i < 10; ++i) set(0x70 + i, 0x3B + (UINT)i);  // F1-F10
  set(0x7A, 0x57);                                             // F11
  set(0x7B, 0x58);                                             // F12
  set(0x90, 0x45);                                             // num lock
  set(0x91, 0x46);                                             // scroll lock
  set(0xA0, 0x2A);                                             // left shift
  set(0xA1, 0x36);                                             // right shift
  set(0xA2, 0x1D);                                             // left control
  set(0xA3, 0x1D);                                             // right control
  set(0xA4, 0x38);                                             // left menu
  set(0xA5, 0x38);                                             // right menu
  set(0xBA, 0x27);                                             // ;
  set(0xBB, 0x0D);                                             // =
  set(0xBC, 0x33);                                             // ,
  set(0xBD, 0x0C);                                             // -
  set(0xBE, 0x34);                                             // .
  set(0xBF, 0x35);                                             // /
  set(0xC0, 0x29);                                             // `
  set(0xDB, 0x1A);                                             // [
  set(0xDC, 0x2B);                                             // backslash
  set(0xDD, 0x1B);                                             // ]
  set(0xDE, 0x28);                                             // '
  set(0xE2, 0x56);                                             // 102nd key
}

void* LoadShared(bool icon, HINSTANCE instance, LPCSTR name) {
  Desk& d = D();
  LoadedResource r{icon, instance, 0, std::nullopt, nullptr};
  std::string key =
      std::string(icon ? "icon:" : "cursor:") + std::to_string((uintptr_t)instance) + ":";
  if (((uintptr_t)name >> 16) == 0) {
    r.id = (UINT)(uintptr_t)name;
    key += "#" + std::to_string(r.id);
  } else {
    r.name = std::string(name);
    key += name;
  }
  void*& handle = d.shared[key];
  if (!handle) handle = detail::NewHandle();
  r.result = handle;
  d.loaded.push_back(r);
  return handle;
}

}  // namespace

namespace detail {
void ResetInput() { D() = Desk{}; }
}  // namespace detail

// ---- Keys ------------------------------------------------------------------------

void SetKeyDown(int vk, bool down) { Press(vk, down); }

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
BYTE ThreadKeyState(int vk) { return ValidVk(vk) ? D().sync[vk] : 0; }
int GetAsyncKeyStateCalls(int vk) { return ValidVk(vk) ? D().asyncCalls[vk] : 0; }
UINT ScanCodeOf(int vk) { return ValidVk(vk) ? Scans().scan[vk] : 0; }

// ---- Cursor ----------------------------------------------------------------------

void SetCursorAt(int x, int y) { D().cursor = POINT{x, y}; }
POINT CursorAt() { return D().cursor; }
HCURSOR ShownCursor() { return D().shown; }
int SetCursorCalls() { return D().setCursorCalls; }
const std::vector<CreatedCursor>& CreatedCursors() { return D().created; }
const std::vector<HCURSOR>& DestroyedCursors() { return D().destroyed; }
int LiveCursors() {
  int n = 0;
  for (auto& c : D().created) n += !c.destroyed;
  return n;
}
const std::vector<LoadedResource>& LoadedIconsAndCursors() { return D().loaded; }

// ---- Input log -------------------------------------------------------------------

const std::vector<Input>& Inputs() { return D().log; }
void ClearInputs() { D().log.clear(); }
void SetInputFeedback(bool on) { D().feedback = on; }

std::string Describe(const Input& in) {
  char text[160];
  switch (in.kind) {
    case Input::Key:
      std::snprintf(text, sizeof text, "key vk=0x%x scan=0x%x flags=0x%x extra=%lu @%u", in.vk,
                    in.scan, (unsigned)in.flags, (unsigned long)in.extra, (unsigned)in.time);
      break;
    case Input::Mouse:
      std::snprintf(text, sizeof text, "mouse flags=0x%x dx=%u dy=%u data=%u extra=%lu @%u",
                    (unsigned)in.flags, (unsigned)in.dx, (unsigned)in.dy, (unsigned)in.data,
                    (unsigned long)in.extra, (unsigned)in.time);
      break;
    case Input::CursorPos:
      std::snprintf(text, sizeof text, "cursor %d,%d @%u", in.x, in.y, (unsigned)in.time);
      break;
    case Input::KeyboardState: {
      int nonzero = 0;
      for (BYTE b : in.state) nonzero += b != 0;
      std::snprintf(text, sizeof text, "keyboard-state (%d non-zero bytes) @%u", nonzero,
                    (unsigned)in.time);
      break;
    }
  }
  return text;
}

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
  auto it = D().metrics.find(index);
  return it == D().metrics.end() ? 0 : it->second;
}

UINT WINAPI GetDoubleClickTime() { return D().doubleClick; }

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
  ++d.asyncCalls[vk];
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
  sim::Input in{};
  in.kind = sim::Input::KeyboardState;
  in.time = GetTickCount();
  std::memcpy(in.state.data(), state, 256);
  D().log.push_back(in);
  std::memcpy(D().sync, state, 256);
  return TRUE;
}

BOOL WINAPI GetCursorPos(POINT* point) {
  if (!point) return FALSE;
  *point = D().cursor;
  return TRUE;
}

BOOL WINAPI SetCursorPos(int x, int y) {
  sim::Input in{};
  in.kind = sim::Input::CursorPos;
  in.time = GetTickCount();
  in.x = x;
  in.y = y;
  D().log.push_back(in);
  sim::MoveCursor(x, y);
  return TRUE;
}

UINT WINAPI MapVirtualKeyA(UINT code, UINT mapType) {
  if (mapType != 0 || code > 255) return 0;
  return sim::Scans().scan[code];
}

void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, DWORD_PTR extra) {
  sim::Input in{};
  in.kind = sim::Input::Key;
  in.time = GetTickCount();
  in.vk = vk;
  in.scan = scan;
  in.flags = flags;
  in.extra = extra;
  D().log.push_back(in);
  if (D().feedback) sim::Press(vk, !(flags & KEYEVENTF_KEYUP));
}

void WINAPI mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD data, DWORD_PTR extra) {
  sim::Input in{};
  in.kind = sim::Input::Mouse;
  in.time = GetTickCount();
  in.flags = flags;
  in.dx = dx;
  in.dy = dy;
  in.data = data;
  in.extra = extra;
  D().log.push_back(in);
  if (!D().feedback) return;
  if (flags & MOUSEEVENTF_MOVE) {
    if (flags & MOUSEEVENTF_ABSOLUTE) {
      uint64_t cx = (uint64_t)std::max(0, GetSystemMetrics(SM_CXSCREEN));
      uint64_t cy = (uint64_t)std::max(0, GetSystemMetrics(SM_CYSCREEN));
      sim::MoveCursor((LONG)std::min<uint64_t>(((uint64_t)dx * cx + 32767) / 65535, 0x7FFFFFFF),
                      (LONG)std::min<uint64_t>(((uint64_t)dy * cy + 32767) / 65535, 0x7FFFFFFF));
    } else {
      sim::MoveCursor(D().cursor.x + (int32_t)dx, D().cursor.y + (int32_t)dy);
    }
  }
  if (flags & MOUSEEVENTF_LEFTDOWN) sim::Press(VK_LBUTTON, true);
  if (flags & MOUSEEVENTF_LEFTUP) sim::Press(VK_LBUTTON, false);
  if (flags & MOUSEEVENTF_RIGHTDOWN) sim::Press(VK_RBUTTON, true);
  if (flags & MOUSEEVENTF_RIGHTUP) sim::Press(VK_RBUTTON, false);
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
  sim::CreatedCursor c;
  c.handle = (HCURSOR)sim::detail::NewHandle();
  c.instance = instance;
  c.hotX = hotX;
  c.hotY = hotY;
  c.width = width;
  c.height = height;
  c.andPlane.assign((const BYTE*)andPlane, (const BYTE*)andPlane + bytes);
  c.xorPlane.assign((const BYTE*)xorPlane, (const BYTE*)xorPlane + bytes);
  c.destroyed = false;
  D().created.push_back(c);
  return c.handle;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
  HCURSOR old = D().shown;
  D().shown = cursor;
  ++D().setCursorCalls;
  return old;
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
