#include "history.h"

#include "olvaro/connection_state.h"

namespace olvaro::conn {

History::History(Session& session) : ProtocolArea(session) {}
History::~History() = default;

void History::requestStoredMessages(int64_t) { session_.setState(kSignedIn); }

}  // namespace olvaro::conn
