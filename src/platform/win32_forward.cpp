// Windows build only: each declaration of win32.h forwarded to the real API.
// Link-time optimisation folds these into the callers, but every function
// forwarded here is imported whether or not it is called: forward only what
// the program uses.
#include "platform/win32.h"
#undef WINAPI
#undef CALLBACK
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <shellapi.h>

// Every constant the program uses must be the SDK's own value.
#define K(type, name, value) static_assert((type)(value) == (type)(name), #name);
#include "platform/constants.def"
#undef K

// Every structure is laid out as the SDK lays it out, on each architecture.
static_assert(sizeof(win::MSG) == sizeof(::MSG), "MSG");
static_assert(sizeof(win::WNDCLASSEXA) == sizeof(::WNDCLASSEXA), "WNDCLASSEXA");
static_assert(sizeof(win::PAINTSTRUCT) == sizeof(::PAINTSTRUCT), "PAINTSTRUCT");
static_assert(sizeof(win::BITMAP) == sizeof(::BITMAP), "BITMAP");
static_assert(sizeof(win::RECT) == sizeof(::RECT), "RECT");
static_assert(sizeof(win::POINT) == sizeof(::POINT), "POINT");
static_assert(sizeof(win::PROCESS_POWER_THROTTLING_STATE) ==
                  sizeof(::PROCESS_POWER_THROTTLING_STATE),
              "PROCESS_POWER_THROTTLING_STATE");
static_assert(sizeof(win::OPENFILENAMEA) ==
                  offsetof(::OPENFILENAMEA, lpTemplateName) + sizeof(::LPCSTR),
              "OPENFILENAMEA without its reserved tail");
static_assert(sizeof(win::MSGBOXPARAMSA) == sizeof(::MSGBOXPARAMSA), "MSGBOXPARAMSA");
static_assert(sizeof(win::KBDLLHOOKSTRUCT) == sizeof(::KBDLLHOOKSTRUCT) &&
                  offsetof(win::KBDLLHOOKSTRUCT, flags) == offsetof(::KBDLLHOOKSTRUCT, flags),
              "KBDLLHOOKSTRUCT");
static_assert(sizeof(win::MSLLHOOKSTRUCT) == sizeof(::MSLLHOOKSTRUCT) &&
                  offsetof(win::MSLLHOOKSTRUCT, mouseData) == offsetof(::MSLLHOOKSTRUCT, mouseData),
              "MSLLHOOKSTRUCT");
static_assert(sizeof(win::INPUT) == sizeof(::INPUT) &&
                  offsetof(win::INPUT, ki.wScan) == offsetof(::INPUT, ki.wScan),
              "INPUT");
#if defined(__i386__)
// The sizes 32-bit Windows documents and our 32-bit program has always passed.
static_assert(sizeof(win::WNDCLASSEXA) == 48 && sizeof(win::MSGBOXPARAMSA) == 40 &&
                  sizeof(win::OPENFILENAMEA) == 76,
              "32-bit structure sizes");
#endif

#define P(type, v) ((::type)(v))

// 32-bit headers make the pointer-sized forms macros for the LONG forms, which
// would rename our own functions too.
#if defined(__i386__)
#undef GetWindowLongPtrA
#undef SetWindowLongPtrA
static const auto kGetWindowLongPtr = ::GetWindowLongA;
static const auto kSetWindowLongPtr = ::SetWindowLongA;
#else
static const auto kGetWindowLongPtr = ::GetWindowLongPtrA;
static const auto kSetWindowLongPtr = ::SetWindowLongPtrA;
#endif

namespace win {

LPSTR WINAPI GetCommandLineA() { return ::GetCommandLineA(); }
HMODULE WINAPI GetModuleHandleA(LPCSTR name) { return (HMODULE)::GetModuleHandleA(name); }
FARPROC WINAPI GetProcAddress(HMODULE m, LPCSTR name) {
  return (FARPROC)(void*)::GetProcAddress(P(HMODULE, m), name);
}
DWORD WINAPI GetModuleFileNameA(HMODULE m, LPSTR b, DWORD n) {
  return ::GetModuleFileNameA(P(HMODULE, m), b, n);
}
void WINAPI ExitProcess(UINT code) { ::ExitProcess(code); }
HANDLE WINAPI CreateFileA(LPCSTR p, DWORD a, DWORD s, void* sec, DWORD c, DWORD f, HANDLE t) {
  return ::CreateFileA(p, a, s, (LPSECURITY_ATTRIBUTES)sec, c, f, t);
}
DWORD WINAPI GetFileSize(HANDLE f, DWORD* high) { return ::GetFileSize(f, (LPDWORD)high); }
DWORD WINAPI SetFilePointer(HANDLE f, LONG d, LONG* high, DWORD m) {
  return ::SetFilePointer(f, d, (PLONG)high, m);
}
BOOL WINAPI ReadFile(HANDLE f, void* b, DWORD n, DWORD* r, void* o) {
  return ::ReadFile(f, b, n, (LPDWORD)r, (LPOVERLAPPED)o);
}
BOOL WINAPI WriteFile(HANDLE f, const void* b, DWORD n, DWORD* w, void* o) {
  return ::WriteFile(f, b, n, (LPDWORD)w, (LPOVERLAPPED)o);
}
BOOL WINAPI FlushFileBuffers(HANDLE f) { return ::FlushFileBuffers(f); }
BOOL WINAPI CloseHandle(HANDLE h) { return ::CloseHandle(h); }
BOOL WINAPI DeleteFileA(LPCSTR p) { return ::DeleteFileA(p); }
DWORD WINAPI GetFileAttributesA(LPCSTR p) { return ::GetFileAttributesA(p); }
BOOL WINAPI CopyFileA(LPCSTR a, LPCSTR b, BOOL f) { return ::CopyFileA(a, b, f); }
BOOL WINAPI MoveFileExA(LPCSTR a, LPCSTR b, DWORD f) { return ::MoveFileExA(a, b, f); }
LPVOID WINAPI VirtualAlloc(LPVOID a, size_t n, DWORD t, DWORD p) {
  return ::VirtualAlloc(a, n, t, p);
}
BOOL WINAPI VirtualFree(LPVOID a, size_t n, DWORD t) { return ::VirtualFree(a, n, t); }
void WINAPI Sleep(DWORD ms) { ::Sleep(ms); }
DWORD WINAPI GetVersion() { return ::GetVersion(); }
DWORD WINAPI GetCurrentThreadId() { return ::GetCurrentThreadId(); }
int WINAPI lstrlenA(LPCSTR t) { return ::lstrlenA(t); }

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* c) {
  return ::RegisterClassExA((const ::WNDCLASSEXA*)c);
}
HWND WINAPI CreateWindowExA(DWORD ex, LPCSTR c, LPCSTR t, DWORD s, int x, int y, int w, int h,
                            HWND p, HMENU m, HINSTANCE i, LPVOID l) {
  return (HWND)::CreateWindowExA(ex, c, t, s, x, y, w, h, P(HWND, p), P(HMENU, m), P(HINSTANCE, i),
                                 l);
}
LRESULT WINAPI DefWindowProcA(HWND w, UINT m, WPARAM a, LPARAM b) {
  return ::DefWindowProcA(P(HWND, w), m, a, b);
}
LRESULT WINAPI CallWindowProcA(WNDPROC p, HWND w, UINT m, WPARAM a, LPARAM b) {
  return ::CallWindowProcA((::WNDPROC)p, P(HWND, w), m, a, b);
}
BOOL WINAPI ShowWindow(HWND w, int s) { return ::ShowWindow(P(HWND, w), s); }
BOOL WINAPI UpdateWindow(HWND w) { return ::UpdateWindow(P(HWND, w)); }
BOOL WINAPI DestroyWindow(HWND w) { return ::DestroyWindow(P(HWND, w)); }
BOOL WINAPI IsWindow(HWND w) { return ::IsWindow(P(HWND, w)); }
BOOL WINAPI GetMessageA(MSG* m, HWND w, UINT a, UINT b) {
  return ::GetMessageA((::MSG*)m, P(HWND, w), a, b);
}
BOOL WINAPI TranslateMessage(const MSG* m) { return ::TranslateMessage((const ::MSG*)m); }
LRESULT WINAPI DispatchMessageA(const MSG* m) { return ::DispatchMessageA((const ::MSG*)m); }
BOOL WINAPI PostMessageA(HWND w, UINT m, WPARAM a, LPARAM b) {
  return ::PostMessageA(P(HWND, w), m, a, b);
}
LRESULT WINAPI SendMessageA(HWND w, UINT m, WPARAM a, LPARAM b) {
  return ::SendMessageA(P(HWND, w), m, a, b);
}
void WINAPI PostQuitMessage(int c) { ::PostQuitMessage(c); }
BOOL WINAPI SetWindowTextA(HWND w, LPCSTR t) { return ::SetWindowTextA(P(HWND, w), t); }
int WINAPI GetWindowTextA(HWND w, LPSTR b, int n) { return ::GetWindowTextA(P(HWND, w), b, n); }
BOOL WINAPI GetWindowRect(HWND w, RECT* r) { return ::GetWindowRect(P(HWND, w), (::RECT*)r); }
BOOL WINAPI GetClientRect(HWND w, RECT* r) { return ::GetClientRect(P(HWND, w), (::RECT*)r); }
BOOL WINAPI InvalidateRect(HWND w, const RECT* r, BOOL e) {
  return ::InvalidateRect(P(HWND, w), (const ::RECT*)r, e);
}
LONG_PTR WINAPI GetWindowLongPtrA(HWND w, int i) { return kGetWindowLongPtr(P(HWND, w), i); }
LONG_PTR WINAPI SetWindowLongPtrA(HWND w, int i, LONG_PTR v) {
  return kSetWindowLongPtr(P(HWND, w), i, v);
}
BOOL WINAPI EnumThreadWindows(DWORD t, WNDENUMPROC f, LPARAM l) {
  return ::EnumThreadWindows(t, (::WNDENUMPROC)f, l);
}
HWND WINAPI SetFocus(HWND w) { return (HWND)::SetFocus(P(HWND, w)); }
HWND WINAPI GetForegroundWindow() { return (HWND)::GetForegroundWindow(); }
HWND WINAPI WindowFromPoint(POINT p) { return (HWND)::WindowFromPoint(::POINT{p.x, p.y}); }
HHOOK WINAPI SetWindowsHookExA(int id, HOOKPROC f, HINSTANCE m, DWORD t) {
#if defined(KV_NO_INPUT_HOOKS)  // the benchmarks' program that records by sampling
  return (void)id, (void)f, (void)m, (void)t, nullptr;
#else
  return (HHOOK)::SetWindowsHookExA(id, (::HOOKPROC)f, P(HINSTANCE, m), t);
#endif
}
BOOL WINAPI UnhookWindowsHookEx(HHOOK h) { return ::UnhookWindowsHookEx(P(HHOOK, h)); }
LRESULT WINAPI CallNextHookEx(HHOOK h, int c, WPARAM a, LPARAM b) {
  return ::CallNextHookEx(P(HHOOK, h), c, a, b);
}
UINT_PTR WINAPI SetTimer(HWND w, UINT_PTR id, UINT ms, TIMERPROC p) {
  return ::SetTimer(P(HWND, w), id, ms, (::TIMERPROC)p);
}
BOOL WINAPI KillTimer(HWND w, UINT_PTR id) { return ::KillTimer(P(HWND, w), id); }
BOOL WINAPI RegisterHotKey(HWND w, int id, UINT m, UINT vk) {
  return ::RegisterHotKey(P(HWND, w), id, m, vk);
}
int WINAPI MessageBoxA(HWND o, LPCSTR t, LPCSTR c, UINT f) {
  return ::MessageBoxA(P(HWND, o), t, c, f);
}
int WINAPI MessageBoxIndirectA(const MSGBOXPARAMSA* p) {
  return ::MessageBoxIndirectA((const ::MSGBOXPARAMSA*)p);
}
HCURSOR WINAPI LoadCursorA(HINSTANCE i, LPCSTR n) {
  return (HCURSOR)::LoadCursorA(P(HINSTANCE, i), n);
}
HICON WINAPI LoadIconA(HINSTANCE i, LPCSTR n) { return (HICON)::LoadIconA(P(HINSTANCE, i), n); }
HCURSOR WINAPI CreateCursor(HINSTANCE i, int x, int y, int w, int h, const void* a, const void* b) {
  return (HCURSOR)::CreateCursor(P(HINSTANCE, i), x, y, w, h, a, b);
}
HCURSOR WINAPI SetCursor(HCURSOR c) { return (HCURSOR)::SetCursor(P(HCURSOR, c)); }
BOOL WINAPI DestroyCursor(HCURSOR c) { return ::DestroyCursor(P(HCURSOR, c)); }
HANDLE WINAPI LoadImageA(HINSTANCE i, LPCSTR n, UINT t, int x, int y, UINT f) {
  return ::LoadImageA(P(HINSTANCE, i), n, t, x, y, f);
}
HDC WINAPI BeginPaint(HWND w, PAINTSTRUCT* p) {
  return (HDC)::BeginPaint(P(HWND, w), (::PAINTSTRUCT*)p);
}
BOOL WINAPI EndPaint(HWND w, const PAINTSTRUCT* p) {
  return ::EndPaint(P(HWND, w), (const ::PAINTSTRUCT*)p);
}
int WINAPI DrawTextA(HDC d, LPCSTR t, int n, RECT* r, UINT f) {
  return ::DrawTextA(P(HDC, d), t, n, (::RECT*)r, f);
}
int WINAPI GetSystemMetrics(int i) { return ::GetSystemMetrics(i); }
short WINAPI GetKeyState(int vk) { return ::GetKeyState(vk); }
short WINAPI GetAsyncKeyState(int vk) { return ::GetAsyncKeyState(vk); }
BOOL WINAPI GetKeyboardState(BYTE* s) { return ::GetKeyboardState(s); }
BOOL WINAPI SetKeyboardState(BYTE* s) { return ::SetKeyboardState(s); }
BOOL WINAPI GetCursorPos(POINT* p) { return ::GetCursorPos((::POINT*)p); }
UINT WINAPI MapVirtualKeyA(UINT c, UINT t) { return ::MapVirtualKeyA(c, t); }
UINT WINAPI GetDoubleClickTime() { return ::GetDoubleClickTime(); }
void WINAPI keybd_event(BYTE v, BYTE s, DWORD f, DWORD_PTR e) { ::keybd_event(v, s, f, e); }
void WINAPI mouse_event(DWORD f, DWORD x, DWORD y, DWORD d, DWORD_PTR e) {
  ::mouse_event(f, x, y, d, e);
}
UINT WINAPI SendInput(UINT n, INPUT* in, int size) { return ::SendInput(n, (::INPUT*)in, size); }
HMENU WINAPI CreatePopupMenu() { return (HMENU)::CreatePopupMenu(); }
BOOL WINAPI AppendMenuA(HMENU m, UINT f, UINT_PTR id, LPCSTR t) {
  return ::AppendMenuA(P(HMENU, m), f, id, t);
}
BOOL WINAPI TrackPopupMenu(HMENU m, UINT f, int x, int y, int r, HWND o, const RECT* rc) {
  return ::TrackPopupMenu(P(HMENU, m), f, x, y, r, P(HWND, o), (const ::RECT*)rc);
}
BOOL WINAPI DestroyMenu(HMENU m) { return ::DestroyMenu(P(HMENU, m)); }

HDC WINAPI CreateCompatibleDC(HDC d) { return (HDC)::CreateCompatibleDC(P(HDC, d)); }
BOOL WINAPI DeleteDC(HDC d) { return ::DeleteDC(P(HDC, d)); }
HGDIOBJ WINAPI SelectObject(HDC d, HGDIOBJ o) { return ::SelectObject(P(HDC, d), o); }
BOOL WINAPI DeleteObject(HGDIOBJ o) { return ::DeleteObject(o); }
int WINAPI GetObjectA(HANDLE o, int n, LPVOID out) { return ::GetObjectA(o, n, out); }
HBITMAP WINAPI CreateBitmap(int w, int h, UINT p, UINT b, const void* bits) {
  return (HBITMAP)::CreateBitmap(w, h, p, b, bits);
}
COLORREF WINAPI GetPixel(HDC d, int x, int y) { return ::GetPixel(P(HDC, d), x, y); }
COLORREF WINAPI SetBkColor(HDC d, COLORREF c) { return ::SetBkColor(P(HDC, d), c); }
COLORREF WINAPI SetTextColor(HDC d, COLORREF c) { return ::SetTextColor(P(HDC, d), c); }
int WINAPI SetBkMode(HDC d, int m) { return ::SetBkMode(P(HDC, d), m); }
BOOL WINAPI BitBlt(HDC a, int x, int y, int w, int h, HDC b, int sx, int sy, DWORD r) {
  return ::BitBlt(P(HDC, a), x, y, w, h, P(HDC, b), sx, sy, r);
}
HGDIOBJ WINAPI GetStockObject(int i) { return ::GetStockObject(i); }

BOOL WINAPI GetOpenFileNameA(OPENFILENAMEA* o) { return ::GetOpenFileNameA((::OPENFILENAMEA*)o); }
BOOL WINAPI GetSaveFileNameA(OPENFILENAMEA* o) { return ::GetSaveFileNameA((::OPENFILENAMEA*)o); }

MMRESULT WINAPI timeBeginPeriod(UINT p) { return ::timeBeginPeriod(p); }
MMRESULT WINAPI timeEndPeriod(UINT p) { return ::timeEndPeriod(p); }
DWORD WINAPI timeGetTime() { return ::timeGetTime(); }

HINSTANCE WINAPI ShellExecuteA(HWND w, LPCSTR v, LPCSTR f, LPCSTR p, LPCSTR d, int s) {
  return (HINSTANCE)::ShellExecuteA(P(HWND, w), v, f, p, d, s);
}

}  // namespace win
