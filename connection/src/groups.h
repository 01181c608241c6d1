// Groups, their members and roles: "GROUP DETAIL" from the server.
#pragma once

#include "protocol_area.h"

namespace olvaro::conn {

class Groups : public ProtocolArea {
 public:
  explicit Groups(Session& session);

 private:
  bool onGroupDetail(Packet& packet);
};

}  // namespace olvaro::conn
