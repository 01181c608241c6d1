// Messages not received live: those stored while the user was away
// ("MESG STORED", at sign-in) and earlier messages of a conversation
// ("MESG HIST", through "Connection/RequestMessageHistory").
#pragma once

#include <cstdint>

#include "olvaro/registrations.h"
#include "protocol_area.h"

namespace olvaro::conn {


class History : public ProtocolArea {
 public:
  explicit History(Session& session);
  ~History() override;

  // Asks for the messages stored since the later of "Last-Online" (server
  // seconds) and the newest message seen; the session waits in state 70.
  void requestStoredMessages(int64_t lastOnline);
  // 1 when asked; 0 without a conversation to ask about.
  int requestHistory(const HistoryRequest& request);

 private:
  FunctionRegistration requestHistory_;
};

}  // namespace olvaro::conn
