// wintool: looks at and pokes the top-level windows of the Wine desktop from the
// Win32 side, for end-to-end tests. Wine draws child controls (a message box's
// text, its buttons) itself, so X11 tools cannot read them; this can.
//
//   wintool.exe list                      every top-level window, one line each
//   wintool.exe info <sel>                the windows that <sel> selects
//   wintool.exe texts <sel>               their child controls, one line each
//   wintool.exe close <sel>               post WM_CLOSE to them
//   wintool.exe click <sel> <button>      press the child button with that text
//   wintool.exe controls <sel>            their child controls with style and place
//   wintool.exe menu                      the items of every open pop-up menu
//   wintool.exe hold <file> [seconds]     keep a file open without sharing
//   wintool.exe mouse [seconds]           log every mouse input event of the desktop
//
// <sel>: "class=<name>", "hwnd=<hex>", or else an exact window title.
// Window lines:  hwnd=0x.. pid=.. visible=0|1 topmost=0|1 style=0x.. exstyle=0x..
//                rect=l,t,r,b client=x,y,w,h class=<..> exe=<..> title=<..>
// Child lines:   child hwnd=0x.. id=.. visible=0|1 class=<..> text=<..>
// Texts are escaped: \n, \r, \t, \\ and \xHH for other control characters; a
// field's value runs to the next " key=" and title/text are always last.
// Control lines: control hwnd=0x.. id=.. visible=0|1 style=0x.. exstyle=0x..
//                rect=l,t,r,b (on the screen) class=<..> text=<..>
// Menu lines:    menu hwnd=0x.. pid=.. rect=l,t,r,b count=N
//                item pos=.. id=0x.. state=0x.. checked=0|1 separator=0|1 text=<..>
//   (Wine keeps a menu's items in the memory of the process that made it, so
//   they are read there: this program is loaded into that process and one of
//   its functions runs on a thread of its own.)
// hold: opens the file for reading and writing with no sharing, prints
//   "held <file>" and keeps it open for the given seconds (default 600) or
//   until killed; exit code 1 when it cannot be opened.
// mouse: a low-level mouse hook; prints "watching", then one line per mouse
//   input event, whichever program made it, none merged:
//   mouse msg=0x200 x=.. y=.. injected=0|1 time=..   (for the seconds given,
//   default 600, or until killed; exit code 1 when the hook cannot be set).
// Exit code: 0 when at least one window was selected, 1 when none, 2 on misuse.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>

namespace {

enum class Match { Title, Class, Handle };

struct Selector {
  Match how;
  const char* value;
  HWND handle;
};

struct Found {
  HWND list[64];
  int count;
  const Selector* sel;
};

void Escaped(const char* s, char* out, size_t cap) {
  size_t n = 0;
  for (; *s && n + 5 < cap; ++s) {
    unsigned char c = (unsigned char)*s;
    const char* named = c == '\n'   ? "\\n"
                        : c == '\r' ? "\\r"
                        : c == '\t' ? "\\t"
                        : c == '\\' ? "\\\\"
                                    : nullptr;
    if (named) {
      out[n++] = named[0];
      out[n++] = named[1];
    } else if (c < 0x20) {
      n += (size_t)snprintf(out + n, cap - n, "\\x%02x", c);
    } else {
      out[n++] = (char)c;
    }
  }
  out[n] = 0;
}

bool Selected(HWND w, const Selector& sel) {
  char buf[512];
  switch (sel.how) {
    case Match::Handle: return w == sel.handle;
    case Match::Class: GetClassNameA(w, buf, sizeof buf); return strcmp(buf, sel.value) == 0;
    case Match::Title: GetWindowTextA(w, buf, sizeof buf); return strcmp(buf, sel.value) == 0;
  }
  return false;
}

BOOL CALLBACK Collect(HWND w, LPARAM p) {
  Found* f = (Found*)p;
  if (f->count < 64 && (!f->sel || Selected(w, *f->sel))) f->list[f->count++] = w;
  return TRUE;
}

void ExeOf(DWORD pid, char* out, DWORD cap) {
  out[0] = 0;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!h) return;
  DWORD n = cap;
  if (!QueryFullProcessImageNameA(h, 0, out, &n)) out[0] = 0;
  CloseHandle(h);
}

void PrintWindow(HWND w) {
  char title[512], cls[256], exe[MAX_PATH], esc[1100];
  GetWindowTextA(w, title, sizeof title);
  GetClassNameA(w, cls, sizeof cls);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  ExeOf(pid, exe, sizeof exe);
  LONG style = GetWindowLongA(w, GWL_STYLE);
  LONG ex = GetWindowLongA(w, GWL_EXSTYLE);
  RECT r = {}, c = {};
  GetWindowRect(w, &r);
  GetClientRect(w, &c);
  POINT o = {0, 0};
  ClientToScreen(w, &o);
  Escaped(title, esc, sizeof esc);
  printf(
      "hwnd=0x%lx pid=%lu visible=%d topmost=%d style=0x%08lx exstyle=0x%08lx rect=%ld,%ld,%ld,%ld "
      "client=%ld,%ld,%ld,%ld class=%s exe=%s title=%s\n",
      (unsigned long)(ULONG_PTR)w, (unsigned long)pid, IsWindowVisible(w) ? 1 : 0,
      (ex & WS_EX_TOPMOST) ? 1 : 0, (unsigned long)style, (unsigned long)ex, r.left, r.top, r.right,
      r.bottom, o.x, o.y, c.right, c.bottom, cls, exe, esc);
}

// A control's class and its text, escaped. WM_GETTEXT rather than
// GetWindowText: the latter does not read the text of another process's
// controls.
struct ControlText {
  char cls[256], esc[4200];
  explicit ControlText(HWND c) {
    char text[2048];
    text[0] = 0;
    SendMessageTimeoutA(c, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, nullptr);
    GetClassNameA(c, cls, sizeof cls);
    Escaped(text, esc, sizeof esc);
  }
};

BOOL CALLBACK PrintChild(HWND c, LPARAM) {
  ControlText t(c);
  printf("child hwnd=0x%lx id=%ld visible=%d class=%s text=%s\n", (unsigned long)(ULONG_PTR)c,
         (long)GetDlgCtrlID(c), IsWindowVisible(c) ? 1 : 0, t.cls, t.esc);
  return TRUE;
}

BOOL CALLBACK PrintControl(HWND c, LPARAM) {
  ControlText t(c);
  RECT r = {};
  GetWindowRect(c, &r);
  printf(
      "control hwnd=0x%lx id=%ld visible=%d style=0x%08lx exstyle=0x%08lx rect=%ld,%ld,%ld,%ld "
      "class=%s text=%s\n",
      (unsigned long)(ULONG_PTR)c, (long)GetDlgCtrlID(c), IsWindowVisible(c) ? 1 : 0,
      (unsigned long)GetWindowLongA(c, GWL_STYLE), (unsigned long)GetWindowLongA(c, GWL_EXSTYLE),
      r.left, r.top, r.right, r.bottom, t.cls, t.esc);
  return TRUE;
}

// Button captions compare without their '&' mnemonic markers.
bool SameCaption(const char* a, const char* b) {
  for (;;) {
    while (*a == '&') ++a;
    while (*b == '&') ++b;
    if (*a != *b) return false;
    if (!*a) return true;
    ++a, ++b;
  }
}

struct ButtonSearch {
  const char* caption;
  HWND found;
};

BOOL CALLBACK FindButton(HWND c, LPARAM p) {
  ButtonSearch* s = (ButtonSearch*)p;
  char text[256], cls[64];
  GetClassNameA(c, cls, sizeof cls);
  if (lstrcmpiA(cls, "Button") != 0) return TRUE;
  text[0] = 0;
  SendMessageTimeoutA(c, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, nullptr);
  if (SameCaption(text, s->caption)) {
    s->found = c;
    return FALSE;
  }
  return TRUE;
}

// ----- menu: reading a pop-up menu in the process that owns it -------------

// What runs in the other process gets everything through this block: the
// addresses of the functions it calls (Wine does not bind the imports of a
// program loaded as a library, nor relocate it), its format strings and room
// for its answer.
struct RemoteMenuRead {
  decltype(&SendMessageTimeoutA) sendMessageTimeout;
  decltype(&GetMenuItemCount) getMenuItemCount;
  decltype(&GetMenuStringA) getMenuString;
  decltype(&GetMenuState) getMenuState;
  decltype(&GetMenuItemID) getMenuItemID;
  decltype(&wsprintfA) format;
  HWND menuWindow;
  char countFormat[32];
  char itemFormat[96];
  char out[24576];
};

// Runs on a thread of the menu's own process. No string literals, globals or
// imported calls: only what the block hands it.
extern "C" __attribute__((used, noinline, optimize("no-jump-tables", "no-stack-protector")))
DWORD WINAPI
RemoteMenuItems(LPVOID param) {
  RemoteMenuRead* r = (RemoteMenuRead*)param;
  DWORD_PTR answer = 0;
  if (!r->sendMessageTimeout(r->menuWindow, 0x01E1 /* MN_GETHMENU */, 0, 0, SMTO_ABORTIFHUNG, 2000,
                             &answer))
    return 1;
  HMENU menu = (HMENU)answer;
  int count = r->getMenuItemCount(menu);
  char* p = r->out;
  p += r->format(p, r->countFormat, count);
  for (int i = 0; i < count && i < 64; ++i) {
    char text[256];
    text[0] = 0;
    r->getMenuString(menu, (UINT)i, text, sizeof text, MF_BYPOSITION);
    UINT state = r->getMenuState(menu, (UINT)i, MF_BYPOSITION);
    p += r->format(p, r->itemFormat, i, r->getMenuItemID(menu, i), state,
                   (state & MF_CHECKED) ? 1 : 0, (state & MF_SEPARATOR) ? 1 : 0, text);
  }
  return 0;
}

// Where a module of ours is loaded in another process, by name.
BYTE* RemoteModule(HANDLE process, const char* name) {
  static HMODULE mods[1024];
  DWORD need = 0;
  if (!EnumProcessModules(process, mods, sizeof mods, &need)) return nullptr;
  for (DWORD i = 0; i < need / sizeof(HMODULE) && i < 1024; ++i) {
    char base[MAX_PATH];
    if (GetModuleBaseNameA(process, mods[i], base, sizeof base) && lstrcmpiA(base, name) == 0)
      return (BYTE*)mods[i];
  }
  return nullptr;
}

// The address in `process` of a function of a system library.
template <class F>
F RemoteFunction(HANDLE process, const char* dll, F local) {
  BYTE* here = (BYTE*)GetModuleHandleA(dll);
  BYTE* there = RemoteModule(process, dll);
  return here && there ? (F)(there + ((BYTE*)local - here)) : nullptr;
}

// Runs `start(param)` on a new thread of `process`; its exit code, or -1.
DWORD RunRemote(HANDLE process, LPTHREAD_START_ROUTINE start, LPVOID param) {
  HANDLE thread = CreateRemoteThread(process, nullptr, 0, start, param, 0, nullptr);
  if (!thread) return (DWORD)-1;
  DWORD code = (DWORD)-1;
  if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &code))
    code = (DWORD)-1;
  CloseHandle(thread);
  return code;
}

// Prints the items of one open menu window; false when they cannot be read.
bool PrintMenu(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  RECT rect = {};
  GetWindowRect(window, &rect);
  HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
  if (!process) return false;
  static RemoteMenuRead block;
  block = RemoteMenuRead{};
  block.sendMessageTimeout = RemoteFunction(process, "user32.dll", &SendMessageTimeoutA);
  block.getMenuItemCount = RemoteFunction(process, "user32.dll", &GetMenuItemCount);
  block.getMenuString = RemoteFunction(process, "user32.dll", &GetMenuStringA);
  block.getMenuState = RemoteFunction(process, "user32.dll", &GetMenuState);
  block.getMenuItemID = RemoteFunction(process, "user32.dll", &GetMenuItemID);
  block.format = RemoteFunction(process, "user32.dll", &wsprintfA);
  auto loadLibrary = RemoteFunction(process, "kernel32.dll", &LoadLibraryA);
  auto freeLibrary = RemoteFunction(process, "kernel32.dll", &FreeLibrary);
  block.menuWindow = window;
  lstrcpyA(block.countFormat, "count=%d\n");
  lstrcpyA(block.itemFormat, "item pos=%d id=0x%x state=0x%x checked=%d separator=%d text=%s\n");
  bool ok = false;
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const SIZE_T pathRoom = 4096;
  char* remote = (char*)VirtualAllocEx(process, nullptr, pathRoom + sizeof block,
                                       MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote && block.sendMessageTimeout && block.format && loadLibrary && freeLibrary) {
    SIZE_T moved = 0;
    WriteProcessMemory(process, remote, self, lstrlenA(self) + 1, &moved);
    WriteProcessMemory(process, remote + pathRoom, &block, sizeof block, &moved);
    DWORD base = RunRemote(process, (LPTHREAD_START_ROUTINE)loadLibrary, remote);
    if (base && base != (DWORD)-1) {
      BYTE* start =
          (BYTE*)(ULONG_PTR)base + ((BYTE*)RemoteMenuItems - (BYTE*)GetModuleHandleA(nullptr));
      if (RunRemote(process, (LPTHREAD_START_ROUTINE)start, remote + pathRoom) == 0 &&
          ReadProcessMemory(process, remote + pathRoom, &block, sizeof block, &moved)) {
        block.out[sizeof block.out - 1] = 0;
        ok = true;
      }
      RunRemote(process, (LPTHREAD_START_ROUTINE)freeLibrary, (LPVOID)(ULONG_PTR)base);
    }
  }
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  if (!ok) return false;
  // The answer: "count=N\n", then one item line each; texts escaped here.
  char* line = block.out;
  printf("menu hwnd=0x%lx pid=%lu rect=%ld,%ld,%ld,%ld ", (unsigned long)(ULONG_PTR)window,
         (unsigned long)pid, rect.left, rect.top, rect.right, rect.bottom);
  while (*line) {
    char* end = line;
    while (*end && *end != '\n') ++end;
    char keep = *end;
    *end = 0;
    char* text = strstr(line, " text=");
    if (text) {
      static char esc[1100];
      text += 6;
      Escaped(text, esc, sizeof esc);
      *text = 0;
      printf("%s%s\n", line, esc);
    } else {
      printf("%s\n", line);
    }
    if (!keep) break;
    line = end + 1;
  }
  return true;
}

// ----- hold: a file open without sharing ----------------------------------

int HoldFile(const char* path, DWORD seconds) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    printf("cannot open %s: error %lu\n", path, (unsigned long)GetLastError());
    fflush(stdout);
    return 1;
  }
  printf("held %s\n", path);
  fflush(stdout);
  Sleep(seconds * 1000);
  CloseHandle(file);
  return 0;
}

// ----- mouse: every mouse input event ----------------------------------------

LRESULT CALLBACK LogMouse(int code, WPARAM message, LPARAM info) {
  if (code == HC_ACTION) {
    const MSLLHOOKSTRUCT* m = (const MSLLHOOKSTRUCT*)info;
    printf("mouse msg=0x%x x=%ld y=%ld injected=%d time=%lu\n", (unsigned)message, m->pt.x, m->pt.y,
           (m->flags & LLMHF_INJECTED) ? 1 : 0, (unsigned long)m->time);
    fflush(stdout);
  }
  return CallNextHookEx(nullptr, code, message, info);
}

int WatchMouse(DWORD seconds) {
  HHOOK hook = SetWindowsHookExA(WH_MOUSE_LL, LogMouse, GetModuleHandleA(nullptr), 0);
  if (!hook) {
    printf("no hook: error %lu\n", (unsigned long)GetLastError());
    fflush(stdout);
    return 1;
  }
  printf("watching\n");
  fflush(stdout);
  UINT_PTR timer = SetTimer(nullptr, 0, seconds * 1000, nullptr);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    if (m.message == WM_TIMER && m.wParam == timer) break;
    DispatchMessageA(&m);
  }
  UnhookWindowsHookEx(hook);
  return 0;
}

// Types characters as themselves (KEYEVENTF_UNICODE, each pressed and
// released), as the emoji panel or a touch keyboard does, into whatever has
// the focus; each given as hex UTF-16 units.
int TypeUnicode(int count, char** units) {
  for (int i = 0; i < count; ++i) {
    INPUT in[2] = {};
    for (int k = 0; k < 2; ++k) {
      in[k].type = INPUT_KEYBOARD;
      in[k].ki.wScan = (WORD)strtoul(units[i], nullptr, 16);
      in[k].ki.dwFlags = KEYEVENTF_UNICODE | (k ? KEYEVENTF_KEYUP : 0);
    }
    if (SendInput(2, in, sizeof in[0]) != 2) return 1;
    Sleep(30);
  }
  return 0;
}

// The reference injector: n absolute moves one every ms milliseconds, from
// (x, y) one pixel to the right each, each sent as its deadline comes on a
// busy-waited QueryPerformanceCounter: what a player without timers gets
// through to a window.
int Moves(int x, int y, int n, int ms) {
  LARGE_INTEGER f, t0, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  int cx = GetSystemMetrics(SM_CXVIRTUALSCREEN), cy = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  for (int i = 0; i < n; ++i) {
    LONGLONG due = t0.QuadPart + f.QuadPart * (LONGLONG)(i + 1) * ms / 1000;
    do QueryPerformanceCounter(&t);
    while (t.QuadPart < due);
    DWORD dx = (DWORD)(((x + i - left) * 65536LL + cx - 1) / cx);
    DWORD dy = (DWORD)(((y - top) * 65536LL + cy - 1) / cy);
    mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK, dx, dy, 0, 0);
  }
  return 0;
}

int Usage() {
  fprintf(stderr,
          "usage: wintool list | info <sel> | texts <sel> | controls <sel> | close <sel>\n"
          "       wintool click <sel> <button> | menu | hold <file> [seconds] | mouse [seconds]\n"
          "       wintool unicode <hex unit>... | moves <x> <y> <n> <ms>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const char* cmd = argv[1];
  if (strcmp(cmd, "hold") == 0) {
    if (argc < 3) return Usage();
    return HoldFile(argv[2], argc > 3 ? strtoul(argv[3], nullptr, 10) : 600);
  }
  if (strcmp(cmd, "mouse") == 0) return WatchMouse(argc > 2 ? strtoul(argv[2], nullptr, 10) : 600);
  if (strcmp(cmd, "unicode") == 0) return TypeUnicode(argc - 2, argv + 2);
  if (strcmp(cmd, "moves") == 0 && argc == 6)
    return Moves(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));
  if (strcmp(cmd, "menu") == 0) {
    // Every visible pop-up menu (window class #32768).
    static const Selector menus = {Match::Class, "#32768", nullptr};
    Found all = {};
    all.sel = &menus;
    EnumWindows(Collect, (LPARAM)&all);
    int shown = 0;
    for (int i = 0; i < all.count; ++i)
      if (IsWindowVisible(all.list[i]) && PrintMenu(all.list[i])) ++shown;
    fflush(stdout);
    return shown ? 0 : 1;
  }
  Found found = {};
  Selector sel = {};
  if (strcmp(cmd, "list") != 0) {
    if (argc < 3) return Usage();
    const char* s = argv[2];
    if (strncmp(s, "class=", 6) == 0)
      sel = {Match::Class, s + 6, nullptr};
    else if (strncmp(s, "hwnd=", 5) == 0)
      sel = {Match::Handle, s + 5, (HWND)(ULONG_PTR)strtoul(s + 5, nullptr, 16)};
    else
      sel = {Match::Title, s, nullptr};
    found.sel = &sel;
  }
  EnumWindows(Collect, (LPARAM)&found);

  int rc = found.count ? 0 : 1;
  if (strcmp(cmd, "list") == 0 || strcmp(cmd, "info") == 0) {
    for (int i = 0; i < found.count; ++i) PrintWindow(found.list[i]);
  } else if (strcmp(cmd, "texts") == 0) {
    for (int i = 0; i < found.count; ++i) {
      PrintWindow(found.list[i]);
      EnumChildWindows(found.list[i], PrintChild, 0);
    }
  } else if (strcmp(cmd, "controls") == 0) {
    for (int i = 0; i < found.count; ++i) {
      PrintWindow(found.list[i]);
      EnumChildWindows(found.list[i], PrintControl, 0);
    }
  } else if (strcmp(cmd, "close") == 0) {
    for (int i = 0; i < found.count; ++i) PostMessageA(found.list[i], WM_CLOSE, 0, 0);
  } else if (strcmp(cmd, "click") == 0) {
    if (argc < 4) return Usage();
    rc = 1;
    for (int i = 0; i < found.count; ++i) {
      ButtonSearch s = {argv[3], nullptr};
      EnumChildWindows(found.list[i], FindButton, (LPARAM)&s);
      if (!s.found) continue;
      // What a click on the button would send its dialog, without needing focus
      // or the pointer.
      PostMessageA(found.list[i], WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(s.found), BN_CLICKED),
                   (LPARAM)s.found);
      rc = 0;
    }
  } else {
    return Usage();
  }
  fflush(stdout);
  return rc;
}
