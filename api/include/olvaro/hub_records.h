// A hub record read whole (the size set, everything the hub holds filled
// in), the readers of a message's fields and the main-window lookup, for
// every module instead of a copy in each.
#pragma once

#include <string_view>

#include "olvaro/api.h"

namespace olvaro {

inline MessageData messageData(HMessage* message) {
  MessageData d{};
  d.size = sizeof d;
  KS_GetMessageData(message, &d);
  return d;
}

inline ContactData contactData(HContact* contact) {
  ContactData d{};
  d.size = sizeof d;
  KS_GetContactData(contact, &d);
  return d;
}

// Marks a message interrupted: it will get no more of its payload.
inline void markInterrupted(HMessage* message) {
  MessageData d{};
  d.size = sizeof d;
  d.mask = MESSAGE_INTERRUPTED;
  d.interrupted = 1;
  KS_SetMessageData(message, &d);
}

// A message's content type and payload as text; empty for none.
inline std::string_view typeOf(const MessageData& d) { return d.contentType ? d.contentType : ""; }
inline std::string_view payloadOf(const MessageData& d) {
  if (!d.payload || d.payloadLength <= 0) return {};
  return std::string_view(reinterpret_cast<const char*>(d.payload), size_t(d.payloadLength));
}

// The host's main window, which owns the plug-ins' dialogs and menus; null
// before the host made it.
inline constexpr const char* kMainWindowVariant = "core.window.hwnd";
inline HWND mainWindow() { return static_cast<HWND>(KS_GetVariantPtr(kMainWindowVariant)); }

}  // namespace olvaro
