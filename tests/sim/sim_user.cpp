// Simulated desktop, user32 side: the clock, the thread's message queue,
// window timers, windows and their procedures, message boxes and menus.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <map>
#include <tuple>
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
constexpr UINT kTimerMinimum = 10;  // USER_TIMER_MINIMUM
constexpr int kPerInstantLimit = 100000;
constexpr long kGetMessageLimit = 1000000;
constexpr int kBoxClientWidth = 300, kBoxClientHeight = 150;

struct Timer {
  UINT asked = 0;
  UINT effective = 0;
  uint64_t due = 0;
  uint64_t seq = 0;
};

struct ScheduledAction {
  uint64_t at;
  std::function<void()> action;
};

struct MenuData {
  std::vector<MenuItem> items;
  bool destroyed = false;
};

using MenuScript = std::function<UINT_PTR(const MenuTrack&)>;

struct Core {
  uintptr_t nextHandle = 0x10000;
  // Clock.
  uint64_t now = 0;                        // ms since Reset
  std::vector<ScheduledAction> scheduled;  // in the order they were scheduled
  DWORD slept = 0;
  uint64_t readAt = 0;  // the millisecond of the last timeGetTime, and how often it was read
  int reads = 0;
  DWORD sleepLate = 0;  // SetSleepLate
  // Delivery and its guard.
  std::deque<MSG> queue;
  bool quitPending = false;
  int quitCode = 0;
  uint64_t instantClock = UINT64_MAX;
  int instantCount = 0;
  long getMessageCount = 0;
  bool tripped = false;
  bool stalled = false;
  // Timers.
  std::map<std::pair<HWND, UINT_PTR>, Timer> timers;
  uint64_t timerSeq = 0;
  std::vector<TimerCall> timerCalls;
  DWORD granularityUs = 0;      // 0: timers fire exactly when due
  std::map<UINT, int> periods;  // timeBeginPeriod less timeEndPeriod, by period
  int unmatchedEnds = 0;
  // Windows.
  std::vector<ClassInfo> classes;
  std::map<HWND, WindowInfo> windows;
  std::vector<HWND> order;
  std::map<std::pair<HWND, UINT>, int> defProc;
  HWND foreground = nullptr;
  HWND focus = nullptr;
  DWORD creatingThread = kOurThread;
  int failRegister = 0;
  int failCreate = 0;
  // Message boxes.
  std::deque<BoxInfo> boxes;
  std::deque<BoxScript> boxScripts;
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

// The first tick of the system timer at or after 'at' (ms): ticks come every
// granularity microseconds from clock 0, each at the whole ms it falls in or after.
uint64_t OnTick(uint64_t at) {
  uint64_t g = C().granularityUs;
  if (!g) return at;
  uint64_t k = (at * 1000 + g - 1) / g;  // first tick whose time is >= at
  while ((k * g + 999) / 1000 < at) ++k;
  return (k * g + 999) / 1000;
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

// Our windows are DPI-unaware: so is the thread while one's procedure runs.
LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowInfo* w = detail::LiveWindow(window);
  if (!w || !w->proc) return 0;
  HANDLE own = detail::SetThreadDpiAwarenessContext((HANDLE)(intptr_t)-1);
  LRESULT result = w->proc(window, message, wParam, lParam);
  detail::SetThreadDpiAwarenessContext(own);
  return result;
}

// Runs the scheduled actions due by now, earliest first (among equals, the
// first scheduled: min_element keeps the first of equal elements).
void RunScheduled() {
  Core& c = C();
  for (;;) {
    auto best = std::min_element(c.scheduled.begin(), c.scheduled.end(),
                                 [](auto& a, auto& b) { return a.at < b.at; });
    if (best == c.scheduled.end() || best->at > c.now) return;
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

// Moves the clock to 'end', stopping at every timer and scheduled action due
// on the way (the start and 'end' included) to deliver what the thread's loop
// would (Pump) or, when the thread sleeps, only to run the scheduled actions.
// Once the loop guard trips, nothing is delivered and the clock goes to 'end'.
void MoveClock(uint64_t end, bool deliver) {
  Core& c = C();
  for (;;) {
    if (deliver) {
      Pump();
    } else {
      RunScheduled();
    }
    if (c.now >= end) return;
    c.now = deliver && c.tripped ? end : std::min(end, NextWake());
  }
}

MSG MakeMsg(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m{window, message, wParam, lParam, Now(), {}};
  win::GetCursorPos(&m.pt);
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
    if (c.instantCount >= kPerInstantLimit) {
      c.tripped = true;
      return false;
    }
    ++c.instantCount;
    if (!c.queue.empty()) {
      *out = c.queue.front();
      c.queue.pop_front();
      return true;
    }
    if (takeQuit && c.quitPending) {
      c.quitPending = false;
      *out = MakeMsg(nullptr, WM_QUIT, (WPARAM)c.quitCode, 0);
      return true;
    }
    for (HWND h : c.order) {
      WindowInfo& w = c.windows[h];
      if (w.needsPaint && ShownOnScreen(w)) {
        *out = MakeMsg(h, WM_PAINT, 0, 0);
        return true;
      }
    }
    auto best = std::min_element(c.timers.begin(), c.timers.end(), [](auto& a, auto& b) {
      return std::tie(a.second.due, a.second.seq) < std::tie(b.second.due, b.second.seq);
    });
    if (best != c.timers.end() && best->second.due <= c.now) {
      best->second.due = OnTick(c.now + best->second.effective);
      *out = MakeMsg(best->first.first, WM_TIMER, best->first.second, 0);
      return true;
    }
    --c.instantCount;  // nothing taken
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

LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowInfo* w = detail::LiveWindow(window);
  if (!w) return 0;
  int length = (int)w->title.size();
  if (message == EM_SETSEL) {
    int start = (int)(intptr_t)wParam, end = (int)lParam;
    if (end < 0 || end > length) end = length;
    if (start < 0 || start > length) start = length;
    w->selStart = std::min(start, end);
    w->selEnd = std::max(start, end);
    return 0;
  }
  if (message == WM_CHAR) {
    char ch = (char)wParam;
    if ((unsigned char)ch < 0x20) return 0;  // single-line edit: Enter, Tab, ... beep
    if ((w->style & ES_NUMBER) && !(ch >= '0' && ch <= '9')) return 0;
    int s = std::min(w->selStart, length), e = std::min(w->selEnd, length);
    w->title.replace((size_t)s, (size_t)(e - s), 1, ch);
    w->selStart = w->selEnd = s + 1;
    return 0;
  }
  return win::DefWindowProcA(window, message, wParam, lParam);
}

struct ClassFound {
  std::string name;
  WNDPROC proc = nullptr;
  HBRUSH brush = nullptr;
};

std::optional<ClassFound> FindClass(LPCSTR cls) {
  if (!cls || IsIntResource(cls)) return std::nullopt;
  if (const ClassInfo* k = Class(cls))
    return ClassFound{k->className, k->fields.lpfnWndProc, k->fields.hbrBackground};
  // Built-in classes: their brushes are the system colours they paint with.
  HBRUSH face = (HBRUSH)(uintptr_t)(COLOR_BTNFACE + 1);
  const ClassFound builtIn[] = {{"EDIT", EditProc, (HBRUSH)(uintptr_t)(5 + 1)},  // COLOR_WINDOW
                                {"STATIC", win::DefWindowProcA, face},
                                {"#32770", win::DefWindowProcA, face}};
  for (auto& k : builtIn)
    if (SameText(k.name.c_str(), cls)) return k;
  return std::nullopt;
}

// Creates the window and sends WM_CREATE; nullptr on failure.
HWND Create(DWORD exStyle, const ClassFound& found, LPCSTR title, DWORD style, int x, int y,
            int width, int height, HWND parent, HMENU menu) {
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
  w.proc = found.proc;
  w.thread = c.creatingThread;
  w.alive = true;
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

  if (Deliver(handle, WM_CREATE, 0, 0) == -1) {
    win::DestroyWindow(handle);
    return nullptr;
  }
  return win::IsWindow(handle) ? handle : nullptr;
}

// A message box window (class "#32770", a 300 x 150 client area), centred on
// the screen or, when 'centred' is false, at (100, 100).
HWND BoxWindow(bool topmost, const char* caption, bool centred, HWND owner) {
  int frame = win::GetSystemMetrics(SM_CXDLGFRAME);
  int bar = win::GetSystemMetrics(SM_CYSMCAPTION);
  int width = kBoxClientWidth + 2 * frame, height = kBoxClientHeight + 2 * frame + bar;
  int x = centred ? (win::GetSystemMetrics(SM_CXSCREEN) - width) / 2 : 100;
  int y = centred ? (win::GetSystemMetrics(SM_CYSCREEN) - height) / 2 : 100;
  return Create(kWsExDlgModalFrame | (topmost ? WS_EX_TOPMOST : 0), *FindClass("#32770"), caption,
                kWsPopup | WS_CAPTION | kWsSysMenu | WS_VISIBLE, x, y, width, height, owner,
                nullptr);
}

int RunBox(BoxInfo info) {
  Core& c = C();
  c.boxes.push_back(std::move(info));
  BoxInfo& box = c.boxes.back();  // deque: stays put while nested boxes are added
  if (box.owner && !win::IsWindow(box.owner)) return box.result = 0;
  HWND window = BoxWindow((box.style & MB_TOPMOST) != 0,
                          box.caption ? box.caption->c_str() : "Error", true, box.owner);
  box.window = window;
  box.open = true;
  int result = detail::NextScript(c.boxScripts, box, IDOK);
  if (window && win::IsWindow(window)) win::DestroyWindow(window);
  box.open = false;
  return box.result = result;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  for (HWND h : C().order) {
    WindowInfo& w = C().windows[h];
    if (w.alive && w.parent == parent && parent && (w.style & WS_CHILD)) out.push_back(h);
  }
  return out;
}

}  // namespace

// ---- Internal interface ------------------------------------------------------

namespace detail {
void Elapse(DWORD ms) { MoveClock(C().now + ms, false); }

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

DWORD Now() { return (DWORD)C().now; }

void Advance(DWORD ms) { MoveClock(C().now + ms, true); }

int Pump() {
  int count = 0;
  MSG m;
  while (NextMessage(&m, false, false)) {
    win::DispatchMessageA(&m);
    ++count;
  }
  return count;
}

void After(DWORD ms, std::function<void()> action) {
  C().scheduled.push_back(ScheduledAction{C().now + ms, std::move(action)});
}

DWORD SleptMs() { return C().slept; }
void SetSleepLate(DWORD ms) { C().sleepLate = ms; }
bool LoopGuardTripped() { return C().tripped; }
bool Stalled() { return C().stalled; }

// ---- Timers ------------------------------------------------------------------

bool TimerExists(HWND window, UINT_PTR id) { return C().timers.count({window, id}) != 0; }

// The timer, or a blank one (period and due time 0) when there is none.
Timer TimerAt(HWND window, UINT_PTR id) {
  auto it = C().timers.find({window, id});
  return it == C().timers.end() ? Timer{} : it->second;
}
UINT TimerPeriod(HWND window, UINT_PTR id) { return TimerAt(window, id).asked; }
DWORD TimerDue(HWND window, UINT_PTR id) { return (DWORD)TimerAt(window, id).due; }

const std::vector<TimerCall>& TimerCalls() { return C().timerCalls; }

void SetTimerGranularity(DWORD microseconds) { C().granularityUs = microseconds; }

int TimerPeriodsHeld() {
  int n = 0;
  for (auto& p : C().periods) n += p.second;
  return n;
}
int UnmatchedPeriodEnds() { return C().unmatchedEnds; }

// ---- Queue -------------------------------------------------------------------

std::vector<MSG> Queue() {
  std::vector<MSG> out(C().queue.begin(), C().queue.end());
  if (C().quitPending) out.push_back(MakeMsg(nullptr, WM_QUIT, (WPARAM)C().quitCode, 0));
  return out;
}
bool QuitPosted() { return C().quitPending; }
int QuitCode() { return C().quitCode; }

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

HWND OtherProgramBox(const char* caption) {
  C().creatingThread = kOtherThread;
  HWND window = BoxWindow(true, caption, false, nullptr);
  C().creatingThread = kOurThread;
  return window;
}

HWND FindChild(HWND parent, const char* className) {
  for (HWND h : Children(parent))
    if (SameText(C().windows[h].className.c_str(), className)) return h;
  return nullptr;
}

int DefProcCount(HWND window, UINT message) {
  auto it = C().defProc.find({window, message});
  return it == C().defProc.end() ? 0 : it->second;
}

void SetForeground(HWND window) { C().foreground = window; }
HWND Focus() { return C().focus; }

COLORREF SurfacePixel(HWND window, int x, int y) {
  const WindowInfo* w = Window(window);
  if (!w || x < 0 || y < 0 || x >= w->clientWidth || y >= w->clientHeight) return 0xFFFFFFFF;
  return w->surface[(size_t)y * (size_t)w->clientWidth + (size_t)x];
}

void Type(HWND window, const char* text) {
  for (const char* p = text; p && *p; ++p) win::SendMessageA(window, WM_CHAR, (unsigned char)*p, 1);
}

const ClassInfo* Class(const char* name) {
  for (auto& k : C().classes)
    if (SameText(k.className.c_str(), name)) return &k;
  return nullptr;
}
void FailRegisterClass(int count) { C().failRegister = count; }
void FailCreateWindow(int count) { C().failCreate = count; }

// ---- Message boxes -------------------------------------------------------------

void PushBox(BoxScript script) { C().boxScripts.push_back(std::move(script)); }
const std::deque<BoxInfo>& Boxes() { return C().boxes; }

// ---- Menus -------------------------------------------------------------------

void PushMenuChoice(UINT_PTR id) {
  C().menuScripts.push_back([id](const MenuTrack&) { return id; });
}
void PushMenuChoiceText(const std::string& text) {
  C().menuScripts.push_back([text](const MenuTrack& track) -> UINT_PTR {
    for (auto& item : track.items)
      if (item.text && *item.text == text) return item.id;
    return 0;
  });
}
const std::vector<MenuTrack>& MenuTracks() { return C().menuTracks; }
int LiveMenus() {
  return detail::Count(C().menus, [](auto& m) { return !m.second.destroyed; });
}

}  // namespace sim

// =============================================================================
// The Win32 calls
// =============================================================================

namespace win {

using sim::C;

DWORD WINAPI timeGetTime() {
  // Waiting on the clock by reading it again and again takes time too.
  auto& c = C();
  if (c.now != c.readAt) c.readAt = c.now, c.reads = 0;
  if (++c.reads >= sim::kReadsPerMs) {
    sim::MoveClock(c.now + 1, false);
    c.readAt = c.now, c.reads = 0;
  }
  return sim::Now();
}

MMRESULT WINAPI timeBeginPeriod(UINT period) {
  if (!period) return 97;  // TIMERR_NOCANDO
  ++C().periods[period];
  return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT period) {
  auto it = C().periods.find(period);
  if (it == C().periods.end() || it->second == 0) {
    ++C().unmatchedEnds;
    return 97;
  }
  --it->second;
  return TIMERR_NOERROR;
}

// The world goes on while the thread sleeps: scheduled actions run at their time.
void WINAPI Sleep(DWORD ms) {
  C().slept += ms;
  sim::MoveClock(C().now + ms + C().sleepLate, false);
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
  info.fields.lpszClassName = nullptr;
  info.fields.lpszMenuName = nullptr;
  c.classes.push_back(info);
  return (ATOM)(0xC000 + c.classes.size());
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR cls, LPCSTR title, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE, LPVOID) {
  auto& c = C();
  if (c.failCreate > 0) {
    --c.failCreate;
    return nullptr;
  }
  std::optional<sim::ClassFound> found = sim::FindClass(cls);
  if (!found) return nullptr;
  if (parent && !IsWindow(parent)) return nullptr;
  if ((style & WS_CHILD) && !parent) return nullptr;
  return sim::Create(exStyle, *found, title, style, x, y, width, height, parent, menu);
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
  ++C().defProc[{window, message}];
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
  w->style = w->visible ? w->style | WS_VISIBLE : w->style & ~WS_VISIBLE;
  if (!was && w->visible) w->needsPaint = w->erasePending = true;
  return was ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND window) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) return FALSE;
  if (w->needsPaint && sim::ShownOnScreen(*w)) sim::Deliver(window, WM_PAINT, 0, 0);
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
  sim::Deliver(window, WM_DESTROY, 0, 0);
  for (HWND child : sim::Children(window)) DestroyWindow(child);
  for (auto it = c.timers.begin(); it != c.timers.end();)
    it = it->first.first == window ? c.timers.erase(it) : std::next(it);
  c.queue.erase(std::remove_if(c.queue.begin(), c.queue.end(),
                               [window](const MSG& m) { return m.hwnd == window; }),
                c.queue.end());
  if (c.focus == window) c.focus = nullptr;
  if (c.foreground == window) c.foreground = nullptr;
  w = &c.windows[window];
  w->alive = false;
  w->visible = false;
  w->needsPaint = false;
  return TRUE;
}

BOOL WINAPI IsWindow(HWND window) { return sim::detail::LiveWindow(window) ? TRUE : FALSE; }

BOOL WINAPI GetMessageA(MSG* msg, HWND, UINT, UINT) {
  auto& c = C();
  if (c.getMessageCount++ >= sim::kGetMessageLimit) c.tripped = true;
  MSG m;
  if (!sim::NextMessage(&m, true, true)) m = sim::MakeMsg(nullptr, WM_QUIT, 0, 0);
  if (msg) *msg = m;
  return m.message == WM_QUIT ? 0 : 1;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP) ? TRUE : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  return sim::Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window && !IsWindow(window)) return FALSE;
  C().queue.push_back(sim::MakeMsg(window, message, wParam, lParam));
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return sim::Deliver(window, message, wParam, lParam);
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
  int n = w ? std::min((int)w->title.size(), count - 1) : 0;
  if (n) std::memcpy(buffer, w->title.data(), (size_t)n);
  buffer[n] = 0;
  return n;
}

namespace {
POINT ClientOrigin(const sim::WindowInfo& w) {
  POINT p{w.x + w.clientLeft, w.y + w.clientTop};
  if ((w.style & WS_CHILD) && w.parent) {
    auto it = C().windows.find(w.parent);  // a parent being destroyed still places its children
    if (it != C().windows.end()) {
      POINT origin = ClientOrigin(it->second);
      p.x += origin.x;
      p.y += origin.y;
    }
  }
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

BOOL WINAPI InvalidateRect(HWND window, const RECT*, BOOL erase) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) return FALSE;
  ++w->invalidations;
  w->needsPaint = true;
  if (erase) w->erasePending = true;
  return TRUE;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w) return 0;
  if (index == GWLP_WNDPROC) return (LONG_PTR)(uintptr_t)w->proc;
  if (index == GWLP_USERDATA) return w->userData;
  if (index == GWLP_ID) return (LONG_PTR)w->id;
  return index == GWL_STYLE ? (LONG_PTR)w->style : 0;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  LONG_PTR old = GetWindowLongPtrA(window, index);
  if (w && index == GWLP_WNDPROC) {
    w->proc = (WNDPROC)(uintptr_t)value;
  } else if (w && index == GWLP_USERDATA) {
    w->userData = value;
  } else {
    return 0;
  }
  return old;
}

BOOL WINAPI EnumThreadWindows(DWORD thread, WNDENUMPROC proc, LPARAM lParam) {
  std::vector<HWND> live = sim::Windows();  // those the callback creates are not enumerated
  for (auto it = live.rbegin(); it != live.rend(); ++it) {
    sim::WindowInfo* w = sim::detail::LiveWindow(*it);
    if (w && !(w->style & WS_CHILD) && w->thread == thread && !proc(*it, lParam)) break;
  }
  return TRUE;
}

HWND WINAPI SetFocus(HWND window) {
  if (window && !IsWindow(window)) return nullptr;
  return std::exchange(C().focus, window);
}

HWND WINAPI GetForegroundWindow() { return C().foreground; }

HWND WINAPI WindowFromPoint(POINT p) {
  p = sim::detail::Unaware(p);
  std::vector<HWND> live = sim::Windows();
  for (auto it = live.rbegin(); it != live.rend(); ++it) {
    RECT r;
    const sim::WindowInfo* w = sim::detail::LiveWindow(*it);
    if (w->visible && !(w->style & WS_CHILD) && GetWindowRect(*it, &r) && p.x >= r.left &&
        p.x < r.right && p.y >= r.top && p.y < r.bottom)
      return *it;
  }
  return nullptr;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT ms, TIMERPROC proc) {
  auto& c = C();
  C().timerCalls.push_back(sim::TimerCall{true, window, id, ms});
  if (!IsWindow(window) || proc) return 0;  // thread timers and TIMERPROCs: not modelled
  sim::Timer t;
  t.asked = ms;
  t.effective = std::min<UINT>(std::max(ms, sim::kTimerMinimum), 0x7FFFFFFF);
  t.due = sim::OnTick(c.now + t.effective);
  t.seq = c.timerSeq++;
  c.timers[{window, id}] = t;
  return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  C().timerCalls.push_back(sim::TimerCall{false, window, id, 0});
  return C().timers.erase({window, id}) ? TRUE : FALSE;
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
  if (!params || params->cbSize != sizeof(MSGBOXPARAMSA)) return 0;  // the box checks its size
  sim::BoxInfo box;
  box.indirect = true;
  box.owner = params->hwndOwner;
  box.instance = params->hInstance;
  if (params->lpszText) box.text = std::string(params->lpszText);
  if (params->lpszCaption) box.caption = std::string(params->lpszCaption);
  box.style = params->dwStyle;
  if (params->lpszIcon && sim::IsIntResource(params->lpszIcon))
    box.iconId = (UINT)(uintptr_t)params->lpszIcon;
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
  if (!(flags & MF_SEPARATOR) && text) item.text = std::string(text);
  it->second.items.push_back(item);
  return TRUE;
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  auto& c = C();
  auto it = c.menus.find(menu);
  if (it == c.menus.end() || it->second.destroyed || !IsWindow(owner)) return FALSE;
  c.menuTracks.push_back(sim::MenuTrack{flags, x, y, owner, it->second.items});
  UINT_PTR chosen = sim::detail::NextScript(c.menuScripts, c.menuTracks.back(), (UINT_PTR)0);
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
