// The host's string table.
#pragma once

#include <string>

#include "platform/resources.h"

namespace host {

// A string of the host module's table; empty when absent.
inline std::u16string loadText(UINT id) {
  LPCWSTR text = nullptr;
  int n = LoadString(GetModuleHandle(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return n > 0 && text ? std::u16string(text, static_cast<size_t>(n)) : std::u16string();
}

}  // namespace host
