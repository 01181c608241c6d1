#include "packet_connection.h"

namespace olvaro::conn {

bool PacketConnection::sendPacket(Packet& packet) {
  outputBuffer += packet.serialize();
  return flush();
}

void PacketConnection::onDataReceived() {
  if (read(inputBuffer)) return;
  // Nonsense from the peer: drop the link; the session decides about a
  // reconnect as for any other lost link.
  closeSocket();
  onClosed();
}

void PacketConnection::onClosed() {
  SocketConnection::onClosed();
  inputBuffer.clear();
  outputBuffer.clear();
  resetReader();
}

}  // namespace olvaro::conn
