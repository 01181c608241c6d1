// A second account on the real server, spoken to at the protocol level: a
// non-blocking loopback socket whose packets are read while the tests pump
// the client under test, so both sides make progress in one thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "packet.h"
#include "packet_reader.h"
#include "peer.h"

namespace conntest {

using olvaro::conn::Packet;

// The 32-bit big-endian code of a "RESPONSE" body; -1 when malformed.
inline int64_t responseCode(const Packet& p) {
  if (p.body.size() != 4) return -1;
  auto b = [&](int i) { return uint32_t(uint8_t(p.body[size_t(i)])); };
  return int32_t(b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3));
}

// A whole message put together from its chunks.
struct WireMessage {
  int64_t sender = 0;
  int64_t group = 0;  // 0 for a private message
  std::string contentType;
  std::string payload;
  bool hist = false;
  std::string timestamp;  // server time, "seconds.microseconds"
  uint64_t id = 0;        // "Mesg-Id" of the first chunk
};

class WireClient {
 public:
  explicit WireClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);  // completes in the background
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~WireClient() { close(); }
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool send(Packet p) {
    std::string bytes = p.serialize();
    size_t at = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (at < bytes.size() && fd_ >= 0) {
      ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n > 0) {
        at += size_t(n);
      } else if (n < 0 && (errno == EAGAIN || errno == ENOTCONN || errno == EINPROGRESS)) {
        if (std::chrono::steady_clock::now() > until) return false;
        settle(1);  // let the client under test read so the server drains
      } else {
        return false;
      }
    }
    return at == bytes.size();
  }
  // A request with a fresh "Mesg-Id", which is returned.
  uint64_t request(Packet p) {
    uint64_t id = nextId_++;
    p.setHeaderId("Mesg-Id", id);
    send(std::move(p));
    return id;
  }

  // Reads what is waiting into the queue of packets.
  void pump() {
    char buffer[65536];
    for (;;) {
      ssize_t n = fd_ >= 0 ? ::recv(fd_, buffer, sizeof buffer, 0) : 0;
      if (n <= 0) {
        if (n == 0) closed_ = true;
        return;
      }
      size_t at = 0;
      while (at < size_t(n)) {
        size_t used = 0;
        auto r = reader_.parse(buffer + at, size_t(n) - at, &used);
        at += used;
        if (r == olvaro::conn::PacketReader::Result::Packet) {
          if (reader_.packet().command != "P") queue_.push_back(reader_.packet());
        } else if (r == olvaro::conn::PacketReader::Result::Error) {
          closed_ = true;
          return;
        } else {
          break;
        }
      }
    }
  }

  // The first queued packet that `match` accepts, waited for while the
  // client under test is pumped; the packets before it stay queued.
  bool next(const std::function<bool(const Packet&)>& match, Packet* out, int ms = 5000) {
    bool found = waitFor([&] {
      pump();
      for (auto it = queue_.begin(); it != queue_.end(); ++it)
        if (match(*it)) {
          if (out) *out = std::move(*it);
          queue_.erase(it);
          return true;
        }
      return false;
    }, ms);
    return found;
  }
  bool next(const std::string& command, Packet* out, int ms = 5000) {
    return next([&](const Packet& p) { return p.command == command; }, out, ms);
  }
  // The code of the "RESPONSE" to request `id`; -1000 when none came.
  int64_t response(uint64_t id, int ms = 5000) {
    Packet p;
    if (!next([&](const Packet& r) { return r.command == "RESPONSE" && r.getHeaderId("Mesg-Id") == id; }, &p, ms))
      return -1000;
    return responseCode(p);
  }
  std::deque<Packet>& queue() { return queue_; }

  // The next whole message; chunks of unfinished ones are kept, other
  // packets stay queued.
  bool nextMessage(WireMessage* out, int ms = 5000) {
    return waitFor([&] {
      pump();
      for (auto it = queue_.begin(); it != queue_.end();) {
        if (it->command != "MESG") {
          ++it;
          continue;
        }
        Packet p = std::move(*it);
        it = queue_.erase(it);
        ++chunksSeen;
        largestChunk = std::max(largestChunk, p.body.size());
        uint64_t first = p.hasHeader("Correlation-Id") ? p.getHeaderId("Correlation-Id") : p.getHeaderId("Mesg-Id");
        auto key = std::make_pair(int64_t(p.getHeaderId("Source-Id")), first);
        WireMessage& m = partial_[key];
        if (!p.hasHeader("Correlation-Id")) {
          m = WireMessage{};
          m.sender = key.first;
          m.group = int64_t(p.getHeaderId("Target-Id"));
          m.contentType = p.getHeader("Content-Type");
          m.hist = p.hasHeader("Hist");
          m.timestamp = p.getHeader("Timestamp");
          m.id = first;
        }
        m.payload += p.body;
        if (p.hasHeader("Last")) {
          ready_.push_back(std::move(m));
          partial_.erase(key);
        }
      }
      if (ready_.empty()) return false;
      if (out) *out = std::move(ready_.front());
      ready_.pop_front();
      return true;
    }, ms);
  }
  bool closed() const { return closed_; }
  // Chunks put together by nextMessage so far, and the largest of them.
  size_t chunksSeen = 0;
  size_t largestChunk = 0;

  // LOGON and AUTH; true once "LOGON SUCCESSFUL" came.
  bool signIn(const std::string& email, const std::string& password, int presence = 1) {
    Packet logon("LOGON");
    logon.setHeader("App-Type", "Desktop");
    logon.setHeader("Protocol-Version", "1.0");
    send(logon);
    Packet auth;
    if (!next("AUTH", &auth)) return false;
    Packet a("AUTH");
    a.setHeaderInt("Encryption-Type", 0);
    a.setHeaderInt("Auth-Target", 0);
    a.setHeaderInt("Online-Status", presence);
    a.setHeader("Name", email);
    a.body = password;
    send(a);
    Packet done;
    if (!next([](const Packet& p) { return p.command == "LOGON SUCCESSFUL" || p.command == "LOGON FAILED"; }, &done))
      return false;
    subId = int64_t(done.getHeaderId("Sub-Id"));
    return done.command == "LOGON SUCCESSFUL";
  }
  int64_t subId = 0;  // the account's id, from the sign-in

  // A whole message in chunks of `chunk` bytes, as a client sends one; the
  // "Mesg-Id" of its last chunk is returned.
  uint64_t sendMessage(int64_t target, bool group, const std::string& type, const std::string& payload,
                   size_t chunk = 512) {
    uint64_t first = nextId_++, id = first;
    size_t at = 0;
    do {
      Packet m("MESG");
      if (at != 0) id = nextId_++;
      m.setHeaderId("Mesg-Id", id);
      if (at != 0) m.setHeaderId("Correlation-Id", first);
      m.setHeaderInt("Mesg-Target", group ? 1 : 0);
      m.setHeaderId("Target-Id", uint64_t(target));
      m.setHeader("Content-Type", type);
      size_t n = std::min(chunk, payload.size() - at);
      m.body = payload.substr(at, n);
      at += n;
      if (at == payload.size()) m.setHeaderInt("Last", 1);
      else if (n == at) m.setHeaderInt("Total-Length", int32_t(payload.size()));
      send(std::move(m));
    } while (at < payload.size());
    return id;
  }

 private:
  int fd_ = -1;
  bool closed_ = false;
  olvaro::conn::PacketReader reader_;
  std::deque<Packet> queue_;
  std::map<std::pair<int64_t, uint64_t>, WireMessage> partial_;
  std::deque<WireMessage> ready_;
  uint64_t nextId_ = 1u << 20;
};

}  // namespace conntest
