// Times the recorder's ticks over a long recording with a move at every tick:
// a tick that grows the recording's block against a plain one. Built twice
// from this one source: on the host over the simulated desktop, and for
// Windows over the real API (run under Wine). bench/growth_tick.py builds and
// runs both and explains the figures. Then the same growth again on a block of
// its own, each ResizeBlock timed alone: the memory's part of a growth tick.
//
//   growth_tick [RECORDS]   (default 360000: an hour of 10 ms ticks)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/buffer.h"
#include "core/state.h"
#include "play/player.h"
#include "record/recorder.h"

using namespace win;

namespace {

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = (size_t)(p / 100 * (double)(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  long records = argc > 1 ? std::atol(argv[1]) : 360000;
  gApp.mainWindow = CreateWindowExA(0, "STATIC", "growth tick", 0, 0, 0, 10, 10, nullptr, nullptr,
                                    nullptr, nullptr);
  if (!gApp.mainWindow) {
    std::printf("no window\n");
    return 1;
  }
  OnRecordCommand();  // starts: the block is made, and the cursor's place recorded
  std::vector<double> plain, growth;
  plain.reserve((size_t)records);
  double worst = 0;
  DWORD worstSize = 0;
  int moves = 0;  // growths that gave the recording a new address: a copy of it
  for (long i = 0; i < records; ++i) {
    // A new place at every tick: x + y changes, so every tick writes a move.
    MoveTo(EventRecord{WM_MOUSEMOVE, 1 + (DWORD)(i % 1000), 1 + (DWORD)(i / 1000 % 700), 0, 0});
    DWORD before = BlockSize(gApp.recordingBuffer);
    const EventRecord* at = gApp.recordingBuffer;
    auto t0 = std::chrono::steady_clock::now();
    RecorderTick();
    auto t1 = std::chrono::steady_clock::now();
    double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
    if (BlockSize(gApp.recordingBuffer) != before) {
      moves += at && gApp.recordingBuffer != at;
      growth.push_back(us);
      if (us > worst) worst = us, worstSize = BlockSize(gApp.recordingBuffer);
    } else {
      plain.push_back(us);
    }
  }
  double total = 0;
  for (double g : growth) total += g;
  std::printf("records %lu of %ld asked; block %lu bytes\n", (unsigned long)gApp.eventCursor,
              records, (unsigned long)BlockSize(gApp.recordingBuffer));
  std::printf("plain ticks %zu: median %.1f us, p99 %.1f us, max %.1f us\n", plain.size(),
              Percentile(plain, 50), Percentile(plain, 99),
              plain.empty() ? 0.0 : *std::max_element(plain.begin(), plain.end()));
  std::printf(
      "growth ticks %zu: median %.1f us, p99 %.1f us, max %.1f us (growing to %lu bytes), all "
      "together %.1f ms; the block moved %d times\n",
      growth.size(), Percentile(growth, 50), Percentile(growth, 99), worst,
      (unsigned long)worstSize, total / 1000, moves);
  // The memory alone: the same growth, from the reservation to the hour's
  // block, on a block of its own, each ResizeBlock timed by itself.
  std::vector<double> steps;
  void* block = nullptr;
  DWORD step = 22000;
  for (DWORD size = step; size <= BlockSize(gApp.recordingBuffer); size += 20000) {
    auto t0 = std::chrono::steady_clock::now();
    void* grown = ResizeBlock(block, size);
    auto t1 = std::chrono::steady_clock::now();
    if (!grown) break;
    block = grown;
    steps.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  FreeBlock(block);
  std::printf(
      "memory alone, %zu growths: the first (reserving) %.1f us, median %.1f us, p99 %.1f us, "
      "max %.1f us\n",
      steps.size(), steps.empty() ? 0.0 : steps[0], Percentile(steps, 50), Percentile(steps, 99),
      steps.empty() ? 0.0 : *std::max_element(steps.begin(), steps.end()));
  OnRecordCommand();  // stops
  DestroyWindow(gApp.mainWindow);
  return gApp.eventCursor >= (DWORD)records ? 0 : 2;  // and the move the start records
}
