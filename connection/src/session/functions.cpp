// The named functions the session offers other modules.
#include "session.h"

namespace olvaro::conn {

// "Connection/SendPacket"'s argument.
struct RawPacket {
  const char* data;
  int32_t length;
};

ConnectionFunctions::ConnectionFunctions(Connection* connection)
    : connection_(connection),
      sendPacket_(FunctionRegistration::bind<&ConnectionFunctions::sendPacket>("Connection/SendPacket", this)),
      setPresenceStatus_(
          FunctionRegistration::bind<&ConnectionFunctions::setPresenceStatus>("Connection/SetPresenceStatus", this)) {}

int ConnectionFunctions::sendPacket(const RawPacket& raw) { return connection_->sendRaw(raw.data, raw.length); }

int ConnectionFunctions::setPresenceStatus(const int32_t& status) { return connection_->setPresenceStatus(status); }

}  // namespace olvaro::conn
