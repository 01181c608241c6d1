#pragma once
// Bridges on the server: each account's links to other networks, kept in the
// store, announced after sign-in, and while switched on a live session on
// its network whose traffic is relayed as the "BRIDGE ..." packets.

#include <atomic>
#include <cstdint>
#include <thread>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bridge_network.h"
#include "packet.h"

namespace olvaro::server {

class Core;
struct Conn;

class Bridging {
public:
    explicit Bridging(Core& core);
    // Ends every network session (and waits for their threads).
    ~Bridging();
    Bridging(const Bridging&) = delete;
    Bridging& operator=(const Bridging&) = delete;

    // After "LOGON SUCCESSFUL": one "BRIDGE" per bridge of the account.
    void announce(Conn& c);
    // Every "BRIDGE ..." command of a signed-in connection.
    void on_packet(Conn& c, const Packet& p);
    // The account's last link ended: its sessions end too.
    void signed_out(int64_t account);
    // The connection went (its half-made registrations and messages go).
    void conn_gone(uint64_t conn);

    size_t live_count() const { return live_.size(); }
    // When the peer confirmed the user's bridged message `mesg`; 0 before.
    int64_t delivered_at(int64_t bridge, uint64_t mesg);

private:
    struct Live;
    friend struct Live;

    void on_register(Conn& c, const Packet& p);
    void on_register_fields(Conn& c, const Packet& p);
    void on_switch(Conn& c, const Packet& p, bool on);
    void on_update(Conn& c, const Packet& p);
    void on_contact_add(Conn& c, const Packet& p);
    void on_contact_add_resp(Conn& c, const Packet& p);
    void on_mesg(Conn& c, const Packet& p);

    // The account's bridge, or null (someone else's, or none).
    std::optional<BridgeRecord> own(const Conn& c, const Packet& p);
    Live* live(int64_t bridge);
    // Starts the network session; false with a reason when it cannot be.
    bool start(const BridgeRecord& record, std::string* reason);
    // Texts still waiting for their network are answered with `code`:
    // kResend when the link was lost, refused when the user ended it.
    void end(int64_t bridge, int64_t code);
    // A session's end (a polite goodbye, its thread's join) may take a
    // moment: it happens off the loop, and the server's stop waits for it.
    void retire(std::unique_ptr<Network> net);

    Core& core_;
    std::map<int64_t, std::unique_ptr<Live>> live_;
    struct Retiring {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Retiring> retiring_;
    // Each bridge's peer and chat addresses and their ids (1, 2, ...), for
    // the server's run.
    struct PeerIds {
        std::map<std::string, int64_t> ids;
        std::vector<std::string> names;  // names[id - 1]
    };
    std::map<int64_t, PeerIds> ids_by_bridge_;
    uint64_t generation_ = 0;
    // Registrations waiting for their fields: (connection, Mesg-Id) -> type.
    std::map<std::pair<uint64_t, uint64_t>, int32_t> registering_;
    // Bridged messages from the user still missing chunks.
    struct Partial {
        int64_t bridge = 0;
        int64_t target = 0;
        bool chat = false;
        std::string text;
        bool refused = false;  // too long: its chunks are answered as refused
        std::string key;       // the sender's Mesg-Key, if it gave one
        bool copy = false;     // a copy of a text the network has: answered, not kept
    };
    std::map<std::pair<uint64_t, uint64_t>, Partial> partial_;
    // A whole text from the user for its bridge's session `l` (null when
    // off), whose `last` chunk is answered once the network has it;
    // `message` is its first chunk's id.
    void hand_over(Conn& c, const Packet& last, Live* l, uint64_t message, const Partial& m);
};

}  // namespace olvaro::server
