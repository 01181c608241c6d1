#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "ascii.h"
#include "handles.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace platform {
namespace {

// The files this process has open, by device and inode, with what each
// open may do and lets others do, so CreateFile can refuse an open that
// the share modes forbid, as Win32 does.
struct OpenFile {
  bool read, write;
  DWORD share;
};
using FileKey = std::pair<dev_t, ino_t>;
std::mutex g_sharingLock;
std::multimap<FileKey, OpenFile>& openFiles() {
  static auto* m = new std::multimap<FileKey, OpenFile>;
  return *m;
}

// Whether every open of the file lets it be deleted.
bool deleteAllowed(const FileKey& key) {
  auto range = openFiles().equal_range(key);
  for (auto it = range.first; it != range.second; ++it)
    if (!(it->second.share & FILE_SHARE_DELETE)) return false;
  return true;
}

bool shareAllows(const FileKey& key, bool read, bool write, DWORD share) {
  auto range = openFiles().equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    const OpenFile& o = it->second;
    if ((read && !(o.share & FILE_SHARE_READ)) || (write && !(o.share & FILE_SHARE_WRITE))) return false;
    if ((o.read && !(share & FILE_SHARE_READ)) || (o.write && !(share & FILE_SHARE_WRITE))) return false;
  }
  return true;
}

struct FileObject : KernelObject {
  FileObject() : KernelObject(KernelKind::File) {}
  ~FileObject() override {
    if (registered) {
      std::lock_guard<std::mutex> g(g_sharingLock);
      openFiles().erase(entry);
    }
    if (fd >= 0) close(fd);
  }
  int fd = -1;
  bool canRead = false;
  bool canWrite = false;
  bool registered = false;
  std::multimap<FileKey, OpenFile>::iterator entry;
};

struct MappingObject : KernelObject {
  MappingObject() : KernelObject(KernelKind::Mapping) {}
  ~MappingObject() override {
    if (fd >= 0) close(fd);
  }
  int fd = -1;  // a duplicate: the mapping outlives the file handle
  uint64_t size = 0;
  bool writable = false;
};

struct FindObject : KernelObject {
  FindObject() : KernelObject(KernelKind::Find) {}
  std::string folder;
  std::vector<std::string> names;  // on-disk names, sorted
  size_t next = 0;
  bool inStartup = false;
};

std::mutex g_viewsLock;
std::map<uintptr_t, size_t>& views() {
  static auto* v = new std::map<uintptr_t, size_t>;
  return *v;
}

DWORD fail(DWORD error) {
  SetLastError(error);
  return 0;
}

DWORD failErrno() { return fail(errorFromErrno(errno)); }

const std::string kLnk = ".lnk";
const std::string kDesktop = ".desktop";

bool endsWithNoCase(const std::string& s, const std::string& suffix) {
  return asciiEndsWithNoCase(std::string_view(s), std::string_view(suffix));
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool sameFolder(const std::string& a, const std::string& b) {
  char ra[PATH_MAX], rb[PATH_MAX];
  if (realpath(a.c_str(), ra) && realpath(b.c_str(), rb)) return std::strcmp(ra, rb) == 0;
  return a == b;
}

bool inStartupFolder(const std::string& folder) { return sameFolder(folder, startupFolderPath()); }

// Shell-style match of one name component, ignoring ASCII case.
bool matchPattern(const char* p, const char* s) {
  const char* star = nullptr;
  const char* retry = nullptr;
  while (*s) {
    if (*p == '*') {
      star = p++;
      retry = s;
    } else if (*p == '?' || (*p && asciiLower(*p) == asciiLower(*s))) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = ++retry;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return !*p;
}

DWORD attributesOf(const struct stat& st, const std::string& name) {
  DWORD a = 0;
  if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
  if (!(st.st_mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == '.') a |= FILE_ATTRIBUTE_HIDDEN;
  if (!a) a = FILE_ATTRIBUTE_NORMAL;
  return a;
}

FILETIME toFileTime(const struct timespec& ts) {
  return unixMsToFileTime(static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

// Fills the record for one entry; false when it vanished meanwhile.
bool fillFindData(const FindObject& f, const std::string& name, LPWIN32_FIND_DATA data) {
  struct stat st;
  if (stat((f.folder + "/" + name).c_str(), &st) != 0) return false;
  *data = WIN32_FIND_DATA{};
  data->dwFileAttributes = attributesOf(st, name);
  data->ftCreationTime = toFileTime(st.st_ctim);
  data->ftLastAccessTime = toFileTime(st.st_atim);
  data->ftLastWriteTime = toFileTime(st.st_mtim);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  std::string shown = name;
  if (f.inStartup && endsWithNoCase(shown, kDesktop)) shown = shown.substr(0, shown.size() - kDesktop.size()) + kLnk;
  std::u16string w = widen(shown);
  if (w.size() >= MAX_PATH) w.resize(MAX_PATH - 1);
  std::copy(w.begin(), w.end(), data->cFileName);
  return true;
}

bool advance(FindObject& f, LPWIN32_FIND_DATA data) {
  while (f.next < f.names.size())
    if (fillFindData(f, f.names[f.next++], data)) return true;
  return false;
}

std::shared_ptr<FileObject> fileOf(HANDLE h) { return lookupHandleAs<FileObject>(h, KernelKind::File); }

}  // namespace

std::string nativePath(const std::u16string& path) {
  std::string p = narrow(path);
  for (auto& c : p)
    if (c == '\\') c = '/';
  if (endsWithNoCase(p, kLnk) && inStartupFolder(folderOf(p))) p = p.substr(0, p.size() - kLnk.size()) + kDesktop;
  return p;
}

}  // namespace platform

using namespace platform;

HANDLE FindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATA data) {
  if (!pattern || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string p = narrow(pattern);
  for (auto& c : p)
    if (c == '\\') c = '/';
  auto f = std::make_shared<FindObject>();
  size_t slash = p.rfind('/');
  f->folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  std::string leaf = slash == std::string::npos ? p : p.substr(slash + 1);
  f->inStartup = inStartupFolder(f->folder);
  // "name.lnk" in the start-up folder stands for "name.desktop".
  if (f->inStartup && endsWithNoCase(leaf, kLnk)) leaf = leaf.substr(0, leaf.size() - kLnk.size()) + kDesktop;
  if (leaf == "*.*") leaf = "*";
  DIR* dir = opendir(f->folder.c_str());
  if (!dir) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : errorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  while (struct dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (matchPattern(leaf.c_str(), name.c_str())) f->names.push_back(name);
  }
  closedir(dir);
  std::sort(f->names.begin(), f->names.end());
  if (!advance(*f, data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return addHandle(f);
}

BOOL FindNextFile(HANDLE find, LPWIN32_FIND_DATA data) {
  auto f = lookupHandleAs<FindObject>(find, KernelKind::Find);
  if (!f || !data) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!advance(*f, data)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  if (!lookupHandleAs<FindObject>(find, KernelKind::Find)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  removeHandle(find);
  return TRUE;
}

HANDLE CreateFile(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                  HANDLE) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = nativePath(fileName);
  bool r = (access & GENERIC_READ) != 0, w = (access & GENERIC_WRITE) != 0;
  int flags = O_CLOEXEC | (r && w ? O_RDWR : w ? O_WRONLY : O_RDONLY);
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      if (!w) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      flags |= O_TRUNC;
      break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  // Held from the check to the registration, so two opens of one file in
  // different threads cannot both pass; checked before open() so a refused
  // CREATE_ALWAYS does not truncate the file in use.
  std::lock_guard<std::mutex> sharing(g_sharingLock);
  struct stat st;
  bool before = stat(path.c_str(), &st) == 0;
  if (before && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (before && disposition == CREATE_NEW) {
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  if (before && !shareAllows(FileKey(st.st_dev, st.st_ino), r, w, shareMode)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(path.c_str(), flags, 0600);
  if (fd < 0) {
    int err = errno;
    SetLastError(err == EEXIST ? ERROR_FILE_EXISTS
                 : err == ENOENT && disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING
                     ? ERROR_PATH_NOT_FOUND
                     : errorFromErrno(err));
    return INVALID_HANDLE_VALUE;
  }
  auto f = std::make_shared<FileObject>();
  f->fd = fd;
  f->canRead = r;
  f->canWrite = w;
  struct stat opened;
  if (fstat(fd, &opened) == 0) {
    FileKey key(opened.st_dev, opened.st_ino);
    // The name may have been replaced between the stat and the open.
    if (!shareAllows(key, r, w, shareMode)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;  // f closes the descriptor
    }
    f->entry = openFiles().emplace(key, OpenFile{r, w, shareMode});
    f->registered = true;
  }
  // Win32 reports an existing file that was opened or replaced this way.
  SetLastError(before && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                       : ERROR_SUCCESS);
  return addHandle(f);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED) {
  if (read) *read = 0;
  auto f = fileOf(file);
  if (!f || !f->canRead) return fail(f ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
  if (!buffer && bytes) return fail(ERROR_INVALID_PARAMETER);
  size_t done = 0;
  while (done < bytes) {
    ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failErrno();
    if (n == 0) break;  // end of file: success with fewer bytes
    done += static_cast<size_t>(n);
  }
  if (read) *read = static_cast<DWORD>(done);
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  auto f = fileOf(file);
  if (!f || !f->canWrite) return fail(f ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
  if (!buffer && bytes) return fail(ERROR_INVALID_PARAMETER);
  size_t done = 0;
  while (done < bytes) {
    ssize_t n = ::write(f->fd, static_cast<const char*>(buffer) + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written) *written = static_cast<DWORD>(done);
      return n == 0 ? fail(ERROR_DISK_FULL) : failErrno();
    }
    done += static_cast<size_t>(n);
  }
  if (written) *written = static_cast<DWORD>(done);
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  auto f = fileOf(file);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  // Without the high half the distance is a signed 32-bit value.
  int64_t move = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                     static_cast<uint32_t>(distance))
                              : static_cast<int64_t>(distance);
  off_t cur = lseek(f->fd, 0, SEEK_CUR);
  off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? cur : lseek(f->fd, 0, SEEK_END);
  lseek(f->fd, cur, SEEK_SET);
  if (base + move < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  off_t pos = lseek(f->fd, base + move, SEEK_SET);
  if (pos < 0) {
    SetLastError(errorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) {
    *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(pos) >> 32);
  } else if (static_cast<uint64_t>(pos) > 0xFFFFFFFEu) {
    // The position does not fit the result without the high half.
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(pos);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  auto f = fileOf(file);
  struct stat st;
  if (!f || fstat(f->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL SetEndOfFile(HANDLE file) {
  auto f = fileOf(file);
  if (!f || !f->canWrite) return fail(f ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
  off_t pos = lseek(f->fd, 0, SEEK_CUR);
  if (pos < 0 || ftruncate(f->fd, pos) != 0) return failErrno();
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  auto f = fileOf(file);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  if (fsync(f->fd) != 0) return failErrno();
  return TRUE;
}

HANDLE CreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maxSizeHigh, DWORD maxSizeLow,
                         LPCWSTR) {
  auto f = fileOf(file);
  if (!f) {
    // Pagefile-backed mappings are not offered.
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  bool writable = (protect & 0xFF) == PAGE_READWRITE;
  if ((protect & 0xFF) != PAGE_READONLY && !writable) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (writable && !f->canWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  struct stat st;
  if (fstat(f->fd, &st) != 0) {
    SetLastError(errorFromErrno(errno));
    return nullptr;
  }
  uint64_t want = (static_cast<uint64_t>(maxSizeHigh) << 32) | maxSizeLow;
  uint64_t size = want ? want : static_cast<uint64_t>(st.st_size);
  if (size == 0) {
    SetLastError(ERROR_FILE_INVALID);
    return nullptr;
  }
  if (size > static_cast<uint64_t>(st.st_size)) {
    // Asking for more than the file holds grows it, as on Win32.
    if (!writable) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    if (ftruncate(f->fd, static_cast<off_t>(size)) != 0) {
      SetLastError(errorFromErrno(errno));
      return nullptr;
    }
  }
  auto m = std::make_shared<MappingObject>();
  m->fd = fcntl(f->fd, F_DUPFD_CLOEXEC, 0);
  if (m->fd < 0) {
    SetLastError(errorFromErrno(errno));
    return nullptr;
  }
  m->size = size;
  m->writable = writable;
  SetLastError(ERROR_SUCCESS);
  return addHandle(m);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  auto m = lookupHandleAs<MappingObject>(mapping, KernelKind::Mapping);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  bool write = (access & FILE_MAP_WRITE) != 0 && access != FILE_MAP_COPY;
  if (write && !m->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
  if (offset % static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) != 0 || offset >= m->size ||
      (bytes && bytes > m->size - offset)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  size_t length = bytes ? bytes : static_cast<size_t>(m->size - offset);
  int prot = PROT_READ | (write || access == FILE_MAP_COPY ? PROT_WRITE : 0);
  int share = access == FILE_MAP_COPY ? MAP_PRIVATE : MAP_SHARED;
  void* p = mmap(nullptr, length, prot, share, m->fd, static_cast<off_t>(offset));
  if (p == MAP_FAILED) {
    SetLastError(errorFromErrno(errno));
    return nullptr;
  }
  std::lock_guard<std::mutex> g(g_viewsLock);
  views()[reinterpret_cast<uintptr_t>(p)] = length;
  return p;
}

BOOL UnmapViewOfFile(LPCVOID base) {
  size_t length;
  {
    std::lock_guard<std::mutex> g(g_viewsLock);
    auto it = views().find(reinterpret_cast<uintptr_t>(base));
    if (it == views().end()) return fail(ERROR_INVALID_PARAMETER);
    length = it->second;
    views().erase(it);
  }
  munmap(const_cast<void*>(base), length);
  return TRUE;
}

BOOL DeleteFile(LPCWSTR fileName) {
  if (!fileName) return fail(ERROR_INVALID_PARAMETER);
  std::string path = nativePath(fileName);
  std::lock_guard<std::mutex> sharing(g_sharingLock);
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
    // As on the device: a file held open without FILE_SHARE_DELETE stays.
    if (!deleteAllowed(FileKey(st.st_dev, st.st_ino))) return fail(ERROR_SHARING_VIOLATION);
  }
  if (unlink(path.c_str()) != 0) return failErrno();
  return TRUE;
}

BOOL MoveFile(LPCWSTR existingName, LPCWSTR newName) {
  if (!existingName || !newName) return fail(ERROR_INVALID_PARAMETER);
  std::string from = nativePath(existingName), to = nativePath(newName);
#ifdef SYS_renameat2
  if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1 /* RENAME_NOREPLACE */) == 0) return TRUE;
  if (errno != EINVAL && errno != ENOSYS) return failErrno();
#endif
  // File systems without the no-replace rename: check, then rename.
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) return fail(ERROR_ALREADY_EXISTS);
  if (rename(from.c_str(), to.c_str()) != 0) return failErrno();
  return TRUE;
}

BOOL CopyFile(LPCWSTR existingName, LPCWSTR newName, BOOL failIfExists) {
  HANDLE in = CreateFile(existingName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return FALSE;
  HANDLE out = CreateFile(newName, GENERIC_WRITE, 0, nullptr, failIfExists ? CREATE_NEW : CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    CloseHandle(in);
    return fail(err);
  }
  std::vector<char> buf(65536);
  BOOL ok = TRUE;
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(in, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) {
      ok = FALSE;
      break;
    }
    if (!got) break;
    if (!WriteFile(out, buf.data(), got, &put, nullptr)) {
      ok = FALSE;
      break;
    }
  }
  DWORD err = GetLastError();
  CloseHandle(in);
  CloseHandle(out);
  if (!ok) return fail(err);
  return TRUE;
}

BOOL CreateDirectory(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) {
  if (!pathName) return fail(ERROR_INVALID_PARAMETER);
  if (mkdir(nativePath(pathName).c_str(), 0700) != 0) return failErrno();
  return TRUE;
}

BOOL RemoveDirectory(LPCWSTR pathName) {
  if (!pathName) return fail(ERROR_INVALID_PARAMETER);
  if (rmdir(nativePath(pathName).c_str()) != 0) return failErrno();
  return TRUE;
}

DWORD GetFileAttributes(LPCWSTR fileName) {
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string path = nativePath(fileName);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    SetLastError(errorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributesOf(st, path.substr(path.rfind('/') + 1));
}

DWORD GetTempPath(DWORD size, LPWSTR buffer) {
  const char* t = std::getenv("TMPDIR");
  std::string folder = t && *t ? t : "/tmp";
  if (folder.back() != '/') folder += '/';
  std::u16string w = widen(folder);
  // Too small: the needed size with the NUL, nothing written.
  if (!buffer || w.size() + 1 > size) return static_cast<DWORD>(w.size() + 1);
  std::copy(w.begin(), w.end(), buffer);
  buffer[w.size()] = 0;
  return static_cast<DWORD>(w.size());
}
