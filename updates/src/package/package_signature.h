// Packages replace program code, so each one must carry a detached Ed25519
// signature of its body, made with the update server's secret key. The
// public key is built in (OLVARO_UPDATE_PUBLIC_KEY); nothing at run time can
// change it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace updates {

// The response header holding the signature, 128 hex digits.
inline constexpr char kSignatureHeader[] = "x-olvaro-signature";

// Whether `hexSignature` signs `body` with the built-in key.
bool verifyPackageSignature(const uint8_t* body, size_t size, std::string_view hexSignature);

}  // namespace updates
