// The contact list's overview functions as the modules call them, for tests
// without the contact list: keeps every section and every item shown, and
// every title and text it was given.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "olvaro/connection_calls.h"
#include "olvaro/registrations.h"

namespace hubtest {

class FakeOverview {
 public:
  struct Section {
    std::string key, title;
    int32_t atFront = 0;
  };
  struct Item {
    std::string section;  // its section's key
    std::string title, text;
    HMODULE iconModule = nullptr;
    LPCWSTR iconResource = nullptr;
  };
  using Report = std::pair<std::string, std::string>;  // title, text

  FakeOverview() {
    functions_.emplace_back("Overview/CreateSection", &createSection, this);
    functions_.emplace_back("Overview/AddStaticItem", &addItem, this);
    functions_.emplace_back("Overview/UpdateStaticItem", &updateItem, this);
    functions_.emplace_back("Overview/DeleteItem", &deleteItem, this);
  }
  FakeOverview(const FakeOverview&) = delete;
  FakeOverview& operator=(const FakeOverview&) = delete;

  std::vector<std::unique_ptr<Section>> sections;  // every one made, in order
  std::map<void*, Item> items;                     // the items shown, by handle
  std::vector<Report> reports;                     // every add and update, in order
  int deletes = 0;                                 // items taken away

  // The items of one section.
  std::vector<Item> in(const std::string& section) const {
    std::vector<Item> out;
    for (void* handle : order_)
      if (items.at(handle).section == section) out.push_back(items.at(handle));
    return out;
  }
  // The first item of the section whose title starts with `title`, or null.
  void* find(const std::string& section, const std::string& title) const {
    for (void* handle : order_) {
      const Item& shown = items.at(handle);
      if (shown.section == section && shown.title.rfind(title, 0) == 0) return handle;
    }
    return nullptr;
  }
  // The handle of the `n`th item shown, in the order they came.
  void* handle(size_t n) const { return order_.at(n); }
  Item& item(size_t n) { return items.at(order_.at(n)); }
  // The handle of the section of that key, or null.
  void* section(const std::string& key) const {
    for (const auto& s : sections)
      if (s->key == key) return s.get();
    return nullptr;
  }
  Report last() const { return reports.empty() ? Report() : reports.back(); }

 private:
  static uint32_t createSection(void* user, void* argument) {
    auto* self = static_cast<FakeOverview*>(user);
    auto* info = static_cast<olvaro::OverviewSectionInfo*>(argument);
    self->sections.push_back(std::make_unique<Section>(Section{info->key, info->title, info->atFront}));
    info->section = self->sections.back().get();
    return 1;
  }
  static uint32_t addItem(void* user, void* argument) {
    auto* self = static_cast<FakeOverview*>(user);
    auto* info = static_cast<olvaro::OverviewItemInfo*>(argument);
    self->cells_.push_back(std::make_unique<char>());
    info->item = self->cells_.back().get();
    self->order_.push_back(info->item);
    Item& shown = self->items[info->item];
    for (const auto& s : self->sections)
      if (s.get() == info->section) shown.section = s->key;
    shown.title = info->title ? info->title : "";
    shown.text = info->text ? info->text : "";
    shown.iconModule = info->iconModule;
    shown.iconResource = info->iconResource;
    self->reports.emplace_back(shown.title, shown.text);
    return 1;
  }
  // Titles and texts only: what is left null stays.
  static uint32_t updateItem(void* user, void* argument) {
    auto* self = static_cast<FakeOverview*>(user);
    auto* info = static_cast<olvaro::OverviewItemInfo*>(argument);
    auto it = self->items.find(info->item);
    if (it == self->items.end()) return 0;
    if (info->title) it->second.title = info->title;
    if (info->text) it->second.text = info->text;
    self->reports.emplace_back(it->second.title, it->second.text);
    return 1;
  }
  static uint32_t deleteItem(void* user, void* argument) {
    auto* self = static_cast<FakeOverview*>(user);
    if (!self->items.erase(argument)) return 0;
    std::erase(self->order_, argument);
    ++self->deletes;
    return 1;
  }

  std::vector<std::unique_ptr<char>> cells_;  // unique item addresses
  std::vector<void*> order_;                  // the items shown, in the order they came
  std::vector<olvaro::FunctionRegistration> functions_;
};

}  // namespace hubtest
