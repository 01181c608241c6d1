#include "update_package.h"

#include <cstring>
#include <set>

namespace updates {

bool isPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == '\0' || c == ':') return false;
  return true;
}

bool isTargetName(std::string_view name) {
  auto endsWith = [&](std::string_view suffix) {
    return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
  };
  return isPlainFileName(name) && !endsWith(".new") && !endsWith(".old") && name != kInstallJournal;
}

bool parsePackage(const uint8_t* data, size_t size, PackageView* out) {
  out->sources.clear();
  out->entries.clear();
  if (!data) return false;
  const uint8_t* end = data + size;
  const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  if (!nul) return false;
  // An empty list means no sources: a package of literals only.
  std::string_view list(reinterpret_cast<const char*>(data), size_t(nul - data));
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view name = list.substr(0, comma);
    if (!isPlainFileName(name)) return false;
    out->sources.emplace_back(name);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
    if (list.empty()) return false;  // a trailing comma names an empty file
  }
  if (out->sources.size() > 255) return false;  // a copy cannot name more
  std::set<std::string> targets;
  const uint8_t* p = nul + 1;
  while (p < end) {
    const uint8_t* nameEnd = static_cast<const uint8_t*>(std::memchr(p, 0, size_t(end - p)));
    if (!nameEnd) return false;
    PackageEntry entry;
    entry.target.assign(reinterpret_cast<const char*>(p), size_t(nameEnd - p));
    if (!isTargetName(entry.target) || !targets.insert(entry.target).second) return false;
    p = nameEnd + 1;
    if (end - p < 4) return false;
    uint32_t length = readBigEndian32(p);
    p += 4;
    if (uint64_t(end - p) < length) return false;
    entry.ops = p;
    entry.size = length;
    p += length;
    out->entries.push_back(std::move(entry));
  }
  return true;
}

bool checkOperations(const PackageEntry& entry, const std::vector<size_t>& sourceSizes, uint64_t* outputSize) {
  const uint8_t* p = entry.ops;
  const uint8_t* end = p + entry.size;
  uint64_t total = 0;
  while (p < end) {
    uint8_t k = *p++;
    if (k == 0) {
      if (end - p < 4) return false;
      uint32_t n = readBigEndian32(p);
      p += 4;
      if (uint64_t(end - p) < n) return false;
      p += n;
      total += n;
    } else {
      if (end - p < 8) return false;
      uint64_t offset = readBigEndian32(p), n = readBigEndian32(p + 4);
      p += 8;
      if (k > sourceSizes.size()) return false;
      if (offset + n > sourceSizes[k - 1]) return false;
      total += n;
    }
  }
  if (outputSize) *outputSize = total;
  return true;
}

}  // namespace updates
