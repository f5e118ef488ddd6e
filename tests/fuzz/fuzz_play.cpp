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
  if (mode & 8) {
    // Pause pressed at some point of the run must end it within a few steps.
    sim::After((mode >> 4) * 7 + 30, [] { sim::SetKeyDown(breakKey, true); });
    PlayToTheEnd(400);
  } else {
    PlayToTheEnd(4 * (long)(size / kRecordSize + 8) * 4 + 64);
  }
  if (sim::LoopGuardTripped()) abort();
  return 0;
}
