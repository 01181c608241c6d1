// The item of a bridged service in the overview's "Services" section: its
// name and state, its account, its icon, and its status menu on request.
#pragma once

#include <string>

#include "olvaro/api.h"
#include "olvaro/connection_calls.h"
#include "olvaro/registrations.h"

namespace olvaro::conn {

// The item's two lines for a service, UTF-8.
std::string serviceItemTitle(const ServiceData& service);
std::string serviceItemText(const ServiceData& service);

class ServiceItem {
 public:
  explicit ServiceItem(HService* service);
  // Takes the item out of the overview.
  ~ServiceItem();
  ServiceItem(const ServiceItem&) = delete;
  ServiceItem& operator=(const ServiceItem&) = delete;

  // Adds the item, or updates it.
  void refresh();
  void* item() const { return item_; }

 private:
  bool onContextMenu(const OverviewContextMenuInfo* info);
  void showMenu(int x, int y);

  HService* service_;
  void* item_ = nullptr;
  ServiceSubscription serviceWatch_;
  EventSubscription contextMenuWatch_;
};

}  // namespace olvaro::conn
