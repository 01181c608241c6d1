#include "update_package.h"

#include <fcntl.h>  // sync_file_range
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

namespace updates {

bool isPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == '\0' || c == ':') return false;
  return true;
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
    if (!isPlainFileName(entry.target) || !targets.insert(entry.target).second) return false;
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

namespace {

struct Mapping {
  const uint8_t* data = nullptr;
  size_t size = 0;
  void* base = nullptr;
  ~Mapping() {
    if (base) ::munmap(base, size);
  }
};

bool mapReadOnly(const std::string& path, Mapping* m) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok && st.st_size > 0) {
    // Populated at once: one call instead of a fault per page.
    void* base = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (base == MAP_FAILED) {
      ok = false;
    } else {
      m->base = base;
      m->data = static_cast<const uint8_t*>(base);
      m->size = size_t(st.st_size);
    }
  }
  ::close(fd);
  return ok;
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

// Small pieces gather in a buffer; large copies go straight from the map.
class FileWriter {
 public:
  FileWriter(int fd, bool durable) : fd_(fd), durable_(durable) { buffer_.reserve(kBuffer); }
  bool put(const uint8_t* data, size_t size) {
    if (size >= kDirect) return flush() && written(writeAll(fd_, data, size), size);
    if (buffer_.size() + size > kBuffer && !flush()) return false;
    buffer_.insert(buffer_.end(), data, data + size);
    return true;
  }
  bool flush() {
    bool ok = written(writeAll(fd_, buffer_.data(), buffer_.size()), buffer_.size());
    buffer_.clear();
    return ok;
  }

 private:
  // Starts the disk writing every few megabytes, so the flush before the
  // renames has little left to wait for.
  bool written(bool ok, size_t size) {
    pending_ += size;
    if (ok && durable_ && pending_ >= kWriteBehind) {
      ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
      pending_ = 0;
    }
    return ok;
  }
  static constexpr size_t kBuffer = 1 << 20;
  static constexpr size_t kDirect = 64 << 10;
  static constexpr size_t kWriteBehind = 4 << 20;
  int fd_;
  bool durable_;
  size_t pending_ = 0;
  std::vector<uint8_t> buffer_;
};

void syncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

InstallResult installPackage(const std::string& folder, const uint8_t* data, size_t size, bool durable) {
  PackageView package;
  if (!parsePackage(data, size, &package)) return InstallResult::BadPackage;
  std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";

  std::vector<Mapping> maps(package.sources.size());
  std::vector<const uint8_t*> sources;
  std::vector<size_t> sizes;
  for (size_t i = 0; i < maps.size(); ++i) {
    if (!mapReadOnly(dir + package.sources[i], &maps[i])) return InstallResult::MapFailed;
    sources.push_back(maps[i].data);
    sizes.push_back(maps[i].size);
  }
  for (const PackageEntry& entry : package.entries)
    if (!checkOperations(entry, sizes, nullptr)) return InstallResult::BadPackage;

  std::vector<std::string> written;
  auto discard = [&] {
    for (const std::string& path : written) ::unlink(path.c_str());
  };
  for (const PackageEntry& entry : package.entries) {
    std::string target = dir + entry.target, fresh = target + ".new";
    struct stat st {};
    mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0755;
    // Never through a link someone left under the ".new" name.
    int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
      discard();
      return InstallResult::OutputFailed;
    }
    written.push_back(fresh);
    FileWriter out(fd, durable);
    bool ok = runOperations(entry, sources, [&](const uint8_t* p, size_t n) { return out.put(p, n); }) && out.flush() &&
              (!durable || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
      discard();
      return InstallResult::OutputFailed;
    }
  }
  maps.clear();

  // Each step is one rename; on a failure the steps done are undone in
  // reverse, so the folder never holds a mix of old and new modules.
  struct Step {
    std::string from, to;
  };
  std::vector<Step> done;
  bool failed = false;
  for (const PackageEntry& entry : package.entries) {
    std::string target = dir + entry.target;
    if (exists(target)) {
      if (::rename(target.c_str(), (target + ".old").c_str()) != 0) {
        failed = true;
        break;
      }
      done.push_back({target, target + ".old"});
    }
    if (::rename((target + ".new").c_str(), target.c_str()) != 0) {
      failed = true;
      break;
    }
    done.push_back({target + ".new", target});
  }
  if (failed) {
    for (auto it = done.rbegin(); it != done.rend(); ++it) ::rename(it->to.c_str(), it->from.c_str());
    discard();
    if (durable) syncFolder(dir);
    return InstallResult::InstallFailed;
  }
  if (durable) syncFolder(dir);
  return InstallResult::Installed;
}

}  // namespace updates
