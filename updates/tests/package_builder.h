// Builds update packages and signs them as the demo update server does.
#pragma once

#include <sodium.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

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

inline std::string sign(const std::string& body, const char* seedHex = kDemoSeed) {
  if (sodium_init() < 0) return {};
  unsigned char seed[32], pk[32], sk[64], sig[64];
  sodium_hex2bin(seed, sizeof seed, seedHex, 64, nullptr, nullptr, nullptr);
  crypto_sign_seed_keypair(pk, sk, seed);
  crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(body.data()), body.size(), sk);
  char hex[129];
  sodium_bin2hex(hex, sizeof hex, sig, sizeof sig);
  return hex;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
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
