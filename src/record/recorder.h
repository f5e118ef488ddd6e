// The recorder: input as it happens, through the system's low-level keyboard
// and mouse hooks, and every 10 ms the cursor's position and a look at the
// key state for anything the hooks missed. Where the hooks cannot be had,
// the ticks sample the keys as the recorder always has.
#pragma once

#include "platform/win32.h"

// Record: starts a recording, or stops the one that runs. how: 0 from our own
// window (a click), a hotkey's WM_HOTKEY lParam, or 1 Pause or 3 Ctrl+Break,
// which also release what is held and never start a recording.
void OnRecordCommand(win::LPARAM how = 0);
// Ends the recording, and cuts off what ended it: for how 0 the click on our
// own window; for a hotkey or Ctrl+Break the presses at the end of keys still
// held; for Pause (1) nothing.
void StopRecording(win::LPARAM how = 0);
// The cursor's position and a look at the keys, on each tick of the record timer.
void RecorderTick();
// The hooks, both or none, put in anew: false when they could not be had.
bool InstallInputHooks();
void RemoveInputHooks();
