#include "package_signature.h"

#include <sodium.h>

#include <string>

#ifndef OLVARO_UPDATE_PUBLIC_KEY
#error "OLVARO_UPDATE_PUBLIC_KEY must name the update server's public key"
#endif

namespace updates {

bool verifyUpdateSignature(const uint8_t* data, size_t size, std::string_view hexSignature) {
  if (sodium_init() < 0) return false;
  static constexpr char kKey[] = OLVARO_UPDATE_PUBLIC_KEY;
  unsigned char key[crypto_sign_PUBLICKEYBYTES], signature[crypto_sign_BYTES];
  size_t length = 0;
  if (sodium_hex2bin(key, sizeof key, kKey, sizeof kKey - 1, nullptr, &length, nullptr) != 0 || length != sizeof key)
    return false;
  if (hexSignature.size() != 2 * sizeof signature) return false;
  std::string hex(hexSignature);
  if (sodium_hex2bin(signature, sizeof signature, hex.data(), hex.size(), nullptr, &length, nullptr) != 0 ||
      length != sizeof signature)
    return false;
  return crypto_sign_verify_detached(signature, data, size, key) == 0;
}

}  // namespace updates
