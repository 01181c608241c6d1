// Menus as data, for the tracker and the soft-key bar.
#pragma once

#include <string>
#include <vector>

#include "platform/menu.h"

namespace platform::menus {

struct Item {
  UINT flags = 0;  // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_POPUP, MF_SEPARATOR
  UINT id = 0;
  std::u16string text;
  HMENU sub = nullptr;
};

// A copy of the menu's items; false for a bad handle.
bool snapshot(HMENU menu, std::vector<Item>* out);

// Runs a modal loop until `done` says so. `filter` sees each message first
// and returns true when it used it. Returns false when the loop was left
// because of WM_QUIT (which is posted again) or because nothing answered.
bool runModal(HWND modal, const std::function<bool(MSG&)>& filter, const std::function<bool()>& done);

}  // namespace platform::menus
