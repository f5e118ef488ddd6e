// The Play command: starts runs and takes the player's end-of-run reports.
#pragma once

#include "platform/win32.h"

// lParam 0 starts a run, as do a hotkey's keys (WM_HOTKEY's lParam: a
// recording the hotkey stops ends before them); 1 (the run is over) and 2
// (Pause) are the player's reports, which start the next run while repeats
// are left.
void OnPlayCommand(win::WPARAM wParam, win::LPARAM lParam);
// Ends the playback with no more runs: timer gone, idle title, not busy.
void EndPlayback();
