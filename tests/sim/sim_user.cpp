// Simulated desktop, user32 side: the clock, the thread's message queue,
// window timers, windows and their procedures, message boxes and menus.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <utility>

#include "sim/sim.h"

namespace sim {
namespace {

using namespace win;

constexpr DWORD kWsDlgFrame = 0x00400000;
constexpr DWORD kWsThickFrame = 0x00040000;
constexpr DWORD kWsPopup = 0x80000000;
constexpr DWORD kWsSysMenu = 0x00080000;
constexpr DWORD kWsExDlgModalFrame = 0x00000001;
constexpr UINT kTpmReturnCmd = 0x0100;
constexpr UINT kMfSeparator = 0x0800;
constexpr int kGwlHinstance = -6;
constexpr int kGwlHwndParent = -8;
constexpr int kGwlExStyle = -20;
constexpr WPARAM kVkBack = 0x08, kVkTab = 0x09, kVkSpace = 0x20;

struct Timer {
  UINT asked = 0;
  UINT effective = 0;
  uint64_t due = 0;
  uint64_t seq = 0;
  TIMERPROC proc = nullptr;
};

struct ScheduledAction {
  uint64_t at;
  uint64_t seq;
  std::function<void()> action;
};

struct MenuData {
  std::vector<MenuItem> items;
  bool destroyed = false;
};

// The same layout as CREATESTRUCTA, handed to WM_CREATE.
struct CreateStructA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy, cx, y, x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

struct Core {
  uintptr_t nextHandle = 0x10000;
  // Clock.
  uint64_t now = 0;  // ms since Reset
  DWORD tickBase = 0;
  std::vector<ScheduledAction> scheduled;
  uint64_t scheduleSeq = 0;
  std::vector<DWORD> sleeps;
  DWORD slept = 0;
  // Delivery and its guard.
  std::deque<MSG> queue;
  bool quitPending = false;
  int quitCode = 0;
  std::vector<Delivery> deliveries;
  int perInstantLimit = 100000;
  long getMessageLimit = 1000000;
  uint64_t instantClock = UINT64_MAX;
  int instantCount = 0;
  long getMessageCount = 0;
  bool tripped = false;
  bool stalled = false;
  // Timers.
  std::map<std::pair<HWND, UINT_PTR>, Timer> timers;
  uint64_t timerSeq = 0;
  UINT timerMinimum = 10;
  UINT_PTR nextThreadTimer = 0x7F00;
  std::vector<TimerCall> timerCalls;
  // Windows.
  std::vector<ClassInfo> classes;
  std::map<HWND, WindowInfo> windows;
  std::vector<HWND> order;
  std::vector<HWND> destroyOrder;
  std::vector<CreateCall> createCalls;
  std::map<UINT, int> defProc;
  std::map<std::pair<HWND, UINT>, int> defProcWindow;
  std::map<std::pair<HWND, UINT>, int> deliveryCount;
  HWND foreground = nullptr;
  HWND focus = nullptr;
  int failRegister = 0;
  int failCreate = 0;
  // Message boxes.
  std::deque<BoxInfo> boxes;
  std::deque<BoxScript> boxScripts;
  int boxClientWidth = 300;
  int boxClientHeight = 150;
  // Menus.
  std::map<HMENU, MenuData> menus;
  std::vector<MenuTrack> menuTracks;
  std::deque<MenuScript> menuScripts;
};

Core& C() {
  static Core core;
  return core;
}

bool SameText(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int x = std::tolower((unsigned char)*a), y = std::tolower((unsigned char)*b);
    if (x != y) return false;
    if (!x) return true;
  }
}

bool IsIntResource(const void* p) { return ((uintptr_t)p >> 16) == 0; }

DWORD Tick() { return (DWORD)(C().now + C().tickBase); }

POINT CursorPoint() {
  POINT p{};
  win::GetCursorPos(&p);
  return p;
}

// ---- Delivery ------------------------------------------------------------

// Visible itself and, for a child, all its parents too.
bool ShownOnScreen(const WindowInfo& w) {
  const WindowInfo* p = &w;
  for (int depth = 0; p && depth < 64; ++depth) {
    if (!p->alive || !p->visible) return false;
    if (!(p->style & WS_CHILD) || !p->parent) return true;
    p = detail::LiveWindow(p->parent);
  }
  return false;
}

LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool posted) {
  WindowInfo* w = detail::LiveWindow(window);
  if (!w || !w->proc) return 0;
  Core& c = C();
  c.deliveries.push_back(Delivery{window, message, wParam, lParam, Tick(), posted});
  ++c.deliveryCount[{window, message}];
  WNDPROC proc = w->proc;
  return proc(window, message, wParam, lParam);
}

void RunScheduled() {
  Core& c = C();
  for (;;) {
    auto best = c.scheduled.end();
    for (auto it = c.scheduled.begin(); it != c.scheduled.end(); ++it) {
      if (it->at > c.now) continue;
      if (best == c.scheduled.end() || it->at < best->at ||
          (it->at == best->at && it->seq < best->seq))
        best = it;
    }
    if (best == c.scheduled.end()) return;
    std::function<void()> action = std::move(best->action);
    c.scheduled.erase(best);
    action();
  }
}

// The earliest time after now at which a timer or a scheduled action is due;
// UINT64_MAX when there is none.
uint64_t NextWake() {
  Core& c = C();
  uint64_t wake = UINT64_MAX;
  for (auto& t : c.timers) wake = std::min(wake, std::max(t.second.due, c.now + 1));
  for (auto& s : c.scheduled) wake = std::min(wake, std::max(s.at, c.now + 1));
  return wake;
}

MSG MakeMsg(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m{};
  m.hwnd = window;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = Tick();
  m.pt = CursorPoint();
  return m;
}

// Takes the next message the thread's loop would get. With 'wait', moves
// the clock to the next timer or scheduled action when nothing is ready.
bool NextMessage(MSG* out, bool wait, bool takeQuit) {
  Core& c = C();
  for (;;) {
    if (c.tripped) return false;
    RunScheduled();
    if (c.instantClock != c.now) {
      c.instantClock = c.now;
      c.instantCount = 0;
    }
    if (c.instantCount >= c.perInstantLimit) {
      c.tripped = true;
      return false;
    }
    if (!c.queue.empty()) {
      *out = c.queue.front();
      c.queue.pop_front();
      ++c.instantCount;
      return true;
    }
    if (takeQuit && c.quitPending) {
      c.quitPending = false;
      *out = MakeMsg(nullptr, WM_QUIT, (WPARAM)c.quitCode, 0);
      ++c.instantCount;
      return true;
    }
    for (HWND h : c.order) {
      WindowInfo& w = c.windows[h];
      if (w.needsPaint && ShownOnScreen(w)) {
        *out = MakeMsg(h, WM_PAINT, 0, 0);
        ++c.instantCount;
        return true;
      }
    }
    Timer* best = nullptr;
    std::pair<HWND, UINT_PTR> bestKey{};
    for (auto& t : c.timers) {
      if (t.second.due > c.now) continue;
      if (!best || t.second.due < best->due ||
          (t.second.due == best->due && t.second.seq < best->seq)) {
        best = &t.second;
        bestKey = t.first;
      }
    }
    if (best) {
      best->due = c.now + best->effective;
      *out = MakeMsg(bestKey.first, WM_TIMER, bestKey.second, (LPARAM)(uintptr_t)best->proc);
      ++c.instantCount;
      return true;
    }
    if (!wait) return false;
    uint64_t wake = NextWake();
    if (wake == UINT64_MAX) {
      c.stalled = true;
      return false;
    }
    c.now = wake;
  }
}

// ---- Classes and built-in procedures ---------------------------------------

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowInfo* w = detail::LiveWindow(window);
  if (!w) return 0;
  int length = (int)w->title.size();
  switch (message) {
    case EM_SETSEL: {
      w->rawSelStart = wParam;
      w->rawSelEnd = lParam;
      ++w->setSelCalls;
      int start = (int)(intptr_t)wParam, end = (int)lParam;
      if (start == -1) {
        w->selStart = w->selEnd = w->selEnd;  // deselect, caret stays
        return 0;
      }
      if (end == -1 || end > length) end = length;
      if (start < 0 || start > length) start = length;
      if (end < 0) end = length;
      if (start > end) std::swap(start, end);
      w->selStart = start;
      w->selEnd = end;
      return 0;
    }
    case WM_CHAR: {
      char ch = (char)wParam;
      int s = std::min(w->selStart, length), e = std::min(w->selEnd, length);
      if (wParam == kVkBack) {
        if (s == e && s > 0) --s;
        w->title.erase((size_t)s, (size_t)(e - s));
        w->selStart = w->selEnd = s;
        return 0;
      }
      if ((unsigned char)ch < 0x20) return 0;  // single-line edit: Enter, Tab, ... beep
      if ((w->style & ES_NUMBER) && !(ch >= '0' && ch <= '9')) return 0;
      w->title.replace((size_t)s, (size_t)(e - s), 1, ch);
      w->selStart = w->selEnd = s + 1;
      return 0;
    }
  }
  return StaticProc(window, message, wParam, lParam);  // fonts and painting as a label
}

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowInfo* w = detail::LiveWindow(window);
  if (!w) return 0;
  switch (message) {
    case WM_SETFONT:
      w->font = (HFONT)wParam;
      w->fontRedraw = lParam;
      ++w->setFontCalls;
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      win::BeginPaint(window, &ps);
      win::EndPaint(window, &ps);
      return 0;
    }
  }
  return win::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK BoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return win::DefWindowProcA(window, message, wParam, lParam);
}

struct ClassFound {
  std::string name;
  WNDPROC proc = nullptr;
  HBRUSH brush = nullptr;
};

bool FindClass(LPCSTR cls, ClassFound* found) {
  Core& c = C();
  if (!cls) return false;
  if (IsIntResource(cls)) {
    for (auto& k : c.classes)
      if (k.atom == (ATOM)(uintptr_t)cls) {
        *found = ClassFound{k.className, k.fields.lpfnWndProc, k.fields.hbrBackground};
        return true;
      }
    return false;
  }
  for (auto& k : c.classes)
    if (SameText(k.className.c_str(), cls)) {
      *found = ClassFound{k.className, k.fields.lpfnWndProc, k.fields.hbrBackground};
      return true;
    }
  // Built-in classes: their brushes are the system colours they paint with.
  if (SameText(cls, "EDIT")) {
    *found = ClassFound{"EDIT", EditProc, (HBRUSH)(uintptr_t)(5 + 1)};  // COLOR_WINDOW
    return true;
  }
  if (SameText(cls, "STATIC")) {
    *found = ClassFound{"STATIC", StaticProc, (HBRUSH)(uintptr_t)(COLOR_BTNFACE + 1)};
    return true;
  }
  if (SameText(cls, "#32770")) {
    *found = ClassFound{"#32770", BoxProc, (HBRUSH)(uintptr_t)(COLOR_BTNFACE + 1)};
    return true;
  }
  return false;
}

// Creates the window and sends WM_CREATE; nullptr on failure.
HWND Create(DWORD exStyle, const ClassFound& found, LPCSTR title, DWORD style, int x, int y,
            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param,
            LPCSTR classArg, bool isBox) {
  Core& c = C();
  HWND handle = (HWND)detail::NewHandle();
  WindowInfo& w = c.windows[handle];
  w.handle = handle;
  w.className = found.name;
  w.title = title ? title : "";
  w.titles.push_back(w.title);
  w.exStyle = exStyle;
  w.style = style;
  w.x = x;
  w.y = y;
  w.width = width;
  w.height = height;
  w.parent = parent;
  w.id = (UINT_PTR)menu;
  w.instance = instance;
  w.param = param;
  w.proc = w.classProc = found.proc;
  w.alive = true;
  w.isMessageBox = isBox;
  w.createdAt = Tick();
  w.visible = (style & WS_VISIBLE) != 0;
  w.needsPaint = w.erasePending = true;
  if (style & WS_CHILD) {
    w.clientWidth = std::max(0, width);
    w.clientHeight = std::max(0, height);
  } else {
    int frame = (style & (WS_BORDER | kWsDlgFrame | kWsThickFrame))
                    ? win::GetSystemMetrics(SM_CXDLGFRAME)
                    : 0;
    int caption = (style & WS_CAPTION) == WS_CAPTION ? win::GetSystemMetrics(SM_CYSMCAPTION) : 0;
    w.clientLeft = frame;
    w.clientTop = frame + caption;
    w.clientWidth = std::max(0, width - 2 * frame);
    w.clientHeight = std::max(0, height - 2 * frame - caption);
  }
  w.hasBackground = detail::BrushColour(found.brush, &w.background);
  w.surface.assign((size_t)w.clientWidth * (size_t)w.clientHeight,
                   w.hasBackground ? w.background : RGB(255, 255, 255));
  c.order.push_back(handle);

  CreateStructA cs{param, instance, menu,        parent, height,   width,
                   y,     x,        (LONG)style, title,  classArg, exStyle};
  LRESULT r = Deliver(handle, WM_CREATE, 0, (LPARAM)&cs, false);
  if (r == -1) {
    win::DestroyWindow(handle);
    return nullptr;
  }
  if (!win::IsWindow(handle)) return nullptr;
  return handle;
}

void RecordTimerCall(bool set, HWND window, UINT_PTR id, UINT ms, UINT_PTR result) {
  C().timerCalls.push_back(TimerCall{set, window, id, ms, Tick(), result});
}

int RunBox(BoxInfo info) {
  Core& c = C();
  c.boxes.push_back(std::move(info));
  BoxInfo& box = c.boxes.back();  // deque: stays put while nested boxes are added
  box.openedAt = box.closedAt = Tick();
  if (box.owner && !win::IsWindow(box.owner)) {
    box.result = 0;
    return 0;
  }
  int frame = win::GetSystemMetrics(SM_CXDLGFRAME);
  int caption = win::GetSystemMetrics(SM_CYSMCAPTION);
  int width = c.boxClientWidth + 2 * frame, height = c.boxClientHeight + 2 * frame + caption;
  int x = (win::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int y = (win::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  ClassFound found;
  FindClass("#32770", &found);
  DWORD exStyle = kWsExDlgModalFrame | ((box.style & MB_TOPMOST) ? WS_EX_TOPMOST : 0);
  HWND window = Create(exStyle, found, box.caption ? box.caption->c_str() : "Error",
                       kWsPopup | WS_CAPTION | kWsSysMenu | WS_VISIBLE, x, y, width, height,
                       box.owner, nullptr, box.instance, nullptr, "#32770", true);
  box.window = window;
  box.open = true;
  int result = IDOK;
  if (!c.boxScripts.empty()) {
    BoxScript script = std::move(c.boxScripts.front());
    c.boxScripts.pop_front();
    result = script(box);
  }
  if (window && win::IsWindow(window)) win::DestroyWindow(window);
  box.open = false;
  box.closedAt = Tick();
  box.result = result;
  return result;
}

}  // namespace

// ---- Internal interface ------------------------------------------------------

namespace detail {
void* NewHandle() {
  Core& c = C();
  void* h = (void*)c.nextHandle;
  c.nextHandle += 4;
  return h;
}

WindowInfo* LiveWindow(HWND window) {
  Core& c = C();
  auto it = c.windows.find(window);
  if (it == c.windows.end() || !it->second.alive) return nullptr;
  return &it->second;
}
}  // namespace detail

// ---- Reset -------------------------------------------------------------------

void Reset() {
  C() = Core{};
  detail::ResetInput();
  detail::ResetGdi();
  detail::ResetKernel();
}

// ---- Clock -------------------------------------------------------------------

DWORD Now() { return Tick(); }

void SetTickCount(DWORD ticks) { C().tickBase = ticks - (DWORD)C().now; }

void Advance(DWORD ms) {
  Core& c = C();
  uint64_t end = c.now + ms;
  Pump();
  while (c.now < end) {
    if (c.tripped) {
      c.now = end;
      break;
    }
    c.now = std::min(end, NextWake());
    Pump();
  }
}

int Pump() {
  int count = 0;
  MSG m;
  while (NextMessage(&m, false, false)) {
    win::TranslateMessage(&m);
    win::DispatchMessageA(&m);
    ++count;
  }
  return count;
}

void Schedule(DWORD at, std::function<void()> action) {
  Core& c = C();
  int32_t ahead = (int32_t)(at - Tick());
  uint64_t when = c.now + (ahead > 0 ? (uint64_t)ahead : 0);
  c.scheduled.push_back(ScheduledAction{when, c.scheduleSeq++, std::move(action)});
}

void After(DWORD ms, std::function<void()> action) { Schedule(Tick() + ms, std::move(action)); }

const std::vector<DWORD>& Sleeps() { return C().sleeps; }
DWORD SleptMs() { return C().slept; }

void SetLoopLimits(int perInstant, long getMessageTotal) {
  C().perInstantLimit = perInstant;
  C().getMessageLimit = getMessageTotal;
}
bool LoopGuardTripped() { return C().tripped; }
bool Stalled() { return C().stalled; }

// ---- Timers ------------------------------------------------------------------

bool TimerExists(HWND window, UINT_PTR id) { return C().timers.count({window, id}) != 0; }

UINT TimerPeriod(HWND window, UINT_PTR id) {
  auto it = C().timers.find({window, id});
  return it == C().timers.end() ? 0 : it->second.asked;
}

DWORD TimerDue(HWND window, UINT_PTR id) {
  auto it = C().timers.find({window, id});
  return it == C().timers.end() ? 0 : (DWORD)(it->second.due + C().tickBase);
}

void SetTimerMinimum(UINT ms) { C().timerMinimum = ms; }
const std::vector<TimerCall>& TimerCalls() { return C().timerCalls; }

// ---- Queue -------------------------------------------------------------------

std::vector<MSG> Queue() {
  std::vector<MSG> out(C().queue.begin(), C().queue.end());
  if (C().quitPending) out.push_back(MakeMsg(nullptr, WM_QUIT, (WPARAM)C().quitCode, 0));
  return out;
}
bool QuitPosted() { return C().quitPending; }
int QuitCode() { return C().quitCode; }
const std::vector<Delivery>& Deliveries() { return C().deliveries; }
int DeliveryCount(HWND window, UINT message) {
  auto it = C().deliveryCount.find({window, message});
  return it == C().deliveryCount.end() ? 0 : it->second;
}

// ---- Windows -----------------------------------------------------------------

const WindowInfo* Window(HWND window) {
  auto it = C().windows.find(window);
  return it == C().windows.end() ? nullptr : &it->second;
}

std::vector<HWND> Windows() {
  std::vector<HWND> out;
  for (HWND h : C().order)
    if (C().windows[h].alive) out.push_back(h);
  return out;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  for (HWND h : C().order) {
    WindowInfo& w = C().windows[h];
    if (w.alive && w.parent == parent && parent && (w.style & WS_CHILD)) out.push_back(h);
  }
  return out;
}

HWND FindChild(HWND parent, const char* className) {
  for (HWND h : Children(parent))
    if (SameText(C().windows[h].className.c_str(), className)) return h;
  return nullptr;
}

const std::vector<HWND>& DestroyOrder() { return C().destroyOrder; }

int DefProcCount(UINT message) {
  auto it = C().defProc.find(message);
  return it == C().defProc.end() ? 0 : it->second;
}

int DefProcCount(HWND window, UINT message) {
  auto it = C().defProcWindow.find({window, message});
  return it == C().defProcWindow.end() ? 0 : it->second;
}

void SetForeground(HWND window) { C().foreground = window; }
HWND Focus() { return C().focus; }

std::string ClassNameOf(HWND window) {
  const WindowInfo* w = Window(window);
  return w ? w->className : std::string();
}

COLORREF SurfacePixel(HWND window, int x, int y) {
  const WindowInfo* w = Window(window);
  if (!w || x < 0 || y < 0 || x >= w->clientWidth || y >= w->clientHeight) return 0xFFFFFFFF;
  return w->surface[(size_t)y * (size_t)w->clientWidth + (size_t)x];
}

void FillSurface(HWND window, COLORREF colour) {
  auto it = C().windows.find(window);
  if (it != C().windows.end())
    std::fill(it->second.surface.begin(), it->second.surface.end(), colour);
}

void Type(HWND window, const char* text) {
  for (const char* p = text; p && *p; ++p) win::SendMessageA(window, WM_CHAR, (unsigned char)*p, 1);
}

const ClassInfo* Class(const char* name) {
  for (auto& k : C().classes)
    if (SameText(k.className.c_str(), name)) return &k;
  return nullptr;
}
const std::vector<ClassInfo>& Classes() { return C().classes; }
const std::vector<CreateCall>& CreateCalls() { return C().createCalls; }
void FailRegisterClass(int count) { C().failRegister = count; }
void FailCreateWindow(int count) { C().failCreate = count; }

// ---- Message boxes -------------------------------------------------------------

void PushBox(BoxScript script) { C().boxScripts.push_back(std::move(script)); }
void PushBoxAnswer(int answer) {
  PushBox([answer](BoxInfo&) { return answer; });
}
const std::deque<BoxInfo>& Boxes() { return C().boxes; }
BoxInfo* OpenBox() {
  for (auto it = C().boxes.rbegin(); it != C().boxes.rend(); ++it)
    if (it->open) return &*it;
  return nullptr;
}
int PendingBoxScripts() { return (int)C().boxScripts.size(); }
void SetBoxClientSize(int width, int height) {
  C().boxClientWidth = width;
  C().boxClientHeight = height;
}

// ---- Menus -------------------------------------------------------------------

void PushMenu(MenuScript script) { C().menuScripts.push_back(std::move(script)); }
void PushMenuChoice(UINT_PTR id) {
  PushMenu([id](const MenuTrack&) { return id; });
}
void PushMenuChoiceText(const std::string& text) {
  PushMenu([text](const MenuTrack& track) -> UINT_PTR {
    for (auto& item : track.items)
      if (item.text && *item.text == text) return item.id;
    return 0;
  });
}
const std::vector<MenuTrack>& MenuTracks() { return C().menuTracks; }
const std::vector<MenuItem>* MenuItems(win::HMENU menu) {
  auto it = C().menus.find(menu);
  return it == C().menus.end() ? nullptr : &it->second.items;
}
int LiveMenus() {
  int n = 0;
  for (auto& m : C().menus) n += !m.second.destroyed;
  return n;
}
int PendingMenuScripts() { return (int)C().menuScripts.size(); }

}  // namespace sim

// =============================================================================
// The Win32 calls
// =============================================================================

namespace win {

using sim::C;
using sim::Tick;

DWORD WINAPI GetTickCount() { return Tick(); }

void WINAPI Sleep(DWORD ms) {
  auto& c = C();
  c.sleeps.push_back(ms);
  c.slept += ms;
  uint64_t end = c.now + ms;
  // The world goes on while the thread sleeps: scheduled actions run at their time.
  for (;;) {
    uint64_t next = UINT64_MAX;
    for (auto& s : c.scheduled) next = std::min(next, s.at);
    if (next > end) break;
    c.now = std::max(c.now, next);
    sim::RunScheduled();
  }
  c.now = end;
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* cls) {
  auto& c = C();
  if (c.failRegister > 0) {
    --c.failRegister;
    return 0;
  }
  if (!cls || cls->cbSize != sizeof(WNDCLASSEXA)) return 0;
  if (!cls->lpszClassName || sim::IsIntResource(cls->lpszClassName) || !cls->lpfnWndProc) return 0;
  if (sim::Class(cls->lpszClassName)) return 0;  // ERROR_CLASS_ALREADY_EXISTS
  sim::ClassInfo info;
  info.fields = *cls;
  info.className = cls->lpszClassName;
  if (cls->lpszMenuName && !sim::IsIntResource(cls->lpszMenuName))
    info.menuName = cls->lpszMenuName;
  info.fields.lpszClassName = nullptr;
  info.fields.lpszMenuName = nullptr;
  info.atom = (ATOM)(0xC000 + c.classes.size());
  c.classes.push_back(info);
  return info.atom;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR cls, LPCSTR title, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                            LPVOID param) {
  auto& c = C();
  sim::CreateCall call{exStyle, "",     std::nullopt, style,    x,     y,      width,
                       height,  parent, menu,         instance, param, nullptr};
  if (cls && !sim::IsIntResource(cls)) call.className = cls;
  if (title) call.title = std::string(title);
  size_t index = c.createCalls.size();
  c.createCalls.push_back(call);
  if (c.failCreate > 0) {
    --c.failCreate;
    return nullptr;
  }
  sim::ClassFound found;
  if (!sim::FindClass(cls, &found)) return nullptr;
  if (parent && !IsWindow(parent)) return nullptr;
  if ((style & WS_CHILD) && !parent) return nullptr;
  HWND h = sim::Create(exStyle, found, title, style, x, y, width, height, parent, menu, instance,
                       param, cls, false);
  c.createCalls[index].result = h;
  return h;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
  auto& c = C();
  ++c.defProc[message];
  ++c.defProcWindow[{window, message}];
  if (!IsWindow(window)) return 0;
  if (message == WM_CLOSE) {
    DestroyWindow(window);
  } else if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    BeginPaint(window, &ps);
    EndPaint(window, &ps);
  }
  return 0;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam,
                               LPARAM lParam) {
  return proc ? proc(window, message, wParam, lParam) : 0;
}

BOOL WINAPI ShowWindow(HWND window, int show) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) return FALSE;
  bool was = w->visible;
  w->shows.push_back(show);
  w->visible = show != SW_HIDE;
  if (w->visible) {
    w->style |= WS_VISIBLE;
  } else {
    w->style &= ~WS_VISIBLE;
  }
  if (!was && w->visible) w->needsPaint = w->erasePending = true;
  return was ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND window) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) return FALSE;
  ++w->updates;
  if (w->needsPaint && sim::ShownOnScreen(*w)) sim::Deliver(window, WM_PAINT, 0, 0, false);
  return TRUE;
}

BOOL WINAPI DestroyWindow(HWND window) {
  auto& c = C();
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w || w->destroying) return FALSE;
  w->destroying = true;
  // Owned top-level windows (open message boxes, say) go first.
  for (size_t i = 0; i < c.order.size(); ++i) {
    HWND h = c.order[i];
    sim::WindowInfo& o = c.windows[h];
    if (o.alive && !o.destroying && o.parent == window && !(o.style & WS_CHILD)) DestroyWindow(h);
  }
  c.destroyOrder.push_back(window);
  sim::Deliver(window, WM_DESTROY, 0, 0, false);
  for (HWND child : sim::Children(window)) DestroyWindow(child);
  for (auto it = c.timers.begin(); it != c.timers.end();) {
    if (it->first.first == window) {
      it = c.timers.erase(it);
    } else {
      ++it;
    }
  }
  c.queue.erase(std::remove_if(c.queue.begin(), c.queue.end(),
                               [window](const MSG& m) { return m.hwnd == window; }),
                c.queue.end());
  if (c.focus == window) c.focus = nullptr;
  if (c.foreground == window) c.foreground = nullptr;
  w = &c.windows[window];
  w->alive = false;
  w->visible = false;
  w->needsPaint = false;
  w->destroyedAt = Tick();
  return TRUE;
}

BOOL WINAPI IsWindow(HWND window) { return sim::detail::LiveWindow(window) ? TRUE : FALSE; }

BOOL WINAPI GetMessageA(MSG* msg, HWND, UINT, UINT) {
  auto& c = C();
  MSG m;
  bool got = false;
  if (c.getMessageCount >= c.getMessageLimit) {
    c.tripped = true;
  } else {
    got = sim::NextMessage(&m, true, true);
  }
  if (!got) m = sim::MakeMsg(nullptr, WM_QUIT, 0, 0);
  ++c.getMessageCount;
  if (msg) *msg = m;
  return m.message == WM_QUIT ? 0 : 1;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
  if (!msg) return FALSE;
  if (msg->message == WM_KEYUP) return TRUE;
  if (msg->message != WM_KEYDOWN) return FALSE;
  WPARAM vk = msg->wParam;
  bool shift = GetKeyState(VK_SHIFT) < 0;
  bool control = GetKeyState(VK_CONTROL) < 0;
  bool caps = (GetKeyState(VK_CAPITAL) & 1) != 0;
  int ch = -1;
  if (vk >= 'A' && vk <= 'Z') {
    if (control) {
      ch = (int)(vk - 'A' + 1);
    } else {
      ch = (shift != caps) ? (int)vk : (int)(vk - 'A' + 'a');
    }
  } else if (vk >= '0' && vk <= '9' && !shift && !control) {
    ch = (int)vk;
  } else if (vk == sim::kVkSpace) {
    ch = ' ';
  } else if (vk == (WPARAM)VK_RETURN) {
    ch = '\r';
  } else if (vk == sim::kVkBack) {
    ch = '\b';
  } else if (vk == sim::kVkTab) {
    ch = '\t';
  } else if (vk == (WPARAM)VK_ESCAPE) {
    ch = 0x1B;
  }
  if (ch >= 0) C().queue.push_front(sim::MakeMsg(msg->hwnd, WM_CHAR, (WPARAM)ch, msg->lParam));
  return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    TIMERPROC proc = (TIMERPROC)(uintptr_t)msg->lParam;
    proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (!msg->hwnd) return 0;
  return sim::Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam, true);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window && !IsWindow(window)) return FALSE;
  C().queue.push_back(sim::MakeMsg(window, message, wParam, lParam));
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return sim::Deliver(window, message, wParam, lParam, false);
}

void WINAPI PostQuitMessage(int code) {
  C().quitPending = true;
  C().quitCode = code;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) return FALSE;
  w->title = text ? text : "";
  w->titles.push_back(w->title);
  w->selStart = w->selEnd = 0;
  return TRUE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int count) {
  if (!buffer || count <= 0) return 0;
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) {
    buffer[0] = 0;
    return 0;
  }
  int n = std::min((int)w->title.size(), count - 1);
  std::memcpy(buffer, w->title.data(), (size_t)n);
  buffer[n] = 0;
  return n;
}

namespace {
POINT ClientOrigin(const sim::WindowInfo& w) {
  POINT p{};
  if ((w.style & WS_CHILD) && w.parent) {
    sim::WindowInfo* parent = sim::detail::LiveWindow(w.parent);
    if (!parent) {
      auto it = C().windows.find(w.parent);
      if (it != C().windows.end()) parent = &it->second;
    }
    if (parent) p = ClientOrigin(*parent);
    p.x += w.x;
    p.y += w.y;
    p.x += w.clientLeft;
    p.y += w.clientTop;
    return p;
  }
  p.x = w.x + w.clientLeft;
  p.y = w.y + w.clientTop;
  return p;
}
}  // namespace

BOOL WINAPI GetWindowRect(HWND window, RECT* rect) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w || !rect) return FALSE;
  POINT origin = ClientOrigin(*w);
  rect->left = origin.x - w->clientLeft;
  rect->top = origin.y - w->clientTop;
  rect->right = rect->left + w->width;
  rect->bottom = rect->top + w->height;
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, RECT* rect) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w || !rect) return FALSE;
  *rect = RECT{0, 0, w->clientWidth, w->clientHeight};
  return TRUE;
}

BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  auto mark = [&](sim::WindowInfo& w) {
    ++w.invalidations;
    if (erase) ++w.eraseInvalidations;
    if (!rect) ++w.nullRectInvalidations;
    w.needsPaint = true;
    if (erase) w.erasePending = true;
  };
  if (!window) {
    for (HWND h : C().order)
      if (C().windows[h].alive) mark(C().windows[h]);
    return TRUE;
  }
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) return FALSE;
  mark(*w);
  return TRUE;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) return 0;
  switch (index) {
    case GWLP_WNDPROC:
      return (LONG_PTR)(uintptr_t)w->proc;
    case GWLP_USERDATA:
      return w->userData;
    case GWLP_ID:
      return (LONG_PTR)w->id;
    case GWL_STYLE:
      return (LONG_PTR)w->style;
    case sim::kGwlExStyle:
      return (LONG_PTR)w->exStyle;
    case sim::kGwlHinstance:
      return (LONG_PTR)(uintptr_t)w->instance;
    case sim::kGwlHwndParent:
      return (LONG_PTR)(uintptr_t)w->parent;
  }
  return 0;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) return 0;
  LONG_PTR old = GetWindowLongPtrA(window, index);
  switch (index) {
    case GWLP_WNDPROC:
      w->proc = (WNDPROC)(uintptr_t)value;
      break;
    case GWLP_USERDATA:
      w->userData = value;
      break;
    case GWLP_ID:
      w->id = (UINT_PTR)value;
      break;
    case GWL_STYLE:
      w->style = (DWORD)value;
      break;
    case sim::kGwlExStyle:
      w->exStyle = (DWORD)value;
      break;
    case sim::kGwlHinstance:
      w->instance = (HINSTANCE)(uintptr_t)value;
      break;
    default:
      return 0;
  }
  return old;
}

HWND WINAPI FindWindowExA(HWND parent, HWND after, LPCSTR cls, LPCSTR title) {
  auto& c = C();
  bool passed = after == nullptr;
  for (auto it = c.order.rbegin(); it != c.order.rend(); ++it) {
    sim::WindowInfo& w = c.windows[*it];
    if (!w.alive) continue;
    bool inScope = parent ? (w.parent == parent && (w.style & WS_CHILD)) : !(w.style & WS_CHILD);
    if (!inScope) continue;
    if (!passed) {
      passed = *it == after;
      continue;
    }
    if (title && !sim::SameText(w.title.c_str(), title)) continue;
    if (cls) {
      sim::ClassFound found;
      if (!sim::FindClass(cls, &found) || !sim::SameText(found.name.c_str(), w.className.c_str()))
        continue;
    }
    return *it;
  }
  return nullptr;
}

HWND WINAPI SetFocus(HWND window) {
  if (window && !IsWindow(window)) return nullptr;
  HWND old = C().focus;
  C().focus = window;
  return old;
}

HWND WINAPI GetForegroundWindow() {
  HWND h = C().foreground;
  return h;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT ms, TIMERPROC proc) {
  auto& c = C();
  if (window && !IsWindow(window)) {
    sim::RecordTimerCall(true, window, id, ms, 0);
    return 0;
  }
  if (!window && !c.timers.count({nullptr, id})) id = c.nextThreadTimer++;
  sim::Timer t;
  t.asked = ms;
  t.effective = std::min<UINT>(std::max(ms, c.timerMinimum), 0x7FFFFFFF);
  if (t.effective == 0) t.effective = 1;
  t.due = c.now + t.effective;
  t.seq = c.timerSeq++;
  t.proc = proc;
  c.timers[{window, id}] = t;
  UINT_PTR result = window ? (id ? id : 1) : id;
  sim::RecordTimerCall(true, window, id, ms, result);
  return result;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  BOOL ok = C().timers.erase({window, id}) ? TRUE : FALSE;
  sim::RecordTimerCall(false, window, id, 0, (UINT_PTR)ok);
  return ok;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  sim::BoxInfo box;
  box.owner = owner;
  if (text) box.text = std::string(text);
  if (caption) box.caption = std::string(caption);
  box.style = type;
  return sim::RunBox(std::move(box));
}

int WINAPI MessageBoxIndirectA(const MSGBOXPARAMSA* params) {
  if (!params || params->cbSize != sizeof(MSGBOXPARAMSA)) return 0;
  sim::BoxInfo box;
  box.indirect = true;
  box.cbSize = params->cbSize;
  box.owner = params->hwndOwner;
  box.instance = params->hInstance;
  if (params->lpszText) box.text = std::string(params->lpszText);
  if (params->lpszCaption) box.caption = std::string(params->lpszCaption);
  box.style = params->dwStyle;
  box.iconNull = params->lpszIcon == nullptr;
  if (params->lpszIcon) {
    if (sim::IsIntResource(params->lpszIcon)) {
      box.iconId = (UINT)(uintptr_t)params->lpszIcon;
    } else {
      box.icon = std::string(params->lpszIcon);
    }
  }
  box.contextHelpId = params->dwContextHelpId;
  box.callback = params->lpfnMsgBoxCallback;
  box.languageId = params->dwLanguageId;
  return sim::RunBox(std::move(box));
}

HMENU WINAPI CreatePopupMenu() {
  HMENU menu = (HMENU)sim::detail::NewHandle();
  C().menus[menu] = sim::MenuData{};
  return menu;
}

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
  auto it = C().menus.find(menu);
  if (it == C().menus.end() || it->second.destroyed) return FALSE;
  sim::MenuItem item{flags, id, std::nullopt};
  if (!(flags & sim::kMfSeparator) && text) item.text = std::string(text);
  it->second.items.push_back(item);
  return TRUE;
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                           const RECT* rect) {
  auto& c = C();
  auto it = c.menus.find(menu);
  if (it == c.menus.end() || it->second.destroyed || !IsWindow(owner)) return FALSE;
  sim::MenuTrack track{menu,   flags, x, y, reserved, owner, rect == nullptr, it->second.items,
                       Tick(), 0};
  size_t index = c.menuTracks.size();
  c.menuTracks.push_back(track);
  UINT_PTR chosen = 0;
  if (!c.menuScripts.empty()) {
    sim::MenuScript script = std::move(c.menuScripts.front());
    c.menuScripts.pop_front();
    chosen = script(track);
  }
  c.menuTracks[index].chosen = chosen;
  if (flags & sim::kTpmReturnCmd) return (BOOL)chosen;
  if (chosen) PostMessageA(owner, WM_COMMAND, chosen, 0);
  return TRUE;
}

BOOL WINAPI DestroyMenu(HMENU menu) {
  auto it = C().menus.find(menu);
  if (it == C().menus.end() || it->second.destroyed) return FALSE;
  it->second.destroyed = true;
  return TRUE;
}

}  // namespace win
