#pragma once
// One bridged account's session on its network. The server holds one while
// the user's bridge is on; the session reports through its sink, always on
// the server's loop thread, and takes the user's requests from it there.
// Peers on the network are named by their address there (a JID, a screen
// name); the server maps addresses to the numeric ids of the protocol.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store.h"

namespace olvaro::server {

class NetworkSink {
public:
    virtual void net_online() = 0;
    // The session ended; `reason` is for the user to read.
    virtual void net_offline(const std::string& reason) = 0;
    // A roster entry, or a change of its presence (0 offline, 1 online,
    // 2 away, 5 busy).
    virtual void net_contact(const std::string& address, const std::string& nickname, int32_t presence) = 0;
    virtual void net_contact_gone(const std::string& address) = 0;
    // Someone asks to see the user's presence.
    virtual void net_request(const std::string& address, const std::string& nickname, const std::string& message) = 0;
    // A text from `from`; `chat` names the group chat, empty for a private
    // one. `sent_us`: when it was sent (microseconds since 1970) if the
    // network says so, as for one kept while the user was away; else 0.
    virtual void net_message(const std::string& from, const std::string& chat, const std::string& text,
                             int64_t sent_us) = 0;
    virtual void net_chat_member(const std::string& chat, const std::string& member, bool joined) = 0;
    // The text sent under `token` reached the network's server (true), or
    // never will or came back refused (false). A session that ends first
    // reports nothing.
    virtual void net_sent(uint64_t token, bool delivered) = 0;
    // The peer's device says the text sent under `token` reached it.
    virtual void net_receipt(uint64_t token) = 0;

protected:
    ~NetworkSink() = default;
};

class Network {
public:
    virtual ~Network() = default;
    virtual void set_presence(int32_t status) = 0;
    // `to` is a contact's or (chat true) a group chat's address; the
    // outcome comes back through `net_sent` under `token`.
    virtual void send_text(const std::string& to, bool chat, const std::string& text, uint64_t token) = 0;
    virtual void add_contact(const std::string& address, const std::string& message) = 0;
    virtual void answer_request(const std::string& address, bool accepted) = 0;
};

// Runs a task on the server's loop thread, from any thread.
using Post = std::function<void(std::function<void()>)>;

// Simulated networks (types 1 to 5) for demonstrations: a few people who come
// online and answer.
std::unique_ptr<Network> make_demo_network(int32_t type, NetworkSink& sink, Post post);

struct XmppOptions {
    // "domain=host:port" entries: where a domain's server really listens.
    std::vector<std::string> hosts;
    bool allow_plain = false;
    int ping_ms = 20000;
    // A lost link is tried again for this long before the bridge goes off.
    int64_t give_up_ms = 3600000;
    // Trusted besides the system's CAs; empty for none.
    std::string ca_file;
};

// A real XMPP client session on a thread of its own; null with `error` set
// when the fields cannot make one.
std::unique_ptr<Network> make_xmpp_network(const BridgeRecord& bridge, const XmppOptions& options, NetworkSink& sink,
                                           Post post, std::string* error);

}  // namespace olvaro::server
