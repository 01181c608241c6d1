// The session fuzzer's stand-in for the XMPP bridge: a fuzzed switch-on must
// not reach for the network, so every XMPP session is refused as one whose
// fields cannot make a link.
#include "bridge_network.h"

namespace olvaro::server {

std::unique_ptr<Network> make_xmpp_network(const BridgeRecord&, const XmppOptions&, NetworkSink&, Post,
                                           std::string* error) {
  *error = "No network in this build.";
  return nullptr;
}

}  // namespace olvaro::server
