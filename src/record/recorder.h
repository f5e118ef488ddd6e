// The recorder: input as it happens, through the system's low-level keyboard
// and mouse hooks, and every 10 ms the cursor's position and a look at the
// key state for anything the hooks missed. Where the hooks cannot be had,
// the ticks sample the keys as the recorder always has.
#pragma once

#include "platform/win32.h"

// Record: starts a recording, or stops the one that runs. A stop posted by the
// break key (lParam 1) also releases what is held, and never starts one.
void OnRecordCommand(win::LPARAM how = 0);
// Ends the recording at the last click on our own window, or keeping every
// event when not trimToLastClick.
void StopRecording(bool trimToLastClick = true);
// The cursor's position and a look at the keys, on each tick of the record timer.
void RecorderTick();
// The hooks, both or none, put in anew: false when they could not be had.
bool InstallInputHooks();
void RemoveInputHooks();
