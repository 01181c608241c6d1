#include "transport/tls_session.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <arpa/inet.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

namespace olvaro::net {

struct TlsSession::State {
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // the wire's bytes, for the library to read
  BIO* out = nullptr;  // the library's bytes, for the wire
  std::string pin;
  ~State() {
    if (ssl) SSL_free(ssl);  // frees both BIOs and its hold on the context
  }
};

namespace {

std::string lowerHex(const std::string& text) {
  std::string out;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) out += char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string libraryError() {
  unsigned long e = ERR_peek_last_error();
  char text[256] = "";
  if (e) ERR_error_string_n(e, text, sizeof text);
  ERR_clear_error();
  return text;
}

std::string sha256Hex(const std::string& data) {
  return spkiPin(reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

// Client contexts live as long as the module: reading the system's trust
// store parses every authority in it, which cost more than the rest of the
// handshake, on every connection. One context per kind of check and content
// of the CA file, so a file written again is read again.
class ContextCache {
 public:
  ContextCache() {
    // The library's own clean-up at exit is registered first and so runs
    // after this destructor, which still needs the library.
    OPENSSL_init_ssl(0, nullptr);
  }
  ~ContextCache() {
    for (auto& [key, ctx] : contexts_) SSL_CTX_free(ctx);
  }
  // A context of its own reference for the caller, or null with `detail`.
  SSL_CTX* get(bool pinned, const std::string& caFile, std::string* detail) {
    std::string key = pinned ? "pin:" : "chain:";
    if (!caFile.empty()) {
      std::ifstream in(caFile, std::ios::binary);
      std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      // Unreadable now: made afresh, so the failure is the library's own.
      if (!in.is_open() || in.bad()) return make(pinned, caFile, detail);
      key += sha256Hex(content) + ":" + caFile;
    }
    std::lock_guard lock(mutex_);
    auto it = contexts_.find(key);
    if (it == contexts_.end()) {
      SSL_CTX* ctx = make(pinned, caFile, detail);
      if (!ctx) return nullptr;
      if (contexts_.size() >= kKept) {
        SSL_CTX_free(contexts_.begin()->second);
        contexts_.erase(contexts_.begin());
      }
      it = contexts_.emplace(key, ctx).first;
    }
    SSL_CTX_up_ref(it->second);
    return it->second;
  }

 private:
  static constexpr size_t kKept = 8;
  static SSL_CTX* make(bool pinned, const std::string& caFile, std::string* detail) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) return nullptr;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // The chain is checked by the library and judged after the handshake, so
    // a failure can name the certificate it was about.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    // A pinned key is trusted instead of any chain: the store would go unused.
    if (!pinned && SSL_CTX_set_default_verify_paths(ctx) != 1) ERR_clear_error();
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) != 1) {
      *detail = libraryError();
      SSL_CTX_free(ctx);
      return nullptr;
    }
    return ctx;
  }
  std::mutex mutex_;
  std::map<std::string, SSL_CTX*> contexts_;
};

SSL_CTX* clientContext(bool pinned, const std::string& caFile, std::string* detail) {
  static ContextCache cache;
  return cache.get(pinned, caFile, detail);
}

}  // namespace

std::string spkiPin(const unsigned char* der, size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (EVP_Digest(der, size, digest, &n, EVP_sha256(), nullptr) != 1) return std::string();
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < n; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

TlsSession::TlsSession() : s_(std::make_unique<State>()) {}
TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::start(const TlsOptions& options, TlsFailure* failure) {
  std::unique_ptr<TlsSession> t(new TlsSession());
  State& s = *t->s_;
  ERR_clear_error();
  *failure = TlsFailure::kSetup;
  s.pin = lowerHex(options.pin);
  SSL_CTX* ctx = clientContext(!s.pin.empty(), options.caFile, &t->detail_);
  if (!ctx) return nullptr;
  s.ssl = SSL_new(ctx);
  SSL_CTX_free(ctx);  // the session holds its own reference
  s.in = BIO_new(BIO_s_mem());
  s.out = BIO_new(BIO_s_mem());
  if (!s.ssl || !s.in || !s.out) return nullptr;
  // An empty input buffer means "more to come", not the end of the link.
  BIO_set_mem_eof_return(s.in, -1);
  SSL_set_bio(s.ssl, s.in, s.out);
  SSL_set_connect_state(s.ssl);
  unsigned char address[16];
  bool literal = inet_pton(AF_INET, options.host.c_str(), address) == 1 ||
                 inet_pton(AF_INET6, options.host.c_str(), address) == 1;
  if (literal) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(s.ssl), options.host.c_str());
  } else {
    SSL_set_tlsext_host_name(s.ssl, options.host.c_str());
    SSL_set1_host(s.ssl, options.host.c_str());
  }
  *failure = TlsFailure::kNone;
  if (!t->step(SSL_do_handshake(s.ssl), "handshake")) {
    *failure = t->failure_;
    return nullptr;
  }
  return t;
}

bool TlsSession::drain() {
  // Taken straight from the memory buffer, which is then emptied.
  char* data = nullptr;
  long n = BIO_get_mem_data(s_->out, &data);
  if (n > 0) {
    output_.append(data, size_t(n));
    (void)BIO_reset(s_->out);
  }
  return true;
}

// Judges one call's result: waiting for bytes is fine, anything else but
// success ends the link.
bool TlsSession::step(int result, const char*) {
  drain();
  if (result > 0) return true;
  int error = SSL_get_error(s_->ssl, result);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
    ERR_clear_error();
    return true;
  }
  if (error == SSL_ERROR_ZERO_RETURN) {
    closed_ = true;
    if (!established_) failure_ = TlsFailure::kClosed;
    ERR_clear_error();
    return false;
  }
  detail_ = libraryError();
  failure_ = TlsFailure::kProtocol;
  return false;
}

bool TlsSession::verify() {
  X509* cert = SSL_get0_peer_certificate(s_->ssl);
  if (cert) {
    char line[512] = "";
    X509_NAME_oneline(X509_get_subject_name(cert), line, sizeof line);
    subject_ = line;
  }
  if (!cert) {
    failure_ = TlsFailure::kUntrusted;
    return false;
  }
  if (!s_->pin.empty()) {
    unsigned char* der = nullptr;
    int n = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
    std::string got = n > 0 ? spkiPin(der, size_t(n)) : std::string();
    OPENSSL_free(der);
    if (got != s_->pin) {
      failure_ = TlsFailure::kPinMismatch;
      detail_ = "key " + got;
      return false;
    }
    return true;
  }
  long result = SSL_get_verify_result(s_->ssl);
  if (result == X509_V_OK) return true;
  detail_ = X509_verify_cert_error_string(result);
  switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      failure_ = TlsFailure::kNameMismatch;
      break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      failure_ = TlsFailure::kExpired;
      break;
    default:
      failure_ = TlsFailure::kUntrusted;
  }
  return false;
}

bool TlsSession::feed(const char* data, size_t size, std::string& plain) {
  if (failure_ != TlsFailure::kNone || closed_) return false;
  ERR_clear_error();
  if (size && BIO_write(s_->in, data, int(size)) != int(size)) {
    failure_ = TlsFailure::kProtocol;
    return false;
  }
  if (!established_) {
    int r = SSL_do_handshake(s_->ssl);
    if (!step(r, "handshake")) return false;
    if (r != 1) return true;  // more to come
    if (!verify()) return false;
    established_ = true;
  }
  // Everything the library can decrypt now, so none of it waits unseen
  // while the socket has nothing more to show; a whole record per call.
  char buffer[16384];
  for (;;) {
    int n = SSL_read(s_->ssl, buffer, sizeof buffer);
    if (n > 0) {
      plain.append(buffer, size_t(n));
      continue;
    }
    return step(n, "read");
  }
}

bool TlsSession::write(std::string& plain) {
  if (!established_ || failure_ != TlsFailure::kNone || closed_) return failure_ == TlsFailure::kNone && !closed_;
  ERR_clear_error();
  while (!plain.empty()) {
    int n = SSL_write(s_->ssl, plain.data(), int(std::min<size_t>(plain.size(), 1u << 20)));
    if (n <= 0) return step(n, "write");
    plain.erase(0, size_t(n));
  }
  drain();
  return true;
}

bool TlsSession::requestKeyUpdate() {
  if (!established_) return false;
  ERR_clear_error();
  if (SSL_key_update(s_->ssl, SSL_KEY_UPDATE_REQUESTED) != 1) {
    detail_ = libraryError();
    return false;
  }
  // Sent now rather than with the next write.
  return step(SSL_do_handshake(s_->ssl), "key update");
}

}  // namespace olvaro::net
