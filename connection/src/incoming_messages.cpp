#include "incoming_messages.h"

namespace olvaro::conn {

IncomingMessages::IncomingMessages(Session& session) : ProtocolArea(session) {}
IncomingMessages::~IncomingMessages() = default;

void IncomingMessages::abandonPartialMessagesFrom(HContact*) {}
void IncomingMessages::abandonAllPartialMessages() {}

}  // namespace olvaro::conn
