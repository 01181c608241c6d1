#include "transfers.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <random>

#include "bridges.h"
#include "olvaro/hub_records.h"

namespace olvaro::conn {
namespace {

OutgoingTransfers* g_transfers = nullptr;
uint64_t g_lastRound = 0;

uint64_t nextRound() { return ++g_lastRound; }

// Drawn anew for every session: the hub may start its ids again at 32768
// within one process, and a repeated name would make a new message look like
// a copy of one the server already holds.
uint64_t g_sessionValue = 0;

uint64_t drawSessionValue() {
  std::random_device device;
  return (uint64_t(device()) << 32) | device();
}

uint32_t payloadLength(const MessageData& m) { return m.payloadLength > 0 ? uint32_t(m.payloadLength) : 0; }

}  // namespace

OutgoingTransfer::OutgoingTransfer(Session& session, HMessage* message, std::string key)
    : session_(session), message_(KS_DuplicateMessageHandle(message)), key_(std::move(key)), round_(nextRound()) {
  messageSubscription_ = subscribeMessage<&OutgoingTransfer::run>(message_, this);
  MessageData m = messageData(message_);
  if (m.target && m.isGroup) {
    GroupData g{};
    g.size = sizeof g;
    KS_GetGroupData(static_cast<HGroup*>(m.target), &g);
    service_ = g.service;
  } else if (m.target) {
    ContactData c = olvaro::contactData(static_cast<HContact*>(m.target));
    service_ = c.service;
  }
  if (service_) serviceSubscription_ = subscribeService<&OutgoingTransfer::run>(service_, this);
}

OutgoingTransfer::~OutgoingTransfer() {
  stopTimer();
  serviceSubscription_.reset();
  messageSubscription_.reset();
  KS_ReleaseMessage(message_);
}

OutgoingTransfer::Result OutgoingTransfer::run() {
  if (restartPending_) return kCannotSend;
  // No reference is held on the service: once it is gone, so is the way out.
  if (!service_ || !serviceSubscription_.attached()) return kCannotSend;
  ServiceData s{};
  s.size = sizeof s;
  KS_GetServiceData(service_, &s);
  if (s.state == 0 || s.state == 101) return kCannotSend;
  Result result;
  do {
    result = step();
  } while (result == kChunkSent);
  return result;
}

OutgoingTransfer::Result OutgoingTransfer::step() {
  MessageData m = messageData(message_);
  if (lastSent_) return kFinished;
  uint32_t length = payloadLength(m);
  // A payload replaced by a shorter one has nothing more to send.
  uint32_t remaining = length > sentBytes_ ? length - sentBytes_ : 0;
  if (remaining < uint32_t(kChunkSize) && !m.complete) return kWaitingForPayload;
  uint32_t chunk = std::min(remaining, uint32_t(kChunkSize));

  Packet packet("MESG");
  Bridges* bridges = session_.bridges();
  uint64_t bridge = bridges ? bridges->bridgeIdOfService(service_) : 0;
  if (bridge != 0) {
    packet.command = "BRIDGE MESG";
    packet.setHeaderId("Bridge-Id", bridge);
  } else if (service_ != session_.service()) {
    return kCannotSend;
  }
  bool first = sentBytes_ == 0;
  uint64_t chunkId = first ? uint64_t(m.id) : KS_GetLUID();
  packet.setHeaderId("Mesg-Id", chunkId);
  packet.setHeaderInt("Mesg-Target", m.isGroup ? 1 : 0);
  int64_t targetId = m.isGroup ? KS_GetGroupID(static_cast<HGroup*>(m.target))
                               : KS_GetContactID(static_cast<HContact*>(m.target));
  packet.setHeaderId("Target-Id", uint64_t(targetId));
  packet.setHeader("Content-Type", std::string(typeOf(m)));
  if (first) packet.setHeader("Mesg-Key", key_);
  else packet.setHeaderId("Correlation-Id", uint64_t(m.id));
  if (chunk) packet.body.assign(reinterpret_cast<const char*>(m.payload) + sentBytes_, chunk);

  uint32_t sent = sentBytes_ + chunk;
  bool totalLengthSent = totalLengthSent_, lastSent = false;
  if (m.complete) {
    if (sent != length && !totalLengthSent) {
      packet.setHeaderInt("Total-Length", int32_t(length));
      totalLengthSent = true;
    }
    if (sent >= length) {
      packet.setHeaderInt("Last", 1);
      lastSent = true;
    }
  }

  // The counters move only once the chunk is out: a failed send leaves it to
  // be sent again with the next sign-in, and a link that dropped during the
  // send may already have restarted this message.
  uint64_t round = round_;
  if (!session_.send(packet) || round != round_) return kCannotSend;
  sentBytes_ = sent;
  totalLengthSent_ = totalLengthSent;
  lastSent_ = lastSent;
  ++unacknowledged_;
  session_.registerPendingRequest(
      fwk::counted_ptr<PendingRequest>(new MessageChunkRequest(chunkId, message_, int32_t(chunk), round_)));
  return lastSent_ ? kFinished : kChunkSent;
}

void OutgoingTransfer::chunkDelivered() {
  restarts_ = 0;
  if (unacknowledged_ > 0) --unacknowledged_;
}

void OutgoingTransfer::chunkLost() {
  // What else is still out of this round is lost with it.
  round_ = nextRound();
  unacknowledged_ = 0;
  if (restartPending_) return;
  if (restarts_ == 0) {
    restarts_ = 1;
    restart();
    return;
  }
  int32_t delay = restarts_ > 6 ? kMaxRestartDelaySeconds : std::min(kMaxRestartDelaySeconds, 1 << (restarts_ - 1));
  restartPending_ = true;
  startTimer(UINT(delay) * 1000);
}

void OutgoingTransfer::stop() {
  stopTimer();
  restartPending_ = false;
  // Without its service subscription the transfer never runs again.
  serviceSubscription_.reset();
  messageSubscription_.reset();
}

void OutgoingTransfer::onTimer() {
  stopTimer();
  if (!restartPending_) return;
  restartPending_ = false;
  if (restarts_ < 100) ++restarts_;
  restart();
}

void OutgoingTransfer::restart() {
  // Counters first: the message's signal below runs the transfer at once.
  sentBytes_ = 0;
  lastSent_ = false;
  totalLengthSent_ = false;
  unacknowledged_ = 0;
  MessageData d{};
  d.size = sizeof d;
  d.mask = MESSAGE_ID | MESSAGE_PROGRESS;
  d.id = KS_GetLUID();
  d.progress = 0;
  KS_SetMessageData(message_, &d);
}

OutgoingTransfers* OutgoingTransfers::instance() { return g_transfers; }

void OutgoingTransfers::attach(Session& session) {
  detach();
  g_sessionValue = drawSessionValue();
  g_transfers = new OutgoingTransfers(session);
}

void OutgoingTransfers::detach() {
  delete g_transfers;
  g_transfers = nullptr;
}

OutgoingTransfers::OutgoingTransfers(Session& session) : session_(session) {
  outgoing_ = subscribeEvent<&OutgoingTransfers::start>("messages.new.outgoing", this);
}

OutgoingTransfers::~OutgoingTransfers() {
  outgoing_.reset();
  // Taken out first: a transfer going away may raise signals that look here.
  std::map<HMessage*, fwk::counted_ptr<OutgoingTransfer>> transfers;
  transfers.swap(transfers_);
}

std::string OutgoingTransfers::keyOf(uint64_t firstId) {
  char key[48];
  snprintf(key, sizeof key, "%016" PRIx64 "-%" PRIu64, g_sessionValue, firstId);
  return key;
}

void OutgoingTransfers::start(HMessage* message) {
  if (!message) return;
  // The same message raised again keeps its name: part of it may be through.
  fwk::counted_ptr<OutgoingTransfer> running = find(message);
  std::string key = running ? running->key() : keyOf(uint64_t(messageData(message).id));
  fwk::counted_ptr<OutgoingTransfer> transfer(new OutgoingTransfer(session_, message, std::move(key)));
  transfers_[message] = transfer;
  transfer->run();
}

fwk::counted_ptr<OutgoingTransfer> OutgoingTransfers::find(HMessage* message) const {
  auto it = transfers_.find(message);
  return it == transfers_.end() ? fwk::counted_ptr<OutgoingTransfer>() : it->second;
}

MessageChunkRequest::MessageChunkRequest(uint64_t id, HMessage* message, int32_t chunkLength, uint64_t round)
    : PendingRequest(id), message_(KS_DuplicateMessageHandle(message)), chunkLength_(chunkLength), round_(round) {}

MessageChunkRequest::~MessageChunkRequest() { KS_ReleaseMessage(message_); }

bool MessageChunkRequest::onResponse(int64_t code, const std::string&) {
  OutgoingTransfers* transfers = OutgoingTransfers::instance();
  if (!transfers) return true;
  fwk::counted_ptr<OutgoingTransfer> transfer = transfers->find(message_);
  // A chunk of a round already restarted (or of a replaced transfer) neither
  // counts as progress nor restarts the message once more.
  if (!transfer || transfer->round() != round_) return true;
  if (code == kResponseChunkDelivered) {
    transfer->chunkDelivered();
    MessageData m = messageData(message_);
    MessageData d{};
    d.size = sizeof d;
    d.mask = MESSAGE_PROGRESS;
    d.progress = m.progress + chunkLength_;
    KS_SetMessageData(message_, &d);
    m = messageData(message_);
    // Done only when the chunk with "Last" is answered too: a lost one must
    // still restart the message.
    if (transfer->allDelivered() && m.complete && m.progress >= m.payloadLength &&
        transfers->find(message_).get() == transfer.get())
      transfers->finish(message_);
  } else if (code == kResponseLost) {
    transfer->chunkLost();
  } else {
    // Refused (a bridge switched off, a type the network cannot carry): it
    // would be refused again, so the message ends, visibly.
    transfer->stop();
    if (transfers->find(message_).get() == transfer.get()) transfers->finish(message_);
    markInterrupted(message_);
  }
  return true;
}

}  // namespace olvaro::conn
