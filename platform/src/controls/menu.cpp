// Menus as data: items, sub-menus, check marks and greyed items.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "menu_internal.h"
#include "platform/handles.h"

namespace platform::menus {
namespace {

struct Menu {
  std::vector<Item> items;
};

struct Store {
  std::mutex m;
  std::unordered_map<uintptr_t, std::unique_ptr<Menu>> menus;
  uintptr_t next = 0x4000;
};

Store& S() {
  static Store* s = new Store;
  return *s;
}

Menu* find(HMENU h) {
  auto it = S().menus.find(reinterpret_cast<uintptr_t>(h));
  return it == S().menus.end() ? nullptr : it->second.get();
}

// The item named by position or by command (searched depth first, into
// sub-menus too).
bool locate(HMENU h, UINT item, UINT flags, Menu** menu, size_t* index, int depth = 0) {
  Menu* m = find(h);
  if (!m || depth > 16) return false;
  if (flags & MF_BYPOSITION) {
    if (item >= m->items.size()) return false;
    *menu = m;
    *index = item;
    return true;
  }
  for (size_t i = 0; i < m->items.size(); ++i) {
    const Item& it = m->items[i];
    if (!(it.flags & (MF_POPUP | MF_SEPARATOR)) && it.id == item) {
      *menu = m;
      *index = i;
      return true;
    }
    if ((it.flags & MF_POPUP) && locate(it.sub, item, flags, menu, index, depth + 1)) return true;
  }
  return false;
}

void destroyLocked(HMENU h, int depth = 0) {
  Menu* m = find(h);
  if (!m || depth > 16) return;
  std::vector<HMENU> subs;
  for (const Item& it : m->items)
    if ((it.flags & MF_POPUP) && it.sub) subs.push_back(it.sub);
  S().menus.erase(reinterpret_cast<uintptr_t>(h));
  for (HMENU s : subs) destroyLocked(s, depth + 1);
}

// A sub-menu may not hold the menu it goes into (that would loop).
bool contains(HMENU outer, HMENU inner, int depth = 0) {
  if (outer == inner) return true;
  Menu* m = find(outer);
  if (!m || depth > 16) return false;
  for (const Item& it : m->items)
    if ((it.flags & MF_POPUP) && contains(it.sub, inner, depth + 1)) return true;
  return false;
}

bool makeItem(HMENU into, UINT flags, UINT_PTR idOrSub, LPCWSTR text, Item* out) {
  out->flags = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP | MF_SEPARATOR);
  if (flags & MF_SEPARATOR) {
    out->flags = MF_SEPARATOR;
    return true;
  }
  if (flags & MF_POPUP) {
    out->sub = reinterpret_cast<HMENU>(idOrSub);
    if (!find(out->sub) || contains(out->sub, into)) return false;
  } else {
    out->id = UINT(idOrSub);
  }
  if (text) out->text = text;
  return true;
}

HMENU create() {
  std::lock_guard<std::mutex> g(S().m);
  uintptr_t h = S().next;
  S().next += 4;
  S().menus[h] = std::make_unique<Menu>();
  return reinterpret_cast<HMENU>(h);
}

}  // namespace

bool snapshot(HMENU menu, std::vector<Item>* out) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* m = find(menu);
  if (!m) return false;
  *out = m->items;
  return true;
}

}  // namespace platform::menus

using namespace platform::menus;

HMENU CreateMenu() { return create(); }
HMENU CreatePopupMenu() { return create(); }

BOOL DestroyMenu(HMENU menu) {
  std::lock_guard<std::mutex> g(S().m);
  if (!find(menu)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  destroyLocked(menu);
  return TRUE;
}

BOOL IsMenu(HMENU menu) {
  std::lock_guard<std::mutex> g(S().m);
  return find(menu) != nullptr;
}

BOOL AppendMenu(HMENU menu, UINT flags, UINT_PTR idOrSubMenu, LPCWSTR text) {
  return InsertMenu(menu, UINT(-1), flags | MF_BYPOSITION, idOrSubMenu, text);
}

BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubMenu, LPCWSTR text) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* target = find(menu);
  size_t index = 0;
  if (!target) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (flags & MF_BYPOSITION) {
    index = std::min<size_t>(position, target->items.size());
  } else if (!locate(menu, position, flags, &target, &index)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Item it;
  if (!makeItem(menu, flags, idOrSubMenu, text, &it)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  target->items.insert(target->items.begin() + long(index), std::move(it));
  return TRUE;
}

BOOL ModifyMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubMenu, LPCWSTR text) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* target = nullptr;
  size_t index = 0;
  if (!locate(menu, position, flags, &target, &index)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Item it;
  if (!makeItem(menu, flags, idOrSubMenu, text, &it)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Item& old = target->items[index];
  if ((old.flags & MF_POPUP) && old.sub != it.sub) destroyLocked(old.sub);
  old = std::move(it);
  return TRUE;
}

namespace {
BOOL takeOut(HMENU menu, UINT position, UINT flags, bool destroy) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* target = nullptr;
  size_t index = 0;
  if (!locate(menu, position, flags, &target, &index)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Item it = target->items[index];
  target->items.erase(target->items.begin() + long(index));
  if (destroy && (it.flags & MF_POPUP)) destroyLocked(it.sub);
  return TRUE;
}
}  // namespace

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) { return takeOut(menu, position, flags, false); }
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) { return takeOut(menu, position, flags, true); }

HMENU GetSubMenu(HMENU menu, int position) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* m = find(menu);
  if (!m || position < 0 || size_t(position) >= m->items.size()) return nullptr;
  const Item& it = m->items[size_t(position)];
  return (it.flags & MF_POPUP) ? it.sub : nullptr;
}

int GetMenuItemCount(HMENU menu) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* m = find(menu);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return int(m->items.size());
}

UINT GetMenuItemID(HMENU menu, int position) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* m = find(menu);
  if (!m || position < 0 || size_t(position) >= m->items.size()) return UINT(-1);
  const Item& it = m->items[size_t(position)];
  if (it.flags & MF_POPUP) return UINT(-1);
  return (it.flags & MF_SEPARATOR) ? 0 : it.id;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* target = nullptr;
  size_t index = 0;
  if (!locate(menu, item, flags, &target, &index)) return DWORD(-1);
  Item& it = target->items[index];
  DWORD old = it.flags & MF_CHECKED;
  it.flags = (it.flags & ~MF_CHECKED) | (flags & MF_CHECKED);
  return old;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* target = nullptr;
  size_t index = 0;
  if (!locate(menu, item, flags, &target, &index)) return BOOL(-1);
  Item& it = target->items[index];
  BOOL old = BOOL(it.flags & (MF_GRAYED | MF_DISABLED));
  it.flags = (it.flags & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
  return old;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* target = nullptr;
  size_t index = 0;
  if (!locate(menu, item, flags, &target, &index)) return UINT(-1);
  const Item& it = target->items[index];
  if (it.flags & MF_POPUP) {
    Menu* sub = find(it.sub);
    return (it.flags & 0xFF) | (UINT(sub ? sub->items.size() : 0) << 8);
  }
  return it.flags;
}

int GetMenuString(HMENU menu, UINT item, LPWSTR buffer, int size, UINT flags) {
  std::lock_guard<std::mutex> g(S().m);
  Menu* target = nullptr;
  size_t index = 0;
  if (!locate(menu, item, flags, &target, &index)) return 0;
  const std::u16string& t = target->items[index].text;
  if (!buffer || size <= 0) return int(t.size());
  int n = std::min<int>(int(t.size()), size - 1);
  std::memcpy(buffer, t.data(), size_t(n) * sizeof(WCHAR));
  buffer[n] = 0;
  return n;
}
