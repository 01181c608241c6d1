#include "incoming_messages.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "bridges.h"
#include "contacts.h"
#include "groups.h"
#include "olvaro/hub_records.h"
#include "olvaro/connection_state.h"

namespace olvaro::conn {

IncomingMessages::IncomingMessages(Session& session) : ProtocolArea(session) {
  handle<&IncomingMessages::onMessage>("MESG", this);
  handle<&IncomingMessages::onMessage>("BRIDGE MESG", this);
}

IncomingMessages::~IncomingMessages() {
  for (auto& [key, partial] : partialMessages_) KS_ReleaseMessage(partial.message);
  partialMessages_.clear();
  bySender_.clear();
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
    auto first = partialMessages_.lower_bound({correlation, nullptr});
    if (first == partialMessages_.end() || first->first.first != correlation) return true;
    HContact* sender = findSender(bridge, sourceId);
    if (!sender) return true;
    auto it = partialMessages_.find({correlation, sender});
    KS_ReleaseContact(sender);
    if (it == partialMessages_.end()) return true;
    session_.noteIncomingMessage();
    continueMessage(packet, it->second.message, it->second.limit, correlation, it->first.second);
    return true;
  }

  if (alreadyReceived(packet)) return true;
  // A group first: a message for a group the user is not in is dropped
  // before its sender is looked up (which could create a contact).
  bool isGroup = packet.hasHeader("Target-Id");
  HGroup* group = nullptr;
  if (isGroup) {
    int64_t targetId = int64_t(packet.getHeaderId("Target-Id"));
    if (bridge != 0)
      group = session_.bridges() ? session_.bridges()->bridgedGroup(bridge, targetId) : nullptr;
    else
      group = Groups::findChatGroup(targetId);
    if (!group) return true;  // nowhere to show it
  }
  if (HContact* sender = findSender(bridge, sourceId)) {
    if (group) {
      startMessage(packet, sender, group, true);
    } else if (HContact* me = session_.contacts().getMyHandle()) {
      startMessage(packet, sender, me, false);
      KS_ReleaseContact(me);
    }
    KS_ReleaseContact(sender);
  }
  if (group) KS_ReleaseGroup(group);
  return true;
}

void IncomingMessages::startMessage(Packet& packet, HContact* sender, void* target, bool isGroup) {
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
      addPartial(message, limit);
    KS_ReleaseMessage(message);
  }
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

void IncomingMessages::addPartial(HMessage* message, uint32_t limit) {
  uint64_t id = uint64_t(KS_GetMessageID(message));
  HContact* sender = messageData(message).contact;
  std::vector<HMessage*> abandoned;
  // The same id again from the same sender replaces the older message.
  if (HMessage* older = takePartial(id, sender)) abandoned.push_back(older);
  for (auto s = bySender_.find(sender); s != bySender_.end() && s->second.size() >= kMaxPartialPerSender;) {
    if (HMessage* older = takePartial(s->second.front(), sender))
      abandoned.push_back(older);  // the sender keeps others: its entry stays
    else
      s->second.pop_front();
  }
  partialMessages_.emplace(std::pair(id, sender), Partial{KS_DuplicateMessageHandle(message), limit});
  bySender_[sender].push_back(id);
  // Marked once the tables are whole again: the hub's signals may end the link.
  for (HMessage* older : abandoned) {
    markInterrupted(older);
    KS_ReleaseMessage(older);
  }
}

HMessage* IncomingMessages::takePartial(uint64_t id, HContact* sender) {
  auto it = partialMessages_.find({id, sender});
  if (it == partialMessages_.end()) return nullptr;
  HMessage* message = it->second.message;
  partialMessages_.erase(it);
  if (auto s = bySender_.find(sender); s != bySender_.end()) {
    auto& ids = s->second;
    if (auto at = std::find(ids.begin(), ids.end(), id); at != ids.end()) ids.erase(at);
    if (ids.empty()) bySender_.erase(s);
  }
  return message;
}

void IncomingMessages::continueMessage(Packet& packet, HMessage* message, uint32_t limit, uint64_t id,
                                       HContact* sender) {
  // Our own reference: the hub's signals below may end the link, which
  // empties the partial messages.
  message = KS_DuplicateMessageHandle(message);
  MessageData m = messageData(message);
  size_t have = m.payloadLength > 0 ? size_t(m.payloadLength) : 0;
  bool last = packet.hasHeader("Last");
  if (packet.body.size() > limit || have > limit - packet.body.size()) {
    // More than it announced, or more than any message may be.
    if (HMessage* taken = takePartial(id, sender)) {
      markInterrupted(message);
      KS_ReleaseMessage(taken);
    }
  } else if (last) {
    // Out of the partial messages before anyone hears it is complete.
    if (HMessage* taken = takePartial(id, sender)) KS_ReleaseMessage(taken);
    KS_ContinueMessage(message, packet.body.data(), int(packet.body.size()), 1);
    KS_EventRaise("messages.new.complete", message);
  } else {
    KS_ContinueMessage(message, packet.body.data(), int(packet.body.size()), 0);
  }
  KS_ReleaseMessage(message);
}

void IncomingMessages::abandonPartialMessagesFrom(HContact* contact) {
  auto s = bySender_.find(contact);
  if (s == bySender_.end()) return;
  std::deque<uint64_t> ids = s->second;
  std::vector<HMessage*> abandoned;
  for (uint64_t id : ids)
    if (HMessage* message = takePartial(id, contact)) abandoned.push_back(message);
  for (HMessage* message : abandoned) {
    markInterrupted(message);
    KS_ReleaseMessage(message);
  }
}

void IncomingMessages::abandonAllPartialMessages() {
  std::map<std::pair<uint64_t, HContact*>, Partial> partial;
  partial.swap(partialMessages_);
  bySender_.clear();
  for (auto& [key, entry] : partial) {
    markInterrupted(entry.message);
    KS_ReleaseMessage(entry.message);
  }
}

}  // namespace olvaro::conn
