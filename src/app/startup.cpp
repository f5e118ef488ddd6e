#include "app/startup.h"

#include "app/window.h"
#include "core/resource.h"
#include "core/state.h"
#include "files/recfile.h"
#include "format/player.h"

using namespace win;

static const char kClassName[] = "KavorinClass";

char* ArgumentOf(char* line) {
  if (*line == '"') {
    ++line;
    while (*line && *line != '"') ++line;
    if (*line) ++line;
  } else {
    while (*line && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

void RemoveQuotes(char* text) {
  char* to = text;
  for (; *text; ++text)
    if (*text != '"') *to++ = *text;
  *to = 0;
}

RECT MainWindowRect() {
  int frame = 2 * GetSystemMetrics(SM_CXDLGFRAME);
  int width = frame + 131;
  int height = frame + GetSystemMetrics(SM_CYSMCAPTION) + 26;
  int x = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
  int y = GetSystemMetrics(SM_CYSCREEN) / 2 - height;
  return RECT{x, y, x + width, y + height};
}

bool CreateMainWindow(HINSTANCE module) {
  WNDCLASSEXA cls = {};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = MainWindowProc;
  cls.hInstance = module;
  cls.hIcon = LoadIconA(module, MAKEINTRESOURCEA(IDI_KAVORIN));
  cls.hCursor = LoadCursorA(nullptr, IDC_ARROW());
  cls.hbrBackground = (HBRUSH)(uintptr_t)(COLOR_BTNFACE + 1);
  cls.lpszClassName = kClassName;
  if (!RegisterClassExA(&cls)) return false;
  RECT r = MainWindowRect();
  gApp.mainWindow =
      CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, kTitleCreated,
                      WS_POPUPWINDOW | WS_CAPTION | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, r.left,
                      r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr, module, nullptr);
  return gApp.mainWindow != nullptr;
}

// Each with its command's id. A combination another program holds stays its
// own (the Help box says so); Windows frees ours with our window.
void RegisterHotkeys() {
  // Kept a loop (not unrolled): 40 bytes smaller.
  for (int i = 0; i < 2; ++i) {
    asm("" : "+r"(i));
    if (!RegisterHotKey(gApp.mainWindow, (int)kCmdRecord + i,
                        MOD_CONTROL | MOD_ALT | MOD_SHIFT | MOD_NOREPEAT, (UINT)(VK_F6 - i)))
      gApp.hotkeysMissing |= (BYTE)(1 << i);
  }
}

int StartUp(HINSTANCE module, char* argument) {
  InitialSettings();
  if (!CreateMainWindow(module)) {
    MessageBoxA(nullptr, "Kavorin Run Failure", nullptr,
                MB_ICONWARNING | MB_TASKMODAL | MB_SETFOREGROUND);
    return 0;
  }

  GetModuleFileNameA(nullptr, gApp.pathBuffer, 255);
  DWORD ownSize = FileSizeOf(gApp.pathBuffer);
  bool compiled = IsCompiledPlayer(ownSize, StubImageSize());
  ShowWindow(gApp.mainWindow, compiled ? SW_HIDE : SW_SHOW);
  if (!compiled) RegisterHotkeys();  // a compiled player takes none
  UpdateWindow(gApp.mainWindow);
  // Forget a Pause pressed before we started, so it cannot end a playback.
  GetAsyncKeyState(VK_PAUSE);

  if (*argument) {
    RemoveQuotes(argument);
    LoadRecording(argument, 0);
    PostCommand(kCmdPlay, 0);
  } else if (compiled) {
    if (!LoadRecording(gApp.pathBuffer, (int32_t)StubImageSize())) return 0;
    PostCommand(kCmdPlay, 0);
  }

  MSG msg = {};
  for (;;) {
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return (int)msg.wParam;
}
