// The client's TLS session against a server session in memory: what the
// library holds back after a read, several records in one read, a key
// update the server starts, output held until the server is verified, and
// a CA file read again once written again.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "transport/tls_session.h"

using olvaro::net::TlsFailure;
using olvaro::net::TlsOptions;
using olvaro::net::TlsSession;

namespace {

// A server end with a fresh self-signed key, spoken to through memory.
class MemoryServer {
 public:
  MemoryServer() {
    key_ = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    cert_ = X509_new();
    X509_set_version(cert_, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert_), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert_), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert_), 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert_), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("memory"), -1, -1, 0);
    X509_set_issuer_name(cert_, X509_get_subject_name(cert_));
    X509_set_pubkey(cert_, key_);
    X509_sign(cert_, key_, EVP_sha256());
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx_, cert_);
    SSL_CTX_use_PrivateKey(ctx_, key_);
    ssl_ = SSL_new(ctx_);
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_accept_state(ssl_);
  }
  ~MemoryServer() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
    X509_free(cert_);
    EVP_PKEY_free(key_);
  }
  std::string certPem() const {
    BIO* b = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(b, cert_);
    char* data = nullptr;
    long n = BIO_get_mem_data(b, &data);
    std::string pem(data, size_t(n > 0 ? n : 0));
    BIO_free(b);
    return pem;
  }
  std::string pin() const {
    unsigned char* der = nullptr;
    int n = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert_), &der);
    std::string p = olvaro::net::spkiPin(der, size_t(n));
    OPENSSL_free(der);
    return p;
  }
  // Takes the client's bytes, lets the server go on, and returns its bytes.
  std::string exchange(std::string& fromClient) {
    BIO_write(in_, fromClient.data(), int(fromClient.size()));
    fromClient.clear();
    if (!SSL_is_init_finished(ssl_)) SSL_do_handshake(ssl_);
    char buffer[4096];
    for (int n; (n = SSL_read(ssl_, buffer, sizeof buffer)) > 0;) received.append(buffer, size_t(n));
    return pending();
  }
  std::string pending() {
    std::string out;
    char buffer[4096];
    for (int n; (n = BIO_read(out_, buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
    return out;
  }
  SSL* ssl() { return ssl_; }
  std::string received;

 private:
  EVP_PKEY* key_ = nullptr;
  X509* cert_ = nullptr;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  BIO* in_ = nullptr;
  BIO* out_ = nullptr;
};

// Runs the handshake to its end; the client's verdict is returned.
bool handshake(TlsSession& client, MemoryServer& server) {
  std::string plain;
  for (int round = 0; round < 10 && !client.established() && client.failure() == TlsFailure::kNone; ++round) {
    std::string back = server.exchange(client.output());
    if (!client.feed(back.data(), back.size(), plain)) return false;
  }
  return client.established();
}

}  // namespace

TEST(TlsSession, HeldOutputThenEveryBufferedRecordAndAServerKeyUpdate) {
  MemoryServer server;
  TlsFailure failure = TlsFailure::kNone;
  auto client = TlsSession::start(TlsOptions{"memory", server.pin(), ""}, &failure);
  ASSERT_TRUE(client);
  // Written before the server is verified: held back, nothing leaks.
  std::string outgoing = "LOGON\n\n";
  ASSERT_TRUE(client->write(outgoing));
  EXPECT_EQ(outgoing, "LOGON\n\n");
  ASSERT_TRUE(handshake(*client, server));
  EXPECT_EQ(client->subject(), "/CN=memory");
  ASSERT_TRUE(client->write(outgoing));
  EXPECT_TRUE(outgoing.empty());
  // The server's answer (its session tickets) goes back, so the records
  // that follow are in sequence.
  std::string wire = server.exchange(client->output()), plain;
  EXPECT_EQ(server.received, "LOGON\n\n");
  ASSERT_TRUE(client->feed(wire.data(), wire.size(), plain));
  EXPECT_EQ(plain, "");

  // Three records in one read, the last split over two: all of the first
  // two come out of the first feed, not one record per socket wake-up.
  for (const char* text : {"one\n", "two\n", "three\n"}) SSL_write(server.ssl(), text, int(strlen(text)));
  wire = server.pending();
  ASSERT_TRUE(client->feed(wire.data(), wire.size() - 3, plain)) << client->detail();
  EXPECT_EQ(plain, "one\ntwo\n");
  ASSERT_TRUE(client->feed(wire.data() + wire.size() - 3, 3, plain));
  EXPECT_EQ(plain, "one\ntwo\nthree\n");

  // The server renews its keys and asks the client to do the same.
  ASSERT_EQ(SSL_key_update(server.ssl(), SSL_KEY_UPDATE_REQUESTED), 1);
  SSL_write(server.ssl(), "after\n", 6);
  wire = server.pending();
  ASSERT_TRUE(client->feed(wire.data(), wire.size(), plain));
  EXPECT_EQ(plain, "one\ntwo\nthree\nafter\n");
  outgoing = "still here\n";
  ASSERT_TRUE(client->write(outgoing));
  server.exchange(client->output());
  EXPECT_EQ(server.received, "LOGON\n\nstill here\n");
}

TEST(TlsSession, AnUnknownKeyWithoutAPinIsNotTrustedAndAWrongPinIsRefused) {
  {
    MemoryServer server;
    TlsFailure failure = TlsFailure::kNone;
    auto client = TlsSession::start(TlsOptions{"memory", "", ""}, &failure);
    ASSERT_TRUE(client);
    EXPECT_FALSE(handshake(*client, server));
    EXPECT_EQ(client->failure(), TlsFailure::kUntrusted);
    EXPECT_EQ(client->subject(), "/CN=memory");
  }
  MemoryServer server, other;
  TlsFailure failure = TlsFailure::kNone;
  auto client = TlsSession::start(TlsOptions{"memory", other.pin(), ""}, &failure);
  ASSERT_TRUE(client);
  std::string outgoing = "secret";
  client->write(outgoing);
  EXPECT_FALSE(handshake(*client, server));
  EXPECT_EQ(client->failure(), TlsFailure::kPinMismatch);
  EXPECT_FALSE(client->write(outgoing));
  EXPECT_EQ(outgoing, "secret");
  // A CA file that is not there is a set-up failure, before any byte goes out.
  EXPECT_FALSE(TlsSession::start(TlsOptions{"memory", "", "/nonexistent/ca.pem"}, &failure));
  EXPECT_EQ(failure, TlsFailure::kSetup);
}

TEST(TlsSession, ACaFileWrittenAgainIsReadAgain) {
  char path[] = "/tmp/olvaro-ca-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  MemoryServer first, second;
  TlsFailure failure = TlsFailure::kNone;
  std::ofstream(path, std::ios::trunc) << first.certPem();
  auto before = TlsSession::start(TlsOptions{"memory", "", path}, &failure);
  // Same name, new authority: the next link trusts the new one, not what
  // the file held before.
  std::ofstream(path, std::ios::trunc) << second.certPem();
  auto after = TlsSession::start(TlsOptions{"memory", "", path}, &failure);
  unlink(path);
  ASSERT_TRUE(before && after);
  EXPECT_TRUE(handshake(*before, first)) << before->detail();
  EXPECT_TRUE(handshake(*after, second)) << after->detail();
}
