// Outgoing messages: every message raised with "messages.new.outgoing" is
// cut into chunks of at most 512 bytes, each acknowledged by the server, and
// sent again in full when a chunk is lost.
#pragma once

#include "protocol_area.h"

namespace olvaro::conn {

class OutgoingTransfers {
 public:
  // The one instance while a session is attached.
  static OutgoingTransfers* instance();
  // Created with the session and destroyed with it; destroying drops every
  // transfer still running.
  static void attach(Session& session);
  static void detach();

 private:
  explicit OutgoingTransfers(Session& session);
  ~OutgoingTransfers();

  Session& session_;
};

}  // namespace olvaro::conn
