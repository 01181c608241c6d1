#include "platform/resources.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <map>
#include <mutex>

#include "ascii.h"
#include "platform/text.h"

namespace platform {
namespace {

struct Registry {
  std::mutex lock;
  // By link map; a module may carry several tables, searched in order.
  std::map<const void*, std::vector<const ResourceTable*>> byModule;
};

Registry& registry() {
  static auto* r = new Registry;
  return *r;
}

const void* linkMapOfAddress(const void* address) {
  Dl_info info{};
  struct link_map* lm = nullptr;
  if (!dladdr1(address, &info, reinterpret_cast<void**>(&lm), RTLD_DL_LINKMAP)) return nullptr;
  return lm;
}

const void* linkMapOfModule(HMODULE module) {
  if (!module) module = GetModuleHandle(nullptr);
  struct link_map* lm = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &lm) != 0) return nullptr;
  return lm;
}

std::vector<const ResourceTable*> tablesOf(HMODULE module) {
  const void* lm = linkMapOfModule(module);
  auto& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.byModule.find(lm);
  return it == r.byModule.end() ? std::vector<const ResourceTable*>() : it->second;
}

bool matches(unsigned id, const char16_t* name, LPCWSTR wanted) {
  if (IS_INTRESOURCE(wanted)) return !name && id == LOWORD(reinterpret_cast<uintptr_t>(wanted));
  // "#123" names the integer resource 123, as on Win32.
  if (wanted[0] == u'#' && !name) {
    unsigned v = 0;
    const char16_t* p = wanted + 1;
    if (!*p) return false;
    for (; *p; ++p) {
      if (*p < u'0' || *p > u'9' || v > 65535) return false;
      v = v * 10 + (*p - u'0');
    }
    return v == id;
  }
  return name && asciiEqualNoCase(name, wanted);
}

// The entry behind an HRSRC, if it is one of this module's.
const ResourceEntry* entryOf(HMODULE module, HRSRC resource) {
  auto* e = reinterpret_cast<const ResourceEntry*>(resource);
  for (const ResourceTable* t : tablesOf(module))
    if (e >= t->entries && e < t->entries + t->count) return e;
  return nullptr;
}

struct Reader {
  const unsigned char* p;
  size_t left;
  bool ok = true;
  unsigned u16() {
    if (left < 2) return ok = false, 0;
    unsigned v = p[0] | (p[1] << 8);
    p += 2, left -= 2;
    return v;
  }
  uint32_t u32() {
    uint32_t lo = u16(), hi = u16();
    return lo | (hi << 16);
  }
};

bool readItems(Reader& r, std::vector<MenuBarItem>* out, int depth) {
  if (depth > 8) return false;
  unsigned count = r.u16();
  for (unsigned i = 0; i < count && r.ok; ++i) {
    MenuBarItem item;
    item.flags = r.u16();
    item.id = r.u32();
    unsigned len = r.u16();
    if (r.left < len * 2u) return false;
    for (unsigned k = 0; k < len; ++k) item.text += static_cast<char16_t>(r.u16());
    if ((item.flags & MenuBarItem::Popup) && !readItems(r, &item.children, depth + 1)) return false;
    out->push_back(std::move(item));
  }
  return r.ok;
}

}  // namespace

ResourceRegistration::ResourceRegistration(const ResourceTable* table) : table_(table) {
  const void* lm = linkMapOfAddress(table);
  auto& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  r.byModule[lm].push_back(table);
}

ResourceRegistration::~ResourceRegistration() {
  auto& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  for (auto it = r.byModule.begin(); it != r.byModule.end(); ++it) {
    auto& tables = it->second;
    for (auto t = tables.begin(); t != tables.end(); ++t)
      if (*t == table_) {
        tables.erase(t);
        if (tables.empty()) r.byModule.erase(it);
        return;
      }
  }
}

bool loadMenuBar(HMODULE module, UINT id, std::vector<MenuBarItem>* keys) {
  keys->clear();
  HRSRC res = FindResource(module, MAKEINTRESOURCE(id), RT_MENUBAR);
  if (!res) return false;
  auto* e = reinterpret_cast<const ResourceEntry*>(res);
  Reader r{e->data, e->size};
  if (!readItems(r, keys, 0)) {
    keys->clear();
    return false;
  }
  return true;
}

}  // namespace platform

using namespace platform;

HRSRC FindResource(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (!name || !type) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  for (const ResourceTable* t : tablesOf(module)) {
    for (unsigned i = 0; i < t->count; ++i) {
      const ResourceEntry& e = t->entries[i];
      if (e.data && matches(e.typeId, e.typeName, type) && matches(e.nameId, e.name, name))
        return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&e));
    }
  }
  SetLastError(ERROR_RESOURCE_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  const ResourceEntry* e = entryOf(module, resource);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<unsigned char*>(e->data);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  const ResourceEntry* e = entryOf(module, resource);
  return e ? e->size : 0;
}

int LoadString(HINSTANCE module, UINT id, LPWSTR buffer, int size) {
  if (!buffer || size < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  HRSRC res = FindResource(module, MAKEINTRESOURCE(id), RT_STRING);
  if (!res) {
    if (size > 0) buffer[0] = 0;
    return 0;
  }
  auto* e = reinterpret_cast<const ResourceEntry*>(res);
  int len = static_cast<int>(e->size / 2);
  auto* text = reinterpret_cast<const char16_t*>(e->data);  // the data is 4-byte aligned
  if (size == 0) {
    *reinterpret_cast<LPCWSTR*>(buffer) = text;
    return len;
  }
  int n = len < size - 1 ? len : size - 1;
  std::memcpy(buffer, text, static_cast<size_t>(n) * 2);
  buffer[n] = 0;
  return n;
}

namespace platform {

std::u16string loadStringWide(HINSTANCE module, UINT id) {
  LPCWSTR text = nullptr;
  int n = LoadString(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  return n > 0 && text ? std::u16string(text, size_t(n)) : std::u16string();
}

std::string loadStringUtf8(HINSTANCE module, UINT id) { return narrow(loadStringWide(module, id)); }

}  // namespace platform
