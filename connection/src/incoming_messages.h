// Incoming messages: "MESG" chunks from the server turned into hub messages,
// with the messages whose last chunk has not come yet.
#pragma once

#include "protocol_area.h"

namespace olvaro::conn {

class IncomingMessages : public ProtocolArea {
 public:
  explicit IncomingMessages(Session& session);
  ~IncomingMessages() override;

  // The first partly received message from this contact is marked
  // interrupted and forgotten (its sender's details just changed).
  void abandonPartialMessagesFrom(HContact* contact);
  // Every partly received message is marked interrupted and forgotten.
  void abandonAllPartialMessages();

  void onLinkClosed() override { abandonAllPartialMessages(); }
};

}  // namespace olvaro::conn
