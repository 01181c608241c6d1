// Incoming messages: "MESG" chunks from the server turned into hub messages,
// with the messages whose last chunk has not come yet.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include "protocol_area.h"

namespace olvaro::conn {

class IncomingMessages : public ProtocolArea {
 public:
  // A message announced without a total length may grow this far.
  static constexpr uint32_t kMaxPayload = 16u << 20;
  // Ids kept of the messages of the newest second seen.
  static constexpr size_t kMaxNewestSecondIds = 4096;
  // Where a message came from (MessageData::origin).
  enum : int32_t { kOriginLocal = 0, kOriginLive = 1, kOriginStored = 2, kOriginHistory = 3 };

  explicit IncomingMessages(Session& session);
  ~IncomingMessages() override;

  // "MESG", and "BRIDGE MESG" from a bridged network: the first chunk of a
  // message or the continuation of one.
  bool onMessage(Packet& packet);

  // The one way a received message reaches the hub, private or group, from
  // the server or made from a notice: "messages.new", counted unread unless
  // read already or history, and "messages.new.complete" when `complete`.
  // The message, +1 reference; null when the hub refused it.
  static HMessage* deliver(const MessageData& data);

  // Every partly received message from this contact is marked interrupted
  // and forgotten (the contact went offline or was removed).
  void abandonPartialMessagesFrom(HContact* contact);
  // Every partly received message is marked interrupted and forgotten.
  void abandonAllPartialMessages();
  size_t partialCount() const { return partialMessages_.size(); }

  // Messages one sender may have open at once; a new one beyond this
  // abandons that sender's oldest.
  static constexpr size_t kMaxPartialPerSender = 64;

  void onLinkClosed() override { abandonAllPartialMessages(); }

 private:
  // `target`: the user's own contact, or the group when `isGroup`.
  void startMessage(Packet& packet, HContact* sender, void* target, bool isGroup);
  void continueMessage(Packet& packet, HMessage* message, uint32_t limit, uint64_t id, HContact* sender);
  // The sender named by the packet (+1 reference), or null.
  HContact* findSender(uint64_t bridge, int64_t sourceId);
  // A stored message that came already in the newest second seen.
  bool alreadyReceived(const Packet& packet) const;
  // Moves "connection.LastMessageTime" forward only, keeping the ids of
  // the newest second's messages.
  void noteReceived(int64_t second, uint64_t id);

  // Enters a partly received message (one reference of its own), making
  // room among its sender's.
  void addPartial(HMessage* message, uint32_t limit);
  // Out of the tables; the caller gets the table's reference, or null when
  // it was not there.
  HMessage* takePartial(uint64_t id, HContact* sender);

  struct Partial {
    HMessage* message;  // one reference
    uint32_t limit;     // the payload size it may reach
  };
  // Messages still receiving chunks, by message id and sender (the id a
  // continuation names, the sender it must come from).
  std::map<std::pair<uint64_t, HContact*>, Partial> partialMessages_;
  // Each sender's message ids in that table, oldest first (at most
  // kMaxPartialPerSender each).
  std::map<HContact*, std::deque<uint64_t>> bySender_;
  // Stored messages are asked for from the second of the newest message
  // seen, so those of that second come again: their ids, to drop them.
  int64_t newestSecond_ = 0;
  std::set<uint64_t> newestSecondIds_;
};

}  // namespace olvaro::conn
