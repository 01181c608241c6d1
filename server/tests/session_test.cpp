// Sign-in, refusal, ghosting, keep-alive, server settings and faults.
#include <chrono>
#include <regex>
#include <set>
#include <thread>

#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "fixture.h"
#include "store.h"

namespace olvaro::server::testing {
namespace {

using Session = ServerTest;

// Raw bytes up to the end of the packet that starts with `command`.
std::string read_through(TestClient& c, const std::string& command) {
    std::string got;
    for (int i = 0; i < 50; ++i) {
        size_t at = got.find(command);
        if (at != std::string::npos && got.find("\n\n", at) == got.size() - 2) break;
        got += c.read_raw(200);
    }
    return got;
}

TEST_F(Session, BulkSeedingGivesOneAccountManyContactsAndGroups) {
    int64_t busy = account("busy@x");
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(server_->seed_bulk(busy, 10000, 200, 50));
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, std::chrono::seconds(20));  // one transaction, not 20,000

    std::vector<Packet> got;
    auto c = signed_in("busy@x", 1, &got);
    ASSERT_EQ(got.size(), 10000u + 200u + 1u);
    std::set<int64_t> contacts;
    for (size_t i = 0; i < 10000; ++i) {
        ASSERT_EQ(got[i].command, "CONTACT DETAIL");
        EXPECT_EQ(got[i].get_int("State"), 3);
        contacts.insert(got[i].get_int("Contact-Id"));
    }
    EXPECT_EQ(contacts.size(), 10000u);
    for (size_t i = 10000; i < 10200; ++i) {
        ASSERT_EQ(got[i].command, "GROUP DETAIL");
        EXPECT_EQ(got[i].body.size(), 50u * 4u);
        EXPECT_EQ(got[i].get("Admin"), std::to_string(busy) + "|1");
    }
    // The seeded accounts sign in too, and may not take an id twice.
    auto seeded = connect();
    auto s = seeded->sign_in("seed" + std::to_string(*contacts.begin()) + "@seed.olvaro", "seed");
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.back().command, "LOGON SUCCESSFUL");
    EXPECT_EQ(account("after@x"), *contacts.rbegin() + 1);
    EXPECT_FALSE(server_->seed_bulk(424242, 1, 0, 0));
}

TEST_F(Session, FullSignInConversationByteForByte) {
    int64_t alice = account("alice@x", "Alice", "Hi");
    int64_t bob = account("bob@x", "Bob");
    ASSERT_EQ(alice, 1000);
    ASSERT_EQ(bob, 1001);
    ASSERT_TRUE(server_->list_contact(alice, bob));
    int64_t g = server_->create_group("G", "D", "", alice);
    ASSERT_TRUE(server_->set_member(g, bob, 0));

    auto c = connect();
    c->send_raw("LOGON\nApp-Type: SmartPhone\nOperator: PC_CLIENT\nProtocol-Version: 1.0\n\n");
    EXPECT_EQ(read_through(*c, "AUTH"), "AUTH\nauth-target: 0\nword-size: 4\n\n");
    c->send_raw("AUTH\ncontent-length: 10\nauth-target: 0\nencryption-type: 0\nname: alice@x\nonline-status: 1\n\n"
                "pw-alice@x");
    std::string got = read_through(*c, "LOGON SUCCESSFUL\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(got, m, std::regex("timestamp: ([0-9]+)\\.([0-9]+)\n")));
    std::string members("\0\0\x03\xe8\0\0\x03\xe9", 8);
    std::string expected =
        "CONTACT DETAIL\ncontact-id: 1001\ndevice-type: 0\nname: bob@x\nnickname: Bob\nonline-status: 0\nstate: 3\n\n"
        "GROUP DETAIL\nadmin: 1000|1\ncontent-length: 8\ndesc: D\ngroup-id: " + std::to_string(g) + "\nname: G\n\n" +
        members +
        "LOGON SUCCESSFUL\nnickname: Alice\nstatus: Hi\nsub-id: 1000\ntimestamp: " + m[1].str() + "." + m[2].str() +
        "\n\n";
    EXPECT_EQ(got, expected);
    // Microseconds are a plain number below a million, seconds are today's.
    EXPECT_LT(std::stoll(m[2].str()), 1000000);
    EXPECT_GT(std::stoll(m[1].str()), 1700000000);
}

TEST_F(Session, WrongPasswordOrUnknownAddressIsRefusedAndClosed) {
    account("alice@x");
    for (auto [email, password] : {std::pair{"alice@x", "nope"}, std::pair{"nobody@x", "pw"}}) {
        auto c = connect();
        auto got = c->sign_in(email, password);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].command, "LOGON FAILED");
        EXPECT_FALSE(got[0].get("reason").empty());
        EXPECT_TRUE(got[0].has("retry"));
        EXPECT_EQ(got[0].get_int("retry"), 0);
        EXPECT_TRUE(c->closed());
    }
    // The address is matched without regard to case.
    auto c = connect();
    auto ok = c->sign_in("ALICE@X", "pw-alice@x");
    ASSERT_FALSE(ok.empty());
    EXPECT_EQ(ok.back().command, "LOGON SUCCESSFUL");
}

// What the database keeps of a password: an Argon2id hash, with an earlier
// server's salted SHA-256 digest upgraded at the next right sign-in; and a
// bridged account's password only sealed, with a key beside the database.
TEST(Passwords, HashedUpgradedAndBridgedOnesSealedWithAKeyBesideTheDatabase) {
    char dir[] = "/tmp/olvaro-store-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string db = std::string(dir) + "/server.db";
    auto column = [&](const std::string& sql) {
        sqlite3* raw = nullptr;
        sqlite3_open(db.c_str(), &raw);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(raw, sql.c_str(), -1, &s, nullptr);
        std::string out;
        if (sqlite3_step(s) == SQLITE_ROW)
            out.assign(static_cast<const char*>(sqlite3_column_blob(s, 0)), size_t(sqlite3_column_bytes(s, 0)));
        sqlite3_finalize(s);
        sqlite3_close(raw);
        return out;
    };
    auto run = [&](const std::string& sql) {
        sqlite3* raw = nullptr;
        sqlite3_open(db.c_str(), &raw);
        EXPECT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sqlite3_close(raw);
    };
    int64_t old_id = 0, new_id = 0;
    {
        Store store;
        store.set_hash_cost(HashCost::least());
        std::string error;
        ASSERT_TRUE(store.open(db, &error)) << error;
        old_id = store.add_account("old@x", "pw-old", "", "", 0, 0);
        new_id = store.add_account("new@x", "pw-new", "", "", 0, 0);
        store.add_bridge(new_id, 6, {{"username", "ann"}, {"password", "xmpp-secret"}});
        store.commit();
    }
    struct stat key {};
    ASSERT_EQ(stat((db + ".key").c_str(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);
    EXPECT_EQ(column("SELECT digest FROM accounts WHERE email = 'new@x'").rfind("$argon2id$", 0), 0u);
    EXPECT_EQ(column("SELECT fields FROM bridges").find("xmpp-secret"), std::string::npos);

    // An earlier server's rows: a salted SHA-256 digest, a bridge in clear.
    unsigned char digest[crypto_hash_sha256_BYTES];
    std::string salted = "0123abcdpw-old";
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(salted.data()), salted.size());
    char hex[sizeof digest * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    run("UPDATE accounts SET salt = '0123abcd', digest = '" + std::string(hex) + "' WHERE id = " + std::to_string(old_id));
    run("INSERT INTO bridges(account, type, fields) VALUES(" + std::to_string(old_id) +
        ", 6, CAST('username' || char(0) || 'bob' || char(0) || 'password' || char(0) || 'old-secret' || char(0) AS BLOB))");
    {
        Store store;
        store.set_hash_cost(HashCost::least());
        std::string error;
        ASSERT_TRUE(store.open(db, &error)) << error;
        EXPECT_EQ(column("SELECT fields FROM bridges WHERE account = " + std::to_string(old_id)).find("old-secret"),
                  std::string::npos);
        ASSERT_EQ(store.bridges_of(old_id).size(), 1u);
        EXPECT_EQ(store.bridges_of(old_id)[0].field("password"), "old-secret");
        EXPECT_EQ(store.bridges_of(new_id)[0].field("password"), "xmpp-secret");
        store.commit();
    }
    // Signing in through the server: a wrong password leaves the old digest,
    // the right one replaces it with a hash.
    {
        Config config;
        config.database = db;
        config.quick_password_hashes = true;
        Server server(config);
        std::string error;
        ASSERT_TRUE(server.start(&error)) << error;
        auto outcome = [&](const char* email, const char* password) {
            auto got = TestClient(server.ports().at(0)).sign_in(email, password);
            return got.empty() ? std::string() : got.back().command;
        };
        EXPECT_EQ(outcome("old@x", "pw-new"), "LOGON FAILED");
        EXPECT_EQ(column("SELECT digest FROM accounts WHERE email = 'old@x'"), hex);
        EXPECT_EQ(outcome("old@x", "pw-old"), "LOGON SUCCESSFUL");
        EXPECT_EQ(outcome("new@x", "pw-new"), "LOGON SUCCESSFUL");
    }
    EXPECT_EQ(column("SELECT digest FROM accounts WHERE email = 'old@x'").rfind("$argon2id$", 0), 0u);
    EXPECT_EQ(column("SELECT salt FROM accounts WHERE email = 'old@x'"), "");

    // A damaged key is never replaced: what it sealed would be lost.
    std::filesystem::resize_file(db + ".key", 5);
    Store store;
    std::string error;
    EXPECT_FALSE(store.open(db, &error));
    EXPECT_NE(error.find("key"), std::string::npos) << error;
    std::filesystem::remove_all(dir);
}

// After three wrong passwords for one account from one address, that
// address waits before its next try at it, told how long, without the
// password being tried; the owner elsewhere and other accounts do not wait.
TEST_F(Session, RepeatedWrongPasswordsMakeThatAddressWaitForThatAccountOnly) {
    account("alice@x");
    account("bob@x");
    auto attempt = [&](const char* from, const char* email, const std::string& password) {
        auto c = connect(from);
        auto got = c->sign_in(email, password);
        return got.empty() ? Packet("NOTHING") : got.back();
    };
    for (int i = 0; i < 4; ++i) {
        Packet wrong = attempt("127.0.0.1", "alice@x", "guess" + std::to_string(i));
        ASSERT_EQ(wrong.command, "LOGON FAILED");
        EXPECT_EQ(wrong.get_int("retry"), 0);
    }
    Packet held = attempt("127.0.0.1", "ALICE@x", "pw-alice@x");
    EXPECT_EQ(held.command, "LOGON FAILED");
    EXPECT_GE(held.get_int("retry"), 1);
    EXPECT_NE(held.get("reason").find("Try again in"), std::string::npos) << held.get("reason");
    EXPECT_EQ(attempt("127.0.0.2", "alice@x", "pw-alice@x").command, "LOGON SUCCESSFUL");
    EXPECT_EQ(attempt("127.0.0.1", "bob@x", "pw-bob@x").command, "LOGON SUCCESSFUL");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(attempt("127.0.0.1", "alice@x", "pw-alice@x").command, "LOGON SUCCESSFUL");
}

TEST_F(Session, PacketsBeforeSignInCloseTheConnection) {
    account("alice@x");
    auto c = connect();
    c->send_raw("MESG\ntarget-id: 1000\n\n");
    EXPECT_TRUE(c->closed());
}

TEST_F(Session, SecondSignInGhostsTheFirstWithoutShowingTheAccountOffline) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    server_->list_contact(bob, alice);
    auto watcher = signed_in("bob@x");
    auto first = signed_in("alice@x");
    auto online = watcher->until("CONTACT DETAIL");
    ASSERT_TRUE(online);
    EXPECT_EQ(online->get_int("Online-Status"), 1);

    auto second = signed_in("alice@x", 2);
    auto ghosted = first->read();
    ASSERT_TRUE(ghosted);
    EXPECT_EQ(ghosted->command, "GHOSTED");
    EXPECT_TRUE(first->closed());
    auto update = watcher->until("CONTACT DETAIL");
    ASSERT_TRUE(update);
    EXPECT_EQ(update->get_int("Online-Status"), 2);
    EXPECT_FALSE(watcher->read(150));  // no "offline" for the replaced link
    EXPECT_EQ(server_->signed_in_count(), 2u);
}

TEST_F(Session, LastOnlineComesFromTheSecondSignInAndPresenceFallsWhenTheLinkEnds) {
    int64_t alice = account("alice@x");
    account("bob@x");
    server_->list_contact(server_->account_id("bob@x"), alice);
    std::vector<Packet> got;
    auto c = signed_in("alice@x", 1, &got);
    EXPECT_FALSE(got.back().has("Last-Online"));
    auto watcher = signed_in("bob@x");
    c->disconnect();
    auto off = watcher->until("CONTACT DETAIL");
    ASSERT_TRUE(off);
    EXPECT_EQ(off->get_int("Online-Status"), 0);
    auto again = signed_in("alice@x", 1, &got);
    EXPECT_GT(got.back().get_int("Last-Online"), 1700000000);
}

TEST_F(Session, KeepAlivePingsAQuietClientAndDropsOneThatNeverAnswers) {
    Config config;
    config.client_interval_ms = 40;
    config.ping_margin_ms = 20;
    config.grace_ms = 60;
    config.interval_unit_ms = 100;
    start(config);
    account("alice@x");
    account("bob@x");

    // Answering every ping keeps the link long past the time-out.
    auto answering = signed_in("alice@x");
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    int pings = 0;
    while (std::chrono::steady_clock::now() < until) {
        auto p = answering->read(100, true);
        if (p && p->command == "P") {
            ++pings;
            answering->send(Packet("P"));
        }
    }
    EXPECT_GE(pings, 2);
    EXPECT_FALSE(answering->closed(1));

    // A longer announced interval ("i", here in units of 100 ms) delays the next ping.
    Packet slow("P");
    slow.set_int("I", 3);
    answering->send(slow);
    auto t0 = std::chrono::steady_clock::now();
    auto next = answering->read(3000, true);
    ASSERT_TRUE(next);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(290));

    auto silent = signed_in("bob@x");
    auto ping = silent->read(2000, true);
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->command, "P");
    EXPECT_TRUE(silent->closed());
}

TEST_F(Session, AConnectionThatNeverSignsInIsClosed) {
    Config config;
    config.sign_in_timeout_ms = 50;
    start(config);
    auto c = connect();
    EXPECT_TRUE(c->closed());
}

TEST_F(Session, SettingsArePushedToSignedInAccountsOnly) {
    int64_t alice = account("alice@x");
    EXPECT_FALSE(server_->push_setting(alice, "a", "1"));
    auto c = signed_in("alice@x");
    EXPECT_FALSE(server_->push_setting(alice, "a", "two\nlines"));
    ASSERT_TRUE(server_->push_setting(alice, "Connection/Servers/List", "h:1,h:2"));
    auto s = c->read();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->command, "SETTING");
    EXPECT_EQ(s->get("Name"), "Connection/Servers/List");
    EXPECT_EQ(s->get("Value"), "h:1,h:2");
}

TEST_F(Session, WordSizeEightWidensMemberIds) {
    Config config;
    config.word_size = 8;
    start(config);
    int64_t alice = account("alice@x");
    server_->create_group("G", "", "", alice);
    std::vector<Packet> got;
    auto c = signed_in("alice@x", 1, &got);
    EXPECT_EQ(c->word_size, 8);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].command, "GROUP DETAIL");
    EXPECT_EQ(got[0].body, std::string("\0\0\0\0\0\0\x03\xe8", 8));
}

TEST_F(Session, FaultsRefuseDropAndDelay) {
    account("alice@x");
    Faults f;
    f.refuse_sign_in = true;
    f.refuse_reason = "Down for maintenance";
    f.refuse_retry = 1;
    server_->set_faults(f);
    {
        auto c = connect();
        auto got = c->sign_in("alice@x", "pw-alice@x");
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].get("reason"), "Down for maintenance");
        EXPECT_EQ(got[0].get_int("retry"), 1);
        EXPECT_TRUE(c->closed());
    }
    f = {};
    f.drop_after_packets = 2;  // "AUTH", then the first packet of the sign-in
    server_->set_faults(f);
    {
        auto c = connect();
        auto got = c->sign_in("alice@x", "pw-alice@x");
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].command, "LOGON SUCCESSFUL");
        EXPECT_TRUE(c->closed());
    }
    f = {};
    f.delay_ms = 150;
    server_->set_faults(f);
    {
        auto c = connect();
        c->send(Packet("LOGON"));
        EXPECT_FALSE(c->read(60));
        EXPECT_TRUE(c->read(2000));
    }
}

TEST_F(Session, NoKeepAliveFaultSilencesPings) {
    Config config;
    config.client_interval_ms = 20;
    config.ping_margin_ms = 10;
    config.grace_ms = 5000;
    config.faults.no_keepalive = true;
    start(config);
    account("alice@x");
    auto c = signed_in("alice@x");
    EXPECT_FALSE(c->read(200, true));
    server_->set_faults({});
    auto p = c->read(2000, true);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->command, "P");
}

}  // namespace
}  // namespace olvaro::server::testing
