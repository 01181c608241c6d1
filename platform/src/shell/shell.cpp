#include "platform/shell.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "ascii.h"
#include "folders.h"
#include "platform/bitmap.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "waitable.h"

extern char** environ;

namespace platform {
namespace {

struct ProcessObject : Waitable {
  ProcessObject() : Waitable(KernelKind::Process) {}
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
  bool acquire(DWORD) override { return finished; }
};

// Splits a parameter text at blanks; double quotes group.
std::vector<std::string> splitArguments(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false, have = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      have = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (have) out.push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur += c;
      have = true;
    }
  }
  if (have) out.push_back(cur);
  return out;
}

// Quoting of one argument of an autostart entry's Exec line.
std::string execQuote(const std::string& arg) {
  bool plain = !arg.empty();
  for (char c : arg)
    if (!(isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+,:=@", c))) plain = false;
  if (plain) return arg;
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Escapes of a desktop-entry string value; '%' is doubled for Exec.
std::string entryEscape(const std::string& s, bool exec) {
  std::string out;
  for (char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '%' && exec) {
      out += "%%";
    } else {
      out += c;
    }
  }
  return out;
}

std::string entryUnescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char e = s[++i];
      out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 's' ? ' ' : e;
    } else {
      out += s[i];
    }
  }
  return out;
}

void registerExports() {
  registerShellExport("SHGetSpecialFolderPath", reinterpret_cast<FARPROC>(&SHGetSpecialFolderPath));
  registerShellExport("SHCreateShortcut", reinterpret_cast<FARPROC>(&SHCreateShortcut));
  registerShellExport("SHGetShortcutTarget", reinterpret_cast<FARPROC>(&SHGetShortcutTarget));
  registerShellExport("ShellExecuteEx", reinterpret_cast<FARPROC>(&ShellExecuteEx));
}

struct ExportsAtLoad {
  ExportsAtLoad() { registerExports(); }
} g_exportsAtLoad;

}  // namespace

}  // namespace platform

using namespace platform;

BOOL SHCreateShortcut(LPWSTR shortcut, LPWSTR target) {
  if (!shortcut || !target || !*target) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string t = narrow(target);
  // One line only: an entry cannot carry line breaks.
  if (t == kCouldNotConvert || t.find_first_of("\r\n") != std::string::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string program, args;
  if (t[0] == '"') {
    size_t close = t.find('"', 1);
    if (close == std::string::npos) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    program = t.substr(1, close - 1);
    args = t.substr(close + 1);
  } else {
    size_t blank = t.find(' ');
    program = t.substr(0, blank);
    args = blank == std::string::npos ? "" : t.substr(blank);
  }
  std::string exec = execQuote(program);
  for (const auto& a : splitArguments(args)) exec += " " + execQuote(a);
  std::string path = nativePath(shortcut);
  std::string name = path.substr(path.rfind('/') + 1);
  name = name.substr(0, name.find('.'));
  std::ostringstream entry;
  entry << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << entryEscape(name.empty() ? "Olvaro" : name, false) << "\n"
        << "Exec=" << entryEscape(exec, true) << "\n"
        << "X-Olvaro-Target=" << entryEscape(t, false) << "\n"
        << "X-GNOME-Autostart-enabled=true\n";
  std::string text = entry.str();
  std::string folder = path.substr(0, path.rfind('/'));
  if (!folder.empty() && !makeFolders(folder)) {
    SetLastError(errorFromErrno(errno));
    return FALSE;
  }
  HANDLE f = CreateFile(shortcut, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written = 0;
  BOOL ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
  return ok;
}

BOOL SHGetShortcutTarget(LPWSTR shortcut, LPWSTR target, int size) {
  if (!shortcut || !target || size <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::ifstream in(nativePath(shortcut));
  if (!in) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("X-Olvaro-Target=", 0) == 0) {
      std::u16string w = widen(entryUnescape(line.substr(16)));
      if (w.size() + 1 > static_cast<size_t>(size)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
      }
      std::copy(w.begin(), w.end(), target);
      target[w.size()] = 0;
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_DATA);
  return FALSE;
}

namespace {

bool isBrowser(LPCWSTR file) {
  std::string name = narrow(file);
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  name = asciiLowered(name);
  return name == "iexplore.exe" || name == "iexplore";
}

// The address as the browser gets it: blanks around it dropped, a bare
// "www." or "ftp." given its scheme; empty when there is none or it could
// pass for an option of the opener.
std::string webAddress(std::string text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r\n");
  text = text.substr(begin, end - begin + 1);
  auto startsWith = [&](const char* p) {
    size_t n = std::strlen(p);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
      if (asciiLower(text[i]) != p[i]) return false;
    return true;
  };
  if (startsWith("www.")) return "http://" + text;
  if (startsWith("ftp.")) return "ftp://" + text;
  if (text[0] == '-') return std::string();
  return text;
}

BOOL spawnOpener(LPSHELLEXECUTEINFO info, std::vector<std::string>& argv) {
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string dir = info->lpDirectory && *info->lpDirectory ? nativePath(info->lpDirectory) : std::string();
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  pid_t pid = 0;
  int err = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) {
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(SE_ERR_NOASSOC));
    SetLastError(errorFromErrno(err));
    return FALSE;
  }
  auto p = std::make_shared<ProcessObject>();
  // Reaps the child so it never lingers, and signals waiters.
  std::thread([p, pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> g(p->lock);
    p->exitCode = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status)) : 0xC0000000u;
    p->finished = true;
    p->changed.notify_all();
  }).detach();
  if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = addHandle(p);
  info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(33));
  return TRUE;
}

}  // namespace

BOOL ShellExecuteEx(LPSHELLEXECUTEINFO info) {
  if (!info || info->cbSize != sizeof(SHELLEXECUTEINFO) || !info->lpFile || !*info->lpFile) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->hProcess = nullptr;
  std::vector<std::string> argv;
  if (isBrowser(info->lpFile)) {
    // The phone's browser is the desktop's: the address goes to the opener
    // as one argument, never through a shell.
    std::string address = webAddress(info->lpParameters ? narrow(info->lpParameters) : std::string());
    if (address.empty()) {
      info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(SE_ERR_FNF));
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    argv = splitArguments(envOr("OLVARO_OPEN_COMMAND", "xdg-open"));
    argv.push_back(address);
    return spawnOpener(info, argv);
  }
  std::string file = nativePath(info->lpFile);
  struct stat st;
  if (stat(file.c_str(), &st) != 0 && file.find("://") == std::string::npos) {
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(SE_ERR_FNF));
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  // A document is opened, never run, even when it is executable: a file
  // that came from elsewhere must not become a program by its mode. A name
  // that could pass for an option of the opener is made a path.
  if (file[0] == '-') file = "./" + file;
  argv = splitArguments(envOr("OLVARO_OPEN_COMMAND", "xdg-open"));
  argv.push_back(file);
  return spawnOpener(info, argv);
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  auto p = lookupHandleAs<ProcessObject>(process, KernelKind::Process);
  if (!p || !exitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(p->lock);
  *exitCode = p->exitCode;
  return TRUE;
}

namespace platform {
namespace {

// A generic icon drawn in code: a page with a folded corner and text lines,
// or a folder with its tab. Pixels outside the shape are transparent.
HICON genericIcon(bool folder, int size) {
  size = std::clamp(size, 8, 256);
  std::vector<uint32_t> color(size_t(size) * size, 0), mask(size_t(size) * size, 0xFFFFFF);
  auto put = [&](int x, int y, uint32_t rgb) {
    if (x < 0 || y < 0 || x >= size || y >= size) return;
    color[size_t(y) * size + x] = rgb;
    mask[size_t(y) * size + x] = 0;
  };
  int s = size;
  if (folder) {
    int top = s / 5, tab = s / 2;
    for (int y = top - s / 8; y < top; ++y)
      for (int x = 1; x < tab; ++x) put(x, y, 0xE0B040);
    for (int y = top; y < s - 2; ++y)
      for (int x = 1; x < s - 1; ++x) {
        bool edge = y == top || y == s - 3 || x == 1 || x == s - 2;
        put(x, y, edge ? 0xA07810 : 0xF8D060);
      }
  } else {
    int left = s / 6, right = s - s / 6, fold = s / 4;
    for (int y = 0; y < s; ++y)
      for (int x = left; x < right; ++x) {
        if (x > right - fold + y) continue;  // the cut corner
        bool edge = y == 0 || y == s - 1 || x == left || x == right - 1 || x == right - fold + y;
        bool line = !edge && y > fold && y < s - 2 && (y - fold) % 3 == 0 && x > left + 1 && x < right - 2;
        put(x, y, edge ? 0x606060 : line ? 0x8090B0 : 0xFFFFFF);
      }
  }
  // 32-bit bitmaps take blue, green, red and a spare byte per pixel.
  auto bgr = [](const std::vector<uint32_t>& px) {
    std::vector<uint8_t> out(px.size() * 4);
    for (size_t i = 0; i < px.size(); ++i) {
      out[i * 4] = uint8_t(px[i]);
      out[i * 4 + 1] = uint8_t(px[i] >> 8);
      out[i * 4 + 2] = uint8_t(px[i] >> 16);
    }
    return out;
  };
  std::vector<uint8_t> c = bgr(color), m = bgr(mask);
  ICONINFO ii{TRUE, 0, 0, CreateBitmap(size, size, 1, 32, m.data()), CreateBitmap(size, size, 1, 32, c.data())};
  HICON icon = CreateIconIndirect(&ii);
  DeleteObject(ii.hbmMask);
  DeleteObject(ii.hbmColor);
  return icon;
}

}  // namespace
}  // namespace platform

DWORD_PTR SHGetFileInfo(LPCWSTR path, DWORD fileAttributes, SHFILEINFO* info, UINT infoSize, UINT flags) {
  if (!path || !info || infoSize < sizeof(SHFILEINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD attributes = fileAttributes;
  if (!(flags & SHGFI_USEFILEATTRIBUTES)) {
    attributes = GetFileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  }
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  *info = SHFILEINFO{};
  info->iIcon = folder ? 1 : 0;
  if (flags & SHGFI_ATTRIBUTES) info->dwAttributes = attributes;
  if (flags & SHGFI_DISPLAYNAME) {
    std::u16string p(path);
    size_t cut = p.find_last_of(u"\\/");
    std::u16string leaf = cut == std::u16string::npos ? p : p.substr(cut + 1);
    leaf.resize(std::min<size_t>(leaf.size(), MAX_PATH - 1));
    std::copy(leaf.begin(), leaf.end(), info->szDisplayName);
  }
  if (flags & SHGFI_TYPENAME) {
    const std::u16string type = folder ? u"Folder" : u"File";
    std::copy(type.begin(), type.end(), info->szTypeName);
  }
  if (flags & SHGFI_ICON) {
    int size = GetSystemMetrics((flags & SHGFI_SMALLICON) ? SM_CXSMICON : SM_CXICON);
    info->hIcon = platform::genericIcon(folder, size);
    if (!info->hIcon) return 0;
  }
  return 1;
}
