// Simulated desktop, GDI side: bitmaps, memory and paint DCs, blits,
// painting, bitmap resources and stock objects.
#include <algorithm>
#include <cstring>
#include <map>

#include "sim/sim.h"

namespace sim {
namespace {

using namespace win;

constexpr COLORREF kInvalidColour = 0xFFFFFFFF;
constexpr int kOpaque = 2;
constexpr uintptr_t kStockBase = 0x00F00000;
constexpr int kStockCount = 20;  // WHITE_BRUSH (0) ... DC_PEN (19); 9 is unused
constexpr int kSystemFont = 13;
constexpr int kWhiteBrush = 0;
constexpr int kBlackPen = 7;
constexpr UINT kDtCalcRect = 0x0400;
constexpr UINT kLrLoadFromFile = 0x0010;

struct Bitmap {
  int w = 0, h = 0;
  bool mono = false;
  std::vector<uint32_t> px;  // colour: COLORREF; mono: 0 or 1
  bool deleted = false;
  bool stock = false;
  HDC selectedIn = nullptr;
};

struct DC {
  bool paint = false;
  HWND window = nullptr;
  HGDIOBJ bitmap = nullptr;
  COLORREF bk = RGB(255, 255, 255);
  COLORREF text = RGB(0, 0, 0);
  int mode = kOpaque;
  HGDIOBJ font = nullptr, brush = nullptr, pen = nullptr;
  bool deleted = false;
};

HGDIOBJ Stock(int index) { return (HGDIOBJ)(kStockBase + (uintptr_t)index * 0x10); }

int StockIndex(HGDIOBJ object) {
  uintptr_t v = (uintptr_t)object;
  if (v < kStockBase || v >= kStockBase + kStockCount * 0x10 || (v - kStockBase) % 0x10) return -1;
  int index = (int)((v - kStockBase) / 0x10);
  return index == 9 ? -1 : index;
}

bool IsStockFont(int i) { return (i >= 10 && i <= 14) || i == 16 || i == 17; }
bool IsStockBrush(int i) { return (i >= 0 && i <= 5) || i == 18; }
bool IsStockPen(int i) { return (i >= 6 && i <= 8) || i == 19; }

struct Gdi {
  std::map<void*, Bitmap> bitmaps;
  std::map<void*, DC> dcs;
  HGDIOBJ defaultBitmap = (HGDIOBJ)(kStockBase + 0x400);
  COLORREF buttonFace = RGB(212, 208, 200);
  std::map<UINT, Bitmap> resources;
  std::vector<DeleteDCCall> deletedDCs;
  std::vector<HGDIOBJ> deletedObjects;
  int deleteWhileSelected = 0;
  std::vector<DrawTextCall> drawTexts;
  std::vector<BlitCall> blits;
  std::vector<LoadImageCall> loadImages;
  Gdi() {
    Bitmap b;
    b.w = b.h = 1;
    b.mono = true;
    b.px.assign(1, 0);
    b.stock = true;
    bitmaps[defaultBitmap] = b;
  }
};

Gdi& G() {
  static Gdi gdi;
  return gdi;
}

Bitmap* LiveBitmap(HGDIOBJ object) {
  auto it = G().bitmaps.find(object);
  if (it == G().bitmaps.end() || it->second.deleted) return nullptr;
  return &it->second;
}

DC* LiveDC(HDC dc) {
  auto it = G().dcs.find(dc);
  if (it == G().dcs.end() || it->second.deleted) return nullptr;
  return &it->second;
}

struct Target {
  int w = 0, h = 0;
  bool mono = false;
  uint32_t* px = nullptr;
};

bool TargetOf(HDC dc, Target* t) {
  DC* d = LiveDC(dc);
  if (!d) return false;
  if (d->paint) {
    WindowInfo* w = detail::LiveWindow(d->window);
    if (!w) return false;
    *t = Target{w->clientWidth, w->clientHeight, false, w->surface.data()};
    return true;
  }
  Bitmap* b = LiveBitmap(d->bitmap);
  if (!b) return false;
  *t = Target{b->w, b->h, b->mono, b->px.data()};
  return true;
}

HDC NewDC(bool paint, HWND window) {
  HDC h = (HDC)detail::NewHandle();
  DC d;
  d.paint = paint;
  d.window = window;
  d.bitmap = paint ? nullptr : G().defaultBitmap;
  d.font = Stock(kSystemFont);
  d.brush = Stock(kWhiteBrush);
  d.pen = Stock(kBlackPen);
  G().dcs[h] = d;
  return h;
}

HBITMAP NewBitmap(Bitmap b) {
  HBITMAP h = (HBITMAP)detail::NewHandle();
  G().bitmaps[h] = std::move(b);
  return h;
}

}  // namespace

namespace detail {
void ResetGdi() { G() = Gdi{}; }

bool BrushColour(HBRUSH brush, COLORREF* colour) {
  uintptr_t v = (uintptr_t)brush;
  if (v >= 1 && v <= 31) {  // COLOR_x + 1
    switch ((int)v - 1) {
      case COLOR_BTNFACE:
        *colour = G().buttonFace;
        break;
      case 16:  // COLOR_BTNSHADOW
        *colour = RGB(128, 128, 128);
        break;
      case 8:   // COLOR_WINDOWTEXT
      case 18:  // COLOR_BTNTEXT
        *colour = RGB(0, 0, 0);
        break;
      default:
        *colour = RGB(255, 255, 255);
    }
    return true;
  }
  int i = StockIndex((HGDIOBJ)brush);
  static const COLORREF kStockBrush[] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128),
                                         RGB(64, 64, 64), RGB(0, 0, 0)};
  if (i >= 0 && i <= 4) {
    *colour = kStockBrush[i];
    return true;
  }
  if (i == 18) {  // DC_BRUSH, white by default
    *colour = RGB(255, 255, 255);
    return true;
  }
  return false;  // NULL_BRUSH, none, or unknown: no erase
}
}  // namespace detail

void SetButtonFace(COLORREF colour) { G().buttonFace = colour; }

void SetResourceBitmap(UINT id, int width, int height, const std::vector<COLORREF>& pixels) {
  Bitmap b;
  b.w = width;
  b.h = height;
  b.px.assign(pixels.begin(), pixels.end());
  b.px.resize((size_t)std::max(0, width) * (size_t)std::max(0, height), RGB(0, 0, 0));
  G().resources[id] = b;
}

bool IsBitmap(HGDIOBJ object) { return LiveBitmap(object) != nullptr; }
bool BitmapIsMono(HBITMAP bitmap) {
  Bitmap* b = LiveBitmap(bitmap);
  return b && b->mono;
}
int BitmapWidth(HBITMAP bitmap) {
  Bitmap* b = LiveBitmap(bitmap);
  return b ? b->w : 0;
}
int BitmapHeight(HBITMAP bitmap) {
  Bitmap* b = LiveBitmap(bitmap);
  return b ? b->h : 0;
}
COLORREF BitmapPixel(HBITMAP bitmap, int x, int y) {
  Bitmap* b = LiveBitmap(bitmap);
  if (!b || x < 0 || y < 0 || x >= b->w || y >= b->h) return kInvalidColour;
  return b->px[(size_t)y * (size_t)b->w + (size_t)x];
}

int LiveBitmaps() {
  int n = 0;
  for (auto& b : G().bitmaps) n += !b.second.deleted && !b.second.stock;
  return n;
}
int LiveDCs() {
  int n = 0;
  for (auto& d : G().dcs) n += !d.second.deleted;
  return n;
}
int OpenPaints() {
  int n = 0;
  for (auto& d : G().dcs) n += !d.second.deleted && d.second.paint;
  return n;
}
const std::vector<DeleteDCCall>& DeletedDCs() { return G().deletedDCs; }
int DCsDeletedWithSelection() {
  int n = 0;
  for (auto& d : G().deletedDCs) n += d.stillSelected != nullptr;
  return n;
}
const std::vector<HGDIOBJ>& DeletedObjects() { return G().deletedObjects; }
int DeleteWhileSelected() { return G().deleteWhileSelected; }
const std::vector<DrawTextCall>& DrawTexts() { return G().drawTexts; }
const std::vector<BlitCall>& Blits() { return G().blits; }
const std::vector<LoadImageCall>& LoadImages() { return G().loadImages; }

}  // namespace sim

namespace win {

using sim::G;

HDC WINAPI CreateCompatibleDC(HDC dc) {
  if (dc && !sim::LiveDC(dc)) return nullptr;
  return sim::NewDC(false, nullptr);
}

BOOL WINAPI DeleteDC(HDC dc) {
  sim::DC* d = sim::LiveDC(dc);
  if (!d || d->paint) {
    G().deletedDCs.push_back(sim::DeleteDCCall{dc, false, nullptr});
    return FALSE;
  }
  HGDIOBJ still = nullptr;
  if (d->bitmap != G().defaultBitmap) {
    still = d->bitmap;
    if (sim::Bitmap* b = sim::LiveBitmap(d->bitmap)) b->selectedIn = nullptr;
  }
  d->deleted = true;
  G().deletedDCs.push_back(sim::DeleteDCCall{dc, true, still});
  return TRUE;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  sim::DC* d = sim::LiveDC(dc);
  if (!d || !object) return nullptr;
  if (sim::Bitmap* b = sim::LiveBitmap(object)) {
    if (d->paint) return nullptr;
    if (!b->stock && b->selectedIn && b->selectedIn != dc) return nullptr;
    HGDIOBJ old = d->bitmap;
    if (sim::Bitmap* ob = sim::LiveBitmap(old)) ob->selectedIn = nullptr;
    if (!b->stock) b->selectedIn = dc;
    d->bitmap = object;
    return old;
  }
  int i = sim::StockIndex(object);
  HGDIOBJ* slot = nullptr;
  if (sim::IsStockFont(i)) slot = &d->font;
  if (sim::IsStockBrush(i)) slot = &d->brush;
  if (sim::IsStockPen(i)) slot = &d->pen;
  if (!slot) return nullptr;
  HGDIOBJ old = *slot;
  *slot = object;
  return old;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  G().deletedObjects.push_back(object);
  if (sim::StockIndex(object) >= 0 || object == G().defaultBitmap) return TRUE;
  sim::Bitmap* b = sim::LiveBitmap(object);
  if (!b) return FALSE;
  if (b->selectedIn) {
    ++G().deleteWhileSelected;
    return FALSE;
  }
  b->deleted = true;
  b->px.clear();
  b->px.shrink_to_fit();
  return TRUE;
}

int WINAPI GetObjectA(HANDLE object, int size, LPVOID out) {
  sim::Bitmap* b = sim::LiveBitmap(object);
  if (!b) return 0;
  if (!out) return (int)sizeof(BITMAP);
  if (size < (int)sizeof(BITMAP)) return 0;
  BITMAP bm{};
  bm.bmType = 0;
  bm.bmWidth = b->w;
  bm.bmHeight = b->h;
  bm.bmWidthBytes = b->mono ? (b->w + 15) / 16 * 2 : b->w * 4;
  bm.bmPlanes = 1;
  bm.bmBitsPixel = b->mono ? 1 : 32;
  bm.bmBits = nullptr;
  std::memcpy(out, &bm, sizeof bm);
  return (int)sizeof(BITMAP);
}

HBITMAP WINAPI CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel,
                            const void* bits) {
  if (width <= 0 || height <= 0 || planes != 1) return nullptr;
  if (bitsPerPixel != 1 && bitsPerPixel != 24 && bitsPerPixel != 32) return nullptr;
  sim::Bitmap b;
  b.w = width;
  b.h = height;
  b.mono = bitsPerPixel == 1;
  b.px.assign((size_t)width * (size_t)height, 0);
  if (bits) {
    const BYTE* p = (const BYTE*)bits;
    size_t stride = (size_t)((width * (int)bitsPerPixel + 15) / 16 * 2);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const BYTE* row = p + stride * (size_t)y;
        uint32_t v;
        if (b.mono) {
          v = (row[x / 8] >> (7 - x % 8)) & 1;
        } else {
          const BYTE* q = row + (size_t)x * (bitsPerPixel / 8);
          v = RGB(q[2], q[1], q[0]);
        }
        b.px[(size_t)y * (size_t)width + (size_t)x] = v;
      }
  }
  return sim::NewBitmap(std::move(b));
}

COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
  sim::Target t;
  if (!sim::TargetOf(dc, &t) || x < 0 || y < 0 || x >= t.w || y >= t.h) return sim::kInvalidColour;
  uint32_t v = t.px[(size_t)y * (size_t)t.w + (size_t)x];
  if (t.mono) return v ? RGB(255, 255, 255) : RGB(0, 0, 0);
  return v;
}

COLORREF WINAPI SetBkColor(HDC dc, COLORREF colour) {
  sim::DC* d = sim::LiveDC(dc);
  if (!d) return sim::kInvalidColour;
  COLORREF old = d->bk;
  d->bk = colour;
  return old;
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour) {
  sim::DC* d = sim::LiveDC(dc);
  if (!d) return sim::kInvalidColour;
  COLORREF old = d->text;
  d->text = colour;
  return old;
}

int WINAPI SetBkMode(HDC dc, int mode) {
  sim::DC* d = sim::LiveDC(dc);
  if (!d || (mode != TRANSPARENT && mode != sim::kOpaque)) return 0;
  int old = d->mode;
  d->mode = mode;
  return old;
}

BOOL WINAPI BitBlt(HDC to, int x, int y, int width, int height, HDC from, int fromX, int fromY,
                   DWORD rop) {
  sim::BlitCall call{to, x, y, width, height, from, fromX, fromY, rop, false};
  sim::Target dst, src;
  bool ok = (rop == SRCCOPY || rop == SRCINVERT || rop == SRCAND || rop == SRCPAINT) &&
            sim::TargetOf(to, &dst) && sim::TargetOf(from, &src);
  if (ok && width > 0 && height > 0) {
    sim::DC* toDC = sim::LiveDC(to);
    sim::DC* fromDC = sim::LiveDC(from);
    // Read the whole source rectangle first: source and destination may overlap.
    std::vector<int64_t> in((size_t)width * (size_t)height, -1);
    for (int j = 0; j < height; ++j)
      for (int i = 0; i < width; ++i) {
        int sx = fromX + i, sy = fromY + j;
        if (sx < 0 || sy < 0 || sx >= src.w || sy >= src.h) continue;
        uint32_t v = src.px[(size_t)sy * (size_t)src.w + (size_t)sx];
        if (src.mono && !dst.mono) {
          v = v ? toDC->bk : toDC->text;
        } else if (!src.mono && dst.mono) {
          v = v == fromDC->bk ? 1 : 0;
        }
        in[(size_t)j * (size_t)width + (size_t)i] = v;
      }
    for (int j = 0; j < height; ++j)
      for (int i = 0; i < width; ++i) {
        int dx = x + i, dy = y + j;
        int64_t s = in[(size_t)j * (size_t)width + (size_t)i];
        if (s < 0 || dx < 0 || dy < 0 || dx >= dst.w || dy >= dst.h) continue;
        uint32_t& d = dst.px[(size_t)dy * (size_t)dst.w + (size_t)dx];
        uint32_t v = (uint32_t)s;
        if (rop == SRCCOPY) {
          d = v;
        } else if (rop == SRCINVERT) {
          d ^= v;
        } else if (rop == SRCAND) {
          d &= v;
        } else {
          d |= v;
        }
        d &= dst.mono ? 1u : 0x00FFFFFFu;
      }
  }
  call.ok = ok;
  G().blits.push_back(call);
  return ok ? TRUE : FALSE;
}

HGDIOBJ WINAPI GetStockObject(int index) {
  if (index < 0 || index >= sim::kStockCount || index == 9) return nullptr;
  return sim::Stock(index);
}

HDC WINAPI BeginPaint(HWND window, PAINTSTRUCT* paint) {
  sim::WindowInfo* w = sim::detail::LiveWindow(window);
  if (!w || !paint) return nullptr;
  HDC dc = sim::NewDC(true, window);
  std::memset(paint, 0, sizeof *paint);
  paint->hdc = dc;
  paint->rcPaint = RECT{0, 0, w->clientWidth, w->clientHeight};
  if (w->erasePending) {
    if (w->hasBackground) {
      std::fill(w->surface.begin(), w->surface.end(), w->background);
      ++w->erases;
    } else {
      paint->fErase = TRUE;
    }
  }
  w->erasePending = false;
  w->needsPaint = false;
  ++w->paints;
  return dc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (paint) {
    sim::DC* d = sim::LiveDC(paint->hdc);
    if (d && d->paint && d->window == window) d->deleted = true;
  }
  return TRUE;
}

int WINAPI DrawTextA(HDC dc, LPCSTR text, int count, RECT* rect, UINT format) {
  sim::DC* d = sim::LiveDC(dc);
  if (!d || !text || !rect) return 0;
  int n = count < 0 ? (int)std::strlen(text) : count;
  sim::DrawTextCall call{dc,
                         d->paint ? d->window : nullptr,
                         std::string(text, (size_t)n),
                         count,
                         *rect,
                         format,
                         d->text,
                         d->bk,
                         d->mode,
                         d->font};
  G().drawTexts.push_back(call);
  if (format & sim::kDtCalcRect) {
    rect->right = rect->left + 7 * n;
    rect->bottom = rect->top + 16;
  }
  return 16;
}

HANDLE WINAPI LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
  UINT id = ((uintptr_t)name >> 16) == 0 ? (UINT)(uintptr_t)name : 0;
  HANDLE result = nullptr;
  if (type == IMAGE_BITMAP && id && instance == sim::ModuleHandle() &&
      !(flags & sim::kLrLoadFromFile)) {
    auto it = G().resources.find(id);
    if (it != G().resources.end()) result = sim::NewBitmap(it->second);
  }
  G().loadImages.push_back(sim::LoadImageCall{instance, id, type, cx, cy, flags, result});
  return result;
}

}  // namespace win
