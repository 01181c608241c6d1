// Packages replace program code, so each one must come with a detached
// Ed25519 signature of its manifest (which names the body by its digest),
// made with the update server's secret key. The public key is built in
// (OLVARO_UPDATE_PUBLIC_KEY); nothing at run time can change it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace updates {

// The response header holding the signature, 128 hex digits.
inline constexpr char kSignatureHeader[] = "x-olvaro-signature";

// Whether `hexSignature` signs `data` (a manifest) with the built-in key.
bool verifyUpdateSignature(const uint8_t* data, size_t size, std::string_view hexSignature);

}  // namespace updates
