#include "history.h"

#include <algorithm>
#include <string>

#include "olvaro/connection_state.h"

namespace olvaro::conn {
namespace {

// "MESG STORED" keeps the session in state 70 until the server says all
// stored messages went out (any code but 0).
class StoredMessagesRequest : public PendingRequest {
 public:
  StoredMessagesRequest(uint64_t id, Session& session) : PendingRequest(id), session_(session) {}
  bool onResponse(int64_t code, const std::string&) override {
    if (code == kResponseOk) return false;
    if (session_.state() == kFetchingStored) session_.setState(kSignedIn);
    return true;
  }

 private:
  // The waiting requests are failed before the areas and session go.
  Session& session_;
};

// Code 0 means delivery has begun; the caller hears every answer.
class HistoryPendingRequest : public PendingRequest {
 public:
  HistoryPendingRequest(uint64_t id, ResponseCallback onProgress, void* user)
      : PendingRequest(id), onProgress_(onProgress), user_(user) {}
  bool onResponse(int64_t code, const std::string& text) override {
    if (onProgress_) {
      Response response{code, text.c_str()};
      onProgress_(user_, &response);
    }
    return code != kResponseOk;
  }

 private:
  ResponseCallback onProgress_;
  void* user_;
};

}  // namespace

History::History(Session& session) : ProtocolArea(session) {
  requestHistory_ = FunctionRegistration::bind<&History::requestHistory>("Connection/RequestMessageHistory", this);
}
History::~History() = default;

void History::requestStoredMessages(int64_t lastOnline) {
  uint64_t id = KS_GetLUID();
  int64_t last = KS_GetSettingLong("connection.LastMessageTime", 0);
  bool reconnecting = session_.reconnecting();
  // After a drop the server may have stored messages from the dropped
  // link's last keep-alive period on, before it noticed the user gone.
  if (lastOnline != 0 && reconnecting) lastOnline -= int64_t(session_.droppedLinkKeepAliveInterval()) + 30;
  int64_t since = std::max(last, lastOnline);
  // From that second itself: others of the same second may not have come
  // yet. Those that did are dropped by id as they arrive again.
  std::string from = std::to_string(since) + ".0";

  Packet stored("MESG STORED");
  stored.setHeaderInt("Count", 0);
  stored.setHeader("Include-self", "0");
  stored.setHeader("From-Private", from);
  if (since != 0 && reconnecting) stored.setHeader("From-Group", from);
  stored.setHeaderId("Mesg-Id", id);
  // Entered before sending: a send that fails ends the link at once, and
  // the link's end answers every waiting request.
  session_.registerPendingRequest(fwk::counted_ptr<PendingRequest>(new StoredMessagesRequest(id, session_)));
  // A link that ended in the send is signed out already; the next sign-in
  // asks again, still counting as a reconnect.
  if (!session_.send(stored)) return;
  session_.clearReconnecting();
  session_.setState(kFetchingStored);
}

int History::requestHistory(const HistoryRequest& request) {
  if (!request.target) return 0;
  uint32_t id = KS_GetLUID();
  Packet history("MESG HIST");
  history.setHeaderInt("Mesg-Id", int32_t(id));
  std::string from = std::to_string(request.fromSec) + "." + std::to_string(request.fromUsec);
  int64_t source = request.isGroup ? KS_GetGroupID(static_cast<HGroup*>(request.target))
                                   : KS_GetContactID(static_cast<HContact*>(request.target));
  history.setHeader(request.isGroup ? "From-Group" : "From-Private", from);
  history.setHeader("Source-Id", std::to_string(source));
  history.setHeaderInt("Count", request.count);
  // Entered first, so a send that ends the link still tells the caller.
  session_.registerPendingRequest(
      fwk::counted_ptr<PendingRequest>(new HistoryPendingRequest(id, request.onProgress, request.user)));
  session_.send(history);
  return 1;
}

}  // namespace olvaro::conn
