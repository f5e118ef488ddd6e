// Any bytes as a .rec file: the load either refuses with its warning and
// leaves the recording in memory as it was, or keeps exactly the bytes with
// zeroed slack behind.
#include <string.h>

#include "core/buffer.h"
#include "files/recfile.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FreshDesktop();
  EventRecord* before = (EventRecord*)AllocZeroed(kRecordSize + kLoadSlack, 1);
  if (!before) abort();
  before[0] = EventRecord{0x200, 7, 7, 0, 0};
  gApp.recordingBuffer = before;
  gApp.eventCursor = gApp.eventCount = 1;
  WriteHostFile("in.rec", data, size);
  char path[256] = "C:\\in.rec";
  win::DWORD got = LoadRecording(path, 0);
  bool valid = size >= 2 && data[0] == 0 && size % kRecordSize == 0;
  if (valid != (got != 0)) abort();
  if (got) {
    if (got != size || gApp.eventCursor != size / kRecordSize ||
        gApp.eventCount != size / kRecordSize)
      abort();
    if (BlockSize(gApp.recordingBuffer) != size + kLoadSlack) abort();
    if (memcmp(gApp.recordingBuffer, data, size) != 0) abort();
    for (size_t i = size; i < size + kLoadSlack; ++i)
      if (((const uint8_t*)gApp.recordingBuffer)[i]) abort();
    if (strcmp(path, "in.rec") != 0 || strcmp(gApp.currentName, "in.rec") != 0) abort();
  } else {
    if (gApp.recordingBuffer != before || before[0].paramL != 7 || gApp.eventCount != 1 ||
        gApp.eventCursor != 1 || sim::Boxes().size() != 1)
      abort();
    if (*sim::Boxes()[0].text != "Not a valid recording") abort();
  }
  if (sim::OpenFiles() != 0 || sim::LiveBlocks() != 1) abort();
  return 0;
}
