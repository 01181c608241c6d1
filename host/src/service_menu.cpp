#include "service_menu.h"

#include "olvaro/api.h"
#include "olvaro/registrations.h"
#include "platform/menu.h"
#include "platform/text.h"

namespace host {

namespace {

constexpr size_t kAccountRoom = 16;
constexpr size_t kAccountCut = 13;

// Cuts to at most n units without splitting a surrogate pair.
std::u16string cutUnits(const std::u16string& text, size_t n) {
  if (text.size() <= n) return text;
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  return text.substr(0, n);
}

}  // namespace

std::u16string serviceMenuLabel(bool hasType, const char* longName, const char* userName,
                                const char* displayName) {
  std::u16string label = hasType ? platform::widen(longName ? longName : "") : std::u16string(u"Olvaro");
  std::u16string account = platform::widen(userName ? userName : "");
  if (account.empty()) account = platform::widen(displayName ? displayName : "");
  if (account.size() > kAccountRoom) {
    size_t at = account.find(u'@');
    if (at != std::u16string::npos) account.resize(at);
    if (account.size() > kAccountRoom) account = cutUnits(account, kAccountCut) + u"...";
  }
  if (!account.empty()) label += u" (" + account + u")";
  return label;
}

}  // namespace host

namespace host {

int ServiceMenu::rebuild(HMENU menu) {
  // The submenus are ours once inserted ("CreatePopupMenu" hands over a new
  // menu each time), so deleting them also frees them.
  for (; inserted_ > 0; --inserted_) DeleteMenu(menu, 0, MF_BYPOSITION);

  HService* services[kMaxMenuServices] = {};
  int count = kMaxMenuServices;
  KS_GetServices(services, &count);
  for (int i = 0; i < count && i < kMaxMenuServices; ++i) {
    std::string name = olvaro::handleName("Service/%p/CreatePopupMenu", services[i]);
    HMENU popup = reinterpret_cast<HMENU>(static_cast<uintptr_t>(KS_CallFunction(name.c_str(), nullptr)));
    if (popup) {
      ServiceData data{};
      data.size = sizeof data;
      KS_GetServiceData(services[i], &data);
      ServiceTypeData type{};
      type.size = sizeof type;
      if (data.type) KS_GetServiceTypeData(data.type, &type);
      std::u16string label = serviceMenuLabel(data.type != nullptr, type.longName, data.userName, data.displayName);
      if (InsertMenu(menu, inserted_, MF_BYPOSITION | MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup),
                     label.c_str()))
        ++inserted_;
      else
        DestroyMenu(popup);
    }
    KS_ReleaseService(services[i]);
  }
  return inserted_;
}

}  // namespace host
