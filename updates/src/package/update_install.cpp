#include "update_install.h"

#include <fcntl.h>  // sync_file_range
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "build_stamp.h"
#include "folder_files.h"
#include "install_journal.h"
#include "update_package.h"

namespace updates {

namespace {

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

bool matchesPackage(const Manifest& manifest, const PackageView& package) {
  if (manifest.sources.size() != package.sources.size() || manifest.targets.size() != package.entries.size())
    return false;
  for (size_t i = 0; i < package.sources.size(); ++i)
    if (manifest.sources[i].name != package.sources[i]) return false;
  for (size_t i = 0; i < package.entries.size(); ++i)
    if (manifest.targets[i].name != package.entries[i].target) return false;
  return true;
}

// A module only moves forward; a file without a stamp only replaces another
// without one.
bool newerThanInstalled(uint32_t stamp, const std::string& path) {
  uint32_t installed = readBuildStamp(path);
  return stamp ? stamp > installed : installed == 0;
}

bool roomFor(const std::string& dir, uint64_t bytes) {
  struct statvfs fs {};
  if (::statvfs(dir.empty() ? "." : dir.c_str(), &fs) != 0) return false;
  return uint64_t(fs.f_bavail) * fs.f_frsize >= bytes;
}

// Numbers the steps that change the folder for the test hook.
class Steps {
 public:
  explicit Steps(const InstallOptions& options) : hook_(options.beforeStep) {}
  bool next() { return !hook_ || hook_(count_++); }

 private:
  const std::function<bool(int)>& hook_;
  int count_ = 0;
};

}  // namespace

InstallResult installPackage(const std::string& folder, const Manifest& manifest, const uint8_t* data, size_t size,
                             const InstallOptions& options) {
  const bool durable = options.durable;
  Steps steps(options);
  PackageView package;
  if (!parsePackage(data, size, &package) || digestOf(data, size) != manifest.package ||
      !matchesPackage(manifest, package))
    return InstallResult::BadPackage;
  std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";

  std::vector<Mapping> maps(package.sources.size());
  std::vector<const uint8_t*> sources;
  std::vector<size_t> sizes;
  for (size_t i = 0; i < maps.size(); ++i) {
    if (!mapReadOnly(dir + package.sources[i], &maps[i])) return InstallResult::MapFailed;
    sources.push_back(maps[i].data);
    sizes.push_back(maps[i].size);
  }
  uint64_t total = 0;
  bool tooLarge = false;
  for (const PackageEntry& entry : package.entries) {
    uint64_t length = 0;
    if (!checkOperations(entry, sizes, &length)) return InstallResult::BadPackage;
    total += length;
    tooLarge |= length > kMaxResultFile;
  }
  for (size_t i = 0; i < maps.size(); ++i)
    if (digestOf(maps[i].data, maps[i].size) != manifest.sources[i].digest) return InstallResult::WrongSources;
  if (tooLarge || total > kMaxResultTotal) return InstallResult::TooLarge;
  for (const ManifestTarget& target : manifest.targets)
    if (!newerThanInstalled(target.stamp, dir + target.name)) return InstallResult::NotNewer;
  if (!roomFor(dir, total)) return InstallResult::NoSpace;

  std::vector<std::string> written;
  auto discard = [&] {
    for (const std::string& path : written) ::unlink(path.c_str());
  };
  for (size_t i = 0; i < package.entries.size(); ++i) {
    const PackageEntry& entry = package.entries[i];
    const ManifestTarget& expected = manifest.targets[i];
    std::string target = dir + entry.target, fresh = target + ".new";
    struct stat st {};
    // Only a module is a program.
    mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 0777) : expected.stamp ? 0755 : 0644;
    // Never through a link someone left under the ".new" name.
    int fd = steps.next() ? ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode) : -1;
    if (fd < 0) {
      discard();
      return InstallResult::OutputFailed;
    }
    written.push_back(fresh);
    FileWriter out(fd, durable);
    DigestStream digest;
    bool ok = runOperations(entry, sources,
                            [&](const uint8_t* p, size_t n) {
                              digest.add(p, n);
                              return out.put(p, n);
                            }) &&
              out.flush() && (!durable || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
      discard();
      return InstallResult::OutputFailed;
    }
    if (digest.finish() != expected.digest || readBuildStamp(fresh) != expected.stamp) {
      discard();
      return InstallResult::WrongResult;
    }
  }
  maps.clear();

  // Each old file gets a second name first, so that it can always be put
  // back; then the journal; then each new file replaces its old one by one
  // rename, so the name is never missing.
  Journal journal;
  for (size_t i = 0; i < package.entries.size(); ++i)
    journal.entries.push_back({package.entries[i].target, exists(dir + package.entries[i].target),
                               manifest.targets[i].digest});
  std::vector<std::string> spares;
  bool ok = true;
  for (const JournalEntry& e : journal.entries) {
    if (!e.hadOld) continue;
    std::string target = dir + e.name, old = target + ".old";
    ::unlink(old.c_str());  // left by an earlier install of this run
    if (!steps.next() || ::link(target.c_str(), old.c_str()) != 0) {
      ok = false;
      break;
    }
    spares.push_back(old);
  }
  if (ok && durable) syncFolder(dir);
  if (!ok || !steps.next() || !writeJournal(dir, journal, durable)) {
    for (const std::string& path : spares) ::unlink(path.c_str());
    discard();
    if (durable) syncFolder(dir);
    return InstallResult::InstallFailed;
  }
  for (const JournalEntry& e : journal.entries) {
    std::string target = dir + e.name;
    if (!steps.next() || ::rename((target + ".new").c_str(), target.c_str()) != 0) {
      rollBack(dir, journal, durable);
      return InstallResult::InstallFailed;
    }
  }
  if (durable) syncFolder(dir);
  // Should this fail, the next start finds every new file in place and
  // only removes the journal.
  if (steps.next()) removeJournal(dir, durable);
  return InstallResult::Installed;
}

}  // namespace updates
