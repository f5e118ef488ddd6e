#include "core/state.h"

#include "format/player.h"

using namespace win;

AppState gApp;

// The size marker, then the size of the executable; the build overwrites the size.
volatile DWORD gStubSlot[2] = {kSizeMarker, kUnstampedSize};

const char kTitleCreated[] = "Kavorin v1.22";
const char kTitleBreak[] = "{Break} to end";
const char kCaption[] = "Kavorin";
const char kHostName[] = "kavorin.example";
const char kNothingRecorded[] =
    "Nothing Recorded\n\nPress the blue button to start a new recording";

void InitialSettings() {
  gApp.repeatCount = 1;
  gApp.repeatText[0] = '1';
  gApp.statusFlags = kTipsOn;
}

void PostCommand(UINT id, LPARAM lParam) { PostMessageA(gApp.mainWindow, WM_COMMAND, id, lParam); }

void SetTitle(const char* text) { SetWindowTextA(gApp.mainWindow, text); }

void SetIdleTitle() { SetTitle(gApp.currentName[0] ? gApp.currentName : kCaption); }

// The record timer is the recording state: ask by killing it, and set it
// again at once when it was there.
bool IsRecording() {
  if (!gApp.mainWindow || !KillTimer(gApp.mainWindow, kTimerRecord)) return false;
  SetTimer(gApp.mainWindow, kTimerRecord, 10, nullptr);
  return true;
}

// Windows 11 keeps our 1 ms period only while one of our windows shows, unless
// we opt out of that throttling (a compiled player shows none). The call is
// Windows 8's; the throttling class Windows 10's: elsewhere it is missing or
// refused, and the period works as it always has there.
static void KeepPeriodWhenHidden() {
  auto set = (SetProcessInformationProc)GetProcAddress(GetModuleHandleA("kernel32"),
                                                       "SetProcessInformation");
  static const PROCESS_POWER_THROTTLING_STATE kIgnoreTimerResolution = {
      PROCESS_POWER_THROTTLING_CURRENT_VERSION, PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION,
      0};
  if (set)
    set(GetCurrentProcess(), ProcessPowerThrottling, (LPVOID)&kIgnoreTimerResolution,
        sizeof kIgnoreTimerResolution);
}

void HoldFineTimer(bool on) {
  if (gApp.fineTimer == on) return;
  gApp.fineTimer = on;
  if (on) {
    KeepPeriodWhenHidden();
    timeBeginPeriod(1);
  } else {
    timeEndPeriod(1);
  }
}

int InfoBox(const char* text) { return MessageBoxA(gApp.mainWindow, text, kCaption, kInfoBox); }

// Our own loops rather than lstrcpynA and lstrcmpiA: each import costs bytes.
void CopyText(char* to, const char* from, int size) {
  if (size <= 0) return;
  int i = 0;
  for (; i < size - 1 && from[i]; ++i) to[i] = from[i];
  to[i] = 0;
}

void AppendText(char* to, const char* from, int size) {
  int used = lstrlenA(to);
  if (used < size - 1) CopyText(to + used, from, size - used);
}

static char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c + 32) : c; }

bool SameNoCase(const char* a, const char* b) {
  for (; Lower(*a) == Lower(*b); ++a, ++b)
    if (!*a) return true;
  return false;
}

bool EndsWithNoCase(const char* text, const char* tail) {
  int n = lstrlenA(text), k = lstrlenA(tail);
  return n >= k && SameNoCase(text + n - k, tail);
}
