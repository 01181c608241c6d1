// The framing layer: packets in and out over the socket layer.
#pragma once

#include "packet.h"
#include "packet_reader.h"
#include "transport/socket_connection.h"

namespace olvaro::conn {

class PacketConnection : public net::SocketConnection, public PacketReader {
 public:
  using PacketReader::PacketReader;

  // Serializes into the output buffer and flushes; false when the send
  // failed (the socket layer has then reported the error).
  bool sendPacket(Packet& packet);
  void onDataReceived() override;
  void onClosed() override;
};

}  // namespace olvaro::conn
