#include "bridges.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "core.h"
#include "xml_text.h"

namespace olvaro::server {
namespace {

constexpr int32_t kXmpp = 6;
constexpr size_t kChunk = 512;
// The longest bridged text taken whole; a longer one from the user is
// refused, one from the network is cut between two characters.
constexpr size_t kMaxText = 256 * 1024;
// Half-sent messages kept per connection.
constexpr size_t kMaxPartial = 16;
// Restarted copies of one text waiting with it for the network's answer.
constexpr size_t kMaxCopies = 8;

bool known_status(int32_t s) { return s == 1 || s == 2 || s == 3 || s == 5; }

// The entries of a table keyed by (connection, Mesg-Id) that are one
// connection's, without walking the others'.
template <class Table>
auto of_conn(Table& table, uint64_t conn) {
    return std::pair{table.lower_bound({conn, 0}), table.upper_bound({conn, UINT64_MAX})};
}

// The "BRIDGE" that tells the client of one of its bridges.
Packet announcement(const BridgeRecord& b) {
    Packet p("BRIDGE");
    p.set_id("Bridge-Id", uint64_t(b.id));
    p.set_int("Bridge-Type", b.type);
    p.set("Username", b.field("username"));
    std::string nickname = b.field("nickname");
    p.set("Nickname", nickname.empty() ? b.field("username") : nickname);
    if (b.disabled) p.set_int("Disabled", 1);
    return p;
}

}  // namespace

// One bridge that is on: its network session and the ids its peers have.
struct Bridging::Live final : NetworkSink {
    Live(Bridging& owner, BridgeRecord record, uint64_t generation)
        : owner(owner), record(std::move(record)), generation(generation) {}

    Bridging& owner;
    BridgeRecord record;
    uint64_t generation;
    std::unique_ptr<Network> net;
    bool online = false;
    int32_t status = 1;
    // Peers and chats share one id space per bridge; ids stay for the
    // server's run, so a peer keeps its id across switches.
    PeerIds* ids = nullptr;
    std::map<std::string, std::pair<std::string, int32_t>> roster;  // address -> nickname, presence
    std::map<int64_t, std::string> requests;                        // Request-Id -> address
    int64_t next_request = 1;
    // Texts handed to the network whose last chunk is answered once the
    // network's server has them, with the restarted copies that came
    // meanwhile: each (connection, Mesg-Id) is answered then.
    struct Waiting {
        std::vector<std::pair<uint64_t, uint64_t>> who;
        std::string key;  // the sender's Mesg-Key, if it gave one
    };
    std::map<uint64_t, Waiting> waiting;
    std::map<std::string, uint64_t> waiting_by_key;  // Mesg-Key -> token
    uint64_t next_token = 1;
    // The recent texts' message ids by token, for the peers' receipts, and
    // when each was confirmed.
    static constexpr size_t kKeptReceipts = 1024;
    std::map<uint64_t, uint64_t> message_of;
    std::map<uint64_t, int64_t> delivered_at;

    void answer(uint64_t conn, uint64_t mesg, int64_t code) {
        auto it = owner.core_.conns_.find(conn);
        if (it == owner.core_.conns_.end() || it->second->dead) return;
        Packet request;
        request.set_id("Mesg-Id", mesg);
        owner.core_.respond(*it->second, request, code);
    }
    // `mesg` is answered; `message` names the text (its first chunk's id).
    // A copy of a text still waiting for the network goes no further: it
    // is answered with the text.
    void send_text(Conn& c, uint64_t mesg, uint64_t message, const std::string& to, bool chat,
                   const std::string& text, const std::string& key) {
        if (auto k = key.empty() ? waiting_by_key.end() : waiting_by_key.find(key); k != waiting_by_key.end()) {
            auto& who = waiting[k->second].who;
            // Copies to links since lost would be answered into the void.
            std::erase_if(who, [&](const auto& w) {
                auto it = owner.core_.conns_.find(w.first);
                return it == owner.core_.conns_.end() || it->second->dead;
            });
            if (who.size() >= kMaxCopies) return answer(c.id, mesg, kResend);
            who.emplace_back(c.id, mesg);
            return;
        }
        if (waiting.size() >= 4096) return answer(c.id, mesg, kResend);
        uint64_t token = next_token++;
        waiting[token] = {{{c.id, mesg}}, key};
        if (!key.empty()) waiting_by_key[key] = token;
        message_of[token] = message;
        if (message_of.size() > kKeptReceipts) message_of.erase(message_of.begin());
        net->send_text(to, chat, text, token);
    }
    void answer_all(int64_t code) {
        auto all = std::move(waiting);
        waiting.clear();
        waiting_by_key.clear();
        for (auto& [token, w] : all)
            for (auto [conn, mesg] : w.who) answer(conn, mesg, code);
    }

    Conn* conn() { return owner.core_.online(record.account); }
    void send(Packet& p) {
        p.set_id("Bridge-Id", uint64_t(record.id));
        if (Conn* c = conn()) owner.core_.send(*c, p);
    }
    // 0 for a new address once the bridge's table is full.
    int64_t id_of(const std::string& address) {
        auto it = ids->ids.find(address);
        if (it != ids->ids.end()) return it->second;
        if (ids->names.size() >= owner.core_.config_.bridge_peer_limit) return 0;
        ids->names.push_back(address);
        return ids->ids[address] = int64_t(ids->names.size());
    }
    std::string address_of(int64_t id) const {
        return id >= 1 && size_t(id) <= ids->names.size() ? ids->names[size_t(id) - 1] : std::string();
    }
    Packet contact_packet(const std::string& address) {
        Packet p("BRIDGE CONTACT");
        p.set_id("Contact-Id", uint64_t(id_of(address)));
        p.set("Name", address);
        auto& [nickname, presence] = roster[address];
        p.set("Nickname", nickname.empty() ? address : nickname);
        p.set_int("Online-Status", presence);
        return p;
    }
    // The whole roster again (after "BRIDGE ON" on a new link of the user).
    void resend() {
        Packet on("BRIDGE ON");
        send(on);
        for (auto& [address, entry] : roster) {
            Packet p = contact_packet(address);
            send(p);
        }
    }

    void net_online() override {
        online = true;
        if (status != 1) net->set_presence(status);
        Packet on("BRIDGE ON");
        send(on);
    }
    void net_offline(const std::string& reason) override {
        Packet off("BRIDGE OFF");
        off.set("Reason", reason);
        send(off);
        // Ended from the loop's next round, not from inside the network's call.
        Bridging& b = owner;
        int64_t id = record.id;
        uint64_t gen = generation;
        owner.core_.post([&b, id, gen] {
            Live* l = b.live(id);
            if (l && l->generation == gen) b.end(id, kResend);
        });
    }
    void net_sent(uint64_t token, bool delivered) override {
        auto it = waiting.find(token);
        if (it == waiting.end()) return;
        Waiting w = std::move(it->second);
        waiting.erase(it);
        if (!w.key.empty()) {
            waiting_by_key.erase(w.key);
            // Known from now on, so a copy the sender restarts after losing
            // this answer with its link is answered and not sent again.
            if (delivered) owner.core_.store_.add_message_key(record.account, w.key, owner.core_.next_time_us());
        }
        for (auto [conn, mesg] : w.who) answer(conn, mesg, delivered ? kDelivered : kResend);
    }
    void net_receipt(uint64_t token) override {
        auto it = message_of.find(token);
        if (it == message_of.end()) return;
        delivered_at.emplace(it->second, int64_t(owner.core_.next_time_us()));
        message_of.erase(it);
        if (delivered_at.size() > kKeptReceipts) delivered_at.erase(delivered_at.begin());
    }
    void net_contact(const std::string& address, const std::string& nickname, int32_t presence) override {
        if (id_of(address) == 0) return;
        roster[address] = {nickname, presence};
        Packet p = contact_packet(address);
        send(p);
    }
    void net_contact_gone(const std::string& address) override {
        if (!roster.erase(address)) return;
        Packet p("BRIDGE CONTACT");
        p.set_id("Contact-Id", uint64_t(id_of(address)));
        send(p);
    }
    void net_request(const std::string& address, const std::string& nickname, const std::string& message) override {
        if (id_of(address) == 0) return;
        // One waiting request per peer.
        for (auto it = requests.begin(); it != requests.end();)
            it = it->second == address ? requests.erase(it) : std::next(it);
        if (requests.size() >= 256) requests.erase(requests.begin());
        int64_t request = next_request++;
        requests[request] = address;
        Packet p("BRIDGE CONTACT ADD");
        p.set_id("Request-Id", uint64_t(request));
        p.set_id("Id", uint64_t(id_of(address)));
        p.set("Name", address);
        p.set("Nickname", nickname.empty() ? address : nickname);
        p.body = message;
        send(p);
    }
    void net_message(const std::string& from, const std::string& chat, const std::string& text,
                     int64_t sent_us) override {
        Conn* c = conn();
        if (!c || id_of(from) == 0 || (!chat.empty() && id_of(chat) == 0)) return;
        std::string body = text.size() > kMaxText ? text_parts(text, kMaxText).front() : text;
        uint64_t id = uint64_t(owner.core_.next_time_us());
        int64_t time = sent_us > 0 && sent_us < int64_t(id) ? sent_us : int64_t(id);
        for (size_t off = 0; off == 0 || off < body.size(); off += kChunk) {
            Packet q("BRIDGE MESG");
            q.set_id("Bridge-Id", uint64_t(record.id));
            q.set_id("Mesg-Id", id);
            q.set_id("Source-Id", uint64_t(id_of(from)));
            q.set("Content-Type", "text/plain");
            q.set("Timestamp", format_time(time));
            if (!chat.empty()) q.set_id("Target-Id", uint64_t(id_of(chat)));
            if (off == 0) {
                // The name the user knows the sender by; the client takes it
                // as the nickname, so never the network address.
                auto known = roster.find(from);
                if (known != roster.end() && !known->second.first.empty()) q.set("Name", known->second.first);
                if (body.size() > kChunk) q.set_id("Total-Length", body.size());
            } else {
                q.set_id("Correlation-Id", id);
            }
            q.body = body.substr(off, kChunk);
            if (off + kChunk >= body.size()) q.set_int("Last", 1);
            owner.core_.send(*c, q);
            if (body.empty()) break;
        }
    }
    void net_chat_member(const std::string& chat, const std::string& member, bool joined) override {
        if (id_of(chat) == 0 || id_of(member) == 0) return;
        Packet p("BRIDGE CHAT CONTACT");
        p.set_id("Chat-Id", uint64_t(id_of(chat)));
        p.set_id("Contact-Id", uint64_t(id_of(member)));
        if (joined) p.body = "1";
        send(p);
    }
};

Bridging::Bridging(Core& core) : core_(core) {}

Bridging::~Bridging() {
    for (auto& [id, l] : live_) retire(std::move(l->net));
    live_.clear();
    for (auto& r : retiring_) r.thread.join();
}

void Bridging::retire(std::unique_ptr<Network> net) {
    // Finished ones are joined here, so they never pile up.
    for (auto it = retiring_.begin(); it != retiring_.end();) {
        if (*it->done) {
            it->thread.join();
            it = retiring_.erase(it);
        } else {
            ++it;
        }
    }
    if (!net) return;
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread t([n = std::move(net), done]() mutable {
        n.reset();
        *done = true;
    });
    retiring_.push_back({std::move(t), done});
}

void Bridging::announce(Conn& c) {
    for (const BridgeRecord& b : core_.store_.bridges_of(c.account)) core_.send(c, announcement(b));
}

void Bridging::on_packet(Conn& c, const Packet& p) {
    const std::string& cmd = p.command;
    if (cmd == "BRIDGE REGISTER") return on_register(c, p);
    if (cmd == "BRIDGE REGISTER FIELDS") return on_register_fields(c, p);
    if (cmd == "BRIDGE ON") return on_switch(c, p, true);
    if (cmd == "BRIDGE OFF") return on_switch(c, p, false);
    if (cmd == "BRIDGE UPDATE") return on_update(c, p);
    if (cmd == "BRIDGE CONTACT ADD") return on_contact_add(c, p);
    if (cmd == "BRIDGE CONTACT ADD RESP") return on_contact_add_resp(c, p);
    if (cmd == "BRIDGE MESG") return on_mesg(c, p);
    if (p.has("Mesg-Id")) core_.respond(c, p, kDone);
}

std::optional<BridgeRecord> Bridging::own(const Conn& c, const Packet& p) {
    auto b = core_.store_.bridge(int64_t(p.get_id("Bridge-Id")));
    if (!b || b->account != c.account) return std::nullopt;
    return b;
}

Bridging::Live* Bridging::live(int64_t bridge) {
    auto it = live_.find(bridge);
    return it == live_.end() ? nullptr : it->second.get();
}

void Bridging::on_register(Conn& c, const Packet& p) {
    int32_t type = p.get_int("Bridge-Type");
    if (type < 1 || type > kXmpp) return core_.respond(c, p, kNoSuch);
    // The other networks no longer run: only their simulations, in demo mode.
    if (type != kXmpp && !core_.config_.demo) return core_.respond(c, p, kNetworkClosed);
    if (core_.store_.bridges_of(c.account).size() >= core_.config_.max_bridges_per_account)
        return core_.respond(c, p, kDenied);
    if (registering_.size() >= 1024) registering_.erase(registering_.begin());
    registering_[{c.id, p.get_id("Mesg-Id")}] = type;
    core_.respond(c, p, kOk);
}

void Bridging::on_register_fields(Conn& c, const Packet& p) {
    auto it = registering_.find({c.id, p.get_id("Mesg-Id")});
    if (it == registering_.end()) return core_.respond(c, p, kNoSuch);
    int32_t type = it->second;
    registering_.erase(it);
    std::vector<std::pair<std::string, std::string>> fields;
    for (auto& [name, value] : p.headers)
        if (name != "mesg-id" && name != "content-length" && fields.size() < 8) fields.emplace_back(name, value);
    BridgeRecord record;
    record.type = type;
    record.fields = fields;
    if (record.field("username").empty() || (type == kXmpp && record.field("password").empty()))
        return core_.respond(c, p, kMissingField);
    if (core_.store_.bridges_of(c.account).size() >= core_.config_.max_bridges_per_account)
        return core_.respond(c, p, kDenied);
    int64_t id = core_.store_.add_bridge(c.account, type, fields);
    core_.respond(c, p, kDone);
    // Announced like the others; the client then switches it on.
    if (auto b = core_.store_.bridge(id)) core_.send(c, announcement(*b));
}

bool Bridging::start(const BridgeRecord& record, std::string* reason) {
    auto& ids = ids_by_bridge_[record.id];
    auto l = std::make_unique<Live>(*this, record, ++generation_);
    l->ids = &ids;
    int64_t id = record.id;
    uint64_t gen = l->generation;
    Post post = [this, id, gen](std::function<void()> fn) {
        core_.post([this, id, gen, fn = std::move(fn)] {
            Live* now = live(id);
            if (now && now->generation == gen) fn();
        });
    };
    if (record.type == kXmpp) {
        XmppOptions options{core_.config_.xmpp_hosts, core_.config_.xmpp_allow_plain, core_.config_.xmpp_ping_ms,
                            core_.config_.xmpp_give_up_ms, core_.config_.xmpp_ca};
        l->net = make_xmpp_network(record, options, *l, post, reason);
    } else if (core_.config_.demo) {
        l->net = make_demo_network(record.type, *l, post);
    } else {
        *reason = "This network can only be tried on a demonstration server.";
    }
    if (!l->net) return false;
    live_[id] = std::move(l);
    return true;
}

void Bridging::end(int64_t bridge, int64_t code) {
    auto it = live_.find(bridge);
    if (it == live_.end()) return;
    it->second->answer_all(code);
    retire(std::move(it->second->net));
    live_.erase(it);
}

void Bridging::on_switch(Conn& c, const Packet& p, bool on) {
    auto b = own(c, p);
    if (!b) return core_.respond(c, p, kNoSuch);
    core_.store_.set_bridge_disabled(b->id, !on);
    core_.respond(c, p, kOk);
    if (!on) return end(b->id, kDenied);
    int32_t status = p.get_int("Online-Status");
    if (!known_status(status)) status = 1;
    if (Live* l = live(b->id)) {
        l->status = status;
        if (l->online) {
            l->net->set_presence(status);
            l->resend();
        }
        return;
    }
    std::string reason;
    if (!start(*b, &reason)) {
        Packet off("BRIDGE OFF");
        off.set_id("Bridge-Id", uint64_t(b->id));
        off.set("Reason", reason);
        core_.send(c, off);
        return;
    }
    Live* l = live(b->id);
    l->status = status;
    // Known before the link is made: an invisible user is never shown online.
    if (status != 1) l->net->set_presence(status);
}

void Bridging::on_update(Conn& c, const Packet& p) {
    auto b = own(c, p);
    if (!b) return core_.respond(c, p, kNoSuch);
    if (!p.has("Online-Status")) {  // only the id: the bridge goes
        end(b->id, kDenied);
        core_.store_.remove_bridge(b->id);
        ids_by_bridge_.erase(b->id);
        return core_.respond(c, p, kOk);
    }
    int32_t status = p.get_int("Online-Status");
    if (Live* l = live(b->id); l && known_status(status)) {
        l->status = status;
        if (l->online) l->net->set_presence(status);
    }
    core_.respond(c, p, kOk);
}

void Bridging::on_contact_add(Conn& c, const Packet& p) {
    auto b = own(c, p);
    Live* l = b ? live(b->id) : nullptr;
    if (!l || !l->online) return core_.respond(c, p, kNoSuch);
    const std::string& name = p.get("Name");
    if (name.empty()) return core_.respond(c, p, kMissingField);
    l->net->add_contact(name, p.body);
    core_.respond(c, p, kOk);
}

void Bridging::on_contact_add_resp(Conn& c, const Packet& p) {
    auto b = own(c, p);
    Live* l = b ? live(b->id) : nullptr;
    if (!l) return core_.respond(c, p, kNoSuch);
    auto it = l->requests.find(int64_t(p.get_id("Response-Id")));
    if (it == l->requests.end()) return core_.respond(c, p, kNoSuch);
    if (l->online) l->net->answer_request(it->second, p.get_int("Accepted") == 1);
    l->requests.erase(it);
    core_.respond(c, p, kOk);
}

void Bridging::on_mesg(Conn& c, const Packet& p) {
    uint64_t corr = p.get_id("Correlation-Id");
    bool last = p.has("Last");
    if (corr) {
        auto it = partial_.find({c.id, corr});
        if (it == partial_.end()) return core_.respond(c, p, kNoSuch);
        Partial& m = it->second;
        if (m.copy) {
            if (last) partial_.erase(it);
            return core_.respond(c, p, kDelivered);
        }
        // Too long for the network: refused whole, never cut.
        if (!m.refused && m.text.size() + p.body.size() > kMaxText) {
            m.refused = true;
            m.text.clear();
            m.text.shrink_to_fit();
        }
        if (!m.refused) m.text += p.body;
        bool refused = m.refused;
        if (!last || refused) core_.respond(c, p, refused ? kDenied : kDelivered);
        if (!last) return;
        Partial done = std::move(m);
        partial_.erase(it);
        if (refused) return;
        Live* l = live(done.bridge);
        if (l && (!l->online || l->record.account != c.account)) l = nullptr;
        return hand_over(c, p, l, corr, done);
    }
    std::string key = message_key(p);
    if (!key.empty()) {
        // Started over on the same link: the unfinished try goes.
        auto [first, last_of_conn] = of_conn(partial_, c.id);
        for (auto it = first; it != last_of_conn; ++it) {
            if (it->second.key != key) continue;
            partial_.erase(it);
            break;
        }
        // The network has it already (the answer was lost with the link):
        // every chunk of the copy is answered, and nothing is sent again.
        if (core_.store_.has_message_key(c.account, key)) {
            auto [from, to] = of_conn(partial_, c.id);
            if (!last && size_t(std::distance(from, to)) < kMaxPartial) {
                Partial copy;
                copy.key = std::move(key);
                copy.copy = true;
                partial_[{c.id, p.get_id("Mesg-Id")}] = std::move(copy);
            }
            return core_.respond(c, p, kDelivered);
        }
    }
    auto b = own(c, p);
    Live* l = b ? live(b->id) : nullptr;
    if (!l || !l->online) return core_.respond(c, p, kNoSuch);
    // The networks behind carry text; pictures and voice are refused.
    if (p.get("Content-Type") != "text/plain") return core_.respond(c, p, kTextOnly);
    Partial m;
    m.bridge = b->id;
    m.target = int64_t(p.get_id("Target-Id"));
    m.chat = p.get_int("Mesg-Target") == 1;
    m.text = p.body;
    m.key = std::move(key);
    if (l->address_of(m.target).empty()) return core_.respond(c, p, kNoSuch);
    m.refused = m.text.size() > kMaxText || p.get_id("Total-Length") > kMaxText;
    if (m.refused) m.text.clear();
    if (!last || m.refused) core_.respond(c, p, m.refused ? kDenied : kDelivered);
    if (last && m.refused) return;
    if (last) return hand_over(c, p, l, p.get_id("Mesg-Id"), m);
    auto [first, last_of_conn] = of_conn(partial_, c.id);
    if (size_t(std::distance(first, last_of_conn)) >= kMaxPartial) return;
    partial_[{c.id, p.get_id("Mesg-Id")}] = std::move(m);
}

void Bridging::hand_over(Conn& c, const Packet& last, Live* l, uint64_t message, const Partial& m) {
    // Its first try may have reached the network while this copy came in.
    if (!m.key.empty() && core_.store_.has_message_key(c.account, m.key)) return core_.respond(c, last, kDelivered);
    std::string to = l ? l->address_of(m.target) : "";
    if (to.empty()) return core_.respond(c, last, kResend);
    l->send_text(c, last.get_id("Mesg-Id"), message, to, m.chat, m.text, m.key);
}

int64_t Bridging::delivered_at(int64_t bridge, uint64_t mesg) {
    Live* l = live(bridge);
    if (!l) return 0;
    auto it = l->delivered_at.find(mesg);
    return it == l->delivered_at.end() ? 0 : it->second;
}

void Bridging::signed_out(int64_t account) {
    for (auto it = live_.begin(); it != live_.end();) {
        if (it->second->record.account != account) {
            ++it;
            continue;
        }
        retire(std::move(it->second->net));
        it = live_.erase(it);
    }
}

void Bridging::conn_gone(uint64_t conn) {
    auto [r_first, r_last] = of_conn(registering_, conn);
    registering_.erase(r_first, r_last);
    auto [p_first, p_last] = of_conn(partial_, conn);
    partial_.erase(p_first, p_last);
}

}  // namespace olvaro::server
