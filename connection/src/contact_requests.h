// Contact requests: "CONTACT ADD" from the server (someone wants to add the
// user) shown in the contact list's overview, accepted or declined there,
// and "Service/%p/AcceptContact".
#pragma once

#include "protocol_area.h"

namespace olvaro::conn {

class ContactRequests : public ProtocolArea {
 public:
  explicit ContactRequests(Session& session);
  ~ContactRequests() override;
};

}  // namespace olvaro::conn
