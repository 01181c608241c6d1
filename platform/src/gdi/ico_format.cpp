#include "ico_format.h"

#include "little_endian.h"

namespace platform {

bool parseIcoDirectory(const uint8_t* data, size_t size, std::vector<IcoDirEntry>* out) {
  out->clear();
  if (!data || size < 6 || readLe16(data) != 0 || readLe16(data + 2) != 1) return false;
  size_t count = readLe16(data + 4);
  if (count == 0 || 6 + count * 16 > size) return false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = data + 6 + i * 16;
    IcoDirEntry entry;
    entry.width = e[0] ? e[0] : 256;
    entry.height = e[1] ? e[1] : 256;
    entry.colorCount = e[2];
    entry.bitCount = readLe16(e + 6);
    uint32_t bytes = readLe32(e + 8), offset = readLe32(e + 12);
    if (offset < 6 + count * 16 || offset > size || bytes > size - offset || bytes == 0) return false;
    entry.data = data + offset;
    entry.size = bytes;
    out->push_back(entry);
  }
  return true;
}

bool decodeIconImage(const uint8_t* data, size_t size, DecodedIcon* out) {
  *out = DecodedIcon{};
  if (!data || size < 40) return false;
  uint32_t headerSize = readLe32(data);
  if (headerSize < 40 || headerSize > size) return false;
  int32_t width = static_cast<int32_t>(readLe32(data + 4));
  int32_t doubleHeight = static_cast<int32_t>(readLe32(data + 8));
  uint16_t planes = readLe16(data + 12), bits = readLe16(data + 14);
  uint32_t compression = readLe32(data + 16), clrUsed = readLe32(data + 32);
  // Icons are stored bottom-up with the mask's rows counted in the height.
  if (planes != 1 || compression != 0 || width <= 0 || width > 256 || doubleHeight <= 0 || doubleHeight % 2 ||
      doubleHeight / 2 > 256)
    return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  int height = doubleHeight / 2;
  size_t colors = 0;
  if (bits <= 8) {
    colors = clrUsed ? clrUsed : (1u << bits);
    if (colors > (1u << bits)) return false;
  }
  size_t paletteAt = headerSize;
  size_t colorAt = paletteAt + colors * 4;
  size_t colorStride = dibStride(width, bits), maskStride = dibStride(width, 1);
  size_t maskAt = colorAt + colorStride * static_cast<size_t>(height);
  if (colorAt > size || maskAt > size || maskStride * static_cast<size_t>(height) > size - maskAt) return false;
  out->width = width;
  out->height = height;
  out->bitCount = bits;
  for (size_t i = 0; i < colors; ++i) {
    const uint8_t* q = data + paletteAt + i * 4;  // blue, green, red, reserved
    out->palette.push_back((static_cast<uint32_t>(q[2]) << 16) | (q[1] << 8) | q[0]);
  }
  out->color.assign(static_cast<size_t>(width) * height, 0);
  out->mask.assign(static_cast<size_t>(width) * height, 0);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = data + colorAt + colorStride * static_cast<size_t>(height - 1 - y);
    const uint8_t* mrow = data + maskAt + maskStride * static_cast<size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      uint32_t c = 0;
      if (bits <= 8) {
        unsigned index;
        if (bits == 8) {
          index = row[x];
        } else if (bits == 4) {
          index = (x & 1) ? (row[x / 2] & 0x0F) : (row[x / 2] >> 4);
        } else {
          index = (row[x / 8] >> (7 - x % 8)) & 1;
        }
        // An index past a short colour table reads as black.
        c = index < out->palette.size() ? out->palette[index] : 0;
      } else {
        const uint8_t* p = row + static_cast<size_t>(x) * (bits / 8);
        c = (static_cast<uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
      }
      out->color[static_cast<size_t>(y) * width + x] = c;
      out->mask[static_cast<size_t>(y) * width + x] = (mrow[x / 8] >> (7 - x % 8)) & 1;
    }
  }
  return true;
}

}  // namespace platform
