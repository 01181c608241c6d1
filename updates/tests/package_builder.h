// Builds update packages and their manifests and signs them as the demo
// update server does.
#pragma once

#include <sodium.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "update_manifest.h"
#include "update_package.h"

namespace updatestest {

// The demo server's secret seed; its public key is the build's default.
inline constexpr char kDemoSeed[] = "5f64670a6a3c1cc192d430a11a5a20542a75c554299e3c52de4190b6907ae185";

inline void putBigEndian(std::string* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(char(v >> shift));
}

struct Ops {
  std::string bytes;
  Ops& copy(uint8_t source, uint32_t offset, uint32_t length) {
    bytes.push_back(char(source));
    putBigEndian(&bytes, offset);
    putBigEndian(&bytes, length);
    return *this;
  }
  Ops& literal(const std::string& data) {
    bytes.push_back('\0');
    putBigEndian(&bytes, uint32_t(data.size()));
    bytes += data;
    return *this;
  }
};

inline std::string package(const std::string& sources, const std::vector<std::pair<std::string, Ops>>& entries) {
  std::string out = sources;
  out.push_back('\0');
  for (const auto& [name, ops] : entries) {
    out += name;
    out.push_back('\0');
    putBigEndian(&out, uint32_t(ops.bytes.size()));
    out += ops.bytes;
  }
  return out;
}

inline std::string sign(const std::string& bytes, const char* seedHex = kDemoSeed) {
  if (sodium_init() < 0) return {};
  unsigned char seed[32], pk[32], sk[64], sig[64];
  sodium_hex2bin(seed, sizeof seed, seedHex, 64, nullptr, nullptr, nullptr);
  crypto_sign_seed_keypair(pk, sk, seed);
  crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), sk);
  char hex[129];
  sodium_bin2hex(hex, sizeof hex, sig, sizeof sig);
  return hex;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline updates::Digest digest(const std::string& bytes) {
  return updates::digestOf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The smallest module: a 64-bit ELF header whose one program header is the
// stamp note, then `payload` (from byte kModuleHead on).
inline constexpr size_t kModuleHead = 144;
inline std::string module(uint32_t stamp, const std::string& payload) {
  std::string b(kModuleHead, '\0');
  auto put = [&](size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + size_t(i)] = char(v >> (8 * i));
  };
  b.replace(0, 4, "\x7f" "ELF");
  b[4] = 2;
  b[5] = 1;
  put(32, 64, 8);  // program headers
  put(54, 56, 2);
  put(56, 1, 2);
  put(64, 4, 4);    // PT_NOTE
  put(72, 120, 8);  // its offset
  put(96, 24, 8);   // its size
  put(120, 7, 4);
  put(124, 4, 4);
  put(128, 1, 4);
  b.replace(132, 7, std::string("Olvaro\0", 7));
  put(140, stamp, 4);
  return b + payload;
}

// What a target of a package is to become, and its stamp (0: not a module).
struct Result {
  std::string bytes;
  uint32_t stamp = 0;
};

// The manifest an honest server signs for `body` and the folder as it is
// now: every source as it lies there, the targets (in the body's order)
// becoming `results`. A body that does not parse gets no targets.
inline updates::Manifest manifestFor(const std::filesystem::path& folder, const std::string& body,
                                     const std::vector<Result>& results) {
  updates::Manifest m;
  m.package = digest(body);
  updates::PackageView view;
  if (updates::parsePackage(reinterpret_cast<const uint8_t*>(body.data()), body.size(), &view)) {
    for (const std::string& name : view.sources) m.sources.push_back({name, digest(readFile(folder / name))});
    for (size_t i = 0; i < view.entries.size(); ++i) {
      Result r = i < results.size() ? results[i] : Result{};
      m.targets.push_back({view.entries[i].target, r.stamp, digest(r.bytes)});
    }
  }
  return m;
}

// The manifest as it travels (base64) and its signature.
struct SignedManifest {
  std::string text, signature;
};
inline SignedManifest signManifest(const updates::Manifest& m, const char* seedHex = kDemoSeed) {
  std::string bytes = updates::writeManifest(m);
  return {updates::toBase64(bytes), sign(bytes, seedHex)};
}

inline void writeFile(const std::filesystem::path& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// Every file of a folder with its bytes, to show a folder is as it was.
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    out[e.path().filename().string()] = e.is_regular_file() ? readFile(e.path()) : "<dir>";
  return out;
}

// A fresh folder under the test's temporary folder.
inline std::filesystem::path freshFolder(const std::string& name) {
  auto path = std::filesystem::temp_directory_path() / ("olvaro-updates-" + name + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path;
}

}  // namespace updatestest
