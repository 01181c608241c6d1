// The in-process socket layer's controls (memory_transport.cpp).
#pragma once

#include <string>

namespace olvaro::net {

class SocketConnection;

namespace memory_transport {

// Reports the connects and network checks started so far as made; how many
// reached their connection.
int settle();
// The peer ends the link, as a read of zero bytes would report it.
void peerClosed(SocketConnection& c);
// Everything written since the last call.
std::string takeSent();
// Forgets reports and written bytes left from an earlier input.
void reset();

}  // namespace memory_transport
}  // namespace olvaro::net
