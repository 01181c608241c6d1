// The socket layer shared by the plug-ins that talk TCP: a worker thread
// resolves, connects and watches the socket; every event comes back to the
// user-interface thread through a hidden sink window, where all reading and
// writing happens. Subclasses react through the virtual hooks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"
#include "transport/tls_session.h"

namespace olvaro::net {

// Messages the worker threads send to the sink window (lParam: the link).
enum : UINT {
  kMsgConnected = 0x8000,     // TCP connect succeeded
  kMsgSocketReady = 0x8001,   // readable or in error; result 0 ends the watcher
  kMsgNetworkMade = 0x8002,   // network check done, link made
  kMsgNetworkReady = 0x8003,  // network check done, no link made (already online, or none to be had)
  kMsgConnectFailed = 0x8004  // lookup or connect failed
};

struct Link;

class SocketConnection {
 public:
  SocketConnection();
  virtual ~SocketConnection();
  SocketConnection(const SocketConnection&) = delete;
  SocketConnection& operator=(const SocketConnection&) = delete;

  virtual void onConnected();
  virtual void onClosed();
  virtual void onDataReceived() {}
  virtual void onSent() {}
  virtual void onNetworkReady(bool /*linkMade*/) {}
  virtual void onError(int32_t code);
  // Flushes, then reads once if the socket is readable; false when the
  // socket is gone.
  virtual bool serviceSocket();
  // The server is verified and output held back during the handshake is
  // on its way.
  virtual void onTlsReady() {}
  // No encrypted link could be made; the socket is already closed.
  virtual void onTlsFailed(TlsFailure failure, const std::string& subject);

  // Creates the socket if there is none and connects it on a worker thread.
  void startConnect(const std::string& host, int port);
  // Makes sure the device has a link, on a worker thread; reports through
  // onNetworkReady.
  void checkNetwork();
  // Blocking sends of at most 1024 bytes until outputBuffer is empty (over
  // TLS, of the records made from all of it).
  bool flush();
  // One recv of at most 4096 bytes (over TLS, of one record's worth).
  bool receive();
  // Closes the socket without running onClosed.
  void closeSocket();
  // Speaks TLS on the link from now on (right after the connect, or inside
  // a proxy's tunnel once it is open); output waits until the server is
  // verified. False, after onTlsFailed, when it cannot even start.
  bool startTls(const TlsOptions& options);
  // TLS is in use, and the handshake is done and verified.
  bool usesTls() const { return tls_ != nullptr; }
  bool encrypted() const { return tls_ && tls_->established(); }
  TlsSession* tlsSession() { return tls_.get(); }
  // Ends the link as failed TLS: closes the socket and reports.
  void failTls(TlsFailure failure);

  bool connected() const { return connected_; }
  bool hasSocket() const { return link_ != nullptr; }
  // A network check runs and has not reported yet.
  bool checkingNetwork() const { return check_ != nullptr; }
  // Whether a link made by the connection manager is held (released by the
  // next check and by the destructor).
  bool holdsNetworkLink() const { return connMgrHandle_ != nullptr; }

  std::string inputBuffer;
  std::string outputBuffer;

  // How long a blocking send may stall on a peer that stopped reading before
  // the link counts as failed.
  static constexpr int kSendTimeoutSeconds = 30;
  static constexpr size_t kSendPiece = 1024;
  static constexpr size_t kReceivePiece = 4096;
  // Over TLS, a whole record (16 KiB with its header and tag) per send and
  // per receive: a record is decrypted only once all of it is in, so smaller
  // pieces add visits and wake-ups without making any visit shorter.
  static constexpr size_t kTlsPiece = 17 * 1024;
  // How long the connection manager may take to make a link.
  static constexpr DWORD kNetworkCheckTimeoutMs = 30000;

 protected:
  bool connected_ = false;

 private:
  friend struct SinkDispatch;
  void releaseNetworkLink();
  // Blocking sends of the wire bytes, emptying `bytes`; false after onError.
  bool sendWire(std::string& bytes);
  bool tlsBroke();
  std::unique_ptr<TlsSession> tls_;
  std::shared_ptr<Link> link_;
  std::shared_ptr<Link> check_;
  HANDLE connMgrHandle_ = nullptr;
};

// The class name of this module's sink window, "KS_CON_SINK_WINDOW_%p".
std::u16string connectionSinkClassName();
// This module's sink window (created on first use on the calling thread).
HWND connectionSinkWindow();

}  // namespace olvaro::net
