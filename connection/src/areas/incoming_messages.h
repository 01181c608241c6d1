// Incoming messages: "MESG" chunks from the server turned into hub messages,
// with the messages whose last chunk has not come yet.
#pragma once

#include <cstdint>
#include <map>

#include "protocol_area.h"

namespace olvaro::conn {

class IncomingMessages : public ProtocolArea {
 public:
  // A message announced without a total length may grow this far.
  static constexpr uint32_t kMaxPayload = 16u << 20;

  explicit IncomingMessages(Session& session);
  ~IncomingMessages() override;

  // "MESG", and "BRIDGE MESG" once bridging enters it too: the first chunk
  // of a message or the continuation of one.
  bool onMessage(Packet& packet);

  // The first partly received message from this contact is marked
  // interrupted and forgotten (its sender's details just changed).
  void abandonPartialMessagesFrom(HContact* contact);
  // Every partly received message is marked interrupted and forgotten.
  void abandonAllPartialMessages();
  size_t partialCount() const { return partialMessages_.size(); }

  void onLinkClosed() override { abandonAllPartialMessages(); }

 private:
  void startMessage(Packet& packet, HContact* sender, uint64_t bridge);
  void continueMessage(Packet& packet, HMessage* message, uint32_t limit);
  // The sender named by the packet (+1 reference), or null.
  HContact* findSender(uint64_t bridge, int64_t sourceId);

  // Messages still receiving chunks, keyed by handle address, one reference
  // each, with the payload size they may reach.
  std::map<HMessage*, uint32_t> partialMessages_;
};

}  // namespace olvaro::conn
