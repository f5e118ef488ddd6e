// The witness: one plain top-level window that writes a line for every key and
// mouse message it receives, so an end-to-end test can see exactly what a
// playback delivered to an ordinary application, and when.
//
//   witness.exe <log> [x y width height]
//
// x, y: screen position of the window's top-left corner (default 100, 100);
// width, height: its client area (default 400 x 300).
//
// Log lines (appended, the file opened and closed per line so a test can poll):
//   READY hwnd=0x... x=.. y=.. w=.. h=.. cx=.. cy=.. tick=.. qpc=..
//       (cx, cy: the client area's origin on the screen; w, h: client size)
//   WM_KEYDOWN vk=65 scan=30 ext=0 repeat=1 tick=.. qpc=..
//   WM_LBUTTONDOWN x=10 y=20 sx=112 sy=143 keys=0x1 tick=.. qpc=..
//   WM_CHAR ch=65 tick=.. qpc=..   (the character code TranslateMessage made)
//   WM_MOUSEWHEEL delta=-120 sx=112 sy=143 keys=0x0 tick=.. qpc=..   (also WM_MOUSEHWHEEL)
//   WM_XBUTTONDOWN button=1 x=10 y=20 sx=112 sy=143 keys=0x20 tick=.. qpc=..   (and UP)
// tick is GetTickCount, qpc a QueryPerformanceCounter time in milliseconds with
// three decimals.
//
// Key sweep: when the file <log>.sweep appears, the next 50 ms timer tick writes
// <log>.keys (through a temporary file and a rename, so it appears whole) with
// one line "vk=N async=A sync=S" for every virtual key 1..254 whose
// GetAsyncKeyState or GetKeyState high bit is set, then the line "end", and
// deletes the request.
#include <windows.h>

namespace {

const char kTitle[] = "Kavorin Witness";
const char kClass[] = "KavorinWitnessClass";
const UINT_PTR kSweepTimer = 1;

char gLog[MAX_PATH];
char gSweep[MAX_PATH + 8];
char gKeys[MAX_PATH + 8];
char gKeysTmp[MAX_PATH + 16];
LARGE_INTEGER gFreq;

// Appends one line; opening and closing per line keeps every line on disk the
// moment it is written, whatever happens to the process afterwards.
void AppendTo(const char* path, const char* text, DWORD mode) {
  HANDLE f =
      CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, mode, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, text, lstrlenA(text), &written, nullptr);
  CloseHandle(f);
}

// " tick=<GetTickCount> qpc=<ms>.<µs>" for the end of a log line.
void TimeSuffix(char* out) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  unsigned long long us = 0;
  if (gFreq.QuadPart > 0)
    us = (unsigned long long)(now.QuadPart / gFreq.QuadPart) * 1000000ull +
         (unsigned long long)(now.QuadPart % gFreq.QuadPart) * 1000000ull /
             (unsigned long long)gFreq.QuadPart;
  wsprintfA(out, " tick=%lu qpc=%lu.%03lu", (unsigned long)GetTickCount(),
            (unsigned long)(us / 1000ull), (unsigned long)(us % 1000ull));
}

void LogLine(const char* body) {
  char line[256];
  char suffix[64];
  TimeSuffix(suffix);
  wsprintfA(line, "%s%s\r\n", body, suffix);
  AppendTo(gLog, line, OPEN_ALWAYS);
}

const char* KeyName(UINT msg) {
  switch (msg) {
    case WM_KEYDOWN: return "WM_KEYDOWN";
    case WM_KEYUP: return "WM_KEYUP";
    case WM_SYSKEYDOWN: return "WM_SYSKEYDOWN";
    case WM_SYSKEYUP: return "WM_SYSKEYUP";
  }
  return nullptr;
}

const char* MouseName(UINT msg) {
  switch (msg) {
    case WM_MOUSEMOVE: return "WM_MOUSEMOVE";
    case WM_LBUTTONDOWN: return "WM_LBUTTONDOWN";
    case WM_LBUTTONUP: return "WM_LBUTTONUP";
    case WM_RBUTTONDOWN: return "WM_RBUTTONDOWN";
    case WM_RBUTTONUP: return "WM_RBUTTONUP";
    case WM_MBUTTONDOWN: return "WM_MBUTTONDOWN";
    case WM_MBUTTONUP: return "WM_MBUTTONUP";
    case WM_XBUTTONDOWN: return "WM_XBUTTONDOWN";
    case WM_XBUTTONUP: return "WM_XBUTTONUP";
  }
  return nullptr;
}

const char* WheelName(UINT msg) {
  switch (msg) {
    case WM_MOUSEWHEEL: return "WM_MOUSEWHEEL";
    case WM_MOUSEHWHEEL: return "WM_MOUSEHWHEEL";
  }
  return nullptr;
}

void Sweep() {
  if (GetFileAttributesA(gSweep) == INVALID_FILE_ATTRIBUTES) return;
  DeleteFileA(gKeysTmp);
  char line[64];
  for (int vk = 1; vk <= 254; ++vk) {
    int async = (GetAsyncKeyState(vk) & 0x8000) ? 1 : 0;
    int sync = (GetKeyState(vk) & 0x8000) ? 1 : 0;
    if (async || sync) {
      wsprintfA(line, "vk=%d async=%d sync=%d\r\n", vk, async, sync);
      AppendTo(gKeysTmp, line, OPEN_ALWAYS);
    }
  }
  AppendTo(gKeysTmp, "end\r\n", OPEN_ALWAYS);
  MoveFileExA(gKeysTmp, gKeys, MOVEFILE_REPLACE_EXISTING);
  DeleteFileA(gSweep);
}

LRESULT CALLBACK WitnessProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (const char* name = KeyName(msg)) {
    char body[160];
    wsprintfA(body, "%s vk=%u scan=%u ext=%u repeat=%u", name, (unsigned)wParam,
              (unsigned)((lParam >> 16) & 0xFF), (unsigned)((lParam >> 24) & 1),
              (unsigned)(lParam & 0xFFFF));
    LogLine(body);
    return 0;  // also for the WM_SYS* keys: no Alt menu, no Alt+F4 in the middle of a test
  }
  if (const char* name = MouseName(msg)) {
    POINT pt = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    POINT screen = pt;
    ClientToScreen(hwnd, &screen);
    char body[160], button[16] = "";
    if (msg == WM_XBUTTONDOWN || msg == WM_XBUTTONUP)
      wsprintfA(button, " button=%u", (unsigned)HIWORD(wParam));
    wsprintfA(body, "%s%s x=%d y=%d sx=%d sy=%d keys=0x%x", name, button, (int)pt.x, (int)pt.y,
              (int)screen.x, (int)screen.y, (unsigned)LOWORD(wParam));
    LogLine(body);
    return msg == WM_XBUTTONDOWN || msg == WM_XBUTTONUP ? TRUE : 0;
  }
  if (const char* name = WheelName(msg)) {  // the position comes in screen coordinates
    char body[160];
    wsprintfA(body, "%s delta=%d sx=%d sy=%d keys=0x%x", name, (int)(short)HIWORD(wParam),
              (int)(short)LOWORD(lParam), (int)(short)HIWORD(lParam), (unsigned)LOWORD(wParam));
    LogLine(body);
    return 0;
  }
  switch (msg) {
    case WM_CHAR: {  // what the keys typed, Caps Lock and Shift applied
      char body[64];
      wsprintfA(body, "WM_CHAR ch=%u", (unsigned)wParam);
      LogLine(body);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kSweepTimer) Sweep();
      return 0;
    case WM_DESTROY:
      LogLine("DESTROY");
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Splits the command line in place into at most `max` words; double quotes group
// blanks into a word and are dropped. Returns the number of words, the program's
// own name included.
int SplitArgs(char* s, char** argv, int max) {
  int n = 0;
  while (*s && n < max) {
    while (*s == ' ' || *s == '\t') ++s;
    if (!*s) break;
    argv[n++] = s;
    char* out = s;
    bool quoted = false;
    while (*s && (quoted || (*s != ' ' && *s != '\t'))) {
      if (*s == '"')
        quoted = !quoted;
      else
        *out++ = *s;
      ++s;
    }
    if (*s) ++s;
    *out = 0;
  }
  return n;
}

int ToInt(const char* s, int fallback) {
  if (!s || !*s) return fallback;
  int sign = 1, v = 0;
  if (*s == '-') sign = -1, ++s;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return fallback;
    v = v * 10 + (*s - '0');
  }
  return sign * v;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  static char cmd[2048];
  lstrcpynA(cmd, GetCommandLineA(), sizeof cmd);
  char* argv[8] = {};
  int argc = SplitArgs(cmd, argv, 8);
  if (argc < 2) {
    MessageBoxA(nullptr, "usage: witness.exe <log> [x y width height]", kTitle, MB_OK);
    return 2;
  }
  lstrcpynA(gLog, argv[1], MAX_PATH);
  wsprintfA(gSweep, "%s.sweep", gLog);
  wsprintfA(gKeys, "%s.keys", gLog);
  wsprintfA(gKeysTmp, "%s.keys.tmp", gLog);
  int x = ToInt(argc > 2 ? argv[2] : nullptr, 100);
  int y = ToInt(argc > 3 ? argv[3] : nullptr, 100);
  int w = ToInt(argc > 4 ? argv[4] : nullptr, 400);
  int h = ToInt(argc > 5 ? argv[5] : nullptr, 300);
  QueryPerformanceFrequency(&gFreq);

  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WitnessProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  wc.lpszClassName = kClass;
  if (!RegisterClassExA(&wc)) return 3;

  const DWORD style = WS_OVERLAPPEDWINDOW;
  RECT r = {0, 0, w, h};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  HWND hwnd = CreateWindowExA(0, kClass, kTitle, style, x, y, r.right - r.left, r.bottom - r.top,
                              nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 4;
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  SetForegroundWindow(hwnd);
  SetTimer(hwnd, kSweepTimer, 50, nullptr);

  RECT client;
  GetClientRect(hwnd, &client);
  POINT origin = {0, 0};
  ClientToScreen(hwnd, &origin);
  char body[160];
  wsprintfA(body, "READY hwnd=0x%lx x=%d y=%d w=%d h=%d cx=%d cy=%d",
            (unsigned long)(ULONG_PTR)hwnd, x, y, (int)client.right, (int)client.bottom,
            (int)origin.x, (int)origin.y);
  LogLine(body);

  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return (int)m.wParam;
}
