// Reading little-endian fields of file formats (ICO, WAVE, registry dwords)
// byte by byte, whatever the machine's order and alignment.
#pragma once

#include <cstdint>

namespace platform {

inline uint16_t readLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t readLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace platform
