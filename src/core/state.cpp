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

void HoldFineTimer(bool on) {
  if (gApp.fineTimer == on) return;
  gApp.fineTimer = on;
  if (on)
    timeBeginPeriod(1);
  else
    timeEndPeriod(1);
}

int InfoBox(const char* text) { return MessageBoxA(gApp.mainWindow, text, kCaption, kInfoBox); }

void CopyText(char* to, const char* from, int size) { lstrcpynA(to, from, size); }

void AppendText(char* to, const char* from, int size) {
  int used = lstrlenA(to);
  if (used < size - 1) lstrcpynA(to + used, from, size - used);
}

bool EndsWithNoCase(const char* text, const char* tail) {
  int n = lstrlenA(text), k = lstrlenA(tail);
  return n >= k && lstrcmpiA(text + n - k, tail) == 0;
}
