#include "incoming_messages.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <string>

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

// One "%d" of scanf: blanks, a sign, at least one digit; saturates.
bool scanInt(const char*& p, int32_t* out) {
  const char* q = p;
  while (std::isspace(static_cast<unsigned char>(*q))) ++q;
  bool negative = *q == '-';
  if (*q == '-' || *q == '+') ++q;
  if (!std::isdigit(static_cast<unsigned char>(*q))) return false;
  int64_t value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*q)); ++q)
    value = std::min<int64_t>(value * 10 + (*q - '0'), int64_t(std::numeric_limits<int32_t>::max()) + 1);
  value = negative ? -value : value;
  *out = int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
  p = q;
  return true;
}

// "%d.%d": true when at least the seconds were read.
bool scanTimestamp(const std::string& text, Timestamp* out) {
  const char* p = text.c_str();
  Timestamp t;
  if (!scanInt(p, &t.sec)) return false;
  if (*p == '.') {
    ++p;
    scanInt(p, &t.usec);
  }
  *out = t;
  return true;
}

// a - b with the microseconds brought into 0..999999; works for any
// microseconds the server sends and stays within the 32-bit seconds.
Timestamp subtract(const Timestamp& a, const Timestamp& b) {
  int64_t us = (int64_t(a.sec) - b.sec) * 1000000 + (int64_t(a.usec) - b.usec);
  int64_t sec = us / 1000000, rest = us % 1000000;
  if (rest < 0) {
    rest += 1000000;
    --sec;
  }
  sec = std::clamp<int64_t>(sec, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  return {int32_t(sec), int32_t(rest)};
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
  if (bridge != 0) return session_.bridgedContact(bridge, sourceId, std::string());
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
    target = session_.bridgedGroup(bridge, targetId);
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
  int32_t origin = 1;
  if (session_.state() == kFetchingStored)
    origin = 2;
  else if (packet.hasHeader("Hist"))
    origin = 3;
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
  if (scanTimestamp(packet.getHeader("Timestamp"), &serverTime)) {
    Timestamp local = subtract(serverTime, session_.clockOffset());
    d.timeSec = serverTime.sec;
    d.timeUsec = serverTime.usec;
    d.localTimeSec = local.sec;
    d.localTimeUsec = local.usec;
    if (origin != 3) KS_SetSettingLong("connection.LastMessageTime", serverTime.sec);
  }

  HMessage* message = KS_CreateMessage(&d);
  if (message) {
    KS_EventRaise("messages.new", message);
    MessageData shown = messageData(message);
    if (!shown.read && origin != 3) KS_UnreadMessageAdd(message);
    if (last)
      KS_EventRaise("messages.new.complete", message);
    else if (packet.body.size() > limit)
      markInterrupted(message);
    else
      partialMessages_.emplace(KS_DuplicateMessageHandle(message), limit);
    KS_ReleaseMessage(message);
  }
  if (isGroup)
    KS_ReleaseGroup(static_cast<HGroup*>(target));
  else
    KS_ReleaseContact(static_cast<HContact*>(target));
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
