// The recorder: every 10 ms compare all keys and the cursor with the last
// sample and write at most one event.
#pragma once

// Record: starts a recording, or stops the one that runs.
void OnRecordCommand();
// Ends the recording at the last click on our own window, or keeping every
// event when not trimToLastClick.
void StopRecording(bool trimToLastClick = true);
// One sample, on each tick of the record timer.
void RecorderTick();
