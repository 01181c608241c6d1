// The incremental packet reader: cuts packets out of a received byte stream
// that may arrive in any split. It only parses; the caller dispatches.
//
//   Result r = reader.parse(data, size, &used);
//
// consumes `used` bytes from the front of data[0, size). Packet: a whole
// packet is in packet() until the next call. NeedMore: everything was taken
// in and the packet goes on in the next bytes. Error: a line or body over the
// bounds, or a negative length; the caller drops the link. The bounds keep a
// broken or hostile peer from growing memory without end while leaving room
// for the largest real packets (a big group's member list is the largest
// body the server sends).
//
// Lines end at LF and are cut at their last CR. A header line is split at
// its first ':' less one space after it; a line without ':' is skipped. The
// empty line ends the headers; a non-zero "Content-Length" gives the body.
// Nothing is allocated per header once the reader has seen packets of the
// same shape: map nodes and their strings are kept and reused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "packet.h"

namespace olvaro::conn {

struct ReaderLimits {
  size_t maxLine = 64 * 1024;          // a command or header line, without its LF
  size_t maxHeaders = 256;             // distinct header names in one packet
  int32_t maxBody = 16 * 1024 * 1024;  // "Content-Length"
};

class PacketReader {
 public:
  enum class ReadState { CommandLine = 0, Headers = 1, Body = 2 };
  enum class Result { Packet, NeedMore, Error };

  explicit PacketReader(ReaderLimits limits = ReaderLimits()) : limits_(limits) {}

  Result parse(const char* data, size_t size, size_t* used);
  // Forgets a half-read packet (the link closed).
  void reset();

  ReadState readState() const { return state_; }
  Packet& packet() { return packet_; }
  const Packet& packet() const { return packet_; }
  const ReaderLimits& limits() const { return limits_; }

 private:
  using Headers = std::map<std::string, std::string>;
  using Node = Headers::node_type;

  // True with `line` set when a whole line is there (LF seen); a partial
  // line is kept for the next call.
  bool takeLine(const char*& at, const char* end, std::string_view* line, bool* tooLong);
  void startPacket(std::string_view command);
  void addHeader(std::string_view line);

  Result headersDone();

  ReaderLimits limits_;
  ReadState state_ = ReadState::CommandLine;
  Packet packet_;
  std::string line_;         // the line being read, across calls
  std::vector<Node> spare_;  // header nodes no packet uses now, for reuse
  int32_t contentLength_ = 0;  // the last "Content-Length" of this packet
  size_t bodyLength_ = 0;
};

}  // namespace olvaro::conn
