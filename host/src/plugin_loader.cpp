#include "plugin_loader.h"

#include <cstdio>
#include <vector>

#include "olvaro/api.h"
#include "platform/files.h"
#include "platform/module.h"

namespace host {

namespace {

using PluginLoadFunction = int (*)(int version, kestrum::Plugin** out);

// The names of the folder's matches, in the order the listing gives them.
std::vector<std::u16string> listFolder(const std::u16string& folder, const std::u16string& pattern) {
  std::vector<std::u16string> names;
  WIN32_FIND_DATA data;
  HANDLE find = FindFirstFile((folder + pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(data.cFileName);
  } while (FindNextFile(find, &data));
  FindClose(find);
  return names;
}

}  // namespace

std::u16string hostPath() {
  WCHAR path[MAX_PATH] = {};
  DWORD length = GetModuleFileName(nullptr, path, MAX_PATH);
  return std::u16string(path, length < MAX_PATH ? length : 0);
}

std::u16string folderOf(const std::u16string& path) {
  size_t slash = path.find_last_of(u"/\\");
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

std::u16string languagePattern(unsigned languageId) {
  char text[16];
  std::snprintf(text, sizeof text, "*.%04X.mui", languageId & 0xFFFF);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

int loadLanguageLibraries(const std::u16string& folder, unsigned languageId) {
  int loaded = 0;
  for (const auto& name : listFolder(folder, languagePattern(languageId)))
    if (LoadLibrary((folder + name).c_str())) ++loaded;
  return loaded;
}

int loadPlugins(const std::u16string& folder, const std::u16string& pattern) {
  int added = 0;
  for (const auto& name : listFolder(folder, pattern)) {
    HMODULE module = LoadLibrary((folder + name).c_str());
    if (!module) continue;
    auto load = reinterpret_cast<PluginLoadFunction>(GetProcAddress(module, "PluginLoad"));
    kestrum::Plugin* plugin = nullptr;
    // A library that says yes but hands back no object is refused too: the
    // host would otherwise write through a null pointer.
    if (load && load(kPluginInterfaceVersion, &plugin) && plugin) {
      plugin->module = module;
      KS_PluginAdd(plugin);
      ++added;
    } else {
      FreeLibrary(module);
    }
  }
  return added;
}

}  // namespace host
