#include "groups.h"

#include "olvaro/connection_state.h"

namespace olvaro::conn {

Groups::Groups(Session& session) : ProtocolArea(session) { handle<&Groups::onGroupDetail>("GROUP DETAIL", this); }

// The first group of a sign-in.
bool Groups::onGroupDetail(Packet&) {
  long s = session_.state();
  if (s == kLoggingOn || s == kReceivingContacts) session_.setState(kReceivingGroups);
  return true;
}

}  // namespace olvaro::conn
