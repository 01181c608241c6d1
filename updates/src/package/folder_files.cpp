#include "folder_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace updates {

Mapping::~Mapping() {
  if (base) ::munmap(base, size);
}

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

bool digestFile(const std::string& path, Digest* out) {
  Mapping m;
  if (!mapReadOnly(path, &m)) return false;
  *out = digestOf(m.data, m.size);
  return true;
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

void syncFolder(const std::string& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace updates
