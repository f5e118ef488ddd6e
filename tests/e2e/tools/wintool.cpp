// wintool: looks at and pokes the top-level windows of the Wine desktop from the
// Win32 side, for end-to-end tests. Wine draws child controls (a message box's
// text, its buttons) itself, so X11 tools cannot read them; this can.
//
//   wintool.exe list                      every top-level window, one line each
//   wintool.exe info <sel>                the windows that <sel> selects
//   wintool.exe texts <sel>               their child controls, one line each
//   wintool.exe close <sel>               post WM_CLOSE to them
//   wintool.exe click <sel> <button>      press the child button with that text
//
// <sel>: "class=<name>", "hwnd=<hex>", or else an exact window title.
// Window lines:  hwnd=0x.. pid=.. visible=0|1 topmost=0|1 style=0x.. exstyle=0x..
//                rect=l,t,r,b client=x,y,w,h class=<..> exe=<..> title=<..>
// Child lines:   child hwnd=0x.. id=.. visible=0|1 class=<..> text=<..>
// Texts are escaped: \n, \r, \t, \\ and \xHH for other control characters; a
// field's value runs to the next " key=" and title/text are always last.
// Exit code: 0 when at least one window was selected, 1 when none, 2 on misuse.
#include <windows.h>

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
    if (c == '\n') out[n++] = '\\', out[n++] = 'n';
    else if (c == '\r') out[n++] = '\\', out[n++] = 'r';
    else if (c == '\t') out[n++] = '\\', out[n++] = 't';
    else if (c == '\\') out[n++] = '\\', out[n++] = '\\';
    else if (c < 0x20) n += (size_t)snprintf(out + n, cap - n, "\\x%02x", c);
    else out[n++] = (char)c;
  }
  out[n] = 0;
}

bool Selected(HWND w, const Selector& sel) {
  char buf[512];
  switch (sel.how) {
    case Match::Handle:
      return w == sel.handle;
    case Match::Class:
      GetClassNameA(w, buf, sizeof buf);
      return strcmp(buf, sel.value) == 0;
    case Match::Title:
      GetWindowTextA(w, buf, sizeof buf);
      return strcmp(buf, sel.value) == 0;
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
  printf("hwnd=0x%lx pid=%lu visible=%d topmost=%d style=0x%08lx exstyle=0x%08lx rect=%ld,%ld,%ld,%ld "
         "client=%ld,%ld,%ld,%ld class=%s exe=%s title=%s\n",
         (unsigned long)(ULONG_PTR)w, (unsigned long)pid, IsWindowVisible(w) ? 1 : 0, (ex & WS_EX_TOPMOST) ? 1 : 0,
         (unsigned long)style, (unsigned long)ex, r.left, r.top, r.right, r.bottom, o.x, o.y, c.right, c.bottom, cls,
         exe, esc);
}

BOOL CALLBACK PrintChild(HWND c, LPARAM) {
  char text[2048], cls[256], esc[4200];
  // WM_GETTEXT rather than GetWindowText: the latter does not read the text of
  // another process's controls.
  text[0] = 0;
  SendMessageTimeoutA(c, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, nullptr);
  GetClassNameA(c, cls, sizeof cls);
  Escaped(text, esc, sizeof esc);
  printf("child hwnd=0x%lx id=%ld visible=%d class=%s text=%s\n", (unsigned long)(ULONG_PTR)c,
         (long)GetDlgCtrlID(c), IsWindowVisible(c) ? 1 : 0, cls, esc);
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

int Usage() {
  fprintf(stderr, "usage: wintool list | info <sel> | texts <sel> | close <sel> | click <sel> <button>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const char* cmd = argv[1];
  Found found = {};
  Selector sel = {};
  if (strcmp(cmd, "list") != 0) {
    if (argc < 3) return Usage();
    const char* s = argv[2];
    if (strncmp(s, "class=", 6) == 0) sel = {Match::Class, s + 6, nullptr};
    else if (strncmp(s, "hwnd=", 5) == 0) sel = {Match::Handle, s + 5, (HWND)(ULONG_PTR)strtoul(s + 5, nullptr, 16)};
    else sel = {Match::Title, s, nullptr};
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
      PostMessageA(found.list[i], WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(s.found), BN_CLICKED), (LPARAM)s.found);
      rc = 0;
    }
  } else {
    return Usage();
  }
  fflush(stdout);
  return rc;
}
