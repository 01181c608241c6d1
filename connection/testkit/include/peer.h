// A scripted peer on a loopback socket, and waits that pump the client's
// messages while real sockets do their work.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "testkit/testkit.h"

namespace conntest {

inline bool waitFor(const std::function<bool()>& done, int ms = 5000) { return testkit::pumpUntil(done, ms); }

// Lets in-flight bytes arrive and be handled.
inline void settle(int ms = 50) { waitFor([] { return false; }, ms); }

class Peer {
 public:
  Peer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener_, 8);
    socklen_t size = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
  }
  ~Peer() {
    drop();
    if (listener_ >= 0) ::close(listener_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  int port() const { return port_; }

  // Waits for the client to connect (pumping); closes an earlier link.
  bool accept(int ms = 5000) {
    drop();
    received_.clear();
    return waitFor([&] {
      conn_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      return conn_ >= 0;
    }, ms);
  }
  bool hasPendingConnection() {
    pollfd p{listener_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }

  void send(const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
      ssize_t n = ::send(conn_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n > 0) at += size_t(n);
      else if (n < 0 && errno != EAGAIN) break;
    }
  }

  // Everything received so far (reads what is waiting first).
  const std::string& received() {
    char buffer[4096];
    for (;;) {
      ssize_t n = ::recv(conn_, buffer, sizeof buffer, 0);
      if (n > 0) {
        received_.append(buffer, size_t(n));
        continue;
      }
      if (n == 0) closedByClient_ = true;
      break;
    }
    return received_;
  }
  // Waits until at least `bytes` were received; returns them and forgets them.
  std::string take(size_t bytes, int ms = 5000) {
    waitFor([&] { return received().size() >= bytes; }, ms);
    std::string out = received_.substr(0, bytes);
    received_.erase(0, out.size());
    return out;
  }
  // Waits for a whole packet without body (ending in an empty line).
  std::string takePacket(int ms = 5000) {
    waitFor([&] { return received().find("\n\n") != std::string::npos; }, ms);
    size_t end = received_.find("\n\n");
    if (end == std::string::npos) return std::string();
    std::string out = received_.substr(0, end + 2);
    received_.erase(0, end + 2);
    return out;
  }
  bool closedByClient() {
    received();
    return closedByClient_;
  }
  void drop() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
    closedByClient_ = false;
  }
  void clear() {
    received();
    received_.clear();
  }

 private:
  int listener_ = -1;
  int conn_ = -1;
  int port_ = 0;
  std::string received_;
  bool closedByClient_ = false;
};

// A port that nobody listens on.
inline int closedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t size = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(s);
  return ntohs(a.sin_port);
}

}  // namespace conntest
