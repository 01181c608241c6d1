// Bridges on the server: registration and its refusals, the store keeping
// them across sign-ins, and a simulated network relayed both ways.
#include <map>

#include "fixture.h"

namespace olvaro::server::testing {
namespace {

class BridgeTest : public ServerTest {
protected:
    // Registers a bridge of `type` with these fields; the codes of both steps.
    std::pair<int64_t, int64_t> register_bridge(TestClient& c, int32_t type,
                                                const std::vector<std::pair<std::string, std::string>>& fields) {
        Packet reg("BRIDGE REGISTER");
        reg.set_int("Bridge-Type", type);
        uint64_t id = c.request(reg);
        int64_t first = c.response(id);
        if (first != 0) return {first, -1};
        Packet f("BRIDGE REGISTER FIELDS");
        f.set_id("Mesg-Id", id);
        for (auto& [n, v] : fields) f.set(n, v);
        c.send(f);
        return {first, c.response(id)};
    }
    Packet text(uint64_t bridge, uint64_t to, const std::string& type, const std::string& body) {
        Packet m("BRIDGE MESG");
        m.set_id("Bridge-Id", bridge);
        m.set_id("Target-Id", to);
        m.set_int("Mesg-Target", 0);
        m.set("Content-Type", type);
        m.set_int("Last", 1);
        m.body = body;
        return m;
    }
    // Switches a demo bridge on; Mia's id once she is online (0 if never).
    uint64_t switch_on(TestClient& c, uint64_t bridge) {
        Packet on("BRIDGE ON");
        on.set_id("Bridge-Id", bridge);
        on.set_int("Online-Status", 1);
        EXPECT_EQ(c.response(c.request(on)), 0);
        for (int i = 0; i < 4; ++i) {
            auto p = c.until("BRIDGE CONTACT");
            if (!p) break;
            if (p->get("Name") == "mia@hotmail.demo" && p->get_int("Online-Status") == 1) return p->get_id("Contact-Id");
        }
        return 0;
    }
    // ann signed in with a demo bridge switched on, and Mia online on it
    // (`mia` 0 when she never came).
    struct DemoBridge {
        std::unique_ptr<TestClient> client;
        uint64_t bridge = 0, mia = 0;
    };
    DemoBridge ann_with_mia() {
        DemoBridge d;
        EXPECT_TRUE(server_->seed_demo());
        account("ann@x.org");
        d.client = signed_in("ann@x.org");
        EXPECT_EQ(register_bridge(*d.client, 1, {{"Username", "ann@hotmail.demo"}}),
                  std::make_pair(int64_t(0), int64_t(1)));
        if (auto announced = d.client->until("BRIDGE")) d.bridge = announced->get_id("Bridge-Id");
        if (d.bridge) d.mia = switch_on(*d.client, d.bridge);
        return d;
    }
};

TEST_F(BridgeTest, AnAccountHasAtMostItsQuotaOfBridges) {
    Config config;
    config.max_bridges_per_account = 1;
    start(config);
    account("ann@x.org");
    auto c = signed_in("ann@x.org");
    std::vector<std::pair<std::string, std::string>> fields{{"Username", "ann"}, {"Password", "pw"}};
    EXPECT_EQ(register_bridge(*c, 6, fields), std::make_pair(int64_t(0), int64_t(1)));
    EXPECT_EQ(register_bridge(*c, 6, fields).first, 13);
}

TEST_F(BridgeTest, WithoutDemoOnlyXmppRegistersAndItsFieldsAreChecked) {
    account("ann@x.org");
    auto c = signed_in("ann@x.org");
    EXPECT_EQ(register_bridge(*c, 1, {{"Username", "ann@hotmail.com"}}).first, 21);
    EXPECT_EQ(register_bridge(*c, 9, {}).first, 2);
    EXPECT_EQ(register_bridge(*c, 6, {{"Username", "ann"}, {"Server", "x.org"}}), std::make_pair(int64_t(0), int64_t(23)));
    // Fields without a registration before them.
    Packet stray("BRIDGE REGISTER FIELDS");
    stray.set("Username", "x");
    EXPECT_EQ(c->response(c->request(stray)), 2);
    // Someone else's (or no) bridge cannot be switched.
    Packet on("BRIDGE ON");
    on.set_id("Bridge-Id", 1);
    on.set_int("Online-Status", 1);
    EXPECT_EQ(c->response(c->request(on)), 2);
}

TEST_F(BridgeTest, DemoNetworkRelaysBothWaysAndTheStoreKeepsTheBridge) {
    ASSERT_TRUE(server_->seed_demo());
    account("ann@x.org");
    auto c = signed_in("ann@x.org");
    auto codes = register_bridge(*c, 1, {{"Username", "ann@hotmail.demo"}, {"Nickname", "Ann M"}});
    EXPECT_EQ(codes, std::make_pair(int64_t(0), int64_t(1)));
    auto announced = c->until("BRIDGE");
    ASSERT_TRUE(announced);
    uint64_t bridge = announced->get_id("Bridge-Id");
    EXPECT_EQ(announced->get("Username"), "ann@hotmail.demo");
    EXPECT_EQ(announced->get("Nickname"), "Ann M");
    EXPECT_EQ(announced->get_int("Bridge-Type"), 1);
    EXPECT_FALSE(announced->has("Disabled"));

    Packet on("BRIDGE ON");
    on.set_id("Bridge-Id", bridge);
    on.set_int("Online-Status", 1);
    EXPECT_EQ(c->response(c->request(on)), 0);
    ASSERT_TRUE(c->until("BRIDGE ON"));
    // Two people, listed offline, then online.
    std::map<std::string, int32_t> presence;
    std::map<std::string, uint64_t> ids;
    for (int i = 0; i < 4; ++i) {
        auto p = c->until("BRIDGE CONTACT");
        ASSERT_TRUE(p);
        EXPECT_EQ(p->get_id("Bridge-Id"), bridge);
        presence[p->get("Name")] = p->get_int("Online-Status");
        ids[p->get("Name")] = p->get_id("Contact-Id");
    }
    EXPECT_EQ(presence["mia@hotmail.demo"], 1);
    EXPECT_EQ(presence["leo@live.demo"], 2);

    uint64_t mia = ids["mia@hotmail.demo"];
    EXPECT_EQ(c->response(c->request(text(bridge, mia, "text/plain", "hi"))), 4);
    auto reply = c->until("BRIDGE MESG");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->get_id("Source-Id"), mia);
    EXPECT_EQ(reply->get_id("Bridge-Id"), bridge);
    EXPECT_EQ(reply->body, "You said: hi");
    EXPECT_FALSE(reply->has("Target-Id"));
    EXPECT_EQ(c->response(c->request(text(bridge, mia, "image/jpeg", "\xff\xd8"))), 22);
    EXPECT_EQ(c->response(c->request(text(bridge, 999, "text/plain", "nobody"))), 2);

    // A long text in chunks arrives whole.
    std::string longer(1200, 'x');
    Packet first = text(bridge, mia, "text/plain", longer.substr(0, 512));
    first.headers.erase("last");
    first.set_id("Total-Length", longer.size());
    uint64_t id = c->request(first);
    EXPECT_EQ(c->response(id), 4);
    for (size_t off = 512; off < longer.size(); off += 512) {
        Packet more = text(bridge, mia, "text/plain", longer.substr(off, 512));
        more.set_id("Correlation-Id", id);
        if (off + 512 < longer.size()) more.headers.erase("last");
        EXPECT_EQ(c->response(c->request(more)), 4);
    }
    std::string whole;
    for (;;) {
        auto part = c->until("BRIDGE MESG");
        ASSERT_TRUE(part);
        whole += part->body;
        if (part->has("Last")) break;
    }
    EXPECT_EQ(whole, "You said: " + longer);

    // Off, and kept off at the next sign-in; removed, and gone.
    Packet off("BRIDGE OFF");
    off.set_id("Bridge-Id", bridge);
    off.set_int("Online-Status", 0);
    EXPECT_EQ(c->response(c->request(off)), 0);
    c->disconnect();
    std::vector<Packet> got;
    c = signed_in("ann@x.org", 1, &got);
    auto again = c->until("BRIDGE");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->get_id("Bridge-Id"), bridge);
    EXPECT_EQ(again->get_int("Disabled"), 1);
    Packet remove("BRIDGE UPDATE");
    remove.set_id("Bridge-Id", bridge);
    EXPECT_EQ(c->response(c->request(remove)), 0);
    c->disconnect();
    c = signed_in("ann@x.org");
    EXPECT_FALSE(c->until("BRIDGE", nullptr, 300));
}

TEST_F(BridgeTest, BridgedMessagesNameTheSenderByTheRosterNotTheAddress) {
    DemoBridge demo = ann_with_mia();
    ASSERT_NE(demo.mia, 0u);
    auto& c = demo.client;
    uint64_t bridge = demo.bridge, mia = demo.mia;
    EXPECT_EQ(c->response(c->request(text(bridge, mia, "text/plain", "hi"))), 4);
    auto reply = c->until("BRIDGE MESG");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->get("Name"), "Mia");
}

// A text the client restarts under a new id after its link lost the
// answer reaches the network once: a copy that comes while the first is on
// its way is answered with it, one that comes later at once, chunk by chunk.
TEST_F(BridgeTest, ARestartedBridgedTextReachesTheNetworkOnce) {
    DemoBridge demo = ann_with_mia();
    ASSERT_NE(demo.mia, 0u);
    auto& c = demo.client;
    uint64_t bridge = demo.bridge, mia = demo.mia;
    // The text in two chunks under the first id `id`, with the client's name for it.
    auto chunks = [&](uint64_t id) {
        Packet first = text(bridge, mia, "text/plain", "hello ");
        first.headers.erase("last");
        first.set_id("Mesg-Id", id);
        first.set("Mesg-Key", "00112233aabbccdd-7");
        Packet rest = text(bridge, mia, "text/plain", "there");
        rest.set_id("Mesg-Id", id + 1);
        rest.set_id("Correlation-Id", id);
        return first.serialize() + rest.serialize();
    };
    // The answers by Mesg-Id, and how often the demo network echoed the
    // text (once for each time it got it).
    auto seen = [](TestClient& t, int* echoes) {
        std::map<uint64_t, int64_t> codes;
        while (auto p = t.read(500)) {
            if (p->command == "RESPONSE") codes[p->get_id("Mesg-Id")] = code_of(*p);
            if (p->command == "BRIDGE MESG") *echoes += p->body == "You said: hello there";
        }
        return codes;
    };
    // The copy in the same write, so it comes before the network has the first.
    ASSERT_TRUE(c->send_raw(chunks(1) + chunks(3)));
    int echoes = 0;
    EXPECT_EQ(seen(*c, &echoes), (std::map<uint64_t, int64_t>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    EXPECT_EQ(echoes, 1);

    // The link is lost and made again; the copy sent then is answered alone.
    c->disconnect();
    c = signed_in("ann@x.org");
    ASSERT_EQ(switch_on(*c, bridge), mia);
    ASSERT_TRUE(c->send_raw(chunks(5)));
    echoes = 0;
    EXPECT_EQ(seen(*c, &echoes), (std::map<uint64_t, int64_t>{{5, 4}, {6, 4}}));
    EXPECT_EQ(echoes, 0);
}

}  // namespace
}  // namespace olvaro::server::testing
