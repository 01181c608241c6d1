// Arbitrary bytes as a request to the update server, arriving in pieces
// chosen by the input: the reader must find the same length whatever the
// pieces, stay inside its bounds, and the answer must be a whole HTTP reply.
// The release folder holds two builds of one module and a changelog, so a
// module list that names them reaches the delta and the signed package.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "package_builder.h"
#include "update_server.h"

using namespace olvaro::server;
namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxHead = 2048;
constexpr size_t kMaxBody = 16384;

void writeFile(const fs::path& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }

struct Releases {
  fs::path folder;
  std::unique_ptr<UpdateServer> server;
  Releases() {
    char tmpl[] = "/tmp/olvaro-update-fuzz-XXXXXX";
    folder = mkdtemp(tmpl);
    fs::create_directories(folder / "previous");
    std::string old = updatestest::module(1000, std::string(3000, 'a') + "old code");
    std::string now = updatestest::module(2000, std::string(3000, 'a') + "new code");
    writeFile(folder / "previous" / "mod.so", old);
    writeFile(folder / "mod.so", now);
    writeFile(folder / "changelog.txt", "Better things\n");
    UpdateConfig config;
    config.releases = folder.string();
    config.max_head = kMaxHead;
    config.max_body = kMaxBody;
    server = std::make_unique<UpdateServer>(config);
  }
  ~Releases() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

Releases& releases() {
  static Releases r;
  return r;
}

enum class Outcome { More, Bad, Whole };

// Reads `stream` in `pieces` as serve() does; the length found, if any.
Outcome read(const std::string& stream, uint32_t seed, size_t* need) {
  std::string in;
  size_t at = 0;
  *need = std::string::npos;
  while (at < stream.size()) {
    seed = seed * 1103515245u + 12345u;
    size_t piece = std::min(stream.size() - at, size_t(1 + (seed >> 16) % 512));
    in.append(stream, at, piece);
    at += piece;
    if (*need == std::string::npos) {
      RequestSize size = request_size(in, kMaxHead, kMaxBody, need);
      if (size == RequestSize::kBad) return Outcome::Bad;
      if (size == RequestSize::kMore) continue;
      if (*need > kMaxHead + 4 + kMaxBody) abort();
    }
    if (in.size() >= *need) return Outcome::Whole;
    if (in.size() > kMaxHead + kMaxBody) return Outcome::Bad;
  }
  return Outcome::More;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxHead + kMaxBody + 64) return 0;
  uint32_t seed = data[0] * 2654435761u + 1;
  std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t whole = 0, split = 0;
  Outcome a = read(stream, 0, &whole);
  Outcome b = read(stream, seed, &split);
  if (a != b || (a == Outcome::Whole && whole != split)) abort();
  if (a != Outcome::Whole) return 0;
  std::string reply = releases().server->answer(stream.substr(0, whole));
  if (reply.rfind("HTTP/1.0 ", 0) != 0 || reply.find("\r\n\r\n") == std::string::npos) abort();
  return 0;
}
