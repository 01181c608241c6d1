// Presence and identity pushed to watchers; contact requests, answers and removal.
#include <map>

#include "fixture.h"

namespace olvaro::server::testing {
namespace {

using Contacts = ServerTest;

TEST_F(Contacts, PresenceAndIdentityReachEveryoneWhoListsTheUser) {
    int64_t alice = account("alice@x", "Alice");
    int64_t bob = account("bob@x");
    int64_t carol = account("carol@x");
    server_->list_contact(bob, alice);
    auto b = signed_in("bob@x");
    auto c = signed_in("carol@x");  // does not list alice: hears nothing
    auto a = signed_in("alice@x", 2);

    auto seen = b->until("CONTACT DETAIL");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->get_int("Contact-Id"), alice);
    EXPECT_EQ(seen->get_int("Online-Status"), 2);
    EXPECT_EQ(seen->get_int("State"), 3);

    Packet busy("CONTACT DETAIL");
    busy.set_int("Online-Status", 5);
    a->request(busy);
    seen = b->until("CONTACT DETAIL");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->get_int("Online-Status"), 5);

    Packet identity("CONTACT DETAIL");
    identity.set("Nickname", "Ally");
    identity.set("Status", "At lunch");
    a->request(identity);
    seen = b->until("CONTACT DETAIL");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->get("Nickname"), "Ally");
    EXPECT_EQ(seen->get("Status"), "At lunch");

    // Invisible looks offline to others; a bogus presence value is ignored.
    Packet invisible("CONTACT DETAIL");
    invisible.set_int("Online-Status", 3);
    a->request(invisible);
    seen = b->until("CONTACT DETAIL");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->get_int("Online-Status"), 0);
    Packet bogus("CONTACT DETAIL");
    bogus.set_int("Online-Status", 77);
    a->request(bogus);
    EXPECT_FALSE(b->read(100));
    EXPECT_FALSE(c->read(1));

    // The new identity is kept for the next sign-in.
    a.reset();
    std::vector<Packet> got;
    auto again = signed_in("alice@x", 1, &got);
    EXPECT_EQ(got.back().get("Nickname"), "Ally");
    EXPECT_EQ(got.back().get("Status"), "At lunch");
    (void)carol;
}

TEST_F(Contacts, RequestAcceptanceAndTheListsThatFollow) {
    int64_t alice = account("alice@x", "Alice");
    int64_t bob = account("bob@x", "Bob");
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");

    Packet add("CONTACT ADD");
    add.set("Name", "bob@x");
    add.body = "Hi Bob, it's Alice";
    EXPECT_EQ(a->response(a->request(add)), 0);
    // Bob is on Alice's list at once, waiting, with his presence hidden.
    auto waiting = a->until("CONTACT DETAIL");
    ASSERT_TRUE(waiting);
    EXPECT_EQ(waiting->get_int("Contact-Id"), bob);
    EXPECT_EQ(waiting->get_int("State"), 1);
    EXPECT_EQ(waiting->get_int("Online-Status"), 0);
    auto asked = b->until("CONTACT ADD");
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->get_int("Source-Id"), alice);
    EXPECT_EQ(asked->get("Name"), "alice@x");
    EXPECT_EQ(asked->body, "Hi Bob, it's Alice");

    Packet accept("CONTACT ADD RESP");
    accept.set_id("Source-Id", uint64_t(alice));
    accept.set_int("Accepted", 1);
    std::vector<Packet> skipped;
    EXPECT_EQ(b->response(b->request(accept), &skipped), 0);
    // Bob learns who he let in, not (yet) listed by him.
    auto about_alice = skipped.empty() ? b->until("CONTACT DETAIL") : std::optional<Packet>(skipped[0]);
    ASSERT_TRUE(about_alice);
    EXPECT_EQ(about_alice->get_int("Contact-Id"), alice);
    EXPECT_EQ(about_alice->get_int("State") & 1, 0);

    // Alice now lists Bob, with his presence.
    auto listed = a->until("CONTACT DETAIL");
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->get_int("Contact-Id"), bob);
    EXPECT_EQ(listed->get_int("State"), 3);
    EXPECT_EQ(listed->get_int("Online-Status"), 1);
    EXPECT_EQ(listed->get("Nickname"), "Bob");

    // Asking again: already listed. Answering a request nobody made: no such request.
    Packet again("CONTACT ADD");
    again.set("Target-Id", std::to_string(bob));
    EXPECT_EQ(a->response(a->request(again)), 12);
    EXPECT_EQ(b->response(b->request(accept)), 2);

    Packet unknown("CONTACT ADD");
    unknown.set("Name", "nobody@x");
    EXPECT_EQ(a->response(a->request(unknown)), 2);
    Packet self("CONTACT ADD");
    self.set("Target-Id", std::to_string(alice));
    EXPECT_EQ(a->response(a->request(self)), 2);

    // Removal is confirmed and survives a new sign-in.
    Packet remove("CONTACT UPDATE");
    remove.set_id("Contact-Id", uint64_t(bob));
    remove.set_int("Remove", 1);
    EXPECT_EQ(a->response(a->request(remove)), 0);
    a.reset();
    std::vector<Packet> got;
    auto again_a = signed_in("alice@x", 1, &got);
    EXPECT_EQ(got.size(), 1u);  // only "LOGON SUCCESSFUL": nobody listed
}

// An id is guessable; the address behind it is told only to those who
// already know the account: asked by address, listed, or in a group with it.
TEST_F(Contacts, AnAddressIsToldOnlyToThoseWhoKnowTheAccount) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x", "Bob");
    int64_t carol = account("carol@x", "Carol");
    auto a = signed_in("alice@x");
    auto detail_after = [&](Packet add) {
        EXPECT_EQ(a->response(a->request(add)), 0);
        return a->until("CONTACT DETAIL");
    };
    Packet by_id("CONTACT ADD");
    by_id.set_id("Target-Id", uint64_t(bob));
    auto guessed = detail_after(by_id);
    ASSERT_TRUE(guessed);
    EXPECT_FALSE(guessed->has("Name")) << guessed->get("Name");
    EXPECT_EQ(guessed->get("Nickname"), "Bob");
    Packet by_name("CONTACT ADD");
    by_name.set("Name", "carol@x");
    auto given = detail_after(by_name);
    ASSERT_TRUE(given);
    EXPECT_EQ(given->get("Name"), "carol@x");
    // At the next sign-in the waiting requests say the same.
    a.reset();
    std::vector<Packet> got;
    a = signed_in("alice@x", 1, &got);
    std::map<int64_t, std::string> names;
    for (const Packet& p : got)
        if (p.command == "CONTACT DETAIL") names[int64_t(p.get_id("Contact-Id"))] = p.has("Name") ? p.get("Name") : "-";
    EXPECT_EQ(names, (std::map<int64_t, std::string>{{bob, "-"}, {carol, "carol@x"}}));
    // Once bob shares a group with alice, his address may be told.
    int64_t g = server_->create_group("G", "", "", bob);
    server_->set_member(g, alice, 0);
    Packet again("CONTACT ADD");
    again.set_id("Target-Id", uint64_t(bob));
    auto known = detail_after(again);
    ASSERT_TRUE(known);
    EXPECT_EQ(known->get("Name"), "bob@x");
}

TEST_F(Contacts, DeclinedRequestListsNothingAndOfflineRequestsWaitForSignIn) {
    int64_t alice = account("alice@x");
    account("bob@x");
    auto a = signed_in("alice@x");
    Packet add("CONTACT ADD");
    add.set("Name", "bob@x");
    add.body = "hello";
    EXPECT_EQ(a->response(a->request(add)), 0);
    ASSERT_TRUE(a->until("CONTACT DETAIL"));  // bob, waiting
    // A new sign-in still lists the unanswered request as waiting.
    a.reset();
    std::vector<Packet> got;
    a = signed_in("alice@x", 1, &got);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].get("Name"), "bob@x");
    EXPECT_EQ(got[0].get_int("State"), 1);

    // Bob was offline: the request comes after his sign-in's answer.
    auto b = signed_in("bob@x");
    auto asked = b->until("CONTACT ADD");
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->get_int("Source-Id"), alice);
    EXPECT_EQ(asked->body, "hello");

    Packet decline("CONTACT ADD RESP");
    decline.set_id("Source-Id", uint64_t(alice));
    EXPECT_EQ(b->response(b->request(decline)), 0);
    EXPECT_FALSE(a->read(100));
    b.reset();
    auto b2 = signed_in("bob@x");
    EXPECT_FALSE(b2->read(100));  // the answered request is gone
}

TEST_F(Contacts, TheAutomatedContactAcceptsAtOnce) {
    account("alice@x");
    int64_t bot = server_->create_account({"echo@x", "pw", "Echo", "", 1});
    auto a = signed_in("alice@x");
    Packet add("CONTACT ADD");
    add.set("Name", "echo@x");
    std::vector<Packet> skipped;
    EXPECT_EQ(a->response(a->request(add), &skipped), 0);
    auto listed = skipped.empty() ? a->until("CONTACT DETAIL") : std::optional<Packet>(skipped[0]);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->get_int("Contact-Id"), bot);
    EXPECT_EQ(listed->get_int("Device-Type"), 1);
    EXPECT_EQ(listed->get_int("Online-Status"), 1);
}

}  // namespace
}  // namespace olvaro::server::testing
