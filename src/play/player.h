// Playback: the records of a run, each when the run's clock says, stepped by
// the playback timer.
#pragma once

#include "core/buffer.h"

// One absolute mouse_event to the record's position, in units of the virtual
// desktop.
void MoveTo(const EventRecord& record);
// The timer delay before the record at index i, at recorded speed.
win::DWORD RecordedGap(const EventRecord* events, win::DWORD i);
// Pause is down now, or was pressed since the last query; or the user holds
// Esc or Ctrl+Break.
bool BreakKeyDown();
// Plays the records that are due at the cursor and sets timerId for the next one; at the
// end of the run, or on Pause, reports to window (WM_COMMAND, lParam 1 or 2).
void PlaybackStep(win::HWND window, win::UINT_PTR timerId);
