#include "tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <arpa/inet.h>

#include <memory>
#include <vector>

#include "olvaro_server/server.h"

namespace olvaro::server {

namespace {

template <typename T, void (*F)(T*)>
struct Free {
    void operator()(T* p) const { F(p); }
};
using Bio = std::unique_ptr<BIO, Free<BIO, BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Free<X509, X509_free>>;

std::string openssl_error(const char* what) {
    unsigned long e = ERR_get_error();
    char text[256] = "";
    if (e) ERR_error_string_n(e, text, sizeof text);
    ERR_clear_error();
    return std::string(what) + (e ? std::string(": ") + text : std::string());
}

Bio pem_bio(const std::string& pem) { return Bio(BIO_new_mem_buf(pem.data(), int(pem.size()))); }

std::string bio_text(BIO* bio) {
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, size_t(n)) : std::string();
}

bool add_extension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

}  // namespace

ssl_ctx_st* make_tls_context(const std::string& cert_pem, const std::string& key_pem, std::string* error) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    auto fail = [&](const char* what) -> ssl_ctx_st* {
        if (error) *error = openssl_error(what);
        SSL_CTX_free(ctx);
        return nullptr;
    };
    if (!ctx) return fail("cannot make a TLS context");
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Writes resume from wherever the output buffer has moved to.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // One read takes in as many records as have arrived (a record's header
    // and body each cost a read otherwise); the loop reads again while the
    // library holds some back.
    SSL_CTX_set_read_ahead(ctx, 1);
    // No session tickets: the client starts every link afresh, so making
    // and sending two per connection was work on both ends for nothing.
    SSL_CTX_set_num_tickets(ctx, 0);
    Bio certs = pem_bio(cert_pem);
    Cert leaf(PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr));
    if (!leaf || SSL_CTX_use_certificate(ctx, leaf.get()) != 1) return fail("cannot read the TLS certificate");
    // Any further certificates in the file are the chain up to the root.
    while (X509* more = PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr))
        if (SSL_CTX_add0_chain_cert(ctx, more) != 1) {
            X509_free(more);
            return fail("cannot read the TLS certificate chain");
        }
    ERR_clear_error();  // the end of the file reads as an error
    Bio keys = pem_bio(key_pem);
    Key key(PEM_read_bio_PrivateKey(keys.get(), nullptr, nullptr, nullptr));
    if (!key || SSL_CTX_use_PrivateKey(ctx, key.get()) != 1) return fail("cannot read the TLS key");
    if (SSL_CTX_check_private_key(ctx) != 1) return fail("the TLS key does not belong to the certificate");
    return ctx;
}

void free_tls_context(ssl_ctx_st* ctx) { SSL_CTX_free(ctx); }

bool make_certificate(const std::vector<std::string>& names, const std::string& issuer_cert_pem,
                      const std::string& issuer_key_pem, bool authority, std::string* cert_pem,
                      std::string* key_pem, std::string* error) {
    auto fail = [&](const char* what) {
        if (error) *error = openssl_error(what);
        return false;
    };
    if (names.empty()) return fail("a certificate needs a name");
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    Cert cert(X509_new());
    if (!key || !cert) return fail("cannot make a key");
    X509_set_version(cert.get(), 2);
    BIGNUM* bn = BN_new();
    BN_rand(bn, 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 86400);
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(names[0].c_str()), -1, -1, 0);
    X509_set_pubkey(cert.get(), key.get());

    Key issuer_key;
    Cert issuer;
    if (!issuer_cert_pem.empty()) {
        Bio ib = pem_bio(issuer_cert_pem), kb = pem_bio(issuer_key_pem);
        issuer.reset(PEM_read_bio_X509(ib.get(), nullptr, nullptr, nullptr));
        issuer_key.reset(PEM_read_bio_PrivateKey(kb.get(), nullptr, nullptr, nullptr));
        if (!issuer || !issuer_key) return fail("cannot read the issuer");
    }
    X509* signer = issuer ? issuer.get() : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    bool ok = add_extension(cert.get(), signer, NID_subject_key_identifier, "hash") &&
              add_extension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    if (authority) {
        ok = ok && add_extension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
             add_extension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        std::string alt;
        for (const std::string& n : names) {
            unsigned char raw[16];
            bool ip = inet_pton(AF_INET, n.c_str(), raw) == 1 || inet_pton(AF_INET6, n.c_str(), raw) == 1;
            alt += (alt.empty() ? "" : ",") + std::string(ip ? "IP:" : "DNS:") + n;
        }
        ok = ok && add_extension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
             add_extension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
             add_extension(cert.get(), signer, NID_subject_alt_name, alt);
    }
    if (!ok) return fail("cannot describe the certificate");
    if (X509_sign(cert.get(), issuer_key ? issuer_key.get() : key.get(), EVP_sha256()) <= 0)
        return fail("cannot sign the certificate");
    Bio c(BIO_new(BIO_s_mem())), k(BIO_new(BIO_s_mem()));
    if (PEM_write_bio_X509(c.get(), cert.get()) != 1 ||
        PEM_write_bio_PrivateKey(k.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return fail("cannot write the certificate");
    *cert_pem = bio_text(c.get());
    *key_pem = bio_text(k.get());
    return true;
}

std::string key_pin(const std::string& cert_pem) {
    Bio b = pem_bio(cert_pem);
    Cert cert(PEM_read_bio_X509(b.get(), nullptr, nullptr, nullptr));
    if (!cert) {
        ERR_clear_error();
        return std::string();
    }
    unsigned char* der = nullptr;
    int n = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &der);
    if (n <= 0) return std::string();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(der, size_t(n), digest, &size, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

}  // namespace olvaro::server
