#include "texts.h"

#include <map>
#include <utility>

#include "olvaro/api.h"
#include "platform/bitmap.h"
#include "platform/menu.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace panorel {

std::u16string text(unsigned id) { return platform::loadStringWide(platform::currentModule(), id); }

std::u16string widen(const char* utf8) { return utf8 ? platform::widen(utf8) : std::u16string(); }

std::string narrow(const std::u16string& text) { return platform::narrow(text); }

std::u16string withCount(std::u16string pattern, long count) {
  size_t at = pattern.find(u"%d");
  if (at == std::u16string::npos) return pattern;
  std::string number = std::to_string(count);
  pattern.replace(at, 2, std::u16string(number.begin(), number.end()));
  return pattern;
}

HICON moduleIcon(LPCWSTR name, int size) {
  // Keyed by the resource as given: an id below 0x10000 or a name.
  using Key = std::pair<std::u16string, int>;
  static std::map<Key, HICON> cache;
  uintptr_t raw = reinterpret_cast<uintptr_t>(name);
  std::u16string key = raw < 0x10000 ? u"#" + widen(std::to_string(raw).c_str()) : std::u16string(name);
  auto found = cache.find({key, size});
  if (found != cache.end()) return found->second;
  HICON icon = static_cast<HICON>(LoadImage(platform::currentModule(), name, IMAGE_ICON, size, size, 0));
  cache[{key, size}] = icon;
  return icon;
}

std::u16string presenceWord(int32_t onlineStatus) {
  switch (onlineStatus) {
    case 0:
      return text(kStrOffline);
    case 2:
      return text(kStrAway);
    case 5:
      return text(kStrBusy);
    case 100:
      return text(kStrUnknownState);
    default:
      return text(kStrOnline);
  }
}

UINT trackMenu(HMENU menu, int x, int y) {
  UINT chosen = UINT(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN, x, y, mainWindow(), nullptr));
  DestroyMenu(menu);
  return chosen;
}

}  // namespace panorel
