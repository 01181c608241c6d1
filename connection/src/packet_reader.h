// The incremental packet reader: cuts packets out of a received byte stream
// that may arrive in any split.
//
// read(input) consumes what it can from the front of `input` and leaves an
// incomplete tail there for the next call. It returns false on a protocol
// error (a line or body over the bounds, a negative length); the caller then
// drops the link. The bounds keep a broken or hostile peer from growing
// memory without end while leaving room for the largest real packets (a big
// group's member list is the largest body the server sends).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "packet.h"

namespace olvaro::conn {

struct ReaderLimits {
  size_t maxLine = 64 * 1024;        // a command or header line, without its LF
  size_t maxHeaders = 256;           // distinct header names in one packet
  int32_t maxBody = 16 * 1024 * 1024;  // "Content-Length"
};

class PacketReader {
 public:
  enum class ReadState { CommandLine = 0, Headers = 1, Body = 2, Dispatch = 3 };

  explicit PacketReader(ReaderLimits limits = ReaderLimits()) : limits_(limits) {}
  virtual ~PacketReader() = default;

  bool read(std::string& input);
  // Forgets a half-read packet (the link closed).
  void resetReader();

  ReadState readState() const { return readState_; }
  const Packet& currentPacket() const { return currentPacket_; }
  const ReaderLimits& limits() const { return limits_; }

 protected:
  // Default: stores the header in the current packet; false pauses reading
  // until more bytes arrive.
  virtual bool onHeader(const std::string& name, const std::string& value);
  // Default: Body when "Content-Length" is non-zero, else Dispatch.
  virtual bool onHeadersComplete();
  virtual bool onPacket(Packet& packet) = 0;

  ReadState readState_ = ReadState::CommandLine;
  Packet currentPacket_;

 private:
  enum class Line { Got, NeedMore, TooLong };
  Line takeLine(const std::string& input, size_t& pos, std::string& line) const;

  ReaderLimits limits_;
  bool reading_ = false;
  uint64_t resets_ = 0;
};

}  // namespace olvaro::conn
