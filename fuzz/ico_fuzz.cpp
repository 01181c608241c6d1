// The ICO reader: the directory and every image in it, and a bare image as
// an icon resource holds it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ico_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<platform::IcoDirEntry> dir;
  if (platform::parseIcoDirectory(data, size, &dir)) {
    for (const auto& e : dir) {
      if (e.data < data || e.data + e.size > data + size) std::abort();
      platform::DecodedIcon icon;
      if (platform::decodeIconImage(e.data, e.size, &icon) &&
          (icon.color.size() != size_t(icon.width) * icon.height || icon.mask.size() != icon.color.size()))
        std::abort();
    }
  }
  platform::DecodedIcon bare;
  platform::decodeIconImage(data, size, &bare);
  return 0;
}
