// The simulated networks of demo mode: each has two people who come online
// once the bridge is, accept every request and answer every message.
#include <utility>

#include "bridge_network.h"

namespace olvaro::server {
namespace {

struct DemoPerson {
    const char* address;
    const char* nickname;
    int32_t presence;
};

struct DemoNetwork final : Network {
    DemoNetwork(int32_t type, NetworkSink& sink, Post post) : sink_(sink), post_(std::move(post)) {
        static const DemoPerson kPeople[5][2] = {
            {{"mia@hotmail.demo", "Mia", 1}, {"leo@live.demo", "Leo", 2}},
            {{"yuki@yahoo.demo", "Yuki", 1}, {"sam@yahoo.demo", "Sam", 5}},
            {{"SkaterAmy", "Amy", 1}, {"DJ Ray", "Ray", 2}},
            {{"4100123", "Kasia", 1}, {"4100456", "Tomek", 5}},
            {{"201345678", "Nadia", 1}, {"201876543", "Omar", 2}},
        };
        const DemoPerson* people = kPeople[(type >= 1 && type <= 5 ? type : 1) - 1];
        NetworkSink* s = &sink_;
        post_([s] { s->net_online(); });
        // Listed offline first, then they come online.
        for (int i = 0; i < 2; ++i) {
            DemoPerson p = people[i];
            post_([s, p] { s->net_contact(p.address, p.nickname, 0); });
            post_([s, p] { s->net_contact(p.address, p.nickname, p.presence); });
        }
    }
    void set_presence(int32_t) override {}
    void send_text(const std::string& to, bool chat, const std::string& text, uint64_t token) override {
        NetworkSink* s = &sink_;
        post_([s, token] { s->net_sent(token, true); });
        if (chat) return;
        post_([s, to, text] { s->net_message(to, std::string(), "You said: " + text, 0); });
    }
    void add_contact(const std::string& address, const std::string&) override {
        NetworkSink* s = &sink_;
        post_([s, address] { s->net_contact(address, address, 1); });
    }
    void answer_request(const std::string&, bool) override {}

    NetworkSink& sink_;
    Post post_;
};

}  // namespace

std::unique_ptr<Network> make_demo_network(int32_t type, NetworkSink& sink, Post post) {
    return std::make_unique<DemoNetwork>(type, sink, std::move(post));
}

}  // namespace olvaro::server
