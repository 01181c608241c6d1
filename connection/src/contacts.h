// The contact list and presence: "CONTACT DETAIL" from the server.
#pragma once

#include "protocol_area.h"

namespace olvaro::conn {

class Contacts : public ProtocolArea {
 public:
  explicit Contacts(Session& session);

 private:
  bool onContactDetail(Packet& packet);
};

}  // namespace olvaro::conn
