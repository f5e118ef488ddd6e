// The program-wide state, the command and timer ids, and the small helpers
// every subsystem shares.
#pragma once

#include "core/buffer.h"
#include "platform/win32.h"

// Command ids: the low word of wParam of WM_COMMAND posted to the main window.
enum : win::UINT {
  kCmdOpen = 0x8000,
  kCmdSave = 0x8001,
  kCmdRecord = 0x8002,
  kCmdPlay = 0x8003,
  kCmdCompile = 0x8004,
  kCmdOptions = 0x8005,
  kCmdSpeedNormal = 0x800a,
  kCmdSpeedFast = 0x800b,
  kCmdToggleContinuous = 0x800c,
  kCmdSetRepeatCount = 0x800d,
  kCmdHelp = 0x800e,
  kCmdWebsite = 0x800f,
  kCmdAbout = 0x8010,
  kCmdToggleTips = 0x8011,
};

// Window timers on the main window.
enum : win::UINT_PTR {
  kTimerRecord = 1001,
  kTimerPlay = 1002,
  kTimerAbout = 1003,
  kTimerRepeat = 1004,
};

constexpr int breakKey = 19;  // Pause; "{Break}" in what the user reads

// statusFlags bits
constexpr win::BYTE kTipsOn = 1;
constexpr win::BYTE kBusy = 2;

extern const char kTitleCreated[];  // "Kavorin v1.22"
extern const char kTitleBreak[];    // "{Break} to end"
extern const char kCaption[];       // "Kavorin"
extern const char kNothingRecorded[];
extern const char kHostName[];  // our web site's host, shown by the About box link
// Our message boxes: task modal, brought to the foreground, on top of all.
constexpr win::UINT kOnTopBox = win::MB_TASKMODAL | win::MB_SETFOREGROUND | win::MB_TOPMOST;
constexpr win::UINT kInfoBox = win::MB_ICONINFORMATION | kOnTopBox;
constexpr win::UINT kWarningBox = win::MB_ICONWARNING | kOnTopBox;

struct AppState {
  win::HWND mainWindow = nullptr;
  win::HCURSOR handCursor = nullptr;
  win::HBITMAP stripBitmap = nullptr;
  win::HBITMAP stripMask = nullptr;
  EventRecord* recordingBuffer = nullptr;
  win::DWORD eventCursor = 0;
  // How many events the recording holds. Playback moves eventCursor; this
  // stays, so Save and Compile after a broken-off run still write everything.
  win::DWORD eventCount = 0;
  int32_t loopCounter = 0;
  // The three settings that do not start at zero start as InitialSettings()
  // sets them: so the whole state is zero in the file (no bytes of its own).
  int32_t repeatCount = 0;
  char repeatText[32] = "";
  win::BYTE statusFlags = 0;
  win::BYTE continuousPlayback = 0;
  win::BYTE fastSpeed = 0;
  win::DWORD lastCommand = 0;
  char currentName[32] = "";
  char pathBuffer[256] = "";
  win::BYTE keyStateTable[256] = {};  // per key, what the recorder knows of it
  // Per key, how it was last pressed (a record's paramH: scan code and key
  // bits), so that its release is the same key: keypad Enter, not main Enter.
  win::WORD pressedAs[256] = {};
  win::BYTE leftHeld = 0;
  win::BYTE clickPlayed = 0;
  // When the record before eventCursor was due (timeGetTime): the run's own
  // clock, which the recorded gaps add to, so no step's lateness carries over.
  win::DWORD runClock = 0;
  win::BYTE fineTimer = 0;   // we hold a 1 ms timer period (HoldFineTimer): we record or play
  win::POINT lastMove = {};  // the position the last move record holds
  win::POINT lookedAt = {};  // where the last tick found the cursor
  // The low-level keyboard and mouse hooks while a recording has them (both
  // or none: without them the ticks sample the keys).
  win::HHOOK hooks[2] = {};
  // The recording's positions are physical pixels (it says so in its second record).
  win::BYTE physicalPixels = 0;
  // The key the hook heard last, not yet known to have reached the system:
  // an older hook of another program may still take it away (message 0: none).
  EventRecord pendingKey = {};
  // The hotkeys another program held when we asked for them: 1 Record, 2 Play.
  win::BYTE hotkeysMissing = 0;
  // A run started by a hotkey waits for the user to let its keys go.
  win::BYTE waitForRelease = 0;
  // SetThreadDpiAwarenessContext, looked up once (nullptr: the system has none).
  win::BYTE dpiLooked = 0;
  win::FARPROC dpiCall = nullptr;
};

extern AppState gApp;

// The size of our own executable as shipped. The build stamps the real size
// into the slot after the marker; a larger own file is a compiled player.
extern volatile win::DWORD gStubSlot[2];
inline win::DWORD StubImageSize() { return gStubSlot[1]; }

// One run, its count "1", tips on: what every process starts with.
void InitialSettings();
void PostCommand(win::UINT id, win::LPARAM lParam);
void SetIdleTitle();
bool IsRecording();
void SetTitle(const char* text);
int InfoBox(const char* text);  // MessageBoxA over the main window, caption "Kavorin"
// While recording or playing we ask for a 1 ms system timer period (Windows
// ticks at 15.6 ms otherwise), and for Windows 11 to keep it while none of our
// windows shows; every way out gives the period back. Idempotent.
void HoldFineTimer(bool on);

// Bounded text helpers over the fixed buffers.
void CopyText(char* to, const char* from, int size);
void AppendText(char* to, const char* from, int size);
bool SameNoCase(const char* a, const char* b);  // ASCII letters in either case
bool EndsWithNoCase(const char* text, const char* tail);
