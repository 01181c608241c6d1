#include "transport/socket_connection.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "link.h"
#include "platform/connmgr.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace olvaro::net {

namespace {

struct WorkerStart {
  std::shared_ptr<Link> link;
};

LRESULT report(Link& link, UINT msg) {
  if (!link.sink) return 0;
  return SendMessage(link.sink, msg, 0, reinterpret_cast<LPARAM>(&link));
}

// Resolves and connects, then watches the socket until the UI thread says
// it is done with it.
DWORD WINAPI connectThread(LPVOID param) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(param));
  Link& link = *start->link;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;  // IPv6 and IPv4, in the order the system prefers
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  std::string port = std::to_string(link.port);
  bool ok = false;
  if (!link.host.empty() && getaddrinfo(link.host.c_str(), port.c_str(), &hints, &found) == 0) {
    for (addrinfo* a = found; a && !ok && !link.abandoned; a = a->ai_next) {
      int fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
      if (fd < 0) continue;
      timeval limit{SocketConnection::kSendTimeoutSeconds, 0};
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      {
        std::lock_guard lock(link.fdLock);
        link.fd = fd;
      }
      // Abandoned before the connect began: the shutdown missed this socket.
      ok = !link.abandoned && connect(fd, a->ai_addr, a->ai_addrlen) == 0;
      if (!ok) {
        std::lock_guard lock(link.fdLock);
        close(fd);
        link.fd = -1;
      }
    }
  }
  if (found) freeaddrinfo(found);
  if (!ok) {
    report(link, kMsgConnectFailed);
  } else if (report(link, kMsgConnected)) {
    while (!link.abandoned) {
      // Ten-second waits bound how long a given-up link keeps its thread.
      pollfd p{link.fd, POLLIN | POLLPRI, 0};
      int n = poll(&p, 1, 10000);
      if (n == 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (!report(link, kMsgSocketReady)) break;
    }
  }
  link.abandoned = true;
  std::lock_guard lock(link.fdLock);
  if (link.fd >= 0) close(link.fd);
  link.fd = -1;
  return 0;
}

// Already online when the device's own name resolves to an address that
// is neither loopback nor broadcast; otherwise the connection manager is
// asked for a link. Either way the connect is tried next.
DWORD WINAPI networkCheckThread(LPVOID param) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(param));
  Link& link = *start->link;
  for (const platform::Ipv4& a : platform::ownHostAddresses())
    if (a[0] != 127 && a[0] != 255) {
      report(link, kMsgNetworkReady);
      return 0;
    }
  CONNMGR_CONNECTIONINFO info{};
  info.cbSize = sizeof info;
  info.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  info.dwPriority = CONNMGR_PRIORITY_HIPRIBKGND;
  info.guidDestNet = IID_DestNetInternet;
  HANDLE handle = nullptr;
  DWORD status = 0;
  HRESULT hr = ConnMgrEstablishConnectionSync(&info, &handle, SocketConnection::kNetworkCheckTimeoutMs, &status);
  bool made = SUCCEEDED(hr) && handle;
  link.connMgr = made ? handle : nullptr;
  report(link, made ? kMsgNetworkMade : kMsgNetworkReady);
  // Nobody took the link (the check was replaced, or its connection is gone).
  if (made && !link.connMgrTaken) ConnMgrReleaseConnection(handle, FALSE);
  return 0;
}

bool startWorker(LPTHREAD_START_ROUTINE body, const std::shared_ptr<Link>& link) {
  auto* start = new WorkerStart{link};
  HANDLE thread = CreateThread(nullptr, 0, body, start, 0, nullptr);
  if (!thread) {
    delete start;
    return false;
  }
  CloseHandle(thread);
  return true;
}

}  // namespace

void abandonLink(Link& link) {
  link.owner = nullptr;
  std::lock_guard lock(link.fdLock);
  if (!link.abandoned.exchange(true) && link.fd >= 0) shutdown(link.fd, SHUT_RDWR);
}

LRESULT SinkDispatch::handle(UINT msg, Link* link) {
  SocketConnection* c = link ? link->owner : nullptr;
  if (!c) return 0;  // a link its connection gave up (or a connection gone)
  switch (msg) {
    case kMsgConnected:
      if (c->link_.get() != link) return 0;
      c->onConnected();
      return 1;
    case kMsgSocketReady: {
      if (c->link_.get() != link) return 0;
      bool more = c->serviceSocket();
      // Without a watcher nobody would see the socket again: drop it.
      if (!more && c->link_.get() == link) {
        c->closeSocket();
        c->onClosed();
      }
      return more ? 1 : 0;
    }
    case kMsgNetworkMade:
    case kMsgNetworkReady:
      if (c->check_.get() != link) return 0;
      link->owner = nullptr;
      if (link->connMgr) {
        c->releaseNetworkLink();
        c->connMgrHandle_ = link->connMgr;
        link->connMgrTaken = true;
      }
      c->check_.reset();
      c->onNetworkReady(msg == kMsgNetworkMade);
      return 1;
    case kMsgConnectFailed:
      if (c->link_.get() != link) return 0;
      c->onError(0);
      return 0;
  }
  return 0;
}

SocketConnection::SocketConnection() {
  connectionSinkWindow();
}

SocketConnection::~SocketConnection() {
  if (check_) {
    check_->owner = nullptr;
    check_.reset();
  }
  releaseNetworkLink();
  if (link_) {
    bool wasConnected = connected_;
    closeSocket();
    // Only the base part is left here: the subclass hooks are gone.
    if (wasConnected) SocketConnection::onClosed();
  }
}

void SocketConnection::onConnected() { connected_ = true; }

void SocketConnection::onClosed() {
  connected_ = false;
  inputBuffer.clear();
}

void SocketConnection::onError(int32_t) {
  closeSocket();
  onClosed();
}

void SocketConnection::onTlsFailed(TlsFailure, const std::string&) { onClosed(); }

void SocketConnection::closeSocket() {
  connected_ = false;
  tls_.reset();
  if (link_) {
    abandonLink(*link_);
    link_.reset();
  }
}

void SocketConnection::startConnect(const std::string& host, int port) {
  if (!link_) link_ = std::make_shared<Link>();
  tls_.reset();
  link_->host = host;
  link_->port = port;
  link_->sink = connectionSinkWindow();
  link_->owner = this;
  if (!startWorker(connectThread, link_)) {
    closeSocket();
    onError(0);
  }
}

void SocketConnection::releaseNetworkLink() {
  if (!connMgrHandle_) return;
  ConnMgrReleaseConnection(connMgrHandle_, FALSE);
  connMgrHandle_ = nullptr;
}

void SocketConnection::checkNetwork() {
  releaseNetworkLink();
  if (check_) check_->owner = nullptr;
  check_ = std::make_shared<Link>();
  check_->sink = connectionSinkWindow();
  check_->owner = this;
  if (!startWorker(networkCheckThread, check_)) {
    check_->owner = nullptr;
    check_.reset();
    onNetworkReady(false);
  }
}

bool SocketConnection::startTls(const TlsOptions& options) {
  TlsFailure failure = TlsFailure::kNone;
  tls_ = TlsSession::start(options, &failure);
  if (!tls_) {
    failTls(failure);
    return false;
  }
  // Every send is whole records: waiting to fill a segment would only hold
  // back a record's tail until the peer acknowledges its head.
  int one = 1;
  if (link_) setsockopt(link_->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return sendWire(tls_->output());
}

void SocketConnection::failTls(TlsFailure failure) {
  std::string subject = tls_ ? tls_->subject() : std::string();
  closeSocket();
  onTlsFailed(failure, subject);
}

bool SocketConnection::tlsBroke() {
  // An orderly end of an established session is a close like any other.
  if (tls_->closedByPeer() && tls_->established()) {
    closeSocket();
    onClosed();
  } else {
    failTls(tls_->failure());
  }
  return false;
}

bool SocketConnection::sendWire(std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    if (!link_) {
      onError(ENOTCONN);
      return false;
    }
    size_t piece = std::min(kTlsPiece, bytes.size() - sent);
    ssize_t n = send(link_->fd, bytes.data() + sent, piece, MSG_NOSIGNAL);
    if (n <= 0) {
      int code = n < 0 ? errno : 0;
      bytes.erase(0, sent);
      onError(code);
      return false;
    }
    sent += size_t(n);
  }
  bytes.clear();
  return true;
}

bool SocketConnection::flush() {
  if (tls_) {
    if (!tls_->write(outputBuffer)) return tlsBroke();
    if (!sendWire(tls_->output())) return false;
    if (!outputBuffer.empty()) return true;  // held until the server is verified
    onSent();
    return true;
  }
  size_t sent = 0;
  while (sent < outputBuffer.size()) {
    if (!link_) {
      onError(ENOTCONN);
      return false;
    }
    size_t piece = std::min(kSendPiece, outputBuffer.size() - sent);
    ssize_t n = send(link_->fd, outputBuffer.data() + sent, piece, MSG_NOSIGNAL);
    if (n <= 0) {
      int code = n < 0 ? errno : 0;
      outputBuffer.erase(0, sent);
      onError(code);
      return false;
    }
    sent += size_t(n);
  }
  outputBuffer.clear();
  onSent();
  return true;
}

bool SocketConnection::receive() {
  if (!link_) return false;
  char buffer[kTlsPiece];
  ssize_t n = recv(link_->fd, buffer, tls_ ? kTlsPiece : kReceivePiece, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
  if (n <= 0) {
    // A server that hangs up on the handshake does not speak TLS there.
    if (tls_ && !tls_->established()) {
      failTls(TlsFailure::kClosed);
      return false;
    }
    closeSocket();
    onClosed();
    return false;
  }
  if (tls_) {
    bool wasEstablished = tls_->established();
    size_t before = inputBuffer.size();
    bool ok = tls_->feed(buffer, size_t(n), inputBuffer);
    // Handshake messages and key-update answers go out at once.
    if (!sendWire(tls_->output())) return false;
    if (!ok) {
      if (inputBuffer.size() > before && tls_->established()) onDataReceived();
      if (!link_) return false;
      return tlsBroke();
    }
    if (!wasEstablished && tls_->established()) {
      onTlsReady();
      if (!link_ || !flush()) return false;
    }
    if (inputBuffer.size() == before) return true;
  } else {
    inputBuffer.append(buffer, size_t(n));
  }
  onDataReceived();
  return connected_ && link_ != nullptr;
}

bool SocketConnection::serviceSocket() {
  if (!link_ || !connected_) return false;
  int fd = link_->fd;
  pollfd p{fd, POLLIN | POLLPRI, 0};
  int n = poll(&p, 1, 0);
  if (n < 0 || (p.revents & (POLLERR | POLLNVAL))) {
    int code = errno;
    socklen_t size = sizeof code;
    if (n >= 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size);
    onError(code);
    return false;
  }
  if (!flush()) return false;
  if (n > 0 && (p.revents & (POLLIN | POLLHUP))) return receive();
  return true;
}

}  // namespace olvaro::net
