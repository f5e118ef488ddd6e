// The slice of Win32 that Kavorin calls, with Win32's own names, argument
// orders and values. The logic includes only this; the Windows build links
// forwarders to the real API, the host build links the simulated desktop.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif
#define CALLBACK WINAPI

namespace win {

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD COLORREF;
typedef WORD ATOM;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef void* HGDIOBJ;
typedef UINT MMRESULT;

#define KV_HANDLE(name) \
  struct name##__;      \
  typedef name##__* name
KV_HANDLE(HWND);
KV_HANDLE(HINSTANCE);
KV_HANDLE(HMENU);
KV_HANDLE(HICON);
KV_HANDLE(HDC);
KV_HANDLE(HBITMAP);
KV_HANDLE(HBRUSH);
KV_HANDLE(HFONT);
KV_HANDLE(HHOOK);
#undef KV_HANDLE
typedef HICON HCURSOR;
typedef HINSTANCE HMODULE;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
typedef BOOL(CALLBACK* WNDENUMPROC)(HWND, LPARAM);
typedef LRESULT(CALLBACK* HOOKPROC)(int, WPARAM, LPARAM);
// What GetProcAddress finds; cast to the function's own type before the call.
typedef void(WINAPI* FARPROC)();

#define K(type, name, value) constexpr type name = (type)(value);
#include "constants.def"
#undef K

inline const char* MAKEINTRESOURCEA(unsigned id) { return (const char*)(uintptr_t)(WORD)id; }
inline const char* IDC_ARROW() { return MAKEINTRESOURCEA(32512); }
inline HANDLE INVALID_HANDLE_VALUE() { return (HANDLE)(intptr_t)-1; }
// The pseudo handle GetCurrentProcess returns, without importing it.
inline HANDLE GetCurrentProcess() { return (HANDLE)(intptr_t)-1; }
constexpr WORD LOWORD(uintptr_t v) { return (WORD)(v & 0xFFFF); }
constexpr WORD HIWORD(uintptr_t v) { return (WORD)((v >> 16) & 0xFFFF); }
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) { return (COLORREF)(r | (g << 8) | (b << 16)); }

struct POINT {
  LONG x, y;
};
struct RECT {
  LONG left, top, right, bottom;
};
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
  HICON hIconSm;
};
struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};
// The file dialog description without its trailing reserved fields (76 bytes
// in 32-bit Windows), which every version of the dialog accepts.
struct OPENFILENAMEA {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpstrFilter;
  LPSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPSTR lpstrFile;
  DWORD nMaxFile;
  LPSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCSTR lpstrDefExt;
  LPARAM lCustData;
  void* lpfnHook;
  LPCSTR lpTemplateName;
};
// What the low-level hooks are given (lParam) for each key and mouse event.
struct KBDLLHOOKSTRUCT {
  DWORD vkCode;
  DWORD scanCode;
  DWORD flags;  // LLKHF_*
  DWORD time;
  UINT_PTR dwExtraInfo;
};
struct MSLLHOOKSTRUCT {
  POINT pt;         // in physical pixels: not what GetCursorPos tells us on a scaled display
  DWORD mouseData;  // wheel: the delta, X buttons: which, both in the high word
  DWORD flags;
  DWORD time;
  UINT_PTR dwExtraInfo;
};
// One synthetic key for SendInput; the mouse's form sizes the union.
struct MOUSEINPUT {
  LONG dx, dy;
  DWORD mouseData, dwFlags, time;
  UINT_PTR dwExtraInfo;
};
struct KEYBDINPUT {
  WORD wVk, wScan;  // KEYEVENTF_UNICODE: wScan is the character
  DWORD dwFlags, time;
  UINT_PTR dwExtraInfo;
};
struct INPUT {
  DWORD type;
  union {
    MOUSEINPUT mi;
    KEYBDINPUT ki;
  };
};
// SetProcessInformation's ProcessPowerThrottling information.
struct PROCESS_POWER_THROTTLING_STATE {
  ULONG Version;
  ULONG ControlMask;
  ULONG StateMask;
};
struct MSGBOXPARAMSA {
  UINT cbSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpszText;
  LPCSTR lpszCaption;
  DWORD dwStyle;
  LPCSTR lpszIcon;
  DWORD_PTR dwContextHelpId;
  void* lpfnMsgBoxCallback;
  DWORD dwLanguageId;
};

// kernel32
LPSTR WINAPI GetCommandLineA();
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
[[noreturn]] void WINAPI ExitProcess(UINT code);
HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, void* security, DWORD creation,
                          DWORD flags, HANDLE templ);
DWORD WINAPI GetFileSize(HANDLE file, DWORD* high);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* high, DWORD method);
BOOL WINAPI ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, void* overlapped);
BOOL WINAPI WriteFile(HANDLE file, const void* data, DWORD count, DWORD* written, void* overlapped);
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI CloseHandle(HANDLE handle);
BOOL WINAPI DeleteFileA(LPCSTR path);
DWORD WINAPI GetFileAttributesA(LPCSTR path);
BOOL WINAPI CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists);
BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
LPVOID WINAPI VirtualAlloc(LPVOID address, size_t bytes, DWORD type, DWORD protect);
BOOL WINAPI VirtualFree(LPVOID address, size_t bytes, DWORD type);
void WINAPI Sleep(DWORD ms);
DWORD WINAPI GetVersion();
DWORD WINAPI GetCurrentThreadId();
int WINAPI lstrlenA(LPCSTR text);

// user32
ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* cls);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR cls, LPCSTR title, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                            LPVOID param);
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam,
                               LPARAM lParam);
BOOL WINAPI ShowWindow(HWND window, int show);
BOOL WINAPI UpdateWindow(HWND window);
BOOL WINAPI DestroyWindow(HWND window);
BOOL WINAPI IsWindow(HWND window);
BOOL WINAPI GetMessageA(MSG* msg, HWND window, UINT first, UINT last);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageA(const MSG* msg);
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void WINAPI PostQuitMessage(int code);
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int count);
BOOL WINAPI GetWindowRect(HWND window, RECT* rect);
BOOL WINAPI GetClientRect(HWND window, RECT* rect);
BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase);
// The pointer-sized forms: 32-bit Windows maps them to the LONG forms.
LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index);
LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
BOOL WINAPI EnumThreadWindows(DWORD thread, WNDENUMPROC proc, LPARAM lParam);
HWND WINAPI SetFocus(HWND window);
HWND WINAPI GetForegroundWindow();
HWND WINAPI WindowFromPoint(POINT point);
HHOOK WINAPI SetWindowsHookExA(int id, HOOKPROC proc, HINSTANCE module, DWORD thread);
BOOL WINAPI UnhookWindowsHookEx(HHOOK hook);
LRESULT WINAPI CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT ms, TIMERPROC proc);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
// A hotkey lives as long as its window: no UnregisterHotKey to import.
BOOL WINAPI RegisterHotKey(HWND window, int id, UINT modifiers, UINT vk);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int WINAPI MessageBoxIndirectA(const MSGBOXPARAMSA* params);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR WINAPI CreateCursor(HINSTANCE instance, int hotX, int hotY, int width, int height,
                            const void* andPlane, const void* xorPlane);
HCURSOR WINAPI SetCursor(HCURSOR cursor);
BOOL WINAPI DestroyCursor(HCURSOR cursor);
HANDLE WINAPI LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags);
HDC WINAPI BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint);
int WINAPI DrawTextA(HDC dc, LPCSTR text, int count, RECT* rect, UINT format);
int WINAPI GetSystemMetrics(int index);
short WINAPI GetKeyState(int vk);
short WINAPI GetAsyncKeyState(int vk);
BOOL WINAPI GetKeyboardState(BYTE* state);
BOOL WINAPI SetKeyboardState(BYTE* state);
BOOL WINAPI GetCursorPos(POINT* point);
UINT WINAPI MapVirtualKeyA(UINT code, UINT mapType);
UINT WINAPI GetDoubleClickTime();
void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, DWORD_PTR extra);
void WINAPI mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD data, DWORD_PTR extra);
UINT WINAPI SendInput(UINT count, INPUT* inputs, int size);
HMENU WINAPI CreatePopupMenu();
BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text);
BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                           const RECT* rect);
BOOL WINAPI DestroyMenu(HMENU menu);
extern "C" int wsprintfA(LPSTR buffer, LPCSTR format, ...);

// gdi32
HDC WINAPI CreateCompatibleDC(HDC dc);
BOOL WINAPI DeleteDC(HDC dc);
HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
BOOL WINAPI DeleteObject(HGDIOBJ object);
int WINAPI GetObjectA(HANDLE object, int size, LPVOID out);
HBITMAP WINAPI CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel,
                            const void* bits);
COLORREF WINAPI GetPixel(HDC dc, int x, int y);
COLORREF WINAPI SetBkColor(HDC dc, COLORREF colour);
COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour);
int WINAPI SetBkMode(HDC dc, int mode);
BOOL WINAPI BitBlt(HDC to, int x, int y, int width, int height, HDC from, int fromX, int fromY,
                   DWORD rop);
HGDIOBJ WINAPI GetStockObject(int index);

// comdlg32
BOOL WINAPI GetOpenFileNameA(OPENFILENAMEA* ofn);
BOOL WINAPI GetSaveFileNameA(OPENFILENAMEA* ofn);

// winmm: the system timer's resolution, and the millisecond clock it drives
MMRESULT WINAPI timeBeginPeriod(UINT period);
MMRESULT WINAPI timeEndPeriod(UINT period);
DWORD WINAPI timeGetTime();

// shell32
HINSTANCE WINAPI ShellExecuteA(HWND window, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir,
                               int show);

// Newer than Windows XP: never imported, found with GetProcAddress where the
// system has them (kernel32, Windows 8 and later).
typedef BOOL(WINAPI* SetProcessInformationProc)(HANDLE process, int infoClass, LPVOID info,
                                                DWORD size);
// user32, Windows 10 1607 and later: the thread's DPI awareness, returning
// the one it had (nullptr: refused).
typedef HANDLE(WINAPI* SetThreadDpiAwarenessContextProc)(HANDLE context);
inline HANDLE DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE() { return (HANDLE)(intptr_t)-3; }

}  // namespace win
