// Any bytes appended to our own program: a compiled player takes them as a
// recording only when they pass the rules, and never reads outside its block.
#include <string.h>

#include <vector>

#include "files/recfile.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FreshDesktop();
  std::vector<uint8_t> image(StubImageSize(), 'M');
  image.insert(image.end(), data, data + size);
  WriteHostFile("player.exe", image.data(), image.size());
  char path[256] = "C:\\player.exe";
  win::DWORD got = LoadRecording(path, (int32_t)StubImageSize());
  bool valid = size >= 2 && data[0] == 0 && size % kRecordSize == 0;
  if (valid != (got != 0)) abort();
  if (got && memcmp(gApp.recordingBuffer, data, size) != 0) abort();
  if (got && gApp.eventCount != size / kRecordSize) abort();
  return 0;
}
