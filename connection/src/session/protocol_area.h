// The session and its protocol areas. The session (class Connection) owns
// the link, the sign-in and the keep-alive; each protocol area (contacts,
// groups, messages, bridges and the rest) is its own object that
// enters its handlers into the command table, keeps its own state and
// reaches the link only through Session.
#pragma once

#include <string>

#include "command_table.h"
#include "olvaro/api.h"
#include "olvaro/fwk.h"
#include "packet.h"
#include "pending_requests.h"
#include "timestamp.h"

namespace olvaro::conn {

class Bridges;
class Contacts;
class IncomingMessages;

// What the session offers its protocol areas.
class Session {
 public:
  // Sends at once; false when the send failed and the link is gone, or
  // when there is no signed-in link (then the request waiting under the
  // packet's "Mesg-Id" has heard code 100 already, and the session is left
  // as it was).
  virtual bool send(Packet& packet) = 0;
  virtual void registerPendingRequest(fwk::counted_ptr<PendingRequest> request) = 0;
  virtual PendingRequests& pendingRequests() = 0;
  virtual long state() const = 0;
  virtual void setState(long value) = 0;
  // The user's own service (the primary one).
  virtual HService* service() const = 0;
  virtual CommandTable& commands() = 0;
  // The user's own id, from the sign-in ("Sub-Id"); 0 before it.
  virtual int64_t mySubId() const = 0;
  // Byte width of the ids in a group's member list, from "AUTH" (4 or 8;
  // 0 before it).
  virtual int32_t wordSize() const = 0;
  // Server time minus local time, from the sign-in.
  virtual Timestamp clockOffset() const = 0;
  virtual int32_t keepAliveInterval() const = 0;
  // The keep-alive interval of the signed-in link that dropped last; each
  // new link starts again at 30 s.
  virtual int32_t droppedLinkKeepAliveInterval() const = 0;
  // Set when a signed-in link dropped; cleared once stored messages are asked for.
  virtual bool reconnecting() const = 0;
  virtual void clearReconnecting() = 0;
  // An incoming message arrived now.
  virtual void noteIncomingMessage() = 0;

  // The areas other areas call into.
  virtual Contacts& contacts() = 0;
  virtual IncomingMessages& incomingMessages() = 0;
  // The user's accounts on other networks, and their contacts and groups;
  // null while the session is being made or ended.
  virtual Bridges* bridges() = 0;

 protected:
  ~Session() = default;
};

class ProtocolArea {
 public:
  explicit ProtocolArea(Session& session) : session_(session) {}
  virtual ~ProtocolArea() { session_.commands().removeOwner(this); }
  ProtocolArea(const ProtocolArea&) = delete;
  ProtocolArea& operator=(const ProtocolArea&) = delete;

  // The server accepted the sign-in ("LOGON SUCCESSFUL"), before the session
  // reports itself signed in.
  virtual void onLoggedOn(const Packet& /*logon*/) {}
  // The link ended, before the requests still waiting hear of it.
  virtual void onLinkClosed() {}

 protected:
  template <auto Method, class Area>
  void handle(const char* command, Area* area) {
    session_.commands().template enter<Method>(command, area);
  }

  Session& session_;
};

}  // namespace olvaro::conn
