// TLS over a socket the UI thread reads and writes: the library sees the
// wire only through memory buffers, so a record split across reads, input
// it holds back and a key update all come down to "feed what arrived, send
// what it produced". Nothing here blocks or touches the socket.
#pragma once

#include <memory>
#include <string>

namespace olvaro::net {

struct TlsOptions {
  std::string host;    // checked against the certificate's names
  std::string pin;     // hex SHA-256 of the server's public key: checked instead of the chain
  std::string caFile;  // trusted besides the system's store
};

// Why an encrypted link could not be made.
enum class TlsFailure {
  kNone,
  kSetup,         // no context, or the CA file could not be read
  kProtocol,      // what came back was not TLS, or the handshake broke
  kClosed,        // the server closed the link during the handshake
  kUntrusted,     // the chain does not end at a trusted authority
  kNameMismatch,  // valid certificate, for another name
  kExpired,       // outside its validity
  kPinMismatch,   // not the pinned key
  kNoAnswer,      // the server left the handshake unanswered
};

class TlsSession {
 public:
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Starts a client handshake; its first bytes wait in output().
  static std::unique_ptr<TlsSession> start(const TlsOptions& options, TlsFailure* failure);

  // Takes bytes from the wire; what they decrypt to is appended to `plain`.
  // Returns false when the link failed (see failure()) or the server ended
  // the TLS session (closedByPeer()).
  bool feed(const char* data, size_t size, std::string& plain);
  // Encrypts and removes what it takes from `plain` (nothing before the
  // handshake is done and verified).
  bool write(std::string& plain);
  // Bytes for the wire; the caller empties it as it sends.
  std::string& output() { return output_; }

  // The handshake is done and the server verified.
  bool established() const { return established_; }
  bool closedByPeer() const { return closed_; }
  TlsFailure failure() const { return failure_; }
  // The server certificate's subject, one line ("" before it came).
  const std::string& subject() const { return subject_; }
  // The library's own words for the failure, for logs and detail.
  const std::string& detail() const { return detail_; }

  // Lets the server renegotiate keys now (TLS 1.3 key update).
  bool requestKeyUpdate();

 private:
  struct State;
  TlsSession();
  bool drain();
  bool step(int result, const char* what);
  bool verify();
  std::unique_ptr<State> s_;
  std::string output_;
  bool established_ = false;
  bool closed_ = false;
  TlsFailure failure_ = TlsFailure::kNone;
  std::string subject_, detail_;
};

// The pin of a DER SubjectPublicKeyInfo: SHA-256, lower-case hex.
std::string spkiPin(const unsigned char* der, size_t size);

}  // namespace olvaro::net
