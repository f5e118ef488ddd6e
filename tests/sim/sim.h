// The simulated desktop: the host build's implementation of every call in
// src/platform/win32.h, and the control API the unit tests drive it with.
//
// One thread, no real time, no real windows. What a call does is recorded
// where a test asserts on it; what the "user" or the "world" does is
// scripted by the test through this header. sim::Reset() gives a fresh
// desktop; call it at the start of every test.
//
// It models what the program and its tests use, with Windows' own rules;
// arguments the program never passes are noted "not modelled" where they
// matter. Add to it when a test needs more, not before.
//
// The model, in short (details at each section below):
// - Clock: timeGetTime reads a simulated millisecond clock that moves only
//   through Advance, Sleep, GetMessageA waiting for a timer, and being read
//   over and over (kReadsPerMs).
// - Messages: one thread queue. Retrieval order, as on Windows: posted
//   messages, then WM_QUIT (PostQuitMessage), then WM_PAINT for a shown
//   window with an invalid client area, then the earliest due WM_TIMER.
//   GetMessageA's window and range filters are not applied (the program
//   passes none). TranslateMessage makes no WM_CHAR: tests type with
//   sim::Type.
// - Modal windows take scripted answers from the "user": a message box
//   calls a scripted callback while it is open, which may run the modal loop
//   by calling sim::Advance / sim::Pump (timers and posted messages reach
//   every window exactly as in the real modal loops); the pop-up menu and
//   the file dialogs take the next scripted choice.
// - Synthetic input (keybd_event, mouse_event, SetKeyboardState) is logged
//   in order and, unless switched off, changes the simulated key states and
//   cursor. It does not produce window messages.
// - Files are the real Linux file system, with Win32 semantics on top.
// - Resources (reservations, file handles, GDI objects, cursors, menus) are
//   counted while live, so a test can find what the program leaks.
// - Handles (windows, menus, DCs, bitmaps, cursors, files) are small fake
//   values below 2^32, unique until Reset, so they survive a 32-bit field.
#pragma once

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace sim {

using win::BYTE;
using win::COLORREF;
using win::DWORD;
using win::HWND;
using win::UINT;
using win::UINT_PTR;

// ---- Reset ---------------------------------------------------------------

// A fresh desktop: clock 0; no windows, classes, timers, queued messages,
// menus, GDI objects or open files (leftover reservations are released and file
// handles closed); all keys up, locks off, async bits clear; cursor (100,100);
// metrics SM_CXSCREEN 1024, SM_CYSCREEN 768, SM_CXDLGFRAME 3,
// SM_CYSMCAPTION 17; double-click time 500; GetVersion 6.1 (build 7601);
// module path "C:\Kavorin\Kavorin.exe"; button face RGB(212,208,200);
// ShellExecuteA result 42; input feedback on; no drive mappings, disk or
// address-space limit; every log, failure hook and scripted answer cleared.
void Reset();

// ---- Clock, message delivery, scheduled world actions --------------------

DWORD Now();  // what timeGetTime returns

// Moves the clock 'ms' forward, delivering at every millisecond (including
// the starting one) everything the thread's loop would: posted messages,
// paints, due timers (WM_TIMER dispatched to the window procedure), and runs
// scheduled actions when their time comes. Re-entrant: a handler may open a
// message box whose script calls Advance again; the outer call ends at its
// own target time (or later, if the nested call moved the clock past it).
void Advance(DWORD ms);

// Dispatches everything deliverable now without moving the clock (posted
// messages, paints, timers already due); returns how many were dispatched.
// Leaves a pending WM_QUIT in place (see QuitPosted).
int Pump();

// Runs 'action' when the clock is 'ms' further on (during Advance, during
// Sleep, or while GetMessageA waits). Use it for what the user or another
// program does at a given time: key presses, cursor moves, foreground
// changes, PostMessageA. Actions due at the same time run in the order they
// were scheduled, and before any message due then is retrieved.
void After(DWORD ms, std::function<void()> action);

// Sleep(ms) moves the clock without delivering any message (scheduled
// actions still run, the world goes on).
DWORD SleptMs();  // the total of every Sleep, as asked
// Each Sleep ends this many ms after what it asked (default 0): a sleep may
// end up to a millisecond after its whole milliseconds.
void SetSleepLate(DWORD ms);
// A program that waits by reading the clock over and over sees it move: the
// kReadsPerMs-th timeGetTime within one millisecond moves it on by one, as a
// Sleep(1) would.
constexpr int kReadsPerMs = 1000;

// Loop guard. Retrieving more than 100000 messages without the clock moving,
// or more than 1000000 messages through GetMessageA since Reset, trips the
// guard: from then on nothing more is delivered, GetMessageA returns 0 (as
// for WM_QUIT), and LoopGuardTripped() stays true until Reset. Assert it is
// false in tests.
bool LoopGuardTripped();
// GetMessageA found nothing it could ever return (no message, no timer, no
// scheduled action) and returned 0 as for WM_QUIT instead of hanging.
bool Stalled();

// ---- Timers --------------------------------------------------------------
// Window timers keyed by (hwnd, id); a window is required and TIMERPROCs are
// not modelled (the program uses neither). SetTimer on an existing key
// replaces it and restarts its period from now; KillTimer returns FALSE when
// absent. A timer is due 'period' ms after it was set and again 'period' ms
// after each WM_TIMER it produced (no catch-up bursts; one WM_TIMER per due
// time, only when no posted message or paint is waiting). As on Windows, a
// period below USER_TIMER_MINIMUM (10 ms) is raised to it for delivery;
// TimerPeriod still reports what the program asked for.

// Granularity: with SetTimerGranularity(g) (microseconds; 0, the default,
// is exact) timers fire only on the ticks of the system timer, every g us
// from clock 0 (each tick at the whole ms it falls in): a timer's wait is
// rounded up to the next tick, as Windows does with its 15.625 ms tick.
// timeBeginPeriod / timeEndPeriod are counted, not applied: a test picks
// the granularity it plays at.
void SetTimerGranularity(DWORD microseconds);
int TimerPeriodsHeld();     // timeBeginPeriod calls not yet ended
int UnmatchedPeriodEnds();  // timeEndPeriod calls with no timeBeginPeriod to end

bool TimerExists(HWND window, UINT_PTR id);
UINT TimerPeriod(HWND window, UINT_PTR id);  // as asked; 0 when absent
DWORD TimerDue(HWND window, UINT_PTR id);    // timeGetTime value when it fires next; 0 when absent
struct TimerCall {
  bool set;  // SetTimer (true) or KillTimer (false)
  HWND window;
  UINT_PTR id;
  UINT ms;  // SetTimer only
};
const std::vector<TimerCall>& TimerCalls();

// ---- Message queue -------------------------------------------------------

std::vector<win::MSG> Queue();  // posted messages waiting, in order; a pending
                                // WM_QUIT shows as a last entry
bool QuitPosted();              // PostQuitMessage was called and GetMessageA has not taken it
int QuitCode();                 // the code of the last PostQuitMessage

// ---- Windows -------------------------------------------------------------
// Sizes: the window rectangle is what CreateWindowExA was given (top-level:
// screen coordinates; child: relative to the parent's client area). The
// client area of a top-level window is its width - 2*SM_CXDLGFRAME by its
// height - 2*SM_CXDLGFRAME - SM_CYSMCAPTION: the frames count when the style
// has WS_BORDER, WS_DLGFRAME or WS_THICKFRAME, the caption when it has all of
// WS_CAPTION (so the main window's 131+2f by 26+2f+caption gives 131 x 26).
// A child's client area is its full size. GetWindowRect gives screen
// coordinates: a top-level window's client origin is (x + frame, y + frame
// + caption); a child's is its parent's client origin plus its position.
//
// Classes are found by name without regard to case (atoms are not modelled).
// Built-in classes "EDIT" and "STATIC" have plain procedures: EDIT keeps
// its text, takes EM_SETSEL (end -1 = to the end) and WM_CHAR (inserts over
// the selection; ES_NUMBER refuses non-digits; other control characters are
// ignored); everything else, and all of STATIC, goes to DefWindowProcA.
// Message boxes are windows of class "#32770".
//
// Titles: SetWindowTextA / GetWindowTextA work on the stored text directly
// (no WM_SETTEXT / WM_GETTEXT). An edit's text is its title.
// Painting: a window's client area starts invalid; ShowWindow (hidden ->
// shown) and InvalidateRect invalidate it; an invalid window that is shown
// on screen (visible, and its parents too) gets WM_PAINT from the loop, and
// UpdateWindow sends it at once. BeginPaint validates it, and erases the
// window's surface with the class brush when an erase is pending (creation,
// showing, InvalidateRect with erase TRUE).
// DefWindowProcA: WM_CLOSE -> DestroyWindow; WM_PAINT -> BeginPaint+EndPaint;
// otherwise 0. Each call is counted per window and message.
// DestroyWindow: first destroys the top-level windows it owns (an open
// message box, say), then sends WM_DESTROY to the window, then destroys its
// children (each gets WM_DESTROY, depth first, oldest first), then kills the
// window's timers, drops its queued messages and clears focus/foreground
// if they were on it. The record stays readable (alive == false).
// WM_CREATE's lParam is 0 (the program does not read it); returning -1
// fails the creation (the window is destroyed, WM_DESTROY included, and
// CreateWindowExA returns nullptr).
// GetWindowLongPtrA / SetWindowLongPtrA: GWLP_WNDPROC and GWLP_USERDATA; GWLP_ID and
// GWL_STYLE read only.
// Threads: every window the program creates belongs to the program's one
// thread (GetCurrentThreadId, kOurThread); OtherProgramBox makes a window of
// another program's thread. EnumThreadWindows calls back with the live
// top-level (non-WS_CHILD) windows of the given thread, newest first (top of
// the z-order), until the callback returns FALSE.

struct WindowInfo {
  HWND handle = nullptr;
  std::string className;
  std::string title;
  std::vector<std::string> titles;  // the creation title, then every title set
  DWORD exStyle = 0, style = 0;
  int x = 0, y = 0, width = 0, height = 0;  // as created
  HWND parent = nullptr;
  UINT_PTR id = 0;              // the HMENU argument (child id)
  win::WNDPROC proc = nullptr;  // current (GWLP_WNDPROC)
  win::LONG_PTR userData = 0;   // GWLP_USERDATA
  DWORD thread = 0;             // the creating thread (kOurThread, or another program's)
  bool alive = false;
  bool destroying = false;  // WM_DESTROY sent, destruction under way
  int clientWidth = 0, clientHeight = 0;
  int clientLeft = 0, clientTop = 0;  // the client area's offset inside the window rectangle
  // Showing and painting.
  bool visible = false;
  std::vector<int> shows;  // every ShowWindow command
  int invalidations = 0;   // InvalidateRect calls
  bool needsPaint = false, erasePending = false;
  COLORREF background = 0;  // class brush colour
  bool hasBackground = false;
  int selStart = 0, selEnd = 0;  // EDIT: the selection
  // The client-area surface window DCs draw into (row-major, clientWidth wide).
  std::vector<COLORREF> surface;
};
constexpr DWORD kOurThread = 0x100;
constexpr DWORD kOtherThread = 0x200;
const WindowInfo* Window(HWND window);  // nullptr if never created; kept after destruction
// Another program's open message box (class "#32770", this caption, 300 x 150
// client area) on thread kOtherThread, on top of every window so far.
HWND OtherProgramBox(const char* caption);
std::vector<HWND> Windows();                         // live windows, creation order
HWND FindChild(HWND parent, const char* className);  // first live child of that class, or nullptr
int DefProcCount(HWND window, UINT message);         // DefWindowProcA calls
void SetForeground(HWND window);  // what GetForegroundWindow returns (default nullptr)
HWND Focus();                     // last SetFocus target, nullptr after it is destroyed
COLORREF SurfacePixel(HWND window, int x, int y);  // 0xFFFFFFFF outside
// Sends WM_CHAR for each character to the window (through any subclass).
void Type(HWND window, const char* text);

struct ClassInfo {
  win::WNDCLASSEXA fields{};  // as given, but its two string pointers are nullptr
  std::string className;
};
const ClassInfo* Class(const char* name);  // registered class, any case; nullptr if none
void FailRegisterClass(int count = 1);     // the next 'count' RegisterClassExA calls return 0
void FailCreateWindow(int count = 1);      // the next 'count' CreateWindowExA calls return nullptr
                                           // (before WM_CREATE)

// ---- Message boxes -------------------------------------------------------
// While a box is open it is a live top-level window of class "#32770" titled
// with its caption ("Error" when the caption is nullptr, as on Windows),
// with a client area of 300 x 150; FindWindowExA finds it and controls may
// be created as its children. The next scripted callback gets the box (with
// 'window' set) and returns the button pressed; it may run the box's modal
// loop (sim::Advance, sim::Pump) and read or edit the box's child controls
// meanwhile. Without a script the box answers IDOK at once, delivering
// nothing. On closing, the box window is destroyed (its children get
// WM_DESTROY) before MessageBoxA returns. A non-null owner that is not a
// window makes the call fail with 0 (recorded, no script used). The
// foreground window is not changed by boxes.

struct BoxInfo {
  bool indirect = false;  // MessageBoxIndirectA
  HWND owner = nullptr;
  std::optional<std::string> text;     // nullopt for nullptr
  std::optional<std::string> caption;  // nullopt for nullptr
  UINT style = 0;                      // uType / dwStyle
  // MessageBoxIndirectA only:
  win::HINSTANCE instance = nullptr;
  UINT iconId = 0;  // lpszIcon as MAKEINTRESOURCE id (0 for a string or nullptr)
  // What happened.
  HWND window = nullptr;  // the box window while open
  int result = 0;
  bool open = false;
};
using BoxScript = std::function<int(BoxInfo&)>;
void PushBox(BoxScript script);      // scripts answer the boxes in order of opening
const std::deque<BoxInfo>& Boxes();  // every box, in order of opening (stable references)

// ---- Menus ---------------------------------------------------------------
// TrackPopupMenu records its arguments and a copy of the items, then asks
// the next scripted chooser. A chosen id (non-zero) is POSTED as
// WM_COMMAND(id, 0) to the owner; 0 means dismissed. Without a script the
// menu is dismissed. TrackPopupMenu returns TRUE for a valid menu;
// TPM_RETURNCMD is not modelled.

struct MenuItem {
  UINT flags;
  UINT_PTR id;
  std::optional<std::string> text;  // nullopt for nullptr (separators)
};
struct MenuTrack {
  UINT flags;
  int x, y;
  HWND owner;
  std::vector<MenuItem> items;
};
void PushMenuChoice(UINT_PTR id);  // 0 = dismiss
// Chooses the item whose text equals 'text'; dismisses the menu (chosen 0)
// when no item has that text.
void PushMenuChoiceText(const std::string& text);
const std::vector<MenuTrack>& MenuTracks();
int LiveMenus();  // created and not destroyed

// ---- Keys ----------------------------------------------------------------
// Per virtual key: a thread ("sync") state byte as GetKeyState and
// GetKeyboardState read it (0x80 down, 0x01 toggled), and an asynchronous
// state as GetAsyncKeyState reads it (down now; pressed since the last
// GetAsyncKeyState query of that key, which the query clears). GetKeyState
// returns the byte sign-extended, as Windows does (0xFF80 when down, so the
// 0x8000 bit is set). Only the locks (VK_CAPITAL, VK_NUMLOCK, VK_SCROLL)
// toggle, on each press. Keys are independent: pressing VK_LSHIFT does not
// press VK_SHIFT; set both for a realistic left Shift.
// SetKeyboardState overwrites the thread bytes only: async states and the
// physical lock states (LockOn) stay; a later press or release of a key
// brings that key's thread byte back in line.

void SetKeyDown(int vk, bool down);  // a press sets the pressed-since bit and flips a lock
void Tap(int vk);                    // press and release between two samples
void SetToggle(int vk, bool on);     // a lock's state, without a press
bool KeyDown(int vk);                // async down (physical)
bool PressedSince(int vk);           // peek at the pressed-since bit without clearing it
bool LockOn(int vk);                 // physical toggle
// Off: presses never set the pressed-since bit, as under Wine (default on).
void SetPressedSinceBits(bool on);

// MapVirtualKeyA(vk, 0) uses a fixed US-keyboard set-1 table: letters and
// digits as on a PC keyboard ('A' 0x1E, 'Q' 0x10, '1' 0x02, '0' 0x0B),
// VK_BACK 0x0E, VK_TAB 0x0F, VK_RETURN 0x1C, VK_SHIFT/VK_LSHIFT 0x2A,
// VK_RSHIFT 0x36, VK_CONTROL/VK_LCONTROL/VK_RCONTROL 0x1D, VK_MENU/L/R 0x38,
// VK_PAUSE 0x45, VK_CAPITAL 0x3A, VK_ESCAPE 0x01, VK_SPACE 0x39, the
// navigation keys 0x21-0x2E (0x49 0x51 0x4F 0x47 0x4B 0x48 0x4D 0x50, print
// screen 0x54, insert 0x52, delete 0x53), F1-F10 0x3B-0x44, F11 0x57,
// F12 0x58, VK_NUMLOCK 0x45, VK_SCROLL 0x46, VK_LWIN 0x5B, VK_RWIN 0x5C,
// VK_APPS 0x5D, the numeric pad and OEM punctuation keys; 0 for anything
// else (mouse buttons included) and for map types other than 0.

// ---- Low-level input hooks -----------------------------------------------
// SetWindowsHookExA installs WH_KEYBOARD_LL and WH_MOUSE_LL hooks (thread 0,
// any module); any other kind fails. Every installed hook of the kind is
// called, newest first, for each key or mouse event, the user's (UserKey,
// UserMouse) and the program's own keybd_event and mouse_event alike, and
// before the event changes the key state or the cursor, as on Windows; the
// hook that returns non-zero takes the event away: the older hooks do not
// hear it and it changes no state. What CallNextHookEx returns is 0. The
// program's own keybd_event, SendInput and mouse_event reach the hooks with
// LLKHF_INJECTED.
// Moves of the cursor (SetCursorAt, absolute or relative mouse_event) give
// the mouse hooks WM_MOUSEMOVE. SetKeyDown and Tap change the key state
// without a word to the hooks: what a hook that was dropped missed.

// A key as the user presses it: through the hooks (vk, scan, LLKHF_EXTENDED
// when extended, LLKHF_UP for a release), then the key state. A left or right
// Shift, Ctrl or Alt (0xA0-0xA5) moves the plain key (0x10-0x12) with it.
void UserKey(int vk, int scan, bool extended, bool down);
// A mouse button pressed or released, or the wheel turned, as the user does
// it where the cursor is: message WM_LBUTTONDOWN ... WM_XBUTTONUP (data 1 or 2
// for the X buttons) or WM_MOUSEWHEEL / WM_MOUSEHWHEEL (data: the delta).
// Through the hooks, with mouseData = data << 16, then the button state.
void UserMouse(UINT message, int data = 0);
// One input that moves the pointer to (x, y) and presses or releases a
// button there (a tablet, a remote-control tool): the hooks hear the move and
// the button at (x, y) before the cursor gets there.
void UserMouseAt(int x, int y, UINT message);
void SetHooksAvailable(bool on);  // off: SetWindowsHookExA fails (default on)
// The system drops every installed hook without telling the program (as
// Windows does with a hook that kept input waiting too long): they are never
// called again, and unhooking them fails.
void DropHooks();
int InstalledHooks();  // installed, not unhooked and not dropped
int HookInstalls();    // SetWindowsHookExA calls that succeeded since Reset
int BadUnhooks();      // UnhookWindowsHookEx of a hook that was not installed
// Buttons swapped for a left hand: SM_SWAPBUTTON says so, and the key
// state still reads the physical buttons. UserMouse names the physical
// button; the hooks hear the button it stands for when 'hooksNameSwapped',
// else the physical one (Windows' documentation does not say which).
void SetSwappedButtons(bool swapped, bool hooksNameSwapped);

// ---- Scaled displays -----------------------------------------------------
// Positions are physical pixels: the cursor, SetCursorAt, the hooks' points,
// and the screen metrics as set (SM_CXSCREEN, SM_CYSCREEN and the virtual
// screen's four). The thread starts DPI-unaware, and so are our windows:
// while a window procedure runs, the thread is unaware whatever it asked
// for before, and the thread's own awareness is back once it returns. An
// unaware thread sees those positions and metrics times 100 / percent of the
// primary monitor (rounded down), everywhere on the desktop; WindowFromPoint
// takes its point in the thread's pixels. SetThreadDpiAwarenessContext
// (user32, through GetProcAddress) takes the per-monitor contexts (-3, -4)
// and unaware (-1), and returns the one before.
void SetDpiScale(int percent);  // the primary monitor's scale (default 100)
bool PerMonitorAware();         // the thread's awareness now

// RegisterHotKey fails for modifiers and a key someone holds (HoldHotkey:
// another program). The user's key-down (UserKey, after the hooks) with
// exactly a hotkey's MOD_ALT, MOD_CONTROL and MOD_SHIFT posts WM_HOTKEY to its
// window, but for a repeat with MOD_NOREPEAT. A window's hotkeys go with it.
void HoldHotkey(UINT modifiers, UINT vk);

// WindowFromPoint gives the newest visible top-level window whose rectangle
// holds the point (children are not looked into), else nullptr.

// ---- Cursor --------------------------------------------------------------

// LoadIconA / LoadCursorA always succeed: the same instance and name give
// the same fake handle. CreateCursor needs both planes and a positive size.
void SetCursorAt(int x, int y);  // the user moves the mouse (not logged)
win::HCURSOR ShownCursor();      // last SetCursor argument
int SetCursorCalls();
struct CreatedCursor {
  win::HCURSOR handle;
  win::HINSTANCE instance;
  int hotX, hotY, width, height;
  std::vector<BYTE> andPlane, xorPlane;  // ((width+15)/16*2) * height bytes each
  bool destroyed;
};
const std::vector<CreatedCursor>& CreatedCursors();
const std::vector<win::HCURSOR>& DestroyedCursors();  // every DestroyCursor argument
int LiveCursors();                                    // created and not destroyed

// ---- Synthetic input log -------------------------------------------------
// keybd_event, SendInput (a Key with the character in data and its flags),
// mouse_event and SetKeyboardState, in call order.
// With feedback on (the default): a keybd_event key-down/up sets the key's
// sync and async state like a real press/release; mouse_event LEFTDOWN/UP
// and RIGHTDOWN/UP do the same for VK_LBUTTON/VK_RBUTTON; MOVE|ABSOLUTE
// moves the cursor to (dx * SM_CXSCREEN + 32767) / 65535, likewise y;
// with MOUSEEVENTF_VIRTUALDESK too, over the virtual screen instead:
// SM_XVIRTUALSCREEN + (dx * SM_CXVIRTUALSCREEN + 32767) / 65535, likewise y;
// MIDDLEDOWN/UP press VK_MBUTTON, XDOWN/XUP VK_XBUTTON1 or 2 (data 1 or 2);
// MOVE alone moves it by (int)dx, (int)dy. The cursor is kept on the virtual
// screen (by default the primary screen, 1024 x 768 at 0,0; set
// SM_XVIRTUALSCREEN etc. for monitors beside it). No window messages result:
// each call that moves the cursor stands for one move message to the
// application under it.

struct Input {
  enum Kind { Key, Mouse, KeyboardState } kind;
  DWORD time = 0;  // the clock when the call was made
  // Key
  BYTE vk = 0, scan = 0;
  DWORD flags = 0;  // Key and Mouse
  // Mouse
  DWORD dx = 0, dy = 0;
  DWORD data = 0;    // the wheel's delta, or which X button; SendInput: the character
  int x = 0, y = 0;  // where the cursor is after the call (feedback on)
  // KeyboardState
  std::array<BYTE, 256> state{};
};
const std::vector<Input>& Inputs();
void ClearInputs();
void SetInputFeedback(bool on);
// Each keybd_event and mouse_event takes this long (default 0), as delivery
// does under Wine: once it is logged the clock moves on, the world with it.
void SetInputCost(DWORD ms);

// ---- System values -------------------------------------------------------

void SetMetric(int index, int value);  // GetSystemMetrics; unknown indexes read 0
void SetDoubleClickTime(UINT ms);
void SetVersion(BYTE major, BYTE minor = 1);  // GetVersion = major | minor << 8 | 7601 << 16

// ---- Process and module --------------------------------------------------
// GetModuleHandleA(nullptr) is the program's module; of the names only
// "kernel32" is modelled (any case, ".dll" or not: 0x7C800000), any other
// gives nullptr. GetCommandLineA is the module path in quotes.
//
// GetProcAddress finds in kernel32 the calls newer than Windows XP that the
// program looks for, each there unless a test says it is missing (as on an
// older Windows); any other name or module gives nullptr:
// - SetProcessInformation: each call is logged; it returns what
//   SetProcessInformationResult says (TRUE; FALSE as Windows 8 and 8.1
//   answer the power throttling class they do not know).

void SetModulePath(const std::string& path);  // GetModuleFileNameA; backslashes as on Windows
win::HMODULE ModuleHandle();                  // GetModuleHandleA(nullptr): 0x00400000
void SetProcAvailable(const std::string& name, bool available);  // GetProcAddress finds it
void SetProcessInformationResult(win::BOOL result);
struct ProcessInformationCall {
  win::HANDLE process;
  int infoClass;
  DWORD size;
  win::PROCESS_POWER_THROTTLING_STATE throttling;  // when size is its size
};
const std::vector<ProcessInformationCall>& ProcessInformationCalls();
// ExitProcess throws this (the host has no process to end).
struct ProcessExit {
  UINT code;
};

// ---- Files ---------------------------------------------------------------
// Paths: backslashes become '/'; "X:\..." uses the host directory mapped for
// drive X (MapDrive), else is taken as it is. CreateFileA: CREATE_ALWAYS
// (truncates), OPEN_EXISTING (fails when missing), OPEN_ALWAYS (creates),
// CREATE_NEW (fails when the name is taken, by a file or a folder);
// other dispositions fail (not modelled). A directory cannot be opened;
// sharing is enforced between open handles of the sim (read/write against
// the other handles' FILE_SHARE_* bits), and DeleteFileA / MoveFileExA /
// CopyFileA's target fail on a file open in the sim (no FILE_SHARE_DELETE
// exists here). ReadFile needs GENERIC_READ, WriteFile and FlushFileBuffers
// GENERIC_WRITE. WriteFile reports what it wrote; a short write (disk full,
// see SetDiskSpace) reports the bytes written and returns FALSE.
// SetFilePointer: FILE_BEGIN and FILE_END with a 32-bit distance (the high
// part is not modelled). MoveFileExA renames, over an existing target only
// with MOVEFILE_REPLACE_EXISTING; it does not copy between devices.

void MapDrive(char letter, const std::string& hostDirectory);
// Disk space: WriteFile and CopyFileA may write this many more bytes in
// total (-1, the default, is no limit). A CopyFileA that does not fit fails
// and leaves no target.
void SetDiskSpace(long long bytes);
int OpenFiles();  // handles open now
// CreateFileA, CopyFileA and ShellExecuteA may keep the thread waiting long:
// how many were called while a low-level hook was in (the desktop's input
// waits for the hooks' thread).
int WaitsUnderHooks();
void FailSeek(int count = 1);  // the next 'count' SetFilePointer calls fail; the position stays
int BadCloses();               // CloseHandle on a handle that was not open

// ---- Address space (VirtualAlloc / VirtualFree) --------------------------
// Real host memory: MEM_RESERVE (no address given) maps the size, rounded up
// to 64 KiB, with no access, so that touching a page not committed crashes
// the test as it would crash the program; MEM_COMMIT with PAGE_READWRITE
// opens every 4 KiB page the range touches, inside one reservation, and
// returns the first page's address; committed pages read zero until written.
// VirtualFree takes MEM_RELEASE, size 0 and a reservation's base. Other
// types, a given address for a reservation and a commit outside one are not
// modelled (nullptr).

int LiveBlocks();  // reservations not released
// Every VirtualAlloc size, failed ones included.
const std::vector<size_t>& AllocRequests();
void FailAlloc(int count = 1);  // the next 'count' VirtualAlloc calls return nullptr
int BadFrees();                 // VirtualFree calls that did not release a reservation
size_t CommittedBytes();        // committed pages of all live reservations, in bytes
// The largest reservation the address space has room for in one piece (a
// 32-bit process's is fragmented); -1, the default, is no limit.
void SetAddressSpace(long long bytes);

// ---- GDI -----------------------------------------------------------------
// Bitmaps are colour (24-bit COLORREF pixels; GetObjectA reports a 32-bit
// display-compatible bitmap) or monochrome (0/1). A memory DC starts with the
// shared stock 1x1 monochrome bitmap selected, background white, text black,
// mode OPAQUE. A bitmap can be selected into one DC at a time (SelectObject
// fails with nullptr otherwise); a bitmap still selected into a DC cannot be
// deleted (DeleteObject FALSE). A paint DC (BeginPaint) draws into the
// window's surface and is released by EndPaint.
// BitBlt (SRCCOPY, SRCINVERT, SRCAND, SRCPAINT, clipped to both surfaces)
// converts as Windows does: colour -> mono gives 1 where the source pixel
// equals the SOURCE DC's background colour, 0 elsewhere; mono -> colour
// gives the DESTINATION DC's background colour for 1 and its text colour
// for 0. GetPixel of a mono pixel reads white (1) or black (0).
// CreateBitmap makes a cleared monochrome bitmap (1 plane, 1 bpp, no bits:
// what the program asks for; anything else fails). LoadImageA gives a fresh
// copy of a registered bitmap resource for IMAGE_BITMAP, the program's module
// and an int id; else nullptr. GetStockObject: fixed handles for 0-19 (not
// 9); SelectObject takes bitmaps (into memory DCs) and stock fonts, and
// fails for anything else. DrawTextA only records.

// Registers bitmap resource 'id' of the program's module for LoadImageA;
// pixels row-major, top row first, width*height COLORREFs.
void SetResourceBitmap(UINT id, int width, int height, const std::vector<COLORREF>& pixels);
bool BitmapIsMono(win::HBITMAP bitmap);
// Mono: 0 or 1; 0xFFFFFFFF outside the bitmap or for an unknown one.
COLORREF BitmapPixel(win::HBITMAP bitmap, int x, int y);
int LiveBitmaps();              // created or loaded, not deleted (stock excluded)
int LiveDCs();                  // memory DCs not deleted plus paint DCs not ended
int OpenPaints();               // BeginPaint without EndPaint
int DCsDeletedWithSelection();  // DeleteDC calls that left a bitmap selected (a leak)
const std::vector<win::HGDIOBJ>& DeletedObjects();  // every DeleteObject argument
struct DrawTextCall {
  std::string text;
  UINT format;
  COLORREF textColour;
  int backMode;
};
const std::vector<DrawTextCall>& DrawTexts();
struct LoadImageCall {
  win::HINSTANCE instance;
  UINT id;  // MAKEINTRESOURCE id, 0 for a string name
  UINT type;
};
const std::vector<LoadImageCall>& LoadImages();

// ---- File dialogs and the shell ------------------------------------------
// GetOpenFileNameA / GetSaveFileNameA record the OPENFILENAMEA fields and
// ask the next scripted chooser. A returned path is written into lpstrFile
// and the call returns TRUE; nullopt means cancel: lpstrFile is emptied and
// the call returns FALSE. Without a script the dialog is cancelled. A path
// that does not fit in nMaxFile - 1 characters fails as on Windows
// (FNERR_BUFFERTOOSMALL): FALSE, the needed size in the buffer's first two
// bytes. lStructSize must be the seam's sizeof(OPENFILENAMEA), else FALSE
// without asking. lpstrFileTitle, nFileOffset and nFileExtension are not
// modelled.

struct FileDialogCall {
  bool save;
  HWND owner;
  std::vector<std::string> filter;  // the strings up to the double zero
  std::string file;                 // lpstrFile's text on entry
  std::optional<std::string> initialDir, title, defExt;
  DWORD flags;
};
void PushFileChoice(const std::string& path);
void PushFileCancel();
const std::vector<FileDialogCall>& FileDialogs();

struct ShellCall {
  HWND window;
  std::optional<std::string> verb, file;
  int show;
};
void SetShellResult(intptr_t result);  // ShellExecuteA's result as an integer (default 42)
const std::vector<ShellCall>& ShellCalls();

// ---- Internal ------------------------------------------------------------
// Shared between the sim's own .cpp files; tests do not use these.
namespace detail {
void* NewHandle();                                      // a fresh handle value, unique until Reset
WindowInfo* LiveWindow(HWND window);                    // nullptr unless alive
bool BrushColour(win::HBRUSH brush, COLORREF* colour);  // false: no erase
void ResetInput();
void Elapse(DWORD ms);  // the clock moves on, scheduled actions run, nothing is delivered
void ResetGdi();
// The thread's DPI awareness context, set; returns the one before.
win::HANDLE WINAPI SetThreadDpiAwarenessContext(win::HANDLE context);
win::POINT Unaware(win::POINT p);  // a point in the thread's pixels, as our windows have them
void ResetKernel();

// How many entries of 'objects' satisfy 'counted' (live ones, say).
template <class Objects, class Predicate>
int Count(const Objects& objects, Predicate counted) {
  return (int)std::count_if(objects.begin(), objects.end(), counted);
}

// The answer of the next scripted choice in 'scripts' (which it leaves) to
// 'call', or 'otherwise' when no script is left.
template <class Script, class Call, class Answer>
Answer NextScript(std::deque<Script>& scripts, Call& call, Answer otherwise) {
  if (scripts.empty()) return otherwise;
  Script script = std::move(scripts.front());
  scripts.pop_front();
  return script(call);
}
}  // namespace detail

}  // namespace sim
