#include "presence_menu.h"

#include "olvaro/connection_state.h"
#include "olvaro/hub_records.h"
#include "platform/menu.h"
#include "ui_texts.h"

namespace olvaro::conn {

namespace {

constexpr int32_t kPresenceOf[] = {1, 2, 5, 3, 0};

}  // namespace

PresenceMenu::PresenceMenu(HService* service) : service_(service ? KS_DuplicateServiceHandle(service) : nullptr) {
  if (service_) {
    create_ = FunctionRegistration::bind<&PresenceMenu::onCreate>(handleName("Service/%p/CreatePopupMenu", service_), this);
    handle_ = FunctionRegistration::bind<&PresenceMenu::onHandle>(handleName("Service/%p/HandlePopupMenu", service_), this);
  }
  commandWatch_ = subscribeEvent<&PresenceMenu::onCommand>("core.window.OnCommand", this);
}

PresenceMenu::~PresenceMenu() {
  commandWatch_.reset();
  handle_ = FunctionRegistration();
  create_ = FunctionRegistration();
  identity_.reset();
  signIn_.reset();
  if (service_) KS_ReleaseService(service_);
}

HMENU PresenceMenu::create() {
  ServiceData d{};
  d.size = sizeof d;
  if (service_) KS_GetServiceData(service_, &d);
  HMENU menu = CreatePopupMenu();
  if (!menu) return nullptr;
  auto item = [&](Item which) {
    UINT flags = MF_STRING;
    if (which <= kOffline && kPresenceOf[which] == d.signInRequested) flags |= MF_CHECKED;
    AppendMenu(menu, flags, commands_[which], loadWideText(presenceTextId(kPresenceOf[which])).c_str());
  };
  item(kOnline);
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  item(kAway);
  item(kBusy);
  item(kInvisible);
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  item(kOffline);
  long state = KS_GetVariantLong(kConnectionStateVariant);
  if (state == kSignedIn) {
    AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(menu, MF_STRING, commands_[kMyIdentity], loadWideText(kStrMyIdentity).c_str());
  } else if (state == kSignedOut) {
    AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(menu, MF_STRING, commands_[kSignInAs], loadWideText(kStrSignInAs).c_str());
  }
  return menu;
}

int PresenceMenu::handle(UINT command) {
  if (command == 0) return 0;
  if (command == commands_[kMyIdentity]) {
    showIdentity();
    return 1;
  }
  if (command == commands_[kSignInAs]) {
    showSignIn();
    return 1;
  }
  for (int i = kOnline; i <= kOffline; ++i) {
    if (command == commands_[i]) {
      int32_t presence = kPresenceOf[i];
      KS_CallFunction("Connection/SetPresenceStatus", &presence);
      return 0;
    }
  }
  return 0;
}

void PresenceMenu::popUp(HWND owner, int x, int y) {
  if (!service_) return;
  std::string createName = handleName("Service/%p/CreatePopupMenu", service_);
  HMENU menu = reinterpret_cast<HMENU>(uintptr_t(KS_CallFunction(createName.c_str(), nullptr)));
  if (!menu) return;
  UINT chosen = UINT(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN, x, y, owner, nullptr));
  DestroyMenu(menu);
  if (!chosen) return;
  std::string handleFunction = handleName("Service/%p/HandlePopupMenu", service_);
  KS_CallFunction(handleFunction.c_str(), reinterpret_cast<void*>(uintptr_t(chosen)));
}

void PresenceMenu::showSignIn() {
  if (!signIn_) signIn_ = std::make_unique<SignInDialog>(mainWindow(), service_);
  signIn_->open();
}

void PresenceMenu::showIdentity() {
  if (!identity_) identity_ = std::make_unique<IdentityDialog>(mainWindow(), service_);
  identity_->open();
}

uint32_t PresenceMenu::onCreate() { return uint32_t(reinterpret_cast<uintptr_t>(create())); }

// The command comes as the argument's value.
int PresenceMenu::onHandle(void* argument) { return handle(UINT(reinterpret_cast<uintptr_t>(argument))); }

void PresenceMenu::onCommand(void* argument) {
  if (!service_) return;
  std::string name = handleName("Service/%p/HandlePopupMenu", service_);
  KS_CallFunction(name.c_str(), argument);
}

}  // namespace olvaro::conn
