#include "startup_shortcut.h"

#include "platform/files.h"
#include "platform/shell.h"

namespace host {

std::u16string shortcutPath(const std::u16string& name) {
  WCHAR folder[MAX_PATH] = {};
  if (!SHGetSpecialFolderPath(nullptr, folder, CSIDL_STARTUP, FALSE)) return {};
  return std::u16string(folder) + u"\\" + name + u".lnk";
}

std::u16string shortcutTarget(const std::u16string& hostPath) {
  return u"\"" + hostPath + u"\" /hidden";
}

int createShortcut(const std::u16string& name) {
  WCHAR self[MAX_PATH] = {};
  DWORD length = GetModuleFileName(nullptr, self, MAX_PATH);
  // A cut path would start some other program, or none, at boot.
  if (length == 0 || length >= MAX_PATH) return 0;
  std::u16string path = shortcutPath(name);
  if (path.empty()) return 0;
  std::u16string target = shortcutTarget(self);
  return SHCreateShortcut(path.data(), target.data()) ? 1 : 0;
}

bool shortcutExists(const std::u16string& name) {
  std::u16string path = shortcutPath(name);
  if (path.empty()) return false;
  WIN32_FIND_DATA data;
  HANDLE find = FindFirstFile(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

bool deleteShortcut(const std::u16string& name) {
  std::u16string path = shortcutPath(name);
  return !path.empty() && DeleteFile(path.c_str());
}

}  // namespace host
