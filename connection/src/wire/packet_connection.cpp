#include "packet_connection.h"

namespace olvaro::conn {

bool PacketConnection::sendPacket(Packet& packet) {
  outputBuffer += packet.serialize();
  return flush();
}

void PacketConnection::onDataReceived() {
  if (dispatching_) return;
  const uint64_t closes = closes_;
  size_t pos = 0;
  for (;;) {
    size_t used = 0;
    PacketReader::Result result = reader_.parse(inputBuffer.data() + pos, inputBuffer.size() - pos, &used);
    pos += used;
    if (result == PacketReader::Result::NeedMore) break;
    if (result == PacketReader::Result::Error) {
      // Nonsense from the peer: drop the link; the session decides about a
      // reconnect as for any other lost link.
      closeSocket();
      onClosed();
      return;
    }
    dispatching_ = true;
    onPacket(reader_.packet());
    dispatching_ = false;
    if (closes_ != closes) return;  // the link closed under us; the input is gone
  }
  inputBuffer.erase(0, pos);
}

void PacketConnection::onClosed() {
  ++closes_;
  SocketConnection::onClosed();
  inputBuffer.clear();
  outputBuffer.clear();
  reader_.reset();
}

}  // namespace olvaro::conn
