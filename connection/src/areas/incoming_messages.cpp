#include "incoming_messages.h"

#include <algorithm>
#include <limits>
#include <string>

#include "bridges.h"
#include "contacts.h"
#include "olvaro/hub_records.h"
#include "olvaro/connection_state.h"

namespace olvaro::conn {
namespace {

void markInterrupted(HMessage* message) {
  MessageData d{};
  d.size = sizeof d;
  d.mask = MESSAGE_INTERRUPTED;
  d.interrupted = 1;
  KS_SetMessageData(message, &d);
}

}  // namespace

IncomingMessages::IncomingMessages(Session& session) : ProtocolArea(session) {
  handle<&IncomingMessages::onMessage>("MESG", this);
  handle<&IncomingMessages::onMessage>("BRIDGE MESG", this);
}

IncomingMessages::~IncomingMessages() {
  for (auto& [message, limit] : partialMessages_) KS_ReleaseMessage(message);
  partialMessages_.clear();
}

HContact* IncomingMessages::findSender(uint64_t bridge, int64_t sourceId) {
  if (bridge != 0) {
    Bridges* bridges = session_.bridges();
    return bridges ? bridges->bridgedContact(bridge, sourceId, std::string()) : nullptr;
  }
  return session_.contacts().getContact(sourceId);
}

bool IncomingMessages::onMessage(Packet& packet) {
  uint64_t correlation = packet.getHeaderId("Correlation-Id");
  uint64_t bridge = packet.getHeaderId("Bridge-Id");
  int64_t sourceId = int64_t(packet.getHeaderId("Source-Id"));

  if (correlation != 0) {
    // A continuation of nothing we are receiving is dropped before any
    // sender is looked up (which could create a contact).
    bool known = std::any_of(partialMessages_.begin(), partialMessages_.end(), [&](const auto& entry) {
      return uint64_t(KS_GetMessageID(entry.first)) == correlation;
    });
    if (!known) return true;
    HContact* sender = findSender(bridge, sourceId);
    if (!sender) return true;
    auto it = std::find_if(partialMessages_.begin(), partialMessages_.end(), [&](const auto& entry) {
      return uint64_t(KS_GetMessageID(entry.first)) == correlation && messageData(entry.first).contact == sender;
    });
    KS_ReleaseContact(sender);
    if (it == partialMessages_.end()) return true;
    session_.noteIncomingMessage();
    continueMessage(packet, it->first, it->second);
    return true;
  }

  if (alreadyReceived(packet)) return true;
  HContact* sender = findSender(bridge, sourceId);
  if (!sender) return true;
  startMessage(packet, sender, bridge);
  KS_ReleaseContact(sender);
  return true;
}

void IncomingMessages::startMessage(Packet& packet, HContact* sender, uint64_t bridge) {
  bool isGroup = packet.hasHeader("Target-Id");
  int64_t targetId = int64_t(packet.getHeaderId("Target-Id"));
  void* target = nullptr;
  if (!isGroup)
    target = session_.contacts().getMyHandle();
  else if (bridge != 0)
    target = session_.bridges() ? session_.bridges()->bridgedGroup(bridge, targetId) : nullptr;
  else
    target = KS_GetGroup(targetId);
  if (!target) return;  // a group the bridge does not hold: nowhere to show it
  session_.noteIncomingMessage();

  if (packet.hasHeader("name")) {
    std::string name = packet.getHeader("name");
    ContactData c{};
    c.size = sizeof c;
    c.mask = CONTACT_NICKNAME;
    c.nickname = name.c_str();
    KS_SetContactData(sender, &c);
  }

  bool last = packet.hasHeader("Last");
  std::string contentType = packet.getHeader("Content-Type");
  int32_t origin = kOriginLive;
  if (session_.state() == kFetchingStored)
    origin = kOriginStored;
  else if (packet.hasHeader("Hist"))
    origin = kOriginHistory;
  int32_t announced = packet.getHeaderInt("Total-Length");
  // An announced length bounds the message, never beyond what any message
  // may reach; a missing or senseless one leaves the general bound.
  uint32_t limit = announced > 0 ? std::min(uint32_t(announced), kMaxPayload) : kMaxPayload;

  MessageData d{};
  d.size = sizeof d;
  d.mask = ~uint32_t(MESSAGE_PROGRESS);
  d.id = int64_t(packet.getHeaderId("Mesg-Id"));
  d.contact = sender;
  d.target = target;
  d.isGroup = isGroup ? 1 : 0;
  d.complete = last ? 1 : 0;
  d.contentType = contentType.c_str();
  d.payload = reinterpret_cast<const uint8_t*>(packet.body.data());
  d.payloadLength = int32_t(std::min<size_t>(packet.body.size(), size_t(std::numeric_limits<int32_t>::max())));
  d.totalLength = announced;
  d.origin = origin;
  Timestamp serverTime;
  if (Timestamp::scan(packet.getHeader("Timestamp"), &serverTime)) {
    Timestamp local = Timestamp::difference(serverTime, session_.clockOffset());
    d.timeSec = serverTime.sec;
    d.timeUsec = serverTime.usec;
    d.localTimeSec = local.sec;
    d.localTimeUsec = local.usec;
    if (origin != kOriginHistory) noteReceived(serverTime.sec, uint64_t(d.id));
  }

  if (HMessage* message = deliver(d)) {
    // A first chunk past what the message may reach ends it at once; else
    // the message waits for its other chunks.
    if (!last && packet.body.size() > limit)
      markInterrupted(message);
    else if (!last)
      partialMessages_.emplace(KS_DuplicateMessageHandle(message), limit);
    KS_ReleaseMessage(message);
  }
  if (isGroup)
    KS_ReleaseGroup(static_cast<HGroup*>(target));
  else
    KS_ReleaseContact(static_cast<HContact*>(target));
}

bool IncomingMessages::alreadyReceived(const Packet& packet) const {
  if (session_.state() != kFetchingStored) return false;
  Timestamp serverTime;
  return Timestamp::scan(packet.getHeader("Timestamp"), &serverTime) && serverTime.sec == newestSecond_ &&
         newestSecondIds_.count(packet.getHeaderId("Mesg-Id")) != 0;
}

void IncomingMessages::noteReceived(int64_t second, uint64_t id) {
  // Only forward: an older stored message must not make the next sign-in
  // ask again for what came since.
  long last = KS_GetSettingLong("connection.LastMessageTime", 0);
  if (second < last) return;
  if (second > last) KS_SetSettingLong("connection.LastMessageTime", long(second));
  if (second != newestSecond_) {
    newestSecond_ = second;
    newestSecondIds_.clear();
  }
  // A bound against a flood within one second; past it, repeats show twice.
  if (newestSecondIds_.size() < kMaxNewestSecondIds) newestSecondIds_.insert(id);
}

HMessage* IncomingMessages::deliver(const MessageData& data) {
  HMessage* message = KS_CreateMessage(&data);
  if (!message) return nullptr;
  KS_EventRaise("messages.new", message);
  // An open conversation marks it read while it is being raised; history
  // is never unread.
  if (!messageData(message).read && data.origin != kOriginHistory) KS_UnreadMessageAdd(message);
  if (data.complete) KS_EventRaise("messages.new.complete", message);
  return message;
}

void IncomingMessages::continueMessage(Packet& packet, HMessage* message, uint32_t limit) {
  // Our own reference: the hub's signals below may end the link, which
  // empties the partial messages.
  message = KS_DuplicateMessageHandle(message);
  MessageData m = messageData(message);
  size_t have = m.payloadLength > 0 ? size_t(m.payloadLength) : 0;
  bool last = packet.hasHeader("Last");
  if (packet.body.size() > limit || have > limit - packet.body.size()) {
    // More than it announced, or more than any message may be.
    if (auto it = partialMessages_.find(message); it != partialMessages_.end()) {
      partialMessages_.erase(it);
      markInterrupted(message);
      KS_ReleaseMessage(message);
    }
  } else if (last) {
    // Out of the partial messages before anyone hears it is complete.
    if (auto it = partialMessages_.find(message); it != partialMessages_.end()) {
      partialMessages_.erase(it);
      KS_ReleaseMessage(message);
    }
    KS_ContinueMessage(message, packet.body.data(), int(packet.body.size()), 1);
    KS_EventRaise("messages.new.complete", message);
  } else {
    KS_ContinueMessage(message, packet.body.data(), int(packet.body.size()), 0);
  }
  KS_ReleaseMessage(message);
}

void IncomingMessages::abandonPartialMessagesFrom(HContact* contact) {
  for (auto it = partialMessages_.begin(); it != partialMessages_.end(); ++it) {
    if (messageData(it->first).contact != contact) continue;
    HMessage* message = it->first;
    partialMessages_.erase(it);
    markInterrupted(message);
    KS_ReleaseMessage(message);
    return;
  }
}

void IncomingMessages::abandonAllPartialMessages() {
  std::map<HMessage*, uint32_t> partial;
  partial.swap(partialMessages_);
  for (auto& [message, limit] : partial) {
    markInterrupted(message);
    KS_ReleaseMessage(message);
  }
}

}  // namespace olvaro::conn
