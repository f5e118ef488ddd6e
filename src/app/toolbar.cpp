#include "app/toolbar.h"

#include "core/resource.h"
#include "core/state.h"

using namespace win;

namespace {

const char* const kTips[6] = {
    "Open",    "Save",   "Record (Ctrl+Alt+Shift+F6)", "Play (F5, Ctrl+Alt+Shift+F5)",
    "Compile", "Options"};

// The hand: 32 x 32, hot spot at the tip of the raised finger (5, 0). Only
// the first four bytes of each row carry pixels; the rows below 21 are empty.
const BYTE kHandAnd[22][4] = {
    {0xF9, 0xFF, 0xFF, 0xFF}, {0xF0, 0xFF, 0xFF, 0xFF}, {0xF0, 0xFF, 0xFF, 0xFF},
    {0xF0, 0xFF, 0xFF, 0xFF}, {0xF0, 0xFF, 0xFF, 0xFF}, {0xF0, 0x3F, 0xFF, 0xFF},
    {0xF0, 0x07, 0xFF, 0xFF}, {0xF0, 0x01, 0xFF, 0xFF}, {0xF0, 0x00, 0xFF, 0xFF},
    {0x10, 0x00, 0x7F, 0xFF}, {0x00, 0x00, 0x7F, 0xFF}, {0x00, 0x00, 0x7F, 0xFF},
    {0x80, 0x00, 0x7F, 0xFF}, {0xC0, 0x00, 0x7F, 0xFF}, {0xC0, 0x00, 0x7F, 0xFF},
    {0xE0, 0x00, 0x7F, 0xFF}, {0xE0, 0x00, 0xFF, 0xFF}, {0xF0, 0x00, 0xFF, 0xFF},
    {0xF0, 0x00, 0xFF, 0xFF}, {0xF8, 0x01, 0xFF, 0xFF}, {0xF8, 0x01, 0xFF, 0xFF},
    {0xF8, 0x01, 0xFF, 0xFF}};
const BYTE kHandXor[21][2] = {{0x00, 0x00}, {0x06, 0x00}, {0x06, 0x00}, {0x06, 0x00}, {0x06, 0x00},
                              {0x06, 0x00}, {0x06, 0xC0}, {0x06, 0xD8}, {0x06, 0xDA}, {0x06, 0xDB},
                              {0x67, 0xFB}, {0x77, 0xFF}, {0x37, 0xFF}, {0x17, 0xFF}, {0x1F, 0xFF},
                              {0x0F, 0xFF}, {0x0F, 0xFE}, {0x07, 0xFE}, {0x07, 0xFE}, {0x03, 0xFC},
                              {0x03, 0xFC}};

HCURSOR MakeHandCursor(HINSTANCE module) {
  BYTE andPlane[128], xorPlane[128];
  for (int i = 0; i < 128; ++i) {
    int row = i / 4, col = i % 4;
    andPlane[i] = row < 22 ? kHandAnd[row][col] : 0xFF;
    xorPlane[i] = row < 21 && col < 2 ? kHandXor[row][col] : 0;
  }
  return CreateCursor(module, 5, 0, 32, 32, andPlane, xorPlane);
}

void DropBitmap(HBITMAP& bitmap) {
  if (bitmap) DeleteObject(bitmap);
  bitmap = nullptr;
}

}  // namespace

HBITMAP MakeTransparencyMask(HBITMAP bitmap, COLORREF keyColour) {
  if (!bitmap) return nullptr;
  HDC colour = CreateCompatibleDC(nullptr);
  HDC mono = CreateCompatibleDC(nullptr);
  HGDIOBJ oldColour = SelectObject(colour, bitmap);
  BITMAP info = {};
  GetObjectA(bitmap, sizeof info, &info);
  HBITMAP mask = CreateBitmap(info.bmWidth, info.bmHeight, 1, 1, nullptr);
  HGDIOBJ oldMono = SelectObject(mono, mask);
  if (!keyColour) keyColour = GetPixel(colour, 0, 0);
  SetBkColor(colour, keyColour);
  BitBlt(mono, 0, 0, info.bmWidth, info.bmHeight, colour, 0, 0, SRCCOPY);
  BitBlt(colour, 0, 0, info.bmWidth, info.bmHeight, mono, 0, 0, SRCINVERT);
  SelectObject(colour, oldColour);
  SelectObject(mono, oldMono);
  DeleteDC(colour);
  DeleteDC(mono);
  return mask;
}

int ButtonAt(LPARAM lParam) {
  int index = ((int)LOWORD((uintptr_t)lParam) - 2) / 21;
  return index < 0 ? 0 : index > 5 ? 5 : index;
}

void LoadToolbarImages() {
  HINSTANCE module = GetModuleHandleA(nullptr);
  gApp.handCursor = MakeHandCursor(module);
  gApp.stripBitmap =
      (HBITMAP)LoadImageA(module, MAKEINTRESOURCEA(IDB_STRIP), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR);
  gApp.stripMask = MakeTransparencyMask(gApp.stripBitmap, 0);
}

void PaintToolbar(HWND window) {
  bool recording = IsRecording();  // before anything else: it restarts the record timer
  PAINTSTRUCT ps;
  HDC screen = BeginPaint(window, &ps);
  HDC memory = CreateCompatibleDC(screen);
  for (int i = 0; i < 6; ++i) {
    int from = (i == 2 && recording) ? 96 : 16 * i;
    int x = 21 * i + 5;
    HGDIOBJ old = SelectObject(memory, gApp.stripMask);
    BitBlt(screen, x, 5, 16, 16, memory, from, 0, SRCAND);
    SelectObject(memory, old);
    old = SelectObject(memory, gApp.stripBitmap);
    BitBlt(screen, x, 5, 16, 16, memory, from, 0, SRCPAINT);
    SelectObject(memory, old);
  }
  DeleteDC(memory);
  EndPaint(window, &ps);
}

void ShowTip(LPARAM lParam) {
  SetCursor(gApp.handCursor);
  if (gApp.statusFlags == kTipsOn) {
    wsprintfA(gApp.pathBuffer, "Kavorin: %s", kTips[ButtonAt(lParam)]);
    SetTitle(gApp.pathBuffer);
  }
}

UINT KeyCommand(WPARAM key) {
  switch (key) {
    case 0x4F: return kCmdOpen;  // O
    case VK_F5: return kCmdPlay;
    case VK_ESCAPE: return kCmdToggleTips;
    case VK_RETURN: return kCmdOptions;
    default: return 0;
  }
}

void FreeToolbarImages() {
  if (gApp.handCursor) {
    DestroyCursor(gApp.handCursor);
    gApp.handCursor = nullptr;
  }
  DropBitmap(gApp.stripBitmap);
  DropBitmap(gApp.stripMask);
}
