// A hub record read whole: the size set, everything the hub holds filled in.
// For every module that reads messages or contacts.
#pragma once

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

}  // namespace olvaro
