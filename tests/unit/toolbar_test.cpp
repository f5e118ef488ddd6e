// The toolbar window: its images and transparency, the hand cursor, tips,
// clicks, keys and the release of everything at the end.
#include "app/toolbar.h"
#include "core/resource.h"
#include "desk.h"

using namespace win;

namespace {

constexpr COLORREF kKey = RGB(240, 240, 240);

// A strip whose image k is filled with colour k+1 except a key-coloured
// border, so that each button's drawing can be told apart.
std::vector<COLORREF> Strip() {
  std::vector<COLORREF> px(112 * 16, kKey);
  for (int k = 0; k < 7; ++k)
    for (int y = 2; y < 14; ++y)
      for (int x = 2; x < 14; ++x) px[y * 112 + 16 * k + x] = RGB(10 * (k + 1), 0, 200);
  return px;
}

class Toolbar : public Desk {
 protected:
  void SetUp() override {
    Desk::SetUp();
    sim::SetResourceBitmap(IDB_STRIP, 112, 16, Strip());
    main_ = OpenWindow();
    ShowWindow(main_, SW_SHOW);
  }
  void Move(int x, int y = 10) { SendMessageA(main_, WM_MOUSEMOVE, 0, MAKE(x, y)); }
  static LPARAM MAKE(int x, int y) { return (LPARAM)((y << 16) | (x & 0xFFFF)); }
  HWND main_;
};

TEST_F(Toolbar, CreationMakesTheHandCursorFromItsPlanes) {
  ASSERT_EQ(sim::CreatedCursors().size(), 1u);
  const sim::CreatedCursor& c = sim::CreatedCursors()[0];
  EXPECT_EQ(c.hotX, 5);
  EXPECT_EQ(c.hotY, 0);
  EXPECT_EQ(c.width, 32);
  EXPECT_EQ(c.height, 32);
  EXPECT_EQ(c.instance, sim::ModuleHandle());
  ASSERT_EQ(c.andPlane.size(), 128u);
  const BYTE and0[4] = {0xF9, 0xFF, 0xFF, 0xFF}, and9[4] = {0x10, 0x00, 0x7F, 0xFF};
  const BYTE xor10[4] = {0x67, 0xFB, 0, 0}, xor20[4] = {0x03, 0xFC, 0, 0};
  EXPECT_EQ(std::memcmp(&c.andPlane[0], and0, 4), 0);
  EXPECT_EQ(std::memcmp(&c.andPlane[36], and9, 4), 0);
  EXPECT_EQ(std::memcmp(&c.xorPlane[40], xor10, 4), 0);
  EXPECT_EQ(std::memcmp(&c.xorPlane[80], xor20, 4), 0);
  for (int i = 88; i < 128; ++i) EXPECT_EQ(c.andPlane[i], 0xFF) << i;
  for (int i = 84; i < 128; ++i) EXPECT_EQ(c.xorPlane[i], 0) << i;
  // No pixel has both bits set.
  for (int i = 0; i < 128; ++i) EXPECT_EQ(c.andPlane[i] & c.xorPlane[i], 0) << i;
  EXPECT_EQ(gApp.handCursor, c.handle);
  ASSERT_FALSE(sim::LoadImages().empty());
  EXPECT_EQ(sim::LoadImages()[0].id, (unsigned)IDB_STRIP);
  EXPECT_EQ(sim::LoadImages()[0].type, IMAGE_BITMAP);
}

TEST_F(Toolbar, TransparencyMaskMarksTheKeyAndBlackensIt) {
  sim::SetResourceBitmap(7, 3, 2, {kKey, RGB(1, 2, 3), kKey, RGB(255, 255, 255), 0, kKey});
  HBITMAP bmp =
      (HBITMAP)LoadImageA(sim::ModuleHandle(), MAKEINTRESOURCEA(7), IMAGE_BITMAP, 0, 0, 0);
  int dcs = sim::LiveDCs();
  HBITMAP mask = MakeTransparencyMask(bmp, 0);
  ASSERT_NE(mask, nullptr);
  EXPECT_TRUE(sim::BitmapIsMono(mask));
  int want[6] = {1, 0, 1, 0, 0, 1};
  COLORREF colour[6] = {0, RGB(1, 2, 3), 0, RGB(255, 255, 255), 0, 0};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(sim::BitmapPixel(mask, i % 3, i / 3), (COLORREF)want[i]) << i;
    EXPECT_EQ(sim::BitmapPixel(bmp, i % 3, i / 3), colour[i]) << i;
  }
  EXPECT_EQ(sim::LiveDCs(), dcs);
  EXPECT_EQ(sim::DCsDeletedWithSelection(), 0);
  EXPECT_EQ(MakeTransparencyMask(nullptr, 0), nullptr);
  // A named key colour wins over the corner pixel.
  HBITMAP white = MakeTransparencyMask(bmp, RGB(255, 255, 255));
  EXPECT_EQ(sim::BitmapPixel(white, 0, 1), 1u);
  EXPECT_EQ(sim::BitmapPixel(white, 1, 0), 0u);
  for (HBITMAP made : {bmp, mask, white}) EXPECT_TRUE(DeleteObject(made));
}

TEST_F(Toolbar, PaintDrawsSixButtonsWithTheBackgroundShowingThrough) {
  UpdateWindow(main_);
  COLORREF face = sim::SurfacePixel(main_, 0, 0);
  for (int i = 0; i < 6; ++i) {
    int x = 21 * i + 5;
    EXPECT_EQ(sim::SurfacePixel(main_, x + 8, 13), RGB(10 * (i + 1), 0, 200)) << i;
    EXPECT_EQ(sim::SurfacePixel(main_, x, 5), face) << i;  // key colour: background
    EXPECT_EQ(sim::SurfacePixel(main_, x + 15, 20), face) << i;
  }
  EXPECT_EQ(sim::DCsDeletedWithSelection(), 0);
  EXPECT_EQ(sim::OpenPaints(), 0);
}

TEST_F(Toolbar, RecordShowsRedWhileRecordingAndKeepsItsTimer) {
  Command(kCmdRecord);
  sim::Advance(3);
  UpdateWindow(main_);
  EXPECT_EQ(sim::SurfacePixel(main_, 47 + 8, 13), RGB(70, 0, 200));  // image 6
  EXPECT_TRUE(sim::TimerExists(main_, kTimerRecord));
  EXPECT_EQ(sim::TimerPeriod(main_, kTimerRecord), 10u);
  Command(kCmdRecord);
  UpdateWindow(main_);
  EXPECT_EQ(sim::SurfacePixel(main_, 47 + 8, 13), RGB(30, 0, 200));  // image 2
}

TEST_F(Toolbar, TipsShowOnlyWhenTheFlagsAreExactlyOne) {
  Move(30);
  EXPECT_EQ(Title(), "Kavorin: Save");
  Move(120);
  EXPECT_EQ(Title(), "Kavorin: Options");
  Move(50);
  EXPECT_EQ(Title(), "Kavorin: Record (Ctrl+Alt+Shift+F6)");
  Move(70);
  EXPECT_EQ(Title(), "Kavorin: Play (F5, Ctrl+Alt+Shift+F5)");
  size_t titles = sim::Window(main_)->titles.size();
  Move(71);
  EXPECT_EQ(sim::Window(main_)->titles.size(), titles + 1);  // set on every move
  SetWindowTextA(main_, "unchanged");
  for (BYTE flags : {0, 2, 3}) {
    gApp.statusFlags = flags;
    int shown = sim::SetCursorCalls();
    Move(30);
    EXPECT_EQ(Title(), "unchanged") << (int)flags;
    EXPECT_EQ(sim::SetCursorCalls(), shown + 1);
    EXPECT_EQ(sim::ShownCursor(), gApp.handCursor);
  }
}

TEST_F(Toolbar, APressRaisesTheButtonsCommand) {
  struct Case {
    int x;
    UINT id;
  } cases[] = {{0, kCmdOpen},  {22, kCmdOpen},     {23, kCmdSave},    {50, kCmdRecord},
               {70, kCmdPlay}, {100, kCmdCompile}, {130, kCmdOptions}};
  gApp.statusFlags = 0;  // regardless of the tips
  for (const Case& c : cases) {
    SendMessageA(main_, WM_LBUTTONDOWN, 0, MAKE(c.x, 2));
    std::vector<MSG> q = sim::Queue();
    ASSERT_EQ(q.size(), 1u) << c.x;
    EXPECT_EQ(q[0].message, WM_COMMAND);
    EXPECT_EQ(q[0].wParam, c.id) << c.x;
    EXPECT_EQ(q[0].lParam, 0);
    MSG taken;
    GetMessageA(&taken, nullptr, 0, 0);  // take it without running the command
  }
}

TEST_F(Toolbar, FourKeysAndNoOthers) {
  struct Case {
    WPARAM key;
    UINT id;
  } cases[] = {
      {'O', kCmdOpen}, {VK_F5, kCmdPlay}, {VK_ESCAPE, kCmdToggleTips}, {VK_RETURN, kCmdOptions}};
  for (const Case& c : cases) {
    SendMessageA(main_, WM_KEYDOWN, c.key, 0);
    std::vector<MSG> q = sim::Queue();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].wParam, c.id);
    MSG taken;
    GetMessageA(&taken, nullptr, 0, 0);
  }
  for (WPARAM other : {WPARAM('P'), WPARAM('R'), WPARAM(0x75), WPARAM(0x20), WPARAM(0x6F)}) {
    SendMessageA(main_, WM_KEYDOWN, other, 0);
    EXPECT_TRUE(sim::Queue().empty()) << other;
  }
}

TEST_F(Toolbar, DestructionFreesEverythingInOrderAndEndsTheLoop) {
  gApp.recordingBuffer = (EventRecord*)ResizeBlock(nullptr, kMinBlock);
  HCURSOR cursor = gApp.handCursor;
  HBITMAP strip = gApp.stripBitmap, mask = gApp.stripMask;
  SendMessageA(main_, WM_CLOSE, 0, 0);
  EXPECT_FALSE(sim::Window(main_)->alive);
  EXPECT_EQ(gApp.recordingBuffer, nullptr);
  EXPECT_EQ(sim::LiveBlocks(), 0);
  EXPECT_EQ(sim::DestroyedCursors(), std::vector<HCURSOR>{cursor});
  std::vector<HGDIOBJ> deleted = sim::DeletedObjects();
  ASSERT_GE(deleted.size(), 2u);
  EXPECT_EQ(deleted[deleted.size() - 2], strip);
  EXPECT_EQ(deleted.back(), mask);
  EXPECT_EQ(sim::LiveBitmaps(), 0);
  EXPECT_TRUE(sim::QuitPosted());
  EXPECT_EQ(sim::QuitCode(), 0);
  EXPECT_EQ(sim::DefProcCount(main_, WM_DESTROY), 0);  // the one message not passed on
}

TEST_F(Toolbar, DestructionWithoutARecordingOrImages) {
  // As if creation had made none of them.
  DeleteObject(gApp.stripBitmap);
  DeleteObject(gApp.stripMask);
  DestroyCursor(gApp.handCursor);
  gApp.stripBitmap = gApp.stripMask = nullptr;
  gApp.handCursor = nullptr;
  size_t destroyed = sim::DestroyedCursors().size();
  DestroyWindow(main_);
  EXPECT_EQ(sim::DestroyedCursors().size(), destroyed);
  EXPECT_TRUE(sim::QuitPosted());
}

}  // namespace
