#include "app/window.h"

#include "app/options.h"
#include "app/toolbar.h"
#include "boxes/injected.h"
#include "core/state.h"
#include "files/commands.h"
#include "play/player.h"
#include "play/runs.h"
#include "record/input.h"
#include "record/recorder.h"

using namespace win;

namespace {

void OnCommand(UINT id, WPARAM wParam, LPARAM lParam) {
  // The hooks are called on this thread, and the desktop's input waits for
  // them: nothing that may wait long (files, the shell) runs under them. A
  // modal loop is no harm: it calls them. Save, Compile and the website end
  // a recording first, as the red ball would; Open, whose refused file keeps
  // the recording, takes them out until it is done.
  UINT n = id - kCmdOpen;  // Open 0, Save 1, Compile 4, the website 15
  if (n < 16 && (0x8013 >> n & 1) && IsRecording()) {
    if (n)
      StopRecording();
    else
      RemoveInputHooks();  // the ticks sample meanwhile
  }
  switch (id) {
    case kCmdOpen:
      OnOpenCommand();
      if (IsRecording()) InstallInputHooks();
      break;
    case kCmdSave: OnSaveCommand(); break;
    case kCmdRecord: OnRecordCommand(lParam); break;
    case kCmdPlay: OnPlayCommand(wParam, lParam); break;
    case kCmdCompile: OnCompileCommand(); break;
    case kCmdOptions: OnOptionsCommand(); break;
    case kCmdSetRepeatCount: OnSetRepeatCount(); break;
    case kCmdSpeedNormal:
    case kCmdSpeedFast:
    case kCmdToggleContinuous:
    case kCmdHelp:
    case kCmdWebsite:
    case kCmdAbout:
    case kCmdToggleTips: OnSettingsCommand(id, lParam); break;
    default: break;  // 0x8006-0x8009 and anything else: not ours
  }
}

void OnTimer(HWND window, WPARAM timerId) {
  if (timerId == kTimerRecord) {
    RecorderTick();
  } else if (timerId == kTimerPlay) {
    KillTimer(window, kTimerPlay);
    PlaybackStep(window, kTimerPlay);
  } else if (timerId == kTimerAbout || timerId == kTimerRepeat) {
    InjectBoxControl(timerId);
  }
}

// A hotkey, whose id is its command's: Record and Play as their buttons do,
// from whichever program is in front, but Play during a playback stops it as
// Pause does. Its lParam (its key in the high word) goes with the command: a
// recording it stops ends before the hotkey's keys.
void OnHotkey(WPARAM id, LPARAM keys) {
  if (id == kCmdPlay && gApp.fineTimer && gApp.lastCommand == kCmdPlay) keys = 2;
  OnCommand((UINT)id, id, keys);
}

// Frees the recording, the cursor and the images, and ends the message loop.
void OnDestroy(HWND window) {
  RemoveInputHooks();  // closed while recording
  // Closed while playing: what the run holds down is let go, as Pause would.
  if (KillTimer(window, kTimerPlay)) ReleaseAllKeys();
  HoldFineTimer(false);  // closed while recording or playing
  if (gApp.recordingBuffer) {
    FreeBlock(gApp.recordingBuffer);
    gApp.recordingBuffer = nullptr;
  }
  FreeToolbarImages();
  PostQuitMessage(0);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: LoadToolbarImages(); break;
    case WM_PAINT: PaintToolbar(window); break;
    case WM_MOUSEMOVE: ShowTip(lParam); break;
    case WM_LBUTTONDOWN: PostCommand(kCmdOpen + ButtonAt(lParam), 0); break;
    case WM_KEYDOWN:
      if (UINT id = KeyCommand(wParam)) PostCommand(id, 0);
      break;
    case WM_COMMAND: OnCommand(LOWORD(wParam), wParam, lParam); break;
    case WM_TIMER: OnTimer(window, wParam); break;
    case WM_HOTKEY: OnHotkey(wParam, lParam); break;
    case WM_CLOSE: DestroyWindow(gApp.mainWindow); break;
    case WM_DESTROY: OnDestroy(window); return 0;
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
