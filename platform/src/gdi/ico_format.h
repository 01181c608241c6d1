// Reading ICO files and the device-independent images inside them (and
// inside icon resources): the directory, then per image a
// BITMAPINFOHEADER with double height, a colour table, the colour bits and
// the 1-bit AND mask, rows padded to 32 bits, bottom-up. Every size and
// offset is checked against the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

struct IcoDirEntry {
  int width = 0;   // 1..256
  int height = 0;  // 1..256
  int colorCount = 0;
  int bitCount = 0;
  const uint8_t* data = nullptr;  // the image's bytes inside the file
  size_t size = 0;
};

// False when the directory is malformed or an image lies outside the file.
bool parseIcoDirectory(const uint8_t* data, size_t size, std::vector<IcoDirEntry>* out);

struct DecodedIcon {
  int width = 0;
  int height = 0;
  int bitCount = 0;
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  std::vector<uint32_t> color;    // 0x00RRGGBB, top-down
  std::vector<uint8_t> mask;      // 1 = transparent, top-down
};

// Decodes an uncompressed icon image of 1, 4, 8, 24 or 32 bits per pixel.
bool decodeIconImage(const uint8_t* data, size_t size, DecodedIcon* out);

// Bytes of one row of `width` pixels at `bits` per pixel, padded to 32 bits.
inline size_t dibStride(int width, int bits) { return ((static_cast<size_t>(width) * bits + 31) / 32) * 4; }

}  // namespace platform
