// Simulated desktop, GDI side: bitmaps, memory and paint DCs, blits,
// painting, bitmap resources and stock objects.
#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "sim/sim.h"

namespace sim {
namespace {

using namespace win;

constexpr COLORREF kInvalidColour = 0xFFFFFFFF;
constexpr int kOpaque = 2;
constexpr uintptr_t kStockBase = 0x00F00000;
constexpr int kStockCount = 20;  // WHITE_BRUSH (0) ... DC_PEN (19); 9 is unused
constexpr int kSystemFont = 13;

struct Bitmap {
  int w = 0, h = 0;
  bool mono = false;
  std::vector<uint32_t> px;  // colour: COLORREF; mono: 0 or 1
  bool deleted = false;
  bool stock = false;
  HDC selectedIn = nullptr;
};

HGDIOBJ Stock(int index) { return (HGDIOBJ)(kStockBase + (uintptr_t)index * 0x10); }

struct DC {
  bool paint = false;
  HWND window = nullptr;
  HGDIOBJ bitmap = nullptr;
  COLORREF bk = RGB(255, 255, 255);
  COLORREF text = RGB(0, 0, 0);
  int mode = kOpaque;
  HGDIOBJ font = Stock(kSystemFont);
  bool deleted = false;
};

int StockIndex(HGDIOBJ object) {
  uintptr_t v = (uintptr_t)object;
  if (v < kStockBase || v >= kStockBase + kStockCount * 0x10 || (v - kStockBase) % 0x10) return -1;
  int index = (int)((v - kStockBase) / 0x10);
  return index == 9 ? -1 : index;
}

bool IsStockFont(int i) { return (i >= 10 && i <= 14) || i == 16 || i == 17; }

struct Gdi {
  std::map<void*, Bitmap> bitmaps;
  std::map<void*, DC> dcs;
  HGDIOBJ defaultBitmap = (HGDIOBJ)(kStockBase + 0x400);
  std::map<UINT, Bitmap> resources;
  int deletedWithSelection = 0;
  std::vector<HGDIOBJ> deletedObjects;
  std::vector<DrawTextCall> drawTexts;
  std::vector<LoadImageCall> loadImages;
  Gdi() { bitmaps[defaultBitmap] = Bitmap{1, 1, true, {0}, false, true}; }
};

Gdi& G() {
  static Gdi gdi;
  return gdi;
}

// The bitmap or DC with this handle, nullptr when there is none or it is deleted.
template <class T>
T* Live(std::map<void*, T>& objects, void* handle) {
  auto it = objects.find(handle);
  return it == objects.end() || it->second.deleted ? nullptr : &it->second;
}
Bitmap* LiveBitmap(HGDIOBJ object) { return Live(G().bitmaps, object); }
DC* LiveDC(HDC dc) { return Live(G().dcs, dc); }

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
  G().dcs[h] = DC{paint, window, paint ? nullptr : G().defaultBitmap};
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

// The class brushes in use are system colours (COLOR_x + 1): the button face
// for COLOR_BTNFACE, white for the others. Anything else does not erase.
bool BrushColour(HBRUSH brush, COLORREF* colour) {
  uintptr_t v = (uintptr_t)brush;
  if (v < 1 || v > 31) return false;
  *colour = v == COLOR_BTNFACE + 1 ? RGB(212, 208, 200) : RGB(255, 255, 255);
  return true;
}
}  // namespace detail

void SetResourceBitmap(UINT id, int width, int height, const std::vector<COLORREF>& pixels) {
  Bitmap b{width, height, false, pixels};
  b.px.resize((size_t)std::max(0, width) * (size_t)std::max(0, height), RGB(0, 0, 0));
  G().resources[id] = b;
}

bool BitmapIsMono(HBITMAP bitmap) {
  Bitmap* b = LiveBitmap(bitmap);
  return b && b->mono;
}
COLORREF BitmapPixel(HBITMAP bitmap, int x, int y) {
  Bitmap* b = LiveBitmap(bitmap);
  if (!b || x < 0 || y < 0 || x >= b->w || y >= b->h) return kInvalidColour;
  return b->px[(size_t)y * (size_t)b->w + (size_t)x];
}

int LiveBitmaps() {
  return detail::Count(G().bitmaps, [](auto& b) { return !b.second.deleted && !b.second.stock; });
}
int LiveDCs() {
  return detail::Count(G().dcs, [](auto& d) { return !d.second.deleted; });
}
int OpenPaints() {
  return detail::Count(G().dcs, [](auto& d) { return !d.second.deleted && d.second.paint; });
}
int DCsDeletedWithSelection() { return G().deletedWithSelection; }
const std::vector<HGDIOBJ>& DeletedObjects() { return G().deletedObjects; }
const std::vector<DrawTextCall>& DrawTexts() { return G().drawTexts; }
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
  if (!d || d->paint) return FALSE;
  if (d->bitmap != G().defaultBitmap) {
    ++G().deletedWithSelection;
    if (sim::Bitmap* b = sim::LiveBitmap(d->bitmap)) b->selectedIn = nullptr;
  }
  d->deleted = true;
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
  return sim::IsStockFont(sim::StockIndex(object)) ? std::exchange(d->font, object) : nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  G().deletedObjects.push_back(object);
  if (sim::StockIndex(object) >= 0 || object == G().defaultBitmap) return TRUE;
  sim::Bitmap* b = sim::LiveBitmap(object);
  if (!b || b->selectedIn) return FALSE;
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
  bm.bmWidth = b->w;
  bm.bmHeight = b->h;
  bm.bmWidthBytes = b->mono ? (b->w + 15) / 16 * 2 : b->w * 4;
  bm.bmPlanes = 1;
  bm.bmBitsPixel = b->mono ? 1 : 32;
  std::memcpy(out, &bm, sizeof bm);
  return (int)sizeof(BITMAP);
}

HBITMAP WINAPI CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel,
                            const void* bits) {
  if (width <= 0 || height <= 0 || planes != 1 || bitsPerPixel != 1 || bits) return nullptr;
  return sim::NewBitmap(
      sim::Bitmap{width, height, true, std::vector<uint32_t>((size_t)width * (size_t)height, 0)});
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
  return d ? std::exchange(d->bk, colour) : sim::kInvalidColour;
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour) {
  sim::DC* d = sim::LiveDC(dc);
  return d ? std::exchange(d->text, colour) : sim::kInvalidColour;
}

int WINAPI SetBkMode(HDC dc, int mode) {
  sim::DC* d = sim::LiveDC(dc);
  if (!d || (mode != TRANSPARENT && mode != sim::kOpaque)) return 0;
  return std::exchange(d->mode, mode);
}

BOOL WINAPI BitBlt(HDC to, int x, int y, int width, int height, HDC from, int fromX, int fromY,
                   DWORD rop) {
  sim::Target dst, src;
  bool ok = (rop == SRCCOPY || rop == SRCINVERT || rop == SRCAND || rop == SRCPAINT) &&
            sim::TargetOf(to, &dst) && sim::TargetOf(from, &src);
  if (!ok || width <= 0 || height <= 0) return ok ? TRUE : FALSE;
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
      d = rop == SRCCOPY ? v : rop == SRCINVERT ? d ^ v : rop == SRCAND ? d & v : d | v;
      d &= dst.mono ? 1u : 0x00FFFFFFu;
    }
  return TRUE;
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
    } else {
      paint->fErase = TRUE;
    }
  }
  w->erasePending = false;
  w->needsPaint = false;
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
  size_t n = count < 0 ? std::strlen(text) : (size_t)count;
  G().drawTexts.push_back(sim::DrawTextCall{std::string(text, n), format, d->text, d->mode});
  return 16;
}

HANDLE WINAPI LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int, int, UINT) {
  UINT id = ((uintptr_t)name >> 16) == 0 ? (UINT)(uintptr_t)name : 0;
  HANDLE result = nullptr;
  if (type == IMAGE_BITMAP && id && instance == sim::ModuleHandle()) {
    auto it = G().resources.find(id);
    if (it != G().resources.end()) result = sim::NewBitmap(it->second);
  }
  G().loadImages.push_back(sim::LoadImageCall{instance, id, type});
  return result;
}

}  // namespace win
