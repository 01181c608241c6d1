// The socket layer without a socket or a thread, linked into the session
// fuzzer in place of socket_connection.cpp. A connect or a network check is
// only noted; memory_transport::settle() reports it as the sink window would
// handle the worker's message. What the session writes is kept, and the
// fuzzer hands received bytes to onDataReceived itself.
#include "memory_transport.h"

#include <cerrno>
#include <deque>
#include <memory>

#include "link.h"
#include "transport/socket_connection.h"

namespace olvaro::net {

namespace {

struct Report {
  UINT msg;
  std::shared_ptr<Link> link;
};

std::deque<Report> g_reports;
std::string g_sent;

}  // namespace

void abandonLink(Link& link) {
  link.owner = nullptr;
  link.abandoned = true;
}

LRESULT SinkDispatch::handle(UINT msg, Link* link) {
  SocketConnection* c = link ? link->owner : nullptr;
  if (!c) return 0;
  switch (msg) {
    case kMsgConnected:
      if (c->link_.get() != link) return 0;
      c->onConnected();
      return 1;
    case kMsgNetworkReady:
      if (c->check_.get() != link) return 0;
      link->owner = nullptr;
      c->check_.reset();
      c->onNetworkReady(false);
      return 1;
  }
  return 0;
}

SocketConnection::SocketConnection() = default;

SocketConnection::~SocketConnection() {
  if (check_) {
    check_->owner = nullptr;
    check_.reset();
  }
  if (link_) {
    bool wasConnected = connected_;
    closeSocket();
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

void SocketConnection::closeSocket() {
  connected_ = false;
  if (link_) {
    abandonLink(*link_);
    link_.reset();
  }
}

// The fuzzer's links are plain bytes: a "tls:" entry fails as a server
// that does not speak TLS would, through the same hooks.
void SocketConnection::onTlsFailed(TlsFailure, const std::string&) { onClosed(); }

bool SocketConnection::startTls(const TlsOptions&) {
  failTls(TlsFailure::kClosed);
  return false;
}

void SocketConnection::failTls(TlsFailure failure) {
  closeSocket();
  onTlsFailed(failure, std::string());
}

void SocketConnection::startConnect(const std::string& host, int port) {
  if (!link_) link_ = std::make_shared<Link>();
  link_->host = host;
  link_->port = port;
  link_->owner = this;
  g_reports.push_back({kMsgConnected, link_});
}

void SocketConnection::releaseNetworkLink() { connMgrHandle_ = nullptr; }

void SocketConnection::checkNetwork() {
  if (check_) check_->owner = nullptr;
  check_ = std::make_shared<Link>();
  check_->owner = this;
  g_reports.push_back({kMsgNetworkReady, check_});
}

bool SocketConnection::flush() {
  if (!link_) {
    onError(ENOTCONN);
    return false;
  }
  g_sent += outputBuffer;
  outputBuffer.clear();
  onSent();
  return true;
}

bool SocketConnection::receive() { return connected_ && link_ != nullptr; }

bool SocketConnection::serviceSocket() {
  if (!link_ || !connected_) return false;
  return flush();
}

namespace memory_transport {

int settle() {
  int handled = 0;
  while (!g_reports.empty()) {
    Report r = std::move(g_reports.front());
    g_reports.pop_front();
    handled += SinkDispatch::handle(r.msg, r.link.get()) ? 1 : 0;
  }
  return handled;
}

void peerClosed(SocketConnection& c) {
  if (!c.hasSocket()) return;
  c.closeSocket();
  c.onClosed();
}

std::string takeSent() {
  std::string out;
  out.swap(g_sent);
  return out;
}

void reset() {
  g_reports.clear();
  g_sent.clear();
}

}  // namespace memory_transport
}  // namespace olvaro::net
