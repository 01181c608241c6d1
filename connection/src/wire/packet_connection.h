// The framing layer: packets in and out over the socket layer. Received
// bytes are parsed here and each whole packet is handed to onPacket.
#pragma once

#include <cstdint>

#include "packet.h"
#include "packet_reader.h"
#include "transport/socket_connection.h"

namespace olvaro::conn {

class PacketConnection : public net::SocketConnection {
 public:
  explicit PacketConnection(ReaderLimits limits = ReaderLimits()) : reader_(limits) {}

  // Serializes into the output buffer and flushes; false when the send
  // failed (the socket layer has then reported the error).
  bool sendPacket(Packet& packet);
  void onDataReceived() override;
  void onClosed() override;
  // Its result is the handler's; the framing layer does not use it.
  virtual bool onPacket(Packet& packet) = 0;

  PacketReader::ReadState readState() const { return reader_.readState(); }
  const PacketReader& reader() const { return reader_; }

 private:
  PacketReader reader_;
  // A handler that sends may service the socket and so receive again; the
  // bytes are then only buffered and the running loop reads them in turn.
  bool dispatching_ = false;
  uint64_t closes_ = 0;
};

}  // namespace olvaro::conn
