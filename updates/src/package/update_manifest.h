// The manifest the update server signs beside a package. A signature of the
// body alone would let any package ever signed be installed again, on any
// client: the manifest binds it to one starting point and one result.
//
//   "OLVM" 0x01, the BLAKE2b-256 digest of the package body,
//   a source count (1 byte), each: its name, NUL, the digest of the file the
//     client has now,
//   a target count (2 bytes, big-endian), each: its name, NUL, the result's
//     build stamp (4 bytes, big-endian; 0 for a file that is not a module),
//     the digest of the result.
//
// It travels base64-encoded in its own response header; the signature header
// signs its bytes.
#pragma once

#include <sodium.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace updates {

inline constexpr char kManifestHeader[] = "x-olvaro-manifest";
// What the server may put in one manifest: its base64 form and the header's
// name stay within the response reader's line bound.
inline constexpr size_t kMaxManifest = 6000;

using Digest = std::array<uint8_t, crypto_generichash_BYTES>;

Digest digestOf(const uint8_t* data, size_t size);

// A digest taken piece by piece as the bytes go by.
class DigestStream {
 public:
  DigestStream();
  void add(const uint8_t* data, size_t size);
  Digest finish();

 private:
  crypto_generichash_state state_;
};

struct ManifestSource {
  std::string name;
  Digest digest{};
};

struct ManifestTarget {
  std::string name;
  uint32_t stamp = 0;
  Digest digest{};
};

struct Manifest {
  Digest package{};
  std::vector<ManifestSource> sources;
  std::vector<ManifestTarget> targets;
};

std::string writeManifest(const Manifest& manifest);
// False on anything but exactly one well-formed manifest.
bool readManifest(const uint8_t* data, size_t size, Manifest* out);

std::string toBase64(std::string_view bytes);
// False when `text` is not plain base64 (no spaces, padding as written).
bool fromBase64(std::string_view text, std::string* out);

}  // namespace updates
