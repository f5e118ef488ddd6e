// Self-tests of the simulated desktop's trickier mechanics: nested modal
// loops that deliver timers, timer replacement, the asynchronous
// pressed-since bit, and BitBlt's colour conversions.
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/resource.h"

using namespace win;

namespace {

struct Seen {
  std::vector<UINT_PTR> timers;  // WM_TIMER ids in order
  std::vector<DWORD> times;      // timeGetTime at each
  std::vector<UINT> commands;    // WM_COMMAND ids
  int childDestroyed = 0;
};
Seen gSeen;

LRESULT CALLBACK TestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    gSeen.timers.push_back(wParam);
    gSeen.times.push_back(timeGetTime());
  }
  if (message == WM_COMMAND) gSeen.commands.push_back(LOWORD(wParam));
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) ++gSeen.childDestroyed;
  WNDPROC old = (WNDPROC)(uintptr_t)GetWindowLongPtrA(window, GWLP_USERDATA);
  return CallWindowProcA(old, window, message, wParam, lParam);
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
  ((std::vector<HWND>*)list)->push_back(window);
  return TRUE;
}

// The top-level windows of our thread, top of the z-order first.
std::vector<HWND> OurTopLevelWindows() {
  std::vector<HWND> found;
  EnumThreadWindows(GetCurrentThreadId(), Collect, (LPARAM)&found);
  return found;
}

class Sim : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    gSeen = Seen{};
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = TestProc;
    cls.hbrBackground = (HBRUSH)(uintptr_t)(COLOR_BTNFACE + 1);
    cls.lpszClassName = "SimTest";
    ASSERT_NE(RegisterClassExA(&cls), 0);
    // The main window's geometry: a 131 x 26 client area under a small caption.
    main_ = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "SimTest", "Main",
                            WS_POPUPWINDOW | WS_CAPTION, 10, 20, 2 * 3 + 131, 2 * 3 + 17 + 26,
                            nullptr, nullptr, sim::ModuleHandle(), nullptr);
    ASSERT_NE(main_, nullptr);
  }
  void TearDown() override { EXPECT_FALSE(sim::LoopGuardTripped()); }
  HWND main_ = nullptr;
};

TEST_F(Sim, ModalBoxLoopDeliversTimersAndPostedCommandsAndDestroysChildrenFirst) {
  RECT client;
  ASSERT_TRUE(GetClientRect(main_, &client));
  EXPECT_EQ(client.right, 131);
  EXPECT_EQ(client.bottom, 26);

  ASSERT_EQ(SetTimer(main_, 1004, 10, nullptr), 1004u);
  HWND edit = nullptr;
  sim::PushBox([&](sim::BoxInfo& box) {
    EXPECT_EQ(OurTopLevelWindows(), (std::vector<HWND>{box.window, main_}));
    RECT rc;
    EXPECT_TRUE(GetClientRect(box.window, &rc));
    EXPECT_EQ(rc.right, 300);
    edit = CreateWindowExA(0, "EDIT", "1", WS_CHILD | WS_VISIBLE | ES_NUMBER, 75, 60,
                           rc.right - 150, 20, box.window, nullptr, nullptr, nullptr);
    EXPECT_NE(edit, nullptr);
    SetWindowLongPtrA(edit, GWLP_USERDATA, GetWindowLongPtrA(edit, GWLP_WNDPROC));
    SetWindowLongPtrA(edit, GWLP_WNDPROC, (LONG_PTR)(uintptr_t)ChildProc);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    sim::Type(edit, "2x5");  // ES_NUMBER refuses the x; typing replaces the selection
    PostMessageA(main_, WM_COMMAND, 0x800f, 1);
    sim::Advance(50);  // the box's modal loop runs for 50 ms
    EXPECT_EQ(gSeen.childDestroyed, 0);
    return IDCANCEL;
  });
  EXPECT_EQ(MessageBoxA(main_, "Number of Playback Loops:", "Playback Repeats",
                        MB_OKCANCEL | MB_ICONQUESTION | MB_TOPMOST),
            IDCANCEL);
  // Delivered inside the box: the command at once, then a tick every 10 ms.
  EXPECT_EQ(gSeen.commands, std::vector<UINT>{0x800f});
  EXPECT_EQ(gSeen.times, (std::vector<DWORD>{10, 20, 30, 40, 50}));
  // The box's window, and so its edit, were destroyed before it returned.
  EXPECT_EQ(gSeen.childDestroyed, 1);
  EXPECT_FALSE(IsWindow(edit));
  EXPECT_EQ(sim::Window(edit)->title, "25");
  ASSERT_EQ(sim::Boxes().size(), 1u);
  const sim::BoxInfo& box = sim::Boxes()[0];
  EXPECT_EQ(box.caption, "Playback Repeats");
  EXPECT_EQ(box.style, 0x40021u);
  EXPECT_EQ(box.result, IDCANCEL);
  EXPECT_EQ(OurTopLevelWindows(), std::vector<HWND>{main_});

  // Without a script a box answers IDOK at once; a NULL caption is kept as NULL.
  EXPECT_EQ(MessageBoxA(nullptr, "Kavorin Run Failure", nullptr, MB_ICONWARNING), IDOK);
  EXPECT_EQ(sim::Boxes()[1].caption, std::nullopt);
  EXPECT_EQ(gSeen.times.size(), 5u);
}

TEST_F(Sim, TimersReplaceOnSetAndKillReportsAbsence) {
  EXPECT_FALSE(KillTimer(main_, 1001));
  SetTimer(main_, 1001, 10, nullptr);
  sim::Advance(7);
  // Re-setting the same id restarts its period from now (as IsRecording does).
  SetTimer(main_, 1001, 10, nullptr);
  EXPECT_EQ(sim::TimerDue(main_, 1001), 17u);
  sim::Advance(13);
  EXPECT_EQ(gSeen.times, std::vector<DWORD>{17});
  EXPECT_TRUE(KillTimer(main_, 1001));
  EXPECT_FALSE(sim::TimerExists(main_, 1001));
  EXPECT_FALSE(KillTimer(main_, 1001));
  sim::Advance(100);
  EXPECT_EQ(gSeen.times.size(), 1u);

  // A period below the platform minimum is asked for but delivered at 10 ms.
  SetTimer(main_, 1002, 1, nullptr);
  EXPECT_EQ(sim::TimerPeriod(main_, 1002), 1u);
  sim::Advance(25);
  EXPECT_EQ(gSeen.times, (std::vector<DWORD>{17, 130, 140}));

  // GetMessageA waits for the next timer, then gives up when nothing can come.
  KillTimer(main_, 1002);
  SetTimer(main_, 1003, 500, nullptr);
  MSG msg;
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.wParam, 1003u);
  EXPECT_EQ(timeGetTime(), 645u);
  KillTimer(main_, 1003);
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
  EXPECT_TRUE(sim::Stalled());

  // Destroying the window kills its timers and drops its queued messages.
  SetTimer(main_, 1001, 10, nullptr);
  PostMessageA(main_, WM_COMMAND, 0x8002, 0);
  DestroyWindow(main_);
  EXPECT_FALSE(sim::TimerExists(main_, 1001));
  EXPECT_TRUE(sim::Queue().empty());
}

TEST_F(Sim, AsyncPressedSinceBitIsClearedByTheQuery) {
  // A press and release between two samples leaves only the pressed-since bit.
  sim::Tap(VK_PAUSE);
  EXPECT_EQ(GetKeyState(VK_PAUSE) & 0x8000, 0);
  EXPECT_EQ(GetAsyncKeyState(VK_PAUSE), 1);
  EXPECT_EQ(GetAsyncKeyState(VK_PAUSE), 0);

  sim::SetKeyDown('A', true);
  EXPECT_NE(GetKeyState('A') & 0x8000, 0);
  EXPECT_LT(GetKeyState('A'), 0);
  EXPECT_EQ((unsigned short)GetAsyncKeyState('A'), 0x8001);
  EXPECT_EQ((unsigned short)GetAsyncKeyState('A'), 0x8000);

  // SetKeyboardState changes the thread's view only.
  BYTE zeros[256] = {};
  sim::SetToggle(VK_CAPITAL, true);
  SetKeyboardState(zeros);
  EXPECT_EQ(GetKeyState('A'), 0);
  EXPECT_EQ(GetKeyState(VK_CAPITAL), 0);
  EXPECT_NE(GetAsyncKeyState('A') & 0x8000, 0);
  EXPECT_TRUE(sim::LockOn(VK_CAPITAL));

  // A synthetic key-up releases the key (feedback on) and is logged.
  keybd_event('A', (BYTE)MapVirtualKeyA('A', 0), KEYEVENTF_KEYUP, 0);
  EXPECT_FALSE(sim::KeyDown('A'));
  ASSERT_EQ(sim::Inputs().size(), 2u);
  EXPECT_EQ(sim::Inputs()[0].kind, sim::Input::KeyboardState);
  EXPECT_EQ(sim::Inputs()[1].kind, sim::Input::Key);
  EXPECT_EQ(sim::Inputs()[1].scan, 0x1E);

  // Caps Lock toggles on each press.
  sim::Tap(VK_CAPITAL);
  EXPECT_FALSE(sim::LockOn(VK_CAPITAL));
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 0);
  sim::Tap(VK_CAPITAL);
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1);
}

TEST_F(Sim, BitBltConvertsBetweenColourAndMonoLikeWindows) {
  const COLORREF key = RGB(240, 240, 240), red = RGB(255, 0, 0), blue = RGB(0, 0, 255);
  sim::SetResourceBitmap(IDB_STRIP, 3, 1, {key, red, blue});
  HBITMAP strip = (HBITMAP)LoadImageA(sim::ModuleHandle(), MAKEINTRESOURCEA(IDB_STRIP),
                                      IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR);
  ASSERT_NE(strip, nullptr);

  // Colour -> mono: 1 where the source equals the SOURCE DC's background colour.
  HDC colour = CreateCompatibleDC(nullptr), mono = CreateCompatibleDC(nullptr);
  HGDIOBJ oldColour = SelectObject(colour, strip);
  HBITMAP mask = CreateBitmap(3, 1, 1, 1, nullptr);
  HGDIOBJ oldMono = SelectObject(mono, mask);
  EXPECT_EQ(GetPixel(colour, 0, 0), key);
  SetBkColor(colour, key);
  ASSERT_TRUE(BitBlt(mono, 0, 0, 3, 1, colour, 0, 0, SRCCOPY));
  EXPECT_EQ(sim::BitmapPixel(mask, 0, 0), 1u);
  EXPECT_EQ(sim::BitmapPixel(mask, 1, 0), 0u);
  EXPECT_EQ(sim::BitmapPixel(mask, 2, 0), 0u);
  EXPECT_EQ(GetPixel(mono, 0, 0), RGB(255, 255, 255));

  // Mono -> colour: 1 gives the DESTINATION DC's background colour (here the
  // key colour set above), 0 its text colour (black by default): SRCINVERT
  // turns the key pixels black and leaves the others.
  ASSERT_TRUE(BitBlt(colour, 0, 0, 3, 1, mono, 0, 0, SRCINVERT));
  EXPECT_EQ(sim::BitmapPixel(strip, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(sim::BitmapPixel(strip, 1, 0), red);

  // A bitmap selected into a DC cannot be deleted, nor selected elsewhere.
  EXPECT_FALSE(DeleteObject(strip));
  HDC other = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(other, strip), nullptr);
  EXPECT_TRUE(DeleteDC(other));
  SelectObject(colour, oldColour);
  SelectObject(mono, oldMono);
  EXPECT_TRUE(DeleteDC(colour));
  EXPECT_TRUE(DeleteDC(mono));
  EXPECT_EQ(sim::DCsDeletedWithSelection(), 0);

  // The transparent draw of the toolbar onto a button-face surface: SRCAND
  // with the mask, then SRCPAINT with the blackened strip.
  ShowWindow(main_, SW_SHOW);
  PAINTSTRUCT ps;
  HDC paint = BeginPaint(main_, &ps);
  ASSERT_NE(paint, nullptr);
  HDC memory = CreateCompatibleDC(paint);
  HGDIOBJ old = SelectObject(memory, mask);
  BitBlt(paint, 5, 5, 3, 1, memory, 0, 0, SRCAND);
  SelectObject(memory, strip);
  BitBlt(paint, 5, 5, 3, 1, memory, 0, 0, SRCPAINT);
  SelectObject(memory, old);
  DeleteDC(memory);
  EndPaint(main_, &ps);
  EXPECT_EQ(sim::SurfacePixel(main_, 5, 5), RGB(212, 208, 200));
  EXPECT_EQ(sim::SurfacePixel(main_, 6, 5), red);
  EXPECT_EQ(sim::SurfacePixel(main_, 7, 5), blue);
  EXPECT_EQ(sim::SurfacePixel(main_, 8, 5), RGB(212, 208, 200));
  EXPECT_EQ(sim::OpenPaints(), 0);
  EXPECT_TRUE(DeleteObject(strip));
  EXPECT_TRUE(DeleteObject(mask));
  EXPECT_EQ(sim::LiveBitmaps(), 0);
  EXPECT_EQ(sim::LiveDCs(), 0);
}

TEST(SimFormat, WsprintfFormatsLikeWindows) {
  char buffer[1100];
  EXPECT_EQ(wsprintfA(buffer, "%s: %d", "{Break} to end", 3), 17);
  EXPECT_STREQ(buffer, "{Break} to end: 3");
  wsprintfA(buffer, "%d|%u|%x|%X|%c|%%|%5d|%-4d|%05d|%s", -7, 4294967295u, 255, 255, 'k', 42, 1, -3,
            (const char*)nullptr);
  EXPECT_STREQ(buffer, "-7|4294967295|ff|FF|k|%|   42|1   |-0003|(null)");
  std::string big(2000, 'x');
  EXPECT_EQ(wsprintfA(buffer, "%s", big.c_str()), 1023);
  EXPECT_EQ(std::string(buffer).size(), 1023u);
}

}  // namespace
