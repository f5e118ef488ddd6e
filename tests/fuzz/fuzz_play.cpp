// Any loaded recording played to its end, fast and at recorded speed: no read
// outside the block, no endless playback, and Pause always ends it.
#include "files/recfile.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t mode = data[0];
  ++data, --size;
  FreshDesktop();
  // Make it a valid recording: zero first byte, whole records.
  size -= size % kRecordSize;
  if (size < kRecordSize) return 0;
  std::string bytes((const char*)data, size);
  bytes[0] = 0;
  WriteHostFile("play.rec", bytes.data(), bytes.size());
  char path[256] = "C:\\play.rec";
  if (!LoadRecording(path, 0)) abort();
  gApp.fastSpeed = mode & 1;
  gApp.repeatCount = (mode >> 1) & 3;
  // What a run at recorded speed lasts: every wait in it is at most 50 ms
  // long, so its steps grow with it.
  uint64_t span = 0;
  for (win::DWORD i = 1; i < gApp.eventCount && gApp.recordingBuffer[i].message; ++i)
    span += PlayedGap(gApp.recordingBuffer[i - 1].time, gApp.recordingBuffer[i].time);
  if ((mode & 8) || span > 600000) {
    // Pause pressed at some point of the run must end it within a few steps
    // (a run of more than 10 minutes is ended so too).
    sim::After((mode >> 4) * 7 + 30, [] { sim::SetKeyDown(breakKey, true); });
    PlayToTheEnd(400);
  } else {
    PlayToTheEnd(4 * (long)(size / kRecordSize + 8) * 4 + 64 +
                 4 * (long)(span / 50));  // up to 3 runs
  }
  if (sim::LoopGuardTripped()) abort();
  return 0;
}
