// The update package: a comma-separated NUL-terminated list of source files,
// then file entries (target name, NUL, 4-byte big-endian length, operations).
// An operation copies a range of a source (byte k = 1..255, offset, length)
// or appends literal bytes (byte 0, length, bytes); numbers are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace updates {

struct PackageEntry {
  std::string target;
  const uint8_t* ops = nullptr;
  size_t size = 0;
};

struct PackageView {
  std::vector<std::string> sources;
  std::vector<PackageEntry> entries;
};

// A name of a file in the program folder itself: not empty, no separator,
// not "." or "..", no NUL.
bool isPlainFileName(std::string_view name);

// The installer's own file; a target of that name, or one ending in ".new"
// or ".old", would be taken for an install's working files.
inline constexpr char kInstallJournal[] = "install.journal";
bool isTargetName(std::string_view name);

// Splits the body into its parts; false when it is malformed (a missing NUL,
// a length past the body, a name that leaves the folder or is not a target's,
// a target twice).
bool parsePackage(const uint8_t* data, size_t size, PackageView* out);

// Checks every operation of an entry against the sizes of the sources;
// `outputSize` gets the size of the file it makes.
bool checkOperations(const PackageEntry& entry, const std::vector<size_t>& sourceSizes, uint64_t* outputSize);

// Runs an entry's operations (already checked) through `sink`, which takes
// (bytes, length) and returns false to stop.
template <typename Sink>
bool runOperations(const PackageEntry& entry, const std::vector<const uint8_t*>& sources, Sink&& sink);

// --- inline ---

inline void putBigEndian32(std::string* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(char(v >> shift));
}

inline uint32_t readBigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

template <typename Sink>
bool runOperations(const PackageEntry& entry, const std::vector<const uint8_t*>& sources, Sink&& sink) {
  const uint8_t* p = entry.ops;
  const uint8_t* end = p + entry.size;
  while (p < end) {
    uint8_t k = *p++;
    if (k == 0) {
      uint32_t n = readBigEndian32(p);
      p += 4;
      if (n && !sink(p, size_t(n))) return false;
      p += n;
    } else {
      uint32_t offset = readBigEndian32(p), n = readBigEndian32(p + 4);
      p += 8;
      if (n && !sink(sources[k - 1] + offset, size_t(n))) return false;
    }
  }
  return true;
}

}  // namespace updates
