// The contact list's overview functions as the connection calls them,
// keeping every item's section and lines, for tests without the contact list.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "olvaro/connection_calls.h"
#include "olvaro/registrations.h"

namespace conntest {

struct Overview {
  struct Item {
    std::string section, title, text;
  };
  std::map<void*, Item> items;
  std::vector<std::unique_ptr<std::string>> sections;
  std::vector<std::unique_ptr<char>> cells;  // unique item addresses
  std::vector<olvaro::FunctionRegistration> functions;
  Overview() {
    functions.emplace_back("Overview/CreateSection", &create, this);
    functions.emplace_back("Overview/AddStaticItem", &add, this);
    functions.emplace_back("Overview/UpdateStaticItem", &update, this);
    functions.emplace_back("Overview/DeleteItem", &remove, this);
  }
  static uint32_t create(void* user, void* a) {
    auto* self = static_cast<Overview*>(user);
    auto* info = static_cast<olvaro::OverviewSectionInfo*>(a);
    self->sections.push_back(std::make_unique<std::string>(info->key));
    info->section = self->sections.back().get();
    return 1;
  }
  static uint32_t add(void* user, void* a) {
    auto* self = static_cast<Overview*>(user);
    auto* info = static_cast<olvaro::OverviewItemInfo*>(a);
    self->cells.push_back(std::make_unique<char>());
    info->item = self->cells.back().get();
    self->items[info->item] = {*static_cast<std::string*>(info->section), info->title, info->text};
    return 1;
  }
  static uint32_t update(void* user, void* a) {
    auto* info = static_cast<olvaro::OverviewItemInfo*>(a);
    auto& items = static_cast<Overview*>(user)->items;
    auto it = items.find(info->item);
    if (it == items.end()) return 0;
    it->second.title = info->title;
    it->second.text = info->text;
    return 1;
  }
  static uint32_t remove(void* user, void* a) { return uint32_t(static_cast<Overview*>(user)->items.erase(a)); }

  // The items of one section.
  std::vector<Item> in(const std::string& section) const {
    std::vector<Item> out;
    for (auto& [item, shown] : items)
      if (shown.section == section) out.push_back(shown);
    return out;
  }
  // The first item of the section whose title starts with `title`, or null.
  void* find(const std::string& section, const std::string& title) const {
    for (auto& [item, shown] : items)
      if (shown.section == section && shown.title.rfind(title, 0) == 0) return item;
    return nullptr;
  }
};

}  // namespace conntest
