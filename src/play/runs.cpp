#include "play/runs.h"

#include "core/state.h"
#include "files/recfile.h"
#include "format/player.h"
#include "play/player.h"
#include "record/input.h"
#include "record/recorder.h"

using namespace win;

void OnPlayCommand(WPARAM wParam, LPARAM lParam) {
  // A hotkey's keys (a key in the high word) start a run like 0.
  LPARAM keys = lParam >> 16 ? lParam : 0;
  if (keys) lParam = 0;
  if (IsRecording()) {
    // A report from a playback that the recording ended is stale; a Play
    // asked for now plays what has just been recorded.
    if (lParam) return;
    StopRecording(keys);
  } else if (lParam && !gApp.fineTimer) {
    return;  // a report after the playback was ended (by its hotkey)
  }
  gApp.lastCommand = kCmdPlay;
  if (!gApp.recordingBuffer) {
    InfoBox(kNothingRecorded);
    return;
  }
  // A Pause tap between two runs ends the series as one inside a run does
  // (the release below would lift a Pause still held).
  if (lParam == 1 && BreakKeyDown()) lParam = 2;
  // A hotkey's chord is still held: the first step waits for it to be let
  // go, then releases what is held. Released for the user now, the keys
  // would come back down under Wine, which follows the keyboard itself.
  gApp.waitForRelease = keys != 0;
  if (!keys) ReleaseAllKeys();
  if (lParam == 0) {
    HoldFineTimer(true);
    gApp.statusFlags |= kBusy;
    gApp.pathBuffer[0] = 0;
    if (gApp.continuousPlayback || gApp.repeatCount > 1)
      wsprintfA(gApp.pathBuffer, "%s: %d", kTitleBreak, gApp.loopCounter + 1);
    SetTitle(gApp.pathBuffer[0] ? gApp.pathBuffer : kTitleBreak);
    gApp.eventCursor = 0;
    SetTimer(gApp.mainWindow, kTimerPlay, 25, nullptr);
    return;
  }
  // A compiled player closes after its first run, however it ended.
  if (IsCompiledPlayer(FileSizeOf(nullptr), StubImageSize()))
    PostMessageA(gApp.mainWindow, WM_CLOSE, 0, 0);
  if (lParam == 1 &&
      (gApp.continuousPlayback || (int64_t)gApp.repeatCount - gApp.loopCounter > 1)) {
    ++gApp.loopCounter;
    PostMessageA(gApp.mainWindow, WM_COMMAND, wParam, 0);
    return;
  }
  EndPlayback();
}

void EndPlayback() {
  KillTimer(gApp.mainWindow, kTimerPlay);
  gApp.loopCounter = 0;
  HoldFineTimer(false);
  SetIdleTitle();
  gApp.statusFlags &= (BYTE)~kBusy;
}
