// The fixture every suite of the program's behaviour starts from: a fresh
// simulated desktop, the initial program state, drive C: on a temporary
// folder, and helpers to drive commands and look at the result.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/startup.h"
#include "core/state.h"
#include "core/buffer.h"
#include "sim/sim.h"

class Desk : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    gApp = AppState{};
    gStubSlot[1] = kUnstampedImageSize;
    char tmpl[] = "/tmp/kavorin-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    folder_ = tmpl;
    sim::MapDrive('C', folder_);
    sim::SetModulePath("C:\\Kavorin.exe");
    WriteBytes("Kavorin.exe", std::vector<unsigned char>(StubImageSize(), 'M'));
  }
  void TearDown() override {
    EXPECT_FALSE(sim::LoopGuardTripped());
    std::string command = "rm -rf '" + folder_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  // The main window, created as at start-up (no message loop).
  win::HWND OpenWindow() {
    EXPECT_TRUE(CreateMainWindow(sim::ModuleHandle()));
    return gApp.mainWindow;
  }
  void Command(win::UINT id, win::LPARAM lParam = 0) {
    PostCommand(id, lParam);
    sim::Pump();
  }
  std::string Title() const { return sim::Window(gApp.mainWindow)->title; }

  // Files on drive C: (a host folder of this test).
  std::string Host(const std::string& name) const { return folder_ + "/" + name; }
  std::string WriteBytes(const std::string& name, const std::vector<unsigned char>& bytes) {
    std::ofstream(Host(name), std::ios::binary)
        .write((const char*)bytes.data(), (std::streamsize)bytes.size());
    return "C:\\" + name;
  }
  std::vector<unsigned char> ReadBytes(const std::string& name) const {
    std::ifstream in(Host(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool Exists(const std::string& name) const {
    return std::ifstream(Host(name)).good();
  }

  std::string folder_;
};

// Records as bytes, the way a .rec file holds them.
inline std::vector<unsigned char> Bytes(const std::vector<EventRecord>& records) {
  std::vector<unsigned char> out(records.size() * sizeof(EventRecord));
  if (!records.empty()) std::memcpy(out.data(), records.data(), out.size());
  return out;
}
inline EventRecord Move(win::DWORD x, win::DWORD y, win::DWORD time = 0) {
  return {0x200, x, y, time, 0};
}
inline EventRecord Key(win::DWORD message, win::DWORD vk, win::DWORD time = 0) {
  return {message, vk, 0, time, 0};
}
inline EventRecord Button(win::DWORD message, win::DWORD time = 0) {
  return {message, 10, 10, time, 0};
}
