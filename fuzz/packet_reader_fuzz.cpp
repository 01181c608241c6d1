// Arbitrary bytes from a "server", fed to the packet reader whole and in
// splits chosen by the input: both must read the same packets, stay inside
// the bounds and never crash or hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "packet_reader.h"

using namespace olvaro::conn;

namespace {

// Small bounds, so the fuzzer reaches them.
ReaderLimits smallLimits() {
  ReaderLimits l;
  l.maxLine = 512;
  l.maxHeaders = 16;
  l.maxBody = 4096;
  return l;
}

struct Sink {
  PacketReader reader{smallLimits()};
  std::vector<Packet> packets;
  // Parses everything buffered; false on a protocol error.
  bool read(std::string& input) {
    size_t pos = 0;
    for (;;) {
      size_t used = 0;
      PacketReader::Result r = reader.parse(input.data() + pos, input.size() - pos, &used);
      if (used > input.size() - pos) abort();
      pos += used;
      if (r == PacketReader::Result::Error) return false;
      if (r == PacketReader::Result::NeedMore) break;
      const Packet& p = reader.packet();
      if (p.body.size() > size_t(smallLimits().maxBody) || p.headers.size() > smallLimits().maxHeaders) abort();
      if (packets.size() < 64) packets.push_back(p);
    }
    // The reader takes in every byte it is given.
    if (pos != input.size()) abort();
    input.clear();
    return true;
  }
};

struct Outcome {
  std::vector<Packet> packets;
  bool ok = true;
};

Outcome run(const std::string& stream, const std::vector<size_t>& pieces) {
  Sink sink;
  std::string input;
  Outcome out;
  size_t at = 0;
  for (size_t piece : pieces) {
    input.append(stream, at, piece);
    at += piece;
    if (!sink.read(input)) {
      out.ok = false;
      break;
    }
  }
  out.packets = std::move(sink.packets);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte seeds the split sizes; the rest is the stream.
  uint32_t seed = data[0] * 2654435761u + 1;
  std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<size_t> pieces;
  for (size_t left = stream.size(); left;) {
    seed = seed * 1103515245u + 12345u;
    size_t piece = std::min(left, size_t(1 + (seed >> 16) % 64));
    pieces.push_back(piece);
    left -= piece;
  }
  Outcome whole = run(stream, {stream.size()});
  Outcome split = run(stream, pieces);
  if (whole.ok != split.ok || whole.packets.size() != split.packets.size()) abort();
  for (size_t i = 0; i < whole.packets.size(); ++i) {
    const Packet& a = whole.packets[i];
    const Packet& b = split.packets[i];
    if (a.command != b.command || a.headers != b.headers || a.body != b.body) abort();
  }
  return 0;
}
