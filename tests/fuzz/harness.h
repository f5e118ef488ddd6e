// Shared set-up for the fuzz targets: a fresh simulated desktop and program
// state per input, drive C: on a folder in shared memory.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "app/startup.h"
#include "core/state.h"
#include "format/player.h"
#include "sim/sim.h"

inline const std::string& FuzzFolder() {
  static const std::string folder = [] {
    std::string f = "/dev/shm/kavorin-fuzz-" + std::to_string(getpid());
    std::string command = "mkdir -p '" + f + "'";
    if (system(command.c_str()) != 0) abort();
    return f;
  }();
  return folder;
}

inline void FreshDesktop() {
  sim::Reset();
  gApp = AppState{};
  InitialSettings();
  gStubSlot[1] = kUnstampedSize;
  sim::MapDrive('C', FuzzFolder());
  sim::SetModulePath("C:\\Kavorin.exe");
  if (!CreateMainWindow(sim::ModuleHandle())) abort();
}

inline void WriteHostFile(const std::string& name, const void* data, size_t size) {
  std::ofstream(FuzzFolder() + "/" + name, std::ios::binary | std::ios::trunc)
      .write((const char*)data, (std::streamsize)size);
}

// Runs the program's message loop until playback is over; aborts when it is
// not over after 'limit' messages (an endless playback).
inline void PlayToTheEnd(long limit) {
  PostCommand(kCmdPlay, 0);
  long n = 0;
  win::MSG msg;
  do {
    if (!win::GetMessageA(&msg, nullptr, 0, 0)) break;
    win::DispatchMessageA(&msg);
  } while ((gApp.statusFlags & kBusy) && ++n < limit);
  if (gApp.statusFlags & kBusy) abort();
}
