#include "responses.h"

namespace olvaro::conn {

Responses::Responses(Session& session) : ProtocolArea(session) {
  handle<&Responses::onResponse>("RESPONSE", this);
  handle<&Responses::onSetting>("SETTING", this);
}

bool Responses::onResponse(Packet& packet) {
  uint64_t id = packet.getHeaderId("Mesg-Id");
  int32_t type = packet.getHeaderInt("Type");
  std::string text = type == 1 ? packet.body : std::string();
  session_.pendingRequests().answer(id, responseCode(type, packet.body), text);
  return true;
}

bool Responses::onSetting(Packet& packet) {
  std::string name = packet.getHeader("Name");
  if (!name.empty()) KS_SetSettingString(name.c_str(), packet.getHeader("Value").c_str());
  return true;
}

}  // namespace olvaro::conn
