// Any bytes as a file kvrec reads: judged without reading outside them, and
// what is taken is the file itself, byte for byte: a .rec by Kavorin's rules,
// a player as its program and the recording behind it. A program's
// architecture and requested execution level are read within its image.
#include <stdint.h>
#include <stdlib.h>

#include "kvrec/program.h"
#include "kvrec/recording.h"
#include "kvrec/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Recording r;
  Failure f;
  bool program = false;
  if (!ParseRecording("fuzz", data, size, r, f, &program)) {
    if (f.status != 1 || f.text.Find("fuzz: ") != 0) abort();
    return 0;
  }
  ByteList again = FileBytes(r);
  if (again.size() != size || (size && memcmp(again.data(), data, size) != 0)) abort();
  if (!r.player && !IsValidRecording(data, (uint32_t)size)) abort();
  if (r.player) {
    Text level;
    RequestedLevel(r.image.data(), r.image.size(), level);
    MachineName(MachineOf(r.image.data(), r.image.size()));
    Recording k;
    if (ParseProgram("fuzz", data, size, k, f) != program) abort();
  }
  WriteText(r.records, "fuzz");
  return 0;
}
