#include "service_item.h"

#include "olvaro/hub_records.h"
#include "overview.h"
#include "platform/menu.h"
#include "texts.h"
#include "ui_texts.h"

namespace olvaro::conn {

namespace {

// Made once per hub (kept in a variant); the overview keeps it while anyone
// holds it.
void* servicesSection() {
  constexpr const char* kKept = "connection.overview.services";
  void* section = KS_GetVariantPtr(kKept);
  if (!section) {
    OverviewSectionInfo info{sizeof info, "SERVICES", "Services", 0, nullptr};
    if (KS_CallFunction("Overview/CreateSection", &info)) KS_SetVariantPtr(kKept, section = info.section);
  }
  return section;
}

bool empty(const char* text) { return !text || !*text; }

}  // namespace

std::string serviceItemTitle(const ServiceData& service) {
  std::string title = service.displayName ? service.displayName : "";
  unsigned word = 0;
  bool wanted = service.signInRequested != 0, on = service.state != 0;
  if (wanted == on) {
    word = presenceTextId(service.signInRequested);
  } else {
    word = wanted ? kStrLoggingIn : kStrLoggingOff;
  }
  if (word) {
    if (!title.empty()) title += " - ";
    title += loadText(word);
  }
  return title;
}

std::string serviceItemText(const ServiceData& service) {
  std::string text;
  if (service.state == 0 && !empty(service.text28)) text = std::string(service.text28) + " - ";
  if (service.userName) text += service.userName;
  return text;
}

ServiceItem::ServiceItem(HService* service) : service_(service ? KS_DuplicateServiceHandle(service) : nullptr) {
  if (!service_) return;
  serviceWatch_ = subscribeService<&ServiceItem::refresh>(service_, this);
  contextMenuWatch_ = subscribeEvent<&ServiceItem::onContextMenu>("Overview/Item/OnContextMenu", this);
  refresh();
}

ServiceItem::~ServiceItem() {
  contextMenuWatch_.reset();
  serviceWatch_.reset();
  if (item_) KS_CallFunction("Overview/DeleteItem", item_);
  item_ = nullptr;
  if (service_) KS_ReleaseService(service_);
}

void ServiceItem::refresh() {
  if (!service_) return;
  ServiceData d{};
  d.size = sizeof d;
  KS_GetServiceData(service_, &d);
  std::string title = serviceItemTitle(d), text = serviceItemText(d);
  OverviewItemInfo info{};
  info.size = sizeof info;
  info.title = title.c_str();
  info.text = text.c_str();
  info.iconModule = d.iconModule;
  info.iconResource = d.iconResource;
  if (item_) {
    info.item = item_;
    KS_CallFunction("Overview/UpdateStaticItem", &info);
  } else if (void* section = servicesSection()) {
    info.section = section;
    if (KS_CallFunction("Overview/AddStaticItem", &info)) item_ = info.item;
  }
}

bool ServiceItem::onContextMenu(const OverviewContextMenuInfo* info) {
  if (!info || !item_ || info->item != item_) return false;
  showMenu(info->x, info->y);
  return true;
}

// The bridge's own status menu, through its functions.
void ServiceItem::showMenu(int x, int y) {
  std::string create = handleName("Service/%p/CreatePopupMenu", service_);
  HMENU menu = reinterpret_cast<HMENU>(uintptr_t(KS_CallFunction(create.c_str(), nullptr)));
  if (!menu) return;
  HWND owner = mainWindow();
  UINT chosen = UINT(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN, x, y, owner, nullptr));
  DestroyMenu(menu);
  if (!chosen) return;
  std::string handle = handleName("Service/%p/HandlePopupMenu", service_);
  KS_CallFunction(handle.c_str(), reinterpret_cast<void*>(uintptr_t(chosen)));
}

}  // namespace olvaro::conn
