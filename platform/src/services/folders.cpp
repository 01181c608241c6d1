// The special folders: per user under the configuration folder when
// OLVARO_HOME sandboxes the program, the desktop's own folders otherwise.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "folders.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace platform {

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

namespace {

std::string homeFolder() { return envOr("HOME", "/tmp"); }

bool sandboxed() { return std::getenv("OLVARO_HOME") && *std::getenv("OLVARO_HOME"); }

std::string programFolder() {
  WCHAR buf[4096];
  DWORD n = GetModuleFileName(nullptr, buf, 4096);
  std::string exe = narrow(std::u16string(buf, n < 4096 ? n : 0));
  return exe.substr(0, exe.rfind('/'));
}

}  // namespace

bool makeFolders(const std::string& folder) {
  for (size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos == folder.size() || folder[pos] == '/') {
      if (mkdir(folder.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

namespace {

std::string specialFolder(int csidl) {
  std::string base = sandboxed() ? configFolder() : homeFolder();
  switch (csidl) {
    case CSIDL_STARTUP: return startupFolderPath();
    case CSIDL_PERSONAL: return sandboxed() ? base + "/documents" : base;
    case CSIDL_MYPICTURES: return sandboxed() ? base + "/pictures" : base + "/Pictures";
    case CSIDL_APPDATA: return configFolder();
    case CSIDL_PROGRAMS:
      return sandboxed() ? base + "/programs" : envOr("XDG_DATA_HOME", base + "/.local/share") + "/applications";
    case CSIDL_PROGRAM_FILES:
    case CSIDL_WINDOWS: return programFolder();
    default: return {};
  }
}

}  // namespace

std::string privateTempFolder() {
  std::string folder;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (sandboxed())
    folder = configFolder() + "/temp";
  else if (runtime && *runtime == '/')
    folder = std::string(runtime) + "/olvaro";
  else
    folder = envOr("XDG_CACHE_HOME", homeFolder() + "/.cache") + "/olvaro/temp";
  if (!makeFolders(folder.substr(0, folder.rfind('/')))) return {};
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  // Checked on what was opened, without following a link at the name.
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
            ((st.st_mode & 077) == 0 || fchmod(fd, 0700) == 0);
  close(fd);
  return ok ? folder + "/" : std::string();
}

std::string startupFolderPath() {
  if (sandboxed()) return configFolder() + "/autostart";
  return envOr("XDG_CONFIG_HOME", homeFolder() + "/.config") + "/autostart";
}

}  // namespace platform

using namespace platform;

BOOL SHGetSpecialFolderPath(HWND, LPWSTR path, int csidl, BOOL create) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string folder = specialFolder(csidl);
  if (folder.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string w = widen(folder);
  if (w.size() >= MAX_PATH) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (create && !makeFolders(folder)) {
    SetLastError(errorFromErrno(errno));
    return FALSE;
  }
  std::copy(w.begin(), w.end(), path);
  path[w.size()] = 0;
  return TRUE;
}
