#include "install_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "folder_files.h"
#include "update_package.h"

namespace updates {

namespace {

constexpr char kMagic[] = "OLVJ";
constexpr size_t kMaxJournal = size_t(1) << 20;

std::string encode(const Journal& journal) {
  std::string out(kMagic);
  out.push_back(journal.state);
  for (const JournalEntry& e : journal.entries) {
    out.push_back(e.hadOld ? '\1' : '\0');
    out.append(reinterpret_cast<const char*>(e.digest.data()), e.digest.size());
    out.append(e.name);
    out.push_back('\0');
  }
  return out;
}

bool decode(const std::string& bytes, Journal* out) {
  *out = Journal();
  if (bytes.size() < 5 || bytes.compare(0, 4, kMagic) != 0) return false;
  out->state = bytes[4];
  if (out->state != 'F' && out->state != 'R') return false;
  size_t at = 5;
  while (at < bytes.size()) {
    JournalEntry e;
    if (bytes.size() - at < 1 + e.digest.size() || uint8_t(bytes[at]) > 1) return false;
    e.hadOld = bytes[at] == '\1';
    std::memcpy(e.digest.data(), bytes.data() + at + 1, e.digest.size());
    at += 1 + e.digest.size();
    size_t nul = bytes.find('\0', at);
    if (nul == std::string::npos) return false;
    e.name = bytes.substr(at, nul - at);
    // Recovery renames and deletes by these names: only targets' names.
    if (!isTargetName(e.name)) return false;
    at = nul + 1;
    out->entries.push_back(std::move(e));
  }
  return true;
}

bool endsWith(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

}  // namespace

bool writeJournal(const std::string& dir, const Journal& journal, bool durable) {
  std::string path = dir + kInstallJournal, fresh = path + ".new";
  std::string bytes = encode(journal);
  int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  bool ok = writeAll(fd, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) &&
            (!durable || ::fsync(fd) == 0);
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(fresh.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(fresh.c_str());
  if (durable) syncFolder(dir);
  return ok;
}

bool readJournal(const std::string& dir, Journal* out) {
  Mapping m;
  if (!mapReadOnly(dir + kInstallJournal, &m) || m.size > kMaxJournal) return false;
  return decode(std::string(reinterpret_cast<const char*>(m.data), m.size), out);
}

void removeJournal(const std::string& dir, bool durable) {
  ::unlink((dir + kInstallJournal).c_str());
  if (durable) syncFolder(dir);
}

void rollBack(const std::string& dir, Journal journal, bool durable) {
  journal.state = 'R';
  writeJournal(dir, journal, durable);
  for (const JournalEntry& e : journal.entries) {
    std::string target = dir + e.name, old = target + ".old";
    // Before its swap the old file is both names at once; rename then does
    // nothing and the spare name goes below.
    if (e.hadOld)
      ::rename(old.c_str(), target.c_str());
    else
      ::unlink(target.c_str());
    ::unlink((target + ".new").c_str());
    ::unlink(old.c_str());
  }
  if (durable) syncFolder(dir);
  removeJournal(dir, durable);
}

void recoverInstall(const std::string& folder) {
  std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  Journal journal;
  if (readJournal(dir, &journal)) {
    // The journal is written after every new file is whole and flushed, so
    // they are normally all there; one that is not sends every file back.
    bool whole = journal.state == 'F';
    for (const JournalEntry& e : journal.entries) {
      if (!whole) break;
      std::string target = dir + e.name, fresh = target + ".new";
      Digest d{};
      whole = digestFile(exists(fresh) ? fresh : target, &d) && d == e.digest;
    }
    if (whole) {
      for (const JournalEntry& e : journal.entries) {
        std::string target = dir + e.name, fresh = target + ".new";
        if (exists(fresh)) ::rename(fresh.c_str(), target.c_str());
      }
      syncFolder(dir);
      removeJournal(dir, true);
    } else {
      rollBack(dir, journal, true);
    }
  }
  // A journal that cannot be read names nothing to finish.
  removeJournal(dir, true);

  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.empty() ? "." : dir.c_str())) {
    while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
  }
  for (const std::string& name : names) {
    std::string path = dir + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (endsWith(name, ".new")) {
      ::unlink(path.c_str());
    } else if (endsWith(name, ".old")) {
      // An install cut short by an older installer can leave only this.
      std::string target = path.substr(0, path.size() - 4);
      if (exists(target))
        ::unlink(path.c_str());
      else
        ::rename(path.c_str(), target.c_str());
    }
  }
  syncFolder(dir);
}

}  // namespace updates
