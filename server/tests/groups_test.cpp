// Groups: create, join with a password, leave, and roles with their limits.
#include "fixture.h"

namespace olvaro::server::testing {
namespace {

using Groups = ServerTest;

Packet named(const char* command, const std::string& name, const std::string& body = "") {
    Packet p(command);
    p.set("Name", name);
    p.body = body;
    return p;
}

Packet admin(int64_t group, int64_t target, int action) {
    Packet p("GROUP ADMIN");
    p.set_id("Group-Id", uint64_t(group));
    p.set_id("Target-Id", uint64_t(target));
    p.set_int("Action", action);
    return p;
}

std::vector<uint64_t> member_ids(const Packet& detail, int word) {
    std::vector<uint64_t> ids;
    for (size_t i = 0; i + word <= detail.body.size(); i += word) {
        uint64_t v = 0;
        for (int k = 0; k < word; ++k) v = v << 8 | uint8_t(detail.body[i + k]);
        ids.push_back(v);
    }
    return ids;
}

std::optional<Packet> update_about(TestClient& c, int64_t contact) {
    for (;;) {
        auto u = c.until("GROUP UPDATE");
        if (!u || u->get_int("Contact-Id") == contact) return u;
    }
}

TEST_F(Groups, CreateJoinWithPasswordAndLeave) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");

    Packet create = named("GROUP CREATE", "Club");
    create.set("Desc", "Chat group");
    create.set_int("Content-Length", 0);
    create.body = "secret";  // a body, when given, is the password
    std::vector<Packet> skipped;
    EXPECT_EQ(a->response(a->request(create), &skipped), 0);
    ASSERT_EQ(skipped.size(), 1u);
    const Packet& detail = skipped[0];
    EXPECT_EQ(detail.command, "GROUP DETAIL");
    EXPECT_EQ(detail.get("Name"), "Club");
    EXPECT_EQ(detail.get("Desc"), "Chat group");
    EXPECT_EQ(detail.get("Admin"), std::to_string(alice) + "|1");
    EXPECT_EQ(member_ids(detail, 4), std::vector<uint64_t>{uint64_t(alice)});
    int64_t g = detail.get_int("Group-ID");

    EXPECT_EQ(a->response(a->request(named("GROUP CREATE", "club"))), 11);  // names ignore case
    EXPECT_EQ(b->response(b->request(named("GROUP SUBSCRIBE", "Nope"))), 2);
    EXPECT_EQ(b->response(b->request(named("GROUP SUBSCRIBE", "Club"))), 13);
    EXPECT_EQ(b->response(b->request(named("GROUP SUBSCRIBE", "Club", "wrong"))), 13);
    skipped.clear();
    EXPECT_EQ(b->response(b->request(named("GROUP SUBSCRIBE", "Club", "secret")), &skipped), 0);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(member_ids(skipped[0], 4), (std::vector<uint64_t>{uint64_t(alice), uint64_t(bob)}));
    EXPECT_EQ(b->response(b->request(named("GROUP SUBSCRIBE", "Club", "secret"))), 11);

    auto joined = a->until("GROUP UPDATE");
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->get_int("Group-ID"), g);
    EXPECT_EQ(joined->get_int("Contact-Id"), bob);
    EXPECT_EQ(joined->get_int("Type"), 0);

    Packet leave("GROUP UNSUB");
    leave.set_id("Group-Id", uint64_t(g));
    EXPECT_EQ(b->response(b->request(leave)), 0);
    auto own = b->until("GROUP UPDATE");  // the leaver's client drops the group on its own id
    ASSERT_TRUE(own);
    EXPECT_EQ(own->get_int("Group-ID"), g);
    EXPECT_EQ(own->get_int("Contact-Id"), bob);
    EXPECT_NE(own->get_int("Type"), 0);
    EXPECT_EQ(b->response(b->request(leave)), 2);
    auto left = a->until("GROUP UPDATE");
    ASSERT_TRUE(left);
    EXPECT_EQ(left->get_int("Contact-Id"), bob);
    EXPECT_EQ(left->get_int("Type"), 1);

    // Membership is what the next sign-in reports.
    b.reset();
    std::vector<Packet> got;
    auto b2 = signed_in("bob@x", 1, &got);
    EXPECT_EQ(got.size(), 1u);
}

TEST_F(Groups, RolesOnlyAdministratorsOrModeratorsMayChange) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    int64_t carol = account("carol@x");
    int64_t dave = account("dave@x");
    int64_t g = server_->create_group("G", "", "", alice);
    server_->set_member(g, bob, 2);  // moderator
    server_->set_member(g, carol, 0);
    server_->set_member(g, dave, 0);
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");
    auto c = signed_in("carol@x");
    auto d = signed_in("dave@x");

    // A plain member may change nothing; a moderator may not promote.
    EXPECT_EQ(c->response(c->request(admin(g, dave, 8))), 13);
    EXPECT_EQ(b->response(b->request(admin(g, dave, 2))), 13);
    EXPECT_EQ(b->response(b->request(admin(g, alice, 8))), 13);  // nor touch an administrator
    EXPECT_EQ(a->response(a->request(admin(g, dave, 64))), 13);  // no such role

    // The moderator silences Carol: everyone hears of it, and she can no longer write.
    EXPECT_EQ(b->response(b->request(admin(g, carol, 8))), 0);
    for (TestClient* who : {a.get(), c.get(), d.get()}) {
        auto echo = who->until("GROUP ADMIN");
        ASSERT_TRUE(echo);
        EXPECT_EQ(echo->get_int("Group-ID"), g);
        EXPECT_EQ(echo->get_int("Target-ID"), carol);
        EXPECT_EQ(echo->get_int("Source-ID"), bob);
        EXPECT_EQ(echo->get_int("Action"), 8);
    }
    Packet say("MESG");
    say.set_int("Mesg-Target", 1);
    say.set_id("Target-Id", uint64_t(g));
    say.set("Content-Type", "text/plain");
    say.set_int("Last", 1);
    say.body = "hi";
    EXPECT_EQ(c->response(c->request(say)), 13);
    // The moderator may lift the silence again, but not set a plain role on anyone else.
    EXPECT_EQ(b->response(b->request(admin(g, dave, 0))), 13);
    EXPECT_EQ(b->response(b->request(admin(g, carol, 0))), 0);
    auto lifted = c->until("GROUP ADMIN");
    ASSERT_TRUE(lifted);
    EXPECT_EQ(lifted->get_int("Action"), 0);
    EXPECT_EQ(c->response(c->request(say)), 4);

    // Kick: Dave is out and told so; the others see him leave.
    EXPECT_EQ(b->response(b->request(admin(g, dave, 16))), 0);
    auto gone = d->until("GROUP UPDATE");
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->get_int("Contact-Id"), dave);
    auto left = a->until("GROUP UPDATE");
    ASSERT_TRUE(left);
    EXPECT_EQ(left->get_int("Contact-Id"), dave);
    EXPECT_EQ(left->get_int("Type"), 1);
    EXPECT_EQ(d->response(d->request(named("GROUP SUBSCRIBE", "G"))), 0);  // kicked may come back

    // Ban: Carol cannot come back, even after leaving; lifting it lets her.
    EXPECT_EQ(a->response(a->request(admin(g, carol, 4))), 0);
    auto banned = update_about(*c, carol);
    ASSERT_TRUE(banned);
    EXPECT_EQ(banned->get_int("Contact-Id"), carol);
    Packet leave("GROUP UNSUB");
    leave.set_id("Group-Id", uint64_t(g));
    EXPECT_EQ(c->response(c->request(leave)), 0);
    EXPECT_EQ(c->response(c->request(named("GROUP SUBSCRIBE", "G"))), 13);
    EXPECT_EQ(a->response(a->request(admin(g, carol, 0))), 0);
    EXPECT_EQ(c->response(c->request(named("GROUP SUBSCRIBE", "G"))), 0);

    // The administrator promotes; the roles show in the detail of the next sign-in.
    EXPECT_EQ(a->response(a->request(admin(g, dave, 1))), 0);
    a.reset();
    std::vector<Packet> got;
    auto a2 = signed_in("alice@x", 1, &got);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].get("Admin"),
              std::to_string(alice) + "|1," + std::to_string(bob) + "|2," + std::to_string(dave) + "|1");
}

}  // namespace
}  // namespace olvaro::server::testing
