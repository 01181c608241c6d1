#include "platform/bitmap.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "gdi_object.h"
#include "ico_format.h"

namespace platform {
namespace {

std::mutex g_lock;
std::set<const void*>& liveIcons() {
  static auto* s = new std::set<const void*>;
  return *s;
}
std::set<const void*>& stockObjects() {
  static auto* s = new std::set<const void*>;
  return *s;
}

HICON adoptIcon(IconObject* icon) {
  std::lock_guard<std::mutex> g(g_lock);
  liveIcons().insert(icon);
  return reinterpret_cast<HICON>(icon);
}

bool sizeOk(int w, int h) { return w > 0 && h > 0 && w <= 16384 && h <= 16384 && int64_t(w) * h <= (1 << 26); }

// Scales nearest-neighbour; icons are small, so no smoothing is wanted.
IconObject* iconFromDecoded(const DecodedIcon& d, int cx, int cy) {
  auto* icon = new IconObject;
  icon->width = cx;
  icon->height = cy;
  icon->color.resize(size_t(cx) * cy);
  icon->mask.resize(size_t(cx) * cy);
  for (int y = 0; y < cy; ++y)
    for (int x = 0; x < cx; ++x) {
      size_t from = size_t(y * d.height / cy) * d.width + size_t(x * d.width / cx);
      icon->color[size_t(y) * cx + x] = d.color[from];
      icon->mask[size_t(y) * cx + x] = d.mask[from];
    }
  return icon;
}

// Picks an entry of an icon group for the wanted size; -1 when none.
int pickEntry(const GRPICONDIR* dir, size_t bytes, int cx, int cy) {
  size_t count = dir->idCount;
  if (bytes < 6 || 6 + count * sizeof(GRPICONDIRENTRY) > bytes) return -1;
  int best = -1;
  long bestScore = 0;
  for (size_t i = 0; i < count; ++i) {
    const GRPICONDIRENTRY& e = dir->idEntries[i];
    int w = e.bWidth ? e.bWidth : 256, h = e.bHeight ? e.bHeight : 256;
    long score = (std::labs(w - cx) + std::labs(h - cy)) * 1000L - e.wBitCount;
    if (best < 0 || score < bestScore) best = static_cast<int>(i), bestScore = score;
  }
  return best;
}

}  // namespace

BitmapObject* asBitmap(HGDIOBJ h) {
  auto* o = static_cast<GdiObject*>(h);
  return o && o->kind == GdiKind::Bitmap ? static_cast<BitmapObject*>(o) : nullptr;
}

IconObject* asIcon(HICON h) {
  std::lock_guard<std::mutex> g(g_lock);
  return liveIcons().count(h) ? reinterpret_cast<IconObject*>(h) : nullptr;
}

void markStockObject(HGDIOBJ object) {
  std::lock_guard<std::mutex> g(g_lock);
  stockObjects().insert(object);
}

}  // namespace platform

using namespace platform;

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (!sizeOk(width, height) || planes != 1 ||
      (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 &&
       bitsPerPixel != 32)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* b = new BitmapObject;
  b->width = width;
  b->height = height;
  b->bitsPerPixel = static_cast<int>(bitsPerPixel);
  b->pixels.assign(size_t(width) * height, 0);
  if (bits) {
    size_t stride = ((size_t(width) * bitsPerPixel + 15) / 16) * 2;
    auto* src = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = src + stride * size_t(y);
      for (int x = 0; x < width; ++x) {
        uint32_t c = 0;
        if (bitsPerPixel == 1)
          c = ((row[x / 8] >> (7 - x % 8)) & 1) ? 0xFFFFFF : 0;
        else if (bitsPerPixel == 24 || bitsPerPixel == 32) {
          const uint8_t* p = row + size_t(x) * (bitsPerPixel / 8);
          c = (uint32_t(p[2]) << 16) | (p[1] << 8) | p[0];
        }
        b->at(x, y) = c;
      }
    }
  }
  return b;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD) {
  if (bits) *bits = nullptr;
  if (!info || usage != DIB_RGB_COLORS || section || info->bmiHeader.biBitCount != 32 ||
      info->bmiHeader.biCompression != BI_RGB || info->bmiHeader.biPlanes != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  int width = info->bmiHeader.biWidth;
  int height = info->bmiHeader.biHeight;
  if (height == INT32_MIN || !sizeOk(width, std::abs(height))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Bottom-up sections cannot share the top-down pixel store.
  if (height > 0 && height != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* b = new BitmapObject;
  b->width = width;
  b->height = std::abs(height);
  b->bitsPerPixel = 32;
  b->pixels.assign(size_t(width) * b->height, 0);
  if (bits) *bits = b->pixels.data();
  return b;
}

int GetObject(HGDIOBJ object, int size, LPVOID out) {
  BitmapObject* b = asBitmap(object);
  if (!b) return 0;
  if (!out) return sizeof(BITMAP);
  if (size < static_cast<int>(sizeof(BITMAP))) return 0;
  BITMAP bm{};
  bm.bmWidth = b->width;
  bm.bmHeight = b->height;
  bm.bmWidthBytes = static_cast<LONG>(((size_t(b->width) * b->bitsPerPixel + 15) / 16) * 2);
  bm.bmPlanes = 1;
  bm.bmBitsPixel = static_cast<WORD>(b->bitsPerPixel);
  bm.bmBits = b->bitsPerPixel == 32 ? b->pixels.data() : nullptr;
  std::memcpy(out, &bm, sizeof bm);
  return sizeof bm;
}

BOOL DeleteObject(HGDIOBJ object) {
  if (!object) return FALSE;
  {
    std::lock_guard<std::mutex> g(g_lock);
    if (stockObjects().count(object)) return TRUE;
  }
  delete static_cast<GdiObject*>(object);
  return TRUE;
}

HICON CreateIconIndirect(PICONINFO info) {
  BitmapObject* color = info ? asBitmap(info->hbmColor) : nullptr;
  BitmapObject* mask = info ? asBitmap(info->hbmMask) : nullptr;
  if (!color || !mask || mask->width != color->width || mask->height != color->height) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* icon = new IconObject;
  icon->width = color->width;
  icon->height = color->height;
  icon->color = color->pixels;
  icon->mask.resize(mask->pixels.size());
  for (size_t i = 0; i < mask->pixels.size(); ++i) icon->mask[i] = (mask->pixels[i] & 0xFFFFFF) ? 1 : 0;
  return adoptIcon(icon);
}

BOOL GetIconInfo(HICON icon, PICONINFO info) {
  IconObject* i = asIcon(icon);
  if (!i || !info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* color = static_cast<BitmapObject*>(CreateBitmap(i->width, i->height, 1, 32, nullptr));
  auto* mask = static_cast<BitmapObject*>(CreateBitmap(i->width, i->height, 1, 1, nullptr));
  color->pixels = i->color;
  for (size_t k = 0; k < i->mask.size(); ++k) mask->pixels[k] = i->mask[k] ? 0xFFFFFF : 0;
  info->fIcon = TRUE;
  info->xHotspot = static_cast<DWORD>(i->width / 2);
  info->yHotspot = static_cast<DWORD>(i->height / 2);
  info->hbmColor = color;
  info->hbmMask = mask;
  return TRUE;
}

BOOL DestroyIcon(HICON icon) {
  std::lock_guard<std::mutex> g(g_lock);
  if (!liveIcons().erase(icon)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete reinterpret_cast<IconObject*>(icon);
  return TRUE;
}

HICON LoadIcon(HINSTANCE module, LPCWSTR name) {
  return static_cast<HICON>(LoadImage(module, name, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

HANDLE LoadImage(HINSTANCE module, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
  if (type != IMAGE_ICON || !name || cx < 0 || cy < 0 || cx > 256 || cy > 256 || (flags & LR_LOADFROMFILE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HRSRC groupRes = FindResource(module, name, RT_GROUP_ICON);
  if (!groupRes) return nullptr;
  auto* dir = static_cast<const GRPICONDIR*>(LockResource(LoadResource(module, groupRes)));
  size_t bytes = SizeofResource(module, groupRes);
  int wantW = cx ? cx : (flags & LR_DEFAULTSIZE) ? 32 : 0;
  int wantH = cy ? cy : (flags & LR_DEFAULTSIZE) ? 32 : 0;
  int pick = pickEntry(dir, bytes, wantW ? wantW : 32, wantH ? wantH : 32);
  if (pick < 0) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  HRSRC imageRes = FindResource(module, MAKEINTRESOURCE(dir->idEntries[pick].nID), RT_ICON);
  DecodedIcon decoded;
  if (!imageRes || !decodeIconImage(static_cast<const uint8_t*>(LockResource(LoadResource(module, imageRes))),
                                    SizeofResource(module, imageRes), &decoded)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  return adoptIcon(iconFromDecoded(decoded, wantW ? wantW : decoded.width, wantH ? wantH : decoded.height));
}
