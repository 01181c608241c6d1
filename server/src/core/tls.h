// TLS for the protocol ports: one server context from a PEM certificate and
// key, and what the program and the tests need to make and name keys.
#pragma once

#include <string>

struct ssl_ctx_st;

namespace olvaro::server {

// A context that accepts TLS 1.2 and newer with this certificate (chain) and
// key; null with the reason in `error`.
ssl_ctx_st* make_tls_context(const std::string& cert_pem, const std::string& key_pem, std::string* error);
void free_tls_context(ssl_ctx_st* ctx);

}  // namespace olvaro::server
