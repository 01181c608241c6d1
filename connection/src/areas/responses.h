// The server's answers to requests ("RESPONSE") and the settings it pushes
// ("SETTING").
#pragma once

#include "protocol_area.h"

namespace olvaro::conn {

class Responses : public ProtocolArea {
 public:
  explicit Responses(Session& session);

 private:
  bool onResponse(Packet& packet);
  bool onSetting(Packet& packet);
};

}  // namespace olvaro::conn
