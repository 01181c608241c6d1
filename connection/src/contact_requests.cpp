#include "contact_requests.h"

namespace olvaro::conn {

ContactRequests::ContactRequests(Session& session) : ProtocolArea(session) {}
ContactRequests::~ContactRequests() = default;

}  // namespace olvaro::conn
