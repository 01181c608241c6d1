// Arbitrary bytes from a client, fed to the server's packet reader whole and
// in pieces chosen by the input: both must read the same packets and keep
// to the bounds. What the server writes from a packet it read must read
// back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "packet.h"

using namespace olvaro::server;

namespace {

// Small bounds, so the fuzzer reaches them.
ReaderLimits smallLimits() {
  ReaderLimits l;
  l.max_line = 512;
  l.max_headers = 16;
  l.max_body = 4096;
  return l;
}

struct Outcome {
  std::vector<Packet> packets;
  bool ok = true;
};

Outcome read(const std::string& stream, const std::vector<size_t>& pieces) {
  PacketReader reader(smallLimits());
  Outcome out;
  size_t at = 0;
  for (size_t piece : pieces) {
    bool ok = reader.feed(stream.data() + at, piece, [&](Packet& p) {
      if (p.command.size() > smallLimits().max_line || p.headers.size() > smallLimits().max_headers ||
          p.body.size() > smallLimits().max_body)
        abort();
      out.packets.push_back(p);
      return true;
    });
    at += piece;
    if (!ok) {
      out.ok = false;
      break;
    }
  }
  return out;
}

bool same(const Packet& a, const Packet& b) {
  return a.command == b.command && a.headers == b.headers && a.body == b.body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint32_t seed = data[0] * 2654435761u + 1;
  std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<size_t> pieces;
  for (size_t left = stream.size(); left;) {
    seed = seed * 1103515245u + 12345u;
    size_t piece = std::min(left, size_t(1 + (seed >> 16) % 64));
    pieces.push_back(piece);
    left -= piece;
  }
  Outcome whole = read(stream, {stream.size()});
  Outcome split = read(stream, pieces);
  if (whole.ok != split.ok || whole.packets.size() != split.packets.size()) abort();
  for (size_t i = 0; i < whole.packets.size(); ++i) {
    if (!same(whole.packets[i], split.packets[i])) abort();
    // Written out as the server writes (values through set(), which keeps
    // line ends out of them) and read again: the same wire form. Commands
    // and names a client chose are never written back, and a CR in them is
    // a line end to the reader.
    const Packet& in = whole.packets[i];
    if (in.command.find('\r') != std::string::npos) continue;
    Packet out(in.command);
    for (const auto& [name, value] : in.headers)
      if (name.find('\r') == std::string::npos) out.set(name, value);
    out.body = in.body;
    std::string wire = out.serialize();
    Outcome again = read(wire, {wire.size()});
    if (!again.ok || again.packets.size() != 1 || again.packets[0].serialize() != wire) abort();
  }
  return 0;
}
