// The HTTP proxy's CONNECT exchange.
#include <cstdio>
#include <vector>

#include "alerts.h"
#include "server_list.h"
#include "session.h"
#include "texts.h"

namespace olvaro::conn {

void Connection::sendProxyConnect() {
  if (proxyType() != 1) return;
  const ServerEntry& server = ServerList::instance().current();
  outputBuffer += "CONNECT " + hostAndPort(server.host, server.port) + " HTTP/1.0\n\n";
  flush();
}

bool Connection::checkProxyReply(const Packet& packet) {
  // "HTTP/<version> <status> <word>"; buffers as long as the line, so no
  // status line can overrun them.
  const std::string& line = packet.command;
  std::vector<char> version(line.size() + 1), word(line.size() + 1);
  int status = 0;
  int matched = std::sscanf(line.c_str(), "HTTP/%s %d %s", version.data(), &status, word.data());
  if (matched < 1) return false;
  if (matched < 2) status = 0;
  if (status == 200) {
    setState(kLoggingOn);
    // Inside the tunnel the encrypted link starts as a direct one would.
    if (beginSecureLink()) sendLogon();
    return true;
  }
  disconnectReason_ = kReasonRefused;
  // The proxy closes the link itself.
  showError(loadText(kStrLoginFailed), kProxyRejected + line);
  return true;
}

}  // namespace olvaro::conn
