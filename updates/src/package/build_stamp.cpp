#include "build_stamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace updates {

namespace {

// Every read is checked against the size, so a lying header cannot reach
// past the buffer.
struct Bytes {
  const uint8_t* data;
  size_t size;
  bool has(uint64_t offset, uint64_t length) const { return offset <= size && length <= size - offset; }
  uint64_t le(uint64_t offset, int width) const {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | data[offset + i];
    return v;
  }
};

constexpr uint32_t kPtNote = 4;
constexpr uint32_t kNoteType = 1;
constexpr char kNoteName[] = "Olvaro";  // with its NUL: 7 bytes

uint32_t imageStamp(const Bytes& b) {
  if (!b.has(0, 64)) return 0;
  uint64_t header = b.le(60, 4);
  if (!b.has(header + 4, 20)) return 0;
  return uint32_t(b.le(header + 4 + 4, 4));
}

uint32_t noteStamp(const Bytes& b, uint64_t offset, uint64_t length) {
  if (!b.has(offset, length)) return 0;
  uint64_t end = offset + length;
  while (end - offset >= 12) {
    uint64_t nameSize = b.le(offset, 4), descSize = b.le(offset + 4, 4), type = b.le(offset + 8, 4);
    uint64_t name = offset + 12;
    uint64_t desc = name + ((nameSize + 3) & ~uint64_t(3));
    uint64_t next = desc + ((descSize + 3) & ~uint64_t(3));
    if (next > end) return 0;
    if (type == kNoteType && nameSize == sizeof kNoteName && descSize == 4 &&
        std::memcmp(b.data + name, kNoteName, sizeof kNoteName) == 0)
      return uint32_t(b.le(desc, 4));
    offset = next;
  }
  return 0;
}

uint32_t elfStamp(const Bytes& b) {
  if (!b.has(0, 64)) return 0;
  bool wide = b.data[4] == 2;
  if ((b.data[4] != 1 && !wide) || b.data[5] != 1) return 0;  // little-endian only, as we build
  uint64_t phoff = wide ? b.le(32, 8) : b.le(28, 4);
  uint64_t entSize = wide ? b.le(54, 2) : b.le(42, 2);
  uint64_t count = wide ? b.le(56, 2) : b.le(44, 2);
  if (entSize < (wide ? 56u : 32u)) return 0;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t ph = phoff + i * entSize;
    if (!b.has(ph, entSize)) return 0;
    if (b.le(ph, 4) != kPtNote) continue;
    uint64_t offset = wide ? b.le(ph + 8, 8) : b.le(ph + 4, 4);
    uint64_t size = wide ? b.le(ph + 32, 8) : b.le(ph + 16, 4);
    if (uint32_t stamp = noteStamp(b, offset, size)) return stamp;
  }
  return 0;
}

}  // namespace

uint32_t buildStampOf(const uint8_t* data, size_t size) {
  Bytes b{data, size};
  if (!data || size < 4) return 0;
  if (data[0] == 0x4D && data[1] == 0x5A) return imageStamp(b);
  if (std::memcmp(data,
                  "\x7f"
                  "ELF",
                  4) == 0)
    return elfStamp(b);
  return 0;
}

uint32_t readBuildStamp(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  // The notes sit right after the program headers; the first pages hold them.
  std::vector<uint8_t> head(16384);
  size_t got = 0;
  while (got < head.size()) {
    ssize_t n = ::read(fd, head.data() + got, head.size() - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fd);
  return buildStampOf(head.data(), got);
}

}  // namespace updates
