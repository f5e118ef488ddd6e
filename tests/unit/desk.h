// The fixture every suite of the program's behaviour starts from: a fresh
// simulated desktop, the initial program state, drive C: on a temporary
// folder, and helpers to drive commands and look at the result.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/startup.h"
#include "core/buffer.h"
#include "core/state.h"
#include "files/recfile.h"
#include "format/player.h"
#include "sim/sim.h"

class Desk : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    gApp = AppState{};
    InitialSettings();
    gStubSlot[1] = kUnstampedSize;
    char tmpl[] = "/tmp/kavorin-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    folder_ = tmpl;
    sim::MapDrive('C', folder_);
    sim::SetModulePath("C:\\Kavorin.exe");
    WriteBytes("Kavorin.exe", std::vector<unsigned char>(StubImageSize(), 'M'));
  }
  void TearDown() override {
    ExpectNothingLeft();
    std::string command = "rm -rf '" + folder_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  // Closes what is still open, as the user would, and then nothing may be
  // left: no block of memory, file handle, GDI object, cursor or menu, and no
  // handle closed or block freed that was not ours.
  void ExpectNothingLeft() {
    EXPECT_FALSE(sim::LoopGuardTripped());
    for (win::HWND window : sim::Windows()) win::DestroyWindow(window);
    EXPECT_EQ(sim::LiveBlocks(), 0) << "blocks of memory leaked";
    EXPECT_EQ(sim::OpenFiles(), 0) << "file handles leaked";
    EXPECT_EQ(sim::LiveBitmaps(), 0) << "bitmaps leaked";
    EXPECT_EQ(sim::LiveDCs(), 0) << "device contexts leaked";
    EXPECT_EQ(sim::LiveCursors(), 0) << "cursors leaked";
    EXPECT_EQ(sim::LiveMenus(), 0) << "menus leaked";
    EXPECT_EQ(sim::InstalledHooks(), 0) << "input hooks left installed";
    EXPECT_EQ(sim::BadUnhooks(), 0) << "hooks removed that were not installed";
    EXPECT_EQ(sim::BadCloses(), 0) << "handles closed that were not open";
    EXPECT_EQ(sim::BadFrees(), 0) << "blocks freed that were not allocated";
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
  // Makes these records the recording, as a load would.
  void Use(const std::vector<EventRecord>& records) {
    if (gApp.recordingBuffer) FreeBlock(gApp.recordingBuffer);
    win::DWORD bytes = (win::DWORD)records.size() * kRecordSize;
    gApp.recordingBuffer = (EventRecord*)AllocZeroed(bytes + kLoadSlack, 1);
    if (bytes) std::memcpy(gApp.recordingBuffer, records.data(), bytes);
    gApp.eventCursor = gApp.eventCount = (win::DWORD)records.size();
  }

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
  bool Exists(const std::string& name) const { return std::ifstream(Host(name)).good(); }
  // The names in drive C:'s top folder (or a folder below it).
  std::set<std::string> Listing(const std::string& sub = "") const {
    std::set<std::string> names;
    if (DIR* d = opendir(Host(sub).c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
          names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }

  std::string folder_;
};

// The desk with the main window created, as at start-up.
class WindowDesk : public Desk {
 protected:
  void SetUp() override {
    Desk::SetUp();
    main_ = OpenWindow();
  }
  // Plays until the series is over (the busy bit clears) or 'limit' ms pass.
  void PlayAll(win::DWORD limit = 60000) {
    sim::ClearInputs();
    Command(kCmdPlay);
    for (win::DWORD t = 0; t < limit && (gApp.statusFlags & kBusy); t += 5) sim::Advance(5);
  }
  // The synthetic input of one kind since the inputs were last cleared.
  std::vector<sim::Input> Sent(sim::Input::Kind kind) const {
    std::vector<sim::Input> out;
    for (const sim::Input& in : sim::Inputs())
      if (in.kind == kind) out.push_back(in);
    return out;
  }
  win::HWND main_ = nullptr;
};

// Records as bytes, the way a .rec file holds them.
inline std::vector<unsigned char> Bytes(const std::vector<EventRecord>& records) {
  std::vector<unsigned char> out(records.size() * sizeof(EventRecord));
  if (!records.empty()) std::memcpy(out.data(), records.data(), out.size());
  return out;
}
// The user presses keys in turn (down) or lets go of them in reverse (!down).
inline void UserKeys(std::vector<int> keys, bool down) {
  for (size_t i = 0; i < keys.size(); ++i)
    sim::UserKey(keys[down ? i : keys.size() - 1 - i], 1, false, down);
}
const std::vector<int> kRecordHotkey = {0xA2, 0xA4, 0xA0, 0x75},
                       kPlayHotkey = {0xA2, 0xA4, 0xA0, 0x74};
inline EventRecord Move(win::DWORD x, win::DWORD y, win::DWORD time = 0) {
  return {0x200, x, y, time, 0};
}
inline EventRecord Key(win::DWORD message, win::DWORD vk, win::DWORD time = 0) {
  return {message, vk, 0, time, 0};
}
inline EventRecord Button(win::DWORD message, win::DWORD time = 0) {
  return {message, 10, 10, time, 0};
}
inline EventRecord At(win::DWORD message, win::DWORD x, win::DWORD y, win::DWORD time = 0) {
  return {message, x, y, time, 0};
}
