// The records of the contact list's overview functions ("Overview/...").
// The contact list may be absent: every call then answers 0.
#pragma once

#include <cstdint>

#include "olvaro/api.h"

namespace olvaro::conn {

// The overview's records, as the contact-list plug-in takes them. A named
// function's 32-bit result cannot carry a pointer on a 64-bit system, so
// the section and the item made come back in the record: "section" of
// OverviewSectionInfo (read only when size covers it) and "item" of
// OverviewItemInfo for "Overview/AddStaticItem".
struct OverviewSectionInfo {
  uint32_t size;
  const char* key;
  const char* title;
  int32_t atFront;
  void* section;  // out: the section handle
};

struct OverviewItemInfo {
  uint32_t size;
  void* section;
  void* item;  // the item to update; out for an add
  const char* title;
  const char* text;
  HMODULE iconModule;
  LPCWSTR iconResource;
};

// "Overview/Item/OnContextMenu"'s argument; x and y on the screen.
struct OverviewContextMenuInfo {
  void* item;
  int32_t x;
  int32_t y;
};

}  // namespace olvaro::conn
