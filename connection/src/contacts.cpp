#include "contacts.h"

#include "olvaro/connection_state.h"

namespace olvaro::conn {

Contacts::Contacts(Session& session) : ProtocolArea(session) {
  handle<&Contacts::onContactDetail>("CONTACT DETAIL", this);
}

// The contact list's first entry tells that the list is arriving.
bool Contacts::onContactDetail(Packet& packet) {
  bool removal = packet.headers.size() <= (packet.getHeaderId("Bridge-Id") ? 2u : 1u);
  if (!removal && session_.state() == kLoggingOn) session_.setState(kReceivingContacts);
  return true;
}

}  // namespace olvaro::conn
