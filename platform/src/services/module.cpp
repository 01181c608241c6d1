#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string_view>

#include "ascii.h"
#include "platform/text.h"

namespace platform {
namespace {

struct ModuleState {
  std::mutex lock;
  std::map<std::string, FARPROC> shellExports;
  std::set<std::u16string> hiddenModules;  // folded base names
  std::set<std::string> hiddenProcs;
};

ModuleState& state() {
  static auto* s = new ModuleState;
  return *s;
}

std::u16string foldBaseName(std::u16string name) {
  for (auto& c : name) {
    if (c == u'\\') c = u'/';
    c = asciiLower(c);
  }
  size_t slash = name.rfind(u'/');
  return slash == std::u16string::npos ? name : name.substr(slash + 1);
}

bool isShellName(const std::u16string& base) { return base == u"aygshell.dll" || base == u"aygshell"; }

std::string selfPath() {
  std::string exe(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
  if (n <= 0) return {};
  exe.resize(static_cast<size_t>(n));
  return exe;
}

std::string pathOfModule(HMODULE module) {
  if (!module || module == GetModuleHandle(nullptr)) return selfPath();
  struct link_map* lm = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &lm) != 0 || !lm || !lm->l_name || !*lm->l_name) return selfPath();
  // The linker may report a relative name; make it whole.
  char resolved[4096];
  if (realpath(lm->l_name, resolved)) return resolved;
  return lm->l_name;
}

}  // namespace

HMODULE shellModule() {
  static HMODULE self = [] {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&shellModule), &info);
    void* h = info.dli_fname ? dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD) : nullptr;
    return static_cast<HMODULE>(h);  // kept: the platform stays loaded
  }();
  return self;
}

void registerShellExport(const char* name, FARPROC proc) {
  auto& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  s.shellExports[name] = proc;
}

void testHideModule(const std::u16string& fileName, bool hidden) {
  auto& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  if (hidden)
    s.hiddenModules.insert(foldBaseName(fileName));
  else
    s.hiddenModules.erase(foldBaseName(fileName));
}

void testHideProc(const std::string& procName, bool hidden) {
  auto& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  if (hidden)
    s.hiddenProcs.insert(procName);
  else
    s.hiddenProcs.erase(procName);
}

HMODULE moduleOfAddress(const void* address) {
  Dl_info info{};
  struct link_map* lm = nullptr;
  if (!dladdr1(address, &info, reinterpret_cast<void**>(&lm), RTLD_DL_LINKMAP) || !lm) return nullptr;
  if (!lm->l_name || !*lm->l_name) return GetModuleHandle(nullptr);
  void* h = dlopen(lm->l_name, RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);  // balance the count; the module stays loaded
  return static_cast<HMODULE>(h);
}

}  // namespace platform

using namespace platform;

HMODULE LoadLibrary(LPCWSTR fileName) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string base = foldBaseName(fileName);
  {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (s.hiddenModules.count(base)) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
  }
  if (isShellName(base)) {
    HMODULE self = shellModule();
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&shellModule), &info);
    // Counted like any other load, so FreeLibrary balances it.
    return static_cast<HMODULE>(dlopen(info.dli_fname, RTLD_NOW)) ? self : nullptr;
  }
  std::string name = narrow(fileName);
  for (auto& c : name)
    if (c == '\\') c = '/';
  void* h = nullptr;
  if (name.find('/') == std::string::npos) {
    std::string exe = selfPath();
    std::string folder = exe.substr(0, exe.rfind('/') + 1);
    if (!folder.empty() && access((folder + name).c_str(), F_OK) == 0) h = dlopen((folder + name).c_str(), RTLD_NOW);
  }
  if (!h) h = dlopen(name.c_str(), RTLD_NOW);
  if (!h) {
    SetLastError(access(name.c_str(), F_OK) == 0 ? ERROR_BAD_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HMODULE>(h);
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (module == shellModule()) {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&shellModule), &info);
    void* h = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (h) {
      dlclose(h);  // the probe's own count
      dlclose(h);  // the LoadLibrary count
    }
    return TRUE;
  }
  if (dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  if (!module || !procName || IS_INTRESOURCE(procName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto& s = state();
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (s.hiddenProcs.count(procName)) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    if (module == shellModule()) {
      // A device described as having no camera has no camera dialog.
      const char* noCamera = std::getenv("OLVARO_NO_CAMERA");
      if (noCamera && *noCamera && std::string_view(noCamera) != "0" && std::string_view(procName) == "SHCameraCapture") {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
      }
      auto it = s.shellExports.find(procName);
      if (it != s.shellExports.end()) return it->second;
    }
  }
  void* p = dlsym(module, procName);
  if (!p) SetLastError(ERROR_PROC_NOT_FOUND);
  return p;
}

HMODULE GetModuleHandle(LPCWSTR moduleName) {
  if (!moduleName) {
    static void* main = dlopen(nullptr, RTLD_NOW);
    return static_cast<HMODULE>(main);
  }
  std::u16string base = foldBaseName(moduleName);
  if (isShellName(base)) return shellModule();
  std::string name = narrow(moduleName);
  for (auto& c : name)
    if (c == '\\') c = '/';
  void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h && name.find('/') == std::string::npos) {
    // By base name among the loaded modules.
    struct Search {
      std::string base;
      std::string found;
    } search{name, {}};
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* data) {
          auto* s = static_cast<Search*>(data);
          const char* n = info->dlpi_name;
          if (!n || !*n) return 0;
          const char* slash = std::strrchr(n, '/');
          if (s->base == (slash ? slash + 1 : n)) {
            s->found = n;
            return 1;
          }
          return 0;
        },
        &search);
    if (!search.found.empty()) h = dlopen(search.found.c_str(), RTLD_NOW | RTLD_NOLOAD);
  }
  if (!h) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  dlclose(h);  // no count is taken, as on Win32
  return static_cast<HMODULE>(h);
}

DWORD GetModuleFileName(HMODULE module, LPWSTR fileName, DWORD size) {
  if (!fileName || !size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::u16string path = widen(pathOfModule(module));
  if (path.size() + 1 > size) {
    std::copy(path.begin(), path.begin() + (size - 1), fileName);
    fileName[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::copy(path.begin(), path.end(), fileName);
  fileName[path.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}
