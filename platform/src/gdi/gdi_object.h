// Internal form of bitmaps and icons, shared by the object calls
// (CreateBitmap, CreateIconIndirect, icon loading) and the drawing calls.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace platform {

enum class GdiKind { Bitmap, Brush, Pen, Font, Region };

struct GdiObject {
  explicit GdiObject(GdiKind k) : kind(k) {}
  virtual ~GdiObject() = default;
  GdiKind kind;
};

// Pixels are kept top-down as 0x00RRGGBB whatever the depth asked for; a
// 1-bit bitmap holds only 0x000000 and 0xFFFFFF. The drawing side may cache
// a surface next to them.
struct BitmapObject : GdiObject {
  BitmapObject() : GdiObject(GdiKind::Bitmap) {}
  int width = 0;
  int height = 0;
  int bitsPerPixel = 32;
  std::vector<uint32_t> pixels;
  uint32_t& at(int x, int y) { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// An icon: colour image plus AND mask (mask white = transparent, black =
// opaque), both of the icon's size.
struct IconObject {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> color;  // 0x00RRGGBB, top-down
  std::vector<uint8_t> mask;    // 1 = transparent, 0 = opaque, top-down
};

BitmapObject* asBitmap(HGDIOBJ h);
IconObject* asIcon(HICON h);

}  // namespace platform
