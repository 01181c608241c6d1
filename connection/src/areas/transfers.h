// Outgoing messages: every message raised with "messages.new.outgoing" is
// cut into chunks of at most 512 bytes, each acknowledged by the server, and
// sent again in full when a chunk is lost.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "olvaro/registrations.h"
#include "protocol_area.h"
#include "transport/timer_client.h"

namespace olvaro::conn {

// One message on its way out. Runs whenever the message or its service
// changes: payload appended, restarted, service signed in.
class OutgoingTransfer : public net::TimerClient {
 public:
  enum Result : int { kCannotSend = 0, kChunkSent = 1, kWaitingForPayload = 2, kFinished = 3 };

  static constexpr int32_t kChunkSize = 512;
  // Repeated restarts of one message wait this long at most.
  static constexpr int32_t kMaxRestartDelaySeconds = 60;

  // `key` names the message across its restarts (see OutgoingTransfers::keyOf).
  OutgoingTransfer(Session& session, HMessage* message, std::string key);
  ~OutgoingTransfer() override;

  // Sends every chunk there is payload for, back to back.
  Result run();

  HMessage* message() const { return message_; }
  const std::string& key() const { return key_; }
  // Chunks belong to the round they were sent in; a restart starts a new one.
  uint64_t round() const { return round_; }
  uint32_t sentBytes() const { return sentBytes_; }
  bool restartPending() const { return restartPending_; }

  // A chunk of the current round was delivered (code 4) or lost (code 100).
  void chunkDelivered();
  void chunkLost();
  // The server refused a chunk (any other code): nothing more of the
  // message goes out, now or on a later sign-in.
  void stop();
  // The chunk with "Last" went out and every chunk of the round was answered.
  bool allDelivered() const { return lastSent_ && unacknowledged_ == 0; }

  void onTimer() override;

 private:
  Result step();
  // New id, progress 0, counters zero; the message's signal sends it again.
  void restart();

  Session& session_;
  HMessage* message_;
  std::string key_;
  HService* service_ = nullptr;  // no reference held
  uint32_t sentBytes_ = 0;
  bool lastSent_ = false;
  bool totalLengthSent_ = false;
  uint64_t round_ = 0;
  int32_t unacknowledged_ = 0;  // chunks of this round still unanswered
  // Restarts since a chunk was last delivered: the first goes at once, later
  // ones wait 1, 2, 4 ... seconds, so a server losing every chunk is not
  // flooded.
  int32_t restarts_ = 0;
  bool restartPending_ = false;
  MessageSubscription messageSubscription_;
  ServiceSubscription serviceSubscription_;
};

class OutgoingTransfers {
 public:
  // The one instance while a session is attached.
  static OutgoingTransfers* instance();
  // Created with the session and destroyed with it; destroying drops every
  // transfer still running.
  static void attach(Session& session);
  static void detach();

  // What the first chunk carries as "Mesg-Key": a restart gives the message
  // a new id, so a server that already holds it whole (its acknowledgements
  // lost with the link) tells the copy by this. A random value drawn for
  // each session, since ids start again whenever the hub does, and the
  // message's first id.
  static std::string keyOf(uint64_t firstId);

  // Starts sending the message, replacing a transfer already running for it.
  void start(HMessage* message);
  fwk::counted_ptr<OutgoingTransfer> find(HMessage* message) const;
  void finish(HMessage* message) { transfers_.erase(message); }
  size_t size() const { return transfers_.size(); }

 private:
  explicit OutgoingTransfers(Session& session);
  ~OutgoingTransfers();

  Session& session_;
  std::map<HMessage*, fwk::counted_ptr<OutgoingTransfer>> transfers_;  // by handle address
  EventSubscription outgoing_;
};

// The wait for the server's answer to one sent chunk.
class MessageChunkRequest : public PendingRequest {
 public:
  MessageChunkRequest(uint64_t id, HMessage* message, int32_t chunkLength, uint64_t round);
  ~MessageChunkRequest() override;
  bool onResponse(int64_t code, const std::string& text) override;

 private:
  HMessage* message_;
  int32_t chunkLength_;
  uint64_t round_;
};

}  // namespace olvaro::conn
