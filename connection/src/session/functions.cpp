// The named functions the session offers other modules.
#include "session.h"

namespace olvaro::conn {

// "Connection/SendPacket"'s argument.
struct RawPacket {
  const char* data;
  int32_t length;
};

namespace {

uint32_t sendPacketFunction(void* user, void* argument) {
  auto* raw = static_cast<RawPacket*>(argument);
  if (!raw) return 0;
  return uint32_t(static_cast<Connection*>(user)->sendRaw(raw->data, raw->length));
}

uint32_t setPresenceFunction(void* user, void* argument) {
  auto* status = static_cast<int32_t*>(argument);
  if (!status) return 0;
  return uint32_t(static_cast<Connection*>(user)->setPresenceStatus(*status));
}

}  // namespace

ConnectionFunctions::ConnectionFunctions(Connection* connection)
    : sendPacket_("Connection/SendPacket", sendPacketFunction, connection),
      setPresenceStatus_("Connection/SetPresenceStatus", setPresenceFunction, connection) {}

}  // namespace olvaro::conn
