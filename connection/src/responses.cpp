// The server's answers to requests, and settings it pushes.
#include "session.h"

namespace olvaro::conn {

bool Connection::onResponsePacket(Packet& packet) {
  uint64_t id = packet.getHeaderId("Mesg-Id");
  int32_t type = packet.getHeaderInt("Type");
  std::string text = type == 1 ? packet.body : std::string();
  pendingRequests_.answer(id, responseCode(type, packet.body), text);
  return true;
}

bool Connection::onSettingPacket(Packet& packet) {
  std::string name = packet.getHeader("Name");
  if (!name.empty()) KS_SetSettingString(name.c_str(), packet.getHeader("Value").c_str());
  return true;
}

}  // namespace olvaro::conn
