#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <set>

#include "folders.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "registry_format.h"
#include "registry_internal.h"

#define ERROR_KEY_DELETED 1018L

namespace platform {
namespace {

struct FileSignature {
  bool exists = false;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};
  bool operator==(const FileSignature& o) const {
    return exists == o.exists && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

struct HiveState {
  const char* fileName;
  bool loaded = false;
  std::string folder;  // the folder the loaded content came from
  FileSignature signature;
  RegHive data;
};

struct OpenKey {
  int hive;
  std::u16string folded;
  REGSAM access;
};

std::mutex g_lock;
HiveState g_hives[2] = {HiveState{"HKCU.reg", false, {}, {}, {}}, HiveState{"HKLM.reg", false, {}, {}, {}}};
std::set<OpenKey*> g_openKeys;
bool g_crashBeforeRename = false;
bool g_inMemory = false;  // registryKeepInMemory

const std::u16string kStatePrefix = u"SYSTEM\\STATE";

// Volatile keys describe the running device and never reach the file.
bool isVolatile(const std::u16string& folded) {
  return folded.compare(0, kStatePrefix.size(), kStatePrefix) == 0 &&
         (folded.size() == kStatePrefix.size() || folded[kStatePrefix.size()] == u'\\');
}

bool skipVolatile(const std::u16string& folded) { return isVolatile(folded); }

std::string hivePath(int hive) { return configFolder() + "/" + g_hives[hive].fileName; }

FileSignature signatureOf(const std::string& path) {
  FileSignature s;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    s.exists = true;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime = st.st_mtim;
  }
  return s;
}

bool readWhole(const std::string& path, std::string* out, bool* tooBig) {
  *tooBig = false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxHiveFileBytes) {
    *tooBig = true;
    close(fd);
    return false;
  }
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out->append(buf, static_cast<size_t>(n));
    if (out->size() > kMaxHiveFileBytes) {
      *tooBig = true;
      close(fd);
      return false;
    }
  }
  close(fd);
  return true;
}

// Writes the text beside the hive file, flushes it and renames it over the
// hive, so a reader sees either the old file or the new one, never a part.
LONG writeAtomically(const std::string& path, const std::string& text) {
  std::string folder = path.substr(0, path.rfind('/'));
  if (!makeFolders(folder)) return ERROR_ACCESS_DENIED;
  std::string temp = path + ".tmp-" + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return errorFromErrno(errno);
  fchmod(fd, 0600);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      close(fd);
      unlink(temp.c_str());
      return errorFromErrno(err ? err : ENOSPC);
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    int err = errno;
    unlink(temp.c_str());
    return errorFromErrno(err);
  }
  if (g_crashBeforeRename) _exit(3);
  if (rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    unlink(temp.c_str());
    return errorFromErrno(err);
  }
  int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return ERROR_SUCCESS;
}

void addDeviceValues(int hive, RegHive* data) {
  if (hive != 1) return;
  const char* op = std::getenv("OLVARO_OPERATOR");
  if (!op || !*op) return;
  std::u16string path = u"System\\State\\Phone";
  for (std::u16string p : {std::u16string(u"System"), std::u16string(u"System\\State"), path})
    (*data)[regFold(p)].path = p;
  RegValue v;
  v.name = u"Current Operator Name";
  v.type = REG_SZ;
  for (char16_t c : widen(op)) {
    v.data.push_back(static_cast<uint8_t>(c & 0xFF));
    v.data.push_back(static_cast<uint8_t>(c >> 8));
  }
  v.data.push_back(0);
  v.data.push_back(0);
  (*data)[regFold(path)].values[regFold(v.name)] = std::move(v);
}

// Moves a damaged file aside under a new name; it is kept for the user.
void keepAside(const std::string& path) {
  time_t now = static_cast<time_t>(clockNowUnixMs() / 1000);
  struct tm tmv;
  gmtime_r(&now, &tmv);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &tmv);
  for (int n = 0; n < 1000; ++n) {
    std::string aside = path + ".damaged-" + stamp + (n ? "-" + std::to_string(n) : "");
    if (access(aside.c_str(), F_OK) != 0) {
      rename(path.c_str(), aside.c_str());
      return;
    }
  }
}

// Brings the hive up to date with its file (another process may have
// written it since).
void refresh(int hive) {
  HiveState& h = g_hives[hive];
  if (g_inMemory && h.loaded) return;
  std::string folder = configFolder();
  std::string path = hivePath(hive);
  FileSignature sig = g_inMemory ? FileSignature{} : signatureOf(path);
  if (h.loaded && h.folder == folder && sig == h.signature) return;
  RegHive kept;
  if (h.loaded && h.folder == folder)
    for (auto& [folded, node] : h.data)
      if (isVolatile(folded)) kept[folded] = node;
  h.data.clear();
  h.data[u""];
  h.loaded = true;
  h.folder = folder;
  h.signature = sig;
  if (sig.exists) {
    std::string text;
    bool tooBig = false;
    bool read = readWhole(path, &text, &tooBig);
    if (read || tooBig) {
      bool sound = read && parseHive(text, &h.data);
      if (!read) {
        h.data.clear();
        h.data[u""];
      }
      if (!sound) {
        keepAside(path);
        if (writeAtomically(path, serializeHive(h.data, skipVolatile)) == ERROR_SUCCESS)
          h.signature = signatureOf(path);
        else
          h.signature = FileSignature{};
      }
    }
    // Volatile keys found in a file are not the device's.
    for (auto it = h.data.begin(); it != h.data.end();) it = isVolatile(it->first) ? h.data.erase(it) : std::next(it);
  }
  if (kept.empty())
    addDeviceValues(hive, &h.data);
  else
    for (auto& [folded, node] : kept) h.data[folded] = node;
}

// Persists the hive; on failure the next call reads the file again, so the
// memory never claims what the file does not hold.
LONG persist(int hive) {
  if (g_inMemory) return ERROR_SUCCESS;
  HiveState& h = g_hives[hive];
  LONG r = writeAtomically(hivePath(hive), serializeHive(h.data, skipVolatile));
  if (r == ERROR_SUCCESS)
    h.signature = signatureOf(hivePath(hive));
  else
    h.loaded = false;
  return r;
}

// Serialises writers across processes for the read-modify-write of a hive.
struct WriteLock {
  int fd = -1;
  explicit WriteLock(int hive) {
    std::string folder = configFolder();
    if (!makeFolders(folder)) return;
    fd = open((hivePath(hive) + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) flock(fd, LOCK_EX);
  }
  ~WriteLock() {
    if (fd >= 0) close(fd);
  }
};

// For a change to a hive: unless the key is volatile, holds the hive's
// cross-process write lock and re-reads what other writers left first.
struct ChangeGuard {
  ChangeGuard(int hive, bool volatileKey) {
    if (volatileKey || g_inMemory) return;
    lock.emplace(hive);
    refresh(hive);
  }
  std::optional<WriteLock> lock;
};

int rootHive(HKEY key) {
  if (key == HKEY_CURRENT_USER) return 0;
  if (key == HKEY_LOCAL_MACHINE) return 1;
  return -1;
}

// Resolves a key handle to hive and folded path.
bool resolve(HKEY key, int* hive, std::u16string* folded, std::u16string* path, REGSAM* access) {
  int root = rootHive(key);
  if (root >= 0) {
    refresh(root);
    *hive = root;
    folded->clear();
    path->clear();
    *access = KEY_ALL_ACCESS;
    return true;
  }
  auto* k = reinterpret_cast<OpenKey*>(key);
  if (!g_openKeys.count(k)) return false;
  *hive = k->hive;
  *folded = k->folded;
  refresh(k->hive);
  auto it = g_hives[k->hive].data.find(k->folded);
  *path = it == g_hives[k->hive].data.end() ? std::u16string() : it->second.path;
  *access = k->access;
  return true;
}

LONG checkSubKey(LPCWSTR subKey, std::u16string* sub) {
  sub->clear();
  if (!subKey) return ERROR_SUCCESS;
  *sub = subKey;
  if (sub->size() > kMaxNameChars) return ERROR_INVALID_PARAMETER;
  // A trailing backslash is tolerated; empty components are not.
  if (!sub->empty() && sub->back() == u'\\') sub->pop_back();
  if (sub->empty()) return ERROR_SUCCESS;
  size_t start = 0;
  for (;;) {
    size_t bs = sub->find(u'\\', start);
    size_t end = bs == std::u16string::npos ? sub->size() : bs;
    if (end == start || end - start > 255) return ERROR_BAD_PATHNAME;
    if (bs == std::u16string::npos) break;
    start = bs + 1;
  }
  return ERROR_SUCCESS;
}

std::u16string join(const std::u16string& a, const std::u16string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + u"\\" + b;
}

HKEY newHandle(int hive, const std::u16string& folded, REGSAM access) {
  auto* k = new OpenKey{hive, folded, access};
  g_openKeys.insert(k);
  return reinterpret_cast<HKEY>(k);
}

}  // namespace

std::string configFolder() {
  const char* home = std::getenv("OLVARO_HOME");
  if (home && *home) return home;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/olvaro";
  const char* user = std::getenv("HOME");
  return std::string(user && *user ? user : "/tmp") + "/.config/olvaro";
}

void registryReset() {
  std::lock_guard<std::mutex> g(g_lock);
  for (auto& h : g_hives) {
    h.loaded = false;
    h.data.clear();
  }
}

void registryKeepInMemory(bool on) {
  std::lock_guard<std::mutex> g(g_lock);
  g_inMemory = on;
  for (auto& h : g_hives) {
    h.loaded = false;
    h.data.clear();
  }
}

std::string registryHiveFile(int hive) { return hivePath(hive); }

void registryCrashBeforeRename(bool on) { g_crashBeforeRename = on; }

}  // namespace platform

using namespace platform;

LONG RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD options, REGSAM samDesired, LPSECURITY_ATTRIBUTES,
                    PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::u16string sub;
  if (LONG r = checkSubKey(subKey, &sub)) return r;
  std::lock_guard<std::mutex> g(g_lock);
  int hive;
  std::u16string folded, path;
  REGSAM access;
  if (!resolve(key, &hive, &folded, &path, &access)) return ERROR_INVALID_HANDLE;
  if (!g_hives[hive].data.count(folded)) return ERROR_KEY_DELETED;
  std::u16string fullPath = join(path, sub), fullFolded = regFold(fullPath);
  bool exists = g_hives[hive].data.count(fullFolded) != 0;
  if (!exists) {
    if (!(access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    bool volatileKey = isVolatile(fullFolded) || (options & REG_OPTION_VOLATILE);
    if (isVolatile(fullFolded) != volatileKey) return ERROR_INVALID_PARAMETER;  // only System\State is volatile
    ChangeGuard change(hive, volatileKey);
    auto& data = g_hives[hive].data;
    exists = data.count(fullFolded) != 0;
    if (!exists) {
      for (size_t bs = fullPath.find(u'\\'); bs != std::u16string::npos; bs = fullPath.find(u'\\', bs + 1)) {
        std::u16string p = fullPath.substr(0, bs);
        if (!data.count(regFold(p))) data[regFold(p)].path = p;
      }
      data[fullFolded].path = fullPath;
      if (!volatileKey)
        if (LONG r = persist(hive)) return r;
    }
  }
  if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  *result = newHandle(hive, fullFolded, samDesired);
  return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD, REGSAM samDesired, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::u16string sub;
  if (LONG r = checkSubKey(subKey, &sub)) return r;
  std::lock_guard<std::mutex> g(g_lock);
  int hive;
  std::u16string folded, path;
  REGSAM access;
  if (!resolve(key, &hive, &folded, &path, &access)) return ERROR_INVALID_HANDLE;
  std::u16string fullFolded = regFold(join(path, sub));
  if (!g_hives[hive].data.count(fullFolded)) return ERROR_FILE_NOT_FOUND;
  *result = newHandle(hive, fullFolded, samDesired);
  return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataBytes) {
  if (data && !dataBytes) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> g(g_lock);
  int hive;
  std::u16string folded, path;
  REGSAM access;
  if (!resolve(key, &hive, &folded, &path, &access)) return ERROR_INVALID_HANDLE;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  auto k = g_hives[hive].data.find(folded);
  if (k == g_hives[hive].data.end()) return ERROR_KEY_DELETED;
  auto v = k->second.values.find(regFold(valueName ? valueName : u""));
  if (v == k->second.values.end()) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->second.type;
  DWORD size = static_cast<DWORD>(v->second.data.size());
  if (!dataBytes) return ERROR_SUCCESS;
  if (data && *dataBytes < size) {
    *dataBytes = size;
    return ERROR_MORE_DATA;
  }
  if (data && size) std::memcpy(data, v->second.data.data(), size);
  *dataBytes = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataBytes) {
  if ((!data && dataBytes) || dataBytes > kMaxValueBytes) return ERROR_INVALID_PARAMETER;
  std::u16string name = valueName ? valueName : u"";
  if (name.size() > kMaxNameChars) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> g(g_lock);
  int hive;
  std::u16string folded, path;
  REGSAM access;
  if (!resolve(key, &hive, &folded, &path, &access)) return ERROR_INVALID_HANDLE;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  bool volatileKey = isVolatile(folded);
  ChangeGuard change(hive, volatileKey);
  auto k = g_hives[hive].data.find(folded);
  if (k == g_hives[hive].data.end()) return ERROR_KEY_DELETED;
  RegValue& v = k->second.values[regFold(name)];
  v.name = name;
  v.type = type;
  v.data.assign(data, data + dataBytes);
  return volatileKey ? ERROR_SUCCESS : persist(hive);
}

LONG RegDeleteValue(HKEY key, LPCWSTR valueName) {
  std::lock_guard<std::mutex> g(g_lock);
  int hive;
  std::u16string folded, path;
  REGSAM access;
  if (!resolve(key, &hive, &folded, &path, &access)) return ERROR_INVALID_HANDLE;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  bool volatileKey = isVolatile(folded);
  ChangeGuard change(hive, volatileKey);
  auto k = g_hives[hive].data.find(folded);
  if (k == g_hives[hive].data.end()) return ERROR_KEY_DELETED;
  if (!k->second.values.erase(regFold(valueName ? valueName : u""))) return ERROR_FILE_NOT_FOUND;
  return volatileKey ? ERROR_SUCCESS : persist(hive);
}

LONG RegDeleteKey(HKEY key, LPCWSTR subKey) {
  std::u16string sub;
  if (LONG r = checkSubKey(subKey, &sub)) return r;
  if (sub.empty()) return ERROR_ACCESS_DENIED;
  std::lock_guard<std::mutex> g(g_lock);
  int hive;
  std::u16string folded, path;
  REGSAM access;
  if (!resolve(key, &hive, &folded, &path, &access)) return ERROR_INVALID_HANDLE;
  std::u16string target = regFold(join(path, sub));
  bool volatileKey = isVolatile(target);
  ChangeGuard change(hive, volatileKey);
  auto& data = g_hives[hive].data;
  auto it = data.find(target);
  if (it == data.end()) return ERROR_FILE_NOT_FOUND;
  std::u16string childPrefix = target + u"\\";
  auto child = data.lower_bound(childPrefix);
  if (child != data.end() && child->first.compare(0, childPrefix.size(), childPrefix) == 0)
    return ERROR_ACCESS_DENIED;  // has sub-keys
  data.erase(it);
  return volatileKey ? ERROR_SUCCESS : persist(hive);
}

LONG RegCloseKey(HKEY key) {
  if (rootHive(key) >= 0) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> g(g_lock);
  auto* k = reinterpret_cast<OpenKey*>(key);
  if (!g_openKeys.erase(k)) return ERROR_INVALID_HANDLE;
  delete k;
  return ERROR_SUCCESS;
}
