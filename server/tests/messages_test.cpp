// Messages chunk by chunk, stored messages, history, the automated contact,
// faults, and what survives a restart.
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "fixture.h"
#include "store.h"

namespace olvaro::server::testing {
namespace {

using Messages = ServerTest;

Packet chunk(int64_t target, const std::string& body, bool group = false) {
    Packet p("MESG");
    p.set_int("Mesg-Target", group ? 1 : 0);
    p.set_id("Target-Id", uint64_t(target));
    p.set("Content-Type", "text/plain");
    p.set_int("Last", 1);
    p.body = body;
    return p;
}

// Sends `payload` the way the client does: 512-byte chunks, the first under
// the message's id with "Total-Length" and the message's name, if any, later
// ones correlated to it.
std::vector<uint64_t> send_message(TestClient& c, int64_t target, const std::string& payload, uint64_t first_id,
                                   const std::string& key = "") {
    std::vector<uint64_t> ids;
    size_t off = 0;
    do {
        size_t len = std::min<size_t>(512, payload.size() - off);
        Packet p("MESG");
        uint64_t id = off == 0 ? first_id : first_id + 1000000 + off;
        p.set_id("Mesg-Id", id);
        p.set_int("Mesg-Target", 0);
        p.set_id("Target-Id", uint64_t(target));
        p.set("Content-Type", "application/octet-stream");
        if (off) p.set_id("Correlation-Id", first_id);
        else p.set("Mesg-Key", key);
        p.body = payload.substr(off, len);
        off += len;
        if (off == payload.size())
            p.set_int("Last", 1);
        else if (ids.empty())
            p.set_id("Total-Length", payload.size());
        c.send(p);
        ids.push_back(id);
    } while (off < payload.size());
    return ids;
}

// Reads whole messages as the client puts them together.
struct Received {
    std::string payload;
    Packet first;
};
std::vector<Received> receive(TestClient& c, size_t count, std::vector<Packet>* others = nullptr) {
    std::vector<Received> done;
    std::map<uint64_t, Received> partial;
    while (done.size() < count) {
        auto p = c.read();
        if (!p) break;
        if (p->command != "MESG") {
            if (others) others->push_back(*p);
            continue;
        }
        uint64_t corr = p->get_id("Correlation-Id");
        Received* r;
        if (corr) {
            auto it = partial.find(corr);
            EXPECT_NE(it, partial.end()) << "continuation of an unknown message";
            if (it == partial.end()) continue;
            r = &it->second;
        } else {
            r = &partial[p->get_id("Mesg-Id")];
            r->first = *p;
        }
        r->payload += p->body;
        if (p->has("Last")) {
            uint64_t key = corr ? corr : p->get_id("Mesg-Id");
            done.push_back(std::move(partial[key]));
            partial.erase(key);
        }
    }
    return done;
}

TEST_F(Messages, AChunkCarriesItsHeadersToTheTargetOnly) {
    int64_t alice = account("alice@x", "Alice");
    int64_t bob = account("bob@x");
    account("carol@x");
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");
    auto c = signed_in("carol@x");

    EXPECT_EQ(a->response(a->request(chunk(bob, "hi Bob"))), 4);
    auto m = b->until("MESG");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->get_id("Mesg-Id"), 32768u);
    EXPECT_EQ(m->get_int("Source-Id"), alice);
    EXPECT_EQ(m->get("Content-Type"), "text/plain");
    EXPECT_EQ(m->get("Name"), "Alice");
    EXPECT_TRUE(m->has("Last"));
    EXPECT_FALSE(m->has("Target-Id"));  // private: the client reads a target as a group
    EXPECT_FALSE(m->has("Hist"));
    EXPECT_EQ(m->body, "hi Bob");
    int sec = 0, usec = -1;
    ASSERT_EQ(sscanf(m->get("Timestamp").c_str(), "%d.%d", &sec, &usec), 2);
    EXPECT_GT(sec, 1700000000);
    EXPECT_GE(usec, 0);
    EXPECT_FALSE(c->read(50));

    EXPECT_EQ(a->response(a->request(chunk(99999, "nobody"))), 2);
}

TEST_F(Messages, A64KMessageIn512ByteChunksArrivesWhole) {
    account("alice@x");
    int64_t bob = account("bob@x");
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");
    std::string payload(65536, '\0');
    std::mt19937 rng(7);
    for (char& ch : payload) ch = char(rng());

    auto ids = send_message(*a, bob, payload, 40000);
    ASSERT_EQ(ids.size(), 128u);
    for (uint64_t id : ids) EXPECT_EQ(a->response(id), 4);

    auto got = receive(*b, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, payload);
    EXPECT_EQ(got[0].first.get_id("Total-Length"), 65536u);
    EXPECT_EQ(got[0].first.get_id("Mesg-Id"), 40000u);
}

TEST_F(Messages, GroupMessagesReachEveryMemberButTheSender) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    int64_t carol = account("carol@x");
    account("dave@x");
    int64_t g = server_->create_group("G", "", "", alice);
    server_->set_member(g, bob, 0);
    server_->set_member(g, carol, 0);
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");
    auto c = signed_in("carol@x");
    auto d = signed_in("dave@x");

    EXPECT_EQ(a->response(a->request(chunk(g, "hello all", true))), 4);
    for (TestClient* who : {b.get(), c.get()}) {
        auto m = who->until("MESG");
        ASSERT_TRUE(m);
        EXPECT_EQ(m->get_int("Target-Id"), g);
        EXPECT_EQ(m->get_int("Source-Id"), alice);
        EXPECT_EQ(m->body, "hello all");
    }
    EXPECT_FALSE(a->read(50));
    EXPECT_FALSE(d->read(1));
    EXPECT_EQ(d->response(d->request(chunk(g, "let me in", true))), 13);
}

TEST_F(Messages, StoredMessagesComeAfterSignInOnce) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    auto a = signed_in("alice@x");
    EXPECT_EQ(a->response(a->request(chunk(bob, "while you were out"))), 4);
    std::string long_one(1000, 'L');
    auto ids = send_message(*a, bob, long_one, 50000);
    for (uint64_t id : ids) EXPECT_EQ(a->response(id), 4);

    // Bob never signed in, yet his first sign-in asks for what waits.
    std::vector<Packet> got;
    auto b = signed_in("bob@x", 1, &got);
    ASSERT_TRUE(got.back().has("Last-Online"));
    Packet stored("MESG STORED");
    stored.set_int("Count", 0);
    stored.set("Include-self", "0");
    stored.set("From-Private", std::to_string(got.back().get_int("Last-Online") + 1) + ".0");
    uint64_t req = b->request(stored);
    auto messages = receive(*b, 2);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].payload, "while you were out");
    EXPECT_EQ(messages[1].payload, long_one);
    EXPECT_EQ(messages[1].first.get_id("Total-Length"), 1000u);
    EXPECT_EQ(messages[1].first.get_int("Source-Id"), alice);
    auto done = b->read();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->command, "RESPONSE");
    EXPECT_EQ(done->get_id("Mesg-Id"), req);
    EXPECT_NE(code_of(*done), 0);

    // Delivered means gone from the queue.
    b.reset();
    auto b2 = signed_in("bob@x", 1, &got);
    stored.set("From-Private", std::to_string(got.back().get_int("Last-Online") + 1) + ".0");
    std::vector<Packet> before;
    EXPECT_NE(b2->response(b2->request(stored), &before), 0);
    EXPECT_TRUE(before.empty());
}

Packet stored_request(const char* from_private, const char* from_group) {
    Packet p("MESG STORED");
    p.set_int("Count", 0);
    p.set("Include-self", "0");
    if (from_private) p.set("From-Private", from_private);
    if (from_group) p.set("From-Group", from_group);
    return p;
}

// Whole messages out of packets already read, put together as the client does.
std::vector<Received> assemble(const std::vector<Packet>& packets) {
    std::vector<Received> done;
    std::map<uint64_t, Received> partial;
    for (const Packet& p : packets) {
        if (p.command != "MESG") continue;
        uint64_t corr = p.get_id("Correlation-Id");
        uint64_t key = corr ? corr : p.get_id("Mesg-Id");
        Received& r = partial[key];
        if (!corr) r.first = p;
        r.payload += p.body;
        if (p.has("Last")) {
            done.push_back(std::move(r));
            partial.erase(key);
        }
    }
    EXPECT_TRUE(partial.empty()) << "a message without its last chunk";
    return done;
}

// The messages sent before the request's final answer (code 0 keeps it open).
int64_t final_answer(TestClient& c, uint64_t id, std::vector<Received>* messages) {
    std::vector<Packet> before;
    int64_t code;
    while ((code = c.response(id, &before)) == 0) {}
    *messages = assemble(before);
    return code;
}

TEST_F(Messages, GroupMessagesAreKeptForOfflineMembersAndComeOnlyWhenAskedFrom) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    int64_t carol = account("carol@x");
    int64_t dave = account("dave@x");
    int64_t g = server_->create_group("G", "", "", alice);
    server_->set_member(g, bob, 0);
    server_->set_member(g, carol, 0);
    auto a = signed_in("alice@x");
    auto c = signed_in("carol@x");
    EXPECT_EQ(a->response(a->request(chunk(g, "while you were out", true))), 4);
    EXPECT_EQ(a->response(a->request(chunk(bob, "private one"))), 4);
    auto live = c->until("MESG");  // carol was there: her copy carries the time all copies keep
    ASSERT_TRUE(live);
    server_->set_member(g, dave, 0);  // joins after it was said

    auto b = signed_in("bob@x");
    std::vector<Received> got;
    EXPECT_NE(final_answer(*b, b->request(stored_request("1.0", nullptr)), &got), 0);
    ASSERT_EQ(got.size(), 1u);  // no "From-Group": private ones only
    EXPECT_EQ(got[0].payload, "private one");
    EXPECT_FALSE(got[0].first.has("Target-Id"));

    // Said while he is here: live, and not his to fetch again.
    EXPECT_EQ(a->response(a->request(chunk(g, "now", true))), 4);
    auto now = b->until("MESG");
    ASSERT_TRUE(now);
    EXPECT_EQ(now->body, "now");
    got.clear();
    EXPECT_NE(final_answer(*b, b->request(stored_request(nullptr, "1.0")), &got), 0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, "while you were out");
    EXPECT_EQ(got[0].first.get_int("Target-Id"), g);
    EXPECT_EQ(got[0].first.get_int("Source-Id"), alice);
    EXPECT_EQ(got[0].first.get("Timestamp"), live->get("Timestamp"));
    EXPECT_FALSE(got[0].first.has("Hist"));

    // Dave was not a member then, only for the later one; Carol got it live
    // and asks from after it.
    auto d = signed_in("dave@x");
    got.clear();
    EXPECT_NE(final_answer(*d, d->request(stored_request("1.0", "1.0")), &got), 0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, "now");
    c.reset();
    auto c2 = signed_in("carol@x");
    int sec = 0;
    ASSERT_EQ(sscanf(live->get("Timestamp").c_str(), "%d", &sec), 1);
    std::string after = std::to_string(sec + 2) + ".0";
    got.clear();
    EXPECT_NE(final_answer(*c2, c2->request(stored_request(after.c_str(), after.c_str())), &got), 0);
    for (const Received& r : got) EXPECT_NE(r.payload, "while you were out");
}

TEST_F(Messages, AMemberWhoSignsInMidGroupMessageGetsItWhole) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    int64_t g = server_->create_group("G", "", "", alice);
    server_->set_member(g, bob, 0);
    auto a = signed_in("alice@x");
    Packet first = chunk(g, std::string(512, 'a'), true);
    first.headers.erase("last");
    first.set_int("Total-Length", 600);
    uint64_t id = a->request(first);
    EXPECT_EQ(a->response(id), 4);
    auto b = signed_in("bob@x");
    Packet rest = chunk(g, std::string(88, 'b'), true);
    rest.set_id("Correlation-Id", id);
    EXPECT_EQ(a->response(a->request(rest)), 4);
    auto got = receive(*b, 1);
    ASSERT_EQ(got.size(), 1u);  // no stray tail without its head
    EXPECT_EQ(got[0].payload, std::string(512, 'a') + std::string(88, 'b'));
    EXPECT_EQ(got[0].first.get_int("Target-Id"), g);
}

TEST_F(Messages, GroupHistoryHonoursANegativeCount) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    int64_t g = server_->create_group("G", "", "", alice);
    server_->set_member(g, bob, 0);
    auto a = signed_in("alice@x");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(a->response(a->request(chunk(g, "g" + std::to_string(i), true))), 4);
    auto b = signed_in("bob@x");
    Packet hist("MESG HIST");
    hist.set("From-Group", "2000000000.5");
    hist.set_id("Source-Id", uint64_t(g));
    hist.set_int("Count", -2);
    uint64_t id = b->request(hist);
    EXPECT_EQ(b->response(id), 0);
    std::vector<Packet> page;
    EXPECT_EQ(b->response(id, &page), 1);
    ASSERT_EQ(page.size(), 2u);
    EXPECT_EQ(page[0].body, "g3");
    EXPECT_EQ(page[1].body, "g2");
    for (const Packet& m : page) {
        EXPECT_TRUE(m.has("Hist"));
        EXPECT_EQ(m.get_int("Target-Id"), g);
    }
}

TEST_F(Messages, AStoredBacklogBeyondTheOutputLimitStillArrivesWhole) {
    Config config;
    config.max_output = 64 << 10;
    start(config);
    account("alice@x");
    int64_t bob = account("bob@x");
    auto a = signed_in("alice@x");
    std::vector<std::string> sent;
    for (int i = 0; i < 12; ++i) {
        sent.push_back(std::string(20000, char('a' + i)));
        for (uint64_t id : send_message(*a, bob, sent.back(), 60000 + i * 100)) EXPECT_EQ(a->response(id), 4);
    }
    auto b = signed_in("bob@x");
    std::vector<Received> got;
    EXPECT_NE(final_answer(*b, b->request(stored_request("1.0", nullptr)), &got), 0);
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(got[i].payload, sent[i]) << i;
}

TEST_F(Messages, UnfinishedMessagesOfOneSenderAreBounded) {
    Config config;
    config.max_message = 4096;
    start(config);
    account("alice@x");
    int64_t bob = account("bob@x");
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");
    auto open = [&](TestClient& from, const std::string& body) {
        Packet p = chunk(bob, body);
        p.headers.erase("last");
        return from.response(from.request(p));
    };
    for (int i = 0; i < 8; ++i) EXPECT_EQ(open(*a, std::string(512, 'x')), 4) << i;
    EXPECT_EQ(open(*a, "one byte too many"), 13);  // 4096 bytes already open
    EXPECT_EQ(a->response(a->request(chunk(bob, "a whole one still goes"))), 4);

    a.reset();  // leaving drops what was open
    auto a2 = signed_in("alice@x");
    for (int i = 0; i < 16; ++i) EXPECT_EQ(open(*a2, "x"), 4) << i;
    EXPECT_EQ(open(*a2, "x"), 13);  // too many at once
}

// What one account may keep on the server is bounded, with 13 past it; and
// delivered private messages do not stay for ever.
TEST_F(Messages, QuotasRefuseWith13AndDeliveredPrivateMessagesArePruned) {
    Config config;
    config.max_waiting_bytes_per_sender = 3000;
    config.max_groups_per_account = 2;
    config.keep_private_seconds = 1;
    start(config);
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");  // offline: what alice sends him waits
    auto a = signed_in("alice@x");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(a->response(a->request(chunk(bob, std::string(1000, 'x')))), 4) << i;
    EXPECT_EQ(a->response(a->request(chunk(bob, "one more"))), 13);
    EXPECT_EQ(a->response(a->request(chunk(alice, "to herself, too"))), 13);
    for (const char* name : {"One", "Two"}) {
        Packet create("GROUP CREATE");
        create.set("Name", name);
        EXPECT_EQ(a->response(a->request(create)), 0) << name;
    }
    Packet third("GROUP CREATE");
    third.set("Name", "Three");
    EXPECT_EQ(a->response(a->request(third)), 13);

    // bob takes his messages: alice may send again, and once delivered and
    // old enough they go.
    auto b = signed_in("bob@x");
    Packet stored("MESG STORED");
    stored.set("From-Private", "1.0");
    b->request(stored);
    EXPECT_EQ(receive(*b, 3).size(), 3u);
    EXPECT_EQ(a->response(a->request(chunk(bob, "now it goes"))), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    server_->tidy();
    Packet hist("MESG HIST");
    hist.set_id("Source-Id", uint64_t(alice));
    EXPECT_EQ(b->response(b->request(hist)), 0);
    EXPECT_FALSE(b->until("MESG", nullptr, 300)) << "nothing delivered is kept past its time";
}

// The quota is asked at every message sent: what a sender has delivered
// long ago must not make each of its messages slower.
TEST(MessageStore, TheQuotaCheckDoesNotGrowWithDeliveredHistory) {
    Store store;
    ASSERT_TRUE(store.open(":memory:", nullptr));
    for (int i = 0; i < 20000; ++i) {
        int64_t row = store.add_message(1000, 1001, false, uint64_t(i), "text/plain", i, true, true);
        store.add_chunk(row, 0, std::string(100, 'm'));
    }
    int64_t waiting = store.add_message(1000, 1001, false, 20000, "text/plain", 20000, true, false);
    store.add_chunk(waiting, 0, "still waiting");
    store.commit();
    timespec t0{}, t1{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);  // the processor time, so a busy machine cannot fail it
    for (int i = 0; i < 200; ++i) ASSERT_EQ(store.waiting_bytes_from(1000), 13);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
    double ms = double(t1.tv_sec - t0.tv_sec) * 1e3 + double(t1.tv_nsec - t0.tv_nsec) / 1e6;
    EXPECT_LT(ms, 50.0) << "200 checks over 20,000 delivered messages";
}

// The write-ahead log starts over once it is copied back, unless a read is
// still open; a question left on its answer row must not hold one open.
TEST(MessageStore, TheWriteAheadLogStaysSmallWhileMessagesComeAndGo) {
    char dir[] = "/tmp/olvaro-store-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string path = std::string(dir) + "/server.db";
    {
        Store store;
        ASSERT_TRUE(store.open(path, nullptr));
        for (int i = 0; i < 3000; ++i) {  // 30 MB through the log
            int64_t row = store.add_message(1000, 1001, false, uint64_t(i), "text/plain", i, true, false);
            store.add_chunk(row, 0, std::string(10000, 'm'));
            store.waiting_bytes_from(1000);
            store.commit();
            store.delete_message(row);
            store.commit();
        }
        struct stat st{};
        ASSERT_EQ(stat((path + "-wal").c_str(), &st), 0);
        EXPECT_LT(st.st_size, 8 << 20);
    }
    for (const char* end : {"", "-wal", "-shm", ".key"}) unlink((path + end).c_str());
    rmdir(dir);
}

TEST_F(Messages, HistoryPagesNewestFirstAndSaysWhenNothingIsOlder) {
    account("alice@x");
    int64_t bob = account("bob@x");
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a->response(a->request(chunk(bob, "m" + std::to_string(i)))), 4);
    receive(*b, 5);

    Packet hist("MESG HIST");
    hist.set("From-Private", "2000000000.0");
    hist.set_id("Source-Id", uint64_t(bob));
    hist.set_int("Count", -3);
    uint64_t id = a->request(hist);
    EXPECT_EQ(a->response(id), 0);
    std::vector<Packet> page;
    EXPECT_EQ(a->response(id, &page), 1);  // more remain
    ASSERT_EQ(page.size(), 3u);
    EXPECT_EQ(page[0].body, "m4");
    EXPECT_EQ(page[1].body, "m3");
    EXPECT_EQ(page[2].body, "m2");
    for (const Packet& m : page) EXPECT_TRUE(m.has("Hist"));

    hist.set("From-Private", page[2].get("Timestamp"));
    id = a->request(hist);
    EXPECT_EQ(a->response(id), 0);
    page.clear();
    EXPECT_EQ(a->response(id, &page), 8);
    ASSERT_EQ(page.size(), 2u);
    EXPECT_EQ(page[0].body, "m1");
    EXPECT_EQ(page[1].body, "m0");

    hist.set_id("Source-Id", 424242);
    EXPECT_EQ(b->response(b->request(hist)), 2);
    Packet group("MESG HIST");
    group.set("From-Group", "2000000000.0");
    group.set_id("Source-Id", 77);
    group.set_int("Count", -3);
    EXPECT_EQ(a->response(a->request(group)), 2);
}

TEST_F(Messages, LostChunksAndUnknownContinuationsAskForTheWholeMessageAgain) {
    account("alice@x");
    int64_t bob = account("bob@x");
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");

    Packet orphan = chunk(bob, "tail");
    orphan.set_id("Correlation-Id", 123456);
    EXPECT_EQ(a->response(a->request(orphan)), 100);

    server_->set_lose_chunks(true);
    EXPECT_EQ(a->response(a->request(chunk(bob, "lost"))), 100);
    EXPECT_FALSE(b->read(50));
    server_->set_lose_chunks(false);
    EXPECT_EQ(a->response(a->request(chunk(bob, "found"))), 4);
    auto m = b->until("MESG");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->body, "found");
}

TEST_F(Messages, ASenderThatDropsMidMessageLeavesNothingBehind) {
    account("alice@x");
    int64_t bob = account("bob@x");
    {
        auto a = signed_in("alice@x");
        Packet first = chunk(bob, std::string(512, 'x'));
        first.headers.erase("last");
        first.set_int("Total-Length", 1024);
        EXPECT_EQ(a->response(a->request(first)), 4);
    }
    std::vector<Packet> got;
    auto b = signed_in("bob@x", 1, &got);
    EXPECT_FALSE(got.back().has("Last-Online"));  // nothing waits for him
}

TEST_F(Messages, ARecipientWhoSignsInMidMessageGetsItWhole) {
    account("alice@x");
    int64_t bob = account("bob@x");
    auto a = signed_in("alice@x");
    Packet first = chunk(bob, std::string(512, 'a'));
    first.headers.erase("last");
    first.set_int("Total-Length", 600);
    uint64_t id = a->request(first);
    EXPECT_EQ(a->response(id), 4);
    auto b = signed_in("bob@x");  // the first chunk went nowhere
    Packet rest = chunk(bob, std::string(88, 'b'));
    rest.set_id("Correlation-Id", id);
    EXPECT_EQ(a->response(a->request(rest)), 4);
    auto got = receive(*b, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, std::string(512, 'a') + std::string(88, 'b'));
}

TEST_F(Messages, TheAutomatedContactAnswersEveryMessage) {
    account("alice@x");
    int64_t bot = server_->create_account({"echo@x", "pw", "Echo", "", 1});
    auto a = signed_in("alice@x");
    std::vector<Packet> skipped;
    EXPECT_EQ(a->response(a->request(chunk(bot, "hello")), &skipped), 4);
    auto answer = skipped.empty() ? a->until("MESG") : std::optional<Packet>(skipped[0]);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->get_int("Source-Id"), bot);
    EXPECT_EQ(answer->body, "You said: hello");
    EXPECT_TRUE(answer->has("Last"));

    // Photos and voice come back whole, once, in their own type.
    for (const char* type : {"image/jpeg", "audio/x-speex", "audio/ms-gsm"}) {
        std::string payload(1300, type[0]);
        payload[7] = '\0';
        size_t off = 0;
        uint64_t first = 0;
        std::vector<Packet> seen;
        do {
            Packet p("MESG");
            p.set_int("Mesg-Target", 0);
            p.set_id("Target-Id", uint64_t(bot));
            p.set("Content-Type", type);
            if (first) p.set_id("Correlation-Id", first);
            p.body = payload.substr(off, 512);
            off += p.body.size();
            if (off == payload.size()) p.set_int("Last", 1);
            uint64_t id = a->request(p);
            if (!first) first = id;
            EXPECT_EQ(a->response(id, &seen), 4);
        } while (off < payload.size());
        auto echo = assemble(seen);
        ASSERT_EQ(echo.size(), 1u) << type;
        EXPECT_EQ(echo[0].first.get("Content-Type"), type);
        EXPECT_EQ(echo[0].first.get_int("Source-Id"), bot);
        EXPECT_EQ(echo[0].payload, payload);
    }
    EXPECT_FALSE(a->until("MESG", nullptr, 100));
}

// A sender that lost the answers with its link restarts the message under a
// new id, though the server holds it whole: the copy is answered as
// delivered, but neither kept nor delivered again, after a server restart
// too. A restart of one still on its way replaces it; a name the server no
// longer keeps, or another run's, is a new message.
TEST_F(Messages, ARestartedCopyOfAMessageHeldWholeIsAnsweredButNotDeliveredAgain) {
    char dir[] = "/tmp/olvaro-server-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string db = std::string(dir) + "/server.db";
    Config config;
    config.database = db;
    start(config);
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    auto b = signed_in("bob@x");
    std::string payload(1300, 'k');
    {
        auto a = signed_in("alice@x");
        send_message(*a, bob, payload, 40000, "r1-40000");
        ASSERT_EQ(receive(*b, 1).size(), 1u);
    }  // gone before it read the answers
    auto a = signed_in("alice@x");
    for (uint64_t id : send_message(*a, bob, payload, 50000, "r1-40000")) EXPECT_EQ(a->response(id), 4) << id;
    EXPECT_FALSE(b->until("MESG", nullptr, 200));

    a.reset();
    b.reset();
    server_.reset();
    config.keep_message_keys_seconds = 1;
    start(config);
    a = signed_in("alice@x");
    b = signed_in("bob@x");
    for (uint64_t id : send_message(*a, bob, payload, 50001, "r1-40000")) EXPECT_EQ(a->response(id), 4) << id;
    EXPECT_FALSE(b->until("MESG", nullptr, 200));

    // Restarted after its first chunk: bob sees that chunk begin a message
    // that never ends, then the copy whole.
    Packet begun = chunk(bob, std::string(512, 'h'));
    begun.headers.erase("last");
    begun.set("Mesg-Key", "r1-40002");
    uint64_t begun_id = a->request(begun);
    EXPECT_EQ(a->response(begun_id), 4);
    std::string half = std::string(512, 'h') + "alf";
    for (uint64_t id : send_message(*a, bob, half, 60000, "r1-40002")) EXPECT_EQ(a->response(id), 4) << id;
    auto got = receive(*b, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, half);
    // Another run starts its ids again: the same first id is another message.
    send_message(*a, bob, "again", 40000, "r2-40000");
    got = receive(*b, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, "again");

    Packet hist("MESG HIST");
    hist.set_id("Source-Id", uint64_t(alice));
    std::vector<Received> kept;
    EXPECT_EQ(final_answer(*b, b->request(hist), &kept), 8);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].payload, "again");
    EXPECT_EQ(kept[1].payload, half);
    EXPECT_EQ(kept[2].payload, payload);

    // Names are kept only so long.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    server_->tidy();
    send_message(*a, bob, payload, 50002, "r1-40000");
    got = receive(*b, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payload, payload);

    server_.reset();
    std::filesystem::remove_all(dir);
}

TEST_F(Messages, AccountsListsGroupsAndStoredMessagesSurviveARestart) {
    char dir[] = "/tmp/olvaro-server-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string db = std::string(dir) + "/server.db";
    Config config;
    config.database = db;
    start(config);
    int64_t alice = account("alice@x", "Alice");
    int64_t bob = account("bob@x", "Bob");
    server_->list_contact(bob, alice);
    int64_t g = server_->create_group("G", "desc", "", alice);
    server_->set_member(g, bob, 2);
    {
        auto a = signed_in("alice@x");
        EXPECT_EQ(a->response(a->request(chunk(bob, "kept"))), 4);
    }
    server_.reset();

    start(config);
    std::vector<Packet> got;
    auto b = signed_in("bob@x", 1, &got);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].get("Nickname"), "Alice");
    EXPECT_EQ(got[1].get("Admin"), std::to_string(alice) + "|1," + std::to_string(bob) + "|2");
    ASSERT_TRUE(got[2].has("Last-Online"));
    Packet stored("MESG STORED");
    stored.set("From-Private", "1.0");
    b->request(stored);
    auto m = receive(*b, 1);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].payload, "kept");
    server_.reset();
    unlink(db.c_str());
    unlink((db + "-wal").c_str());
    unlink((db + "-shm").c_str());
    unlink((db + ".key").c_str());
    rmdir(dir);
}

// olvaro-say, the demo's way to make a message arrive: one text from an
// account to a contact of it, and a clear failure for anyone else.
TEST_F(Messages, TheSayProgramSendsOneTextToAContactOnly) {
    std::string error;
    ASSERT_TRUE(server_->load_seed("account|a@x|pw|A|\naccount|b@x|pw|B|\naccount|c@x|pw|C|\nmutual|a@x|b@x\n",
                                   &error)) << error;
    std::vector<Packet> got;
    auto a = connect();
    got = a->sign_in("a@x", "pw");
    ASSERT_FALSE(got.empty());
    ASSERT_EQ(got.back().command, "LOGON SUCCESSFUL");
    auto say = [&](const std::string& args) {
        std::string line = std::string(OLVARO_SAY_PROGRAM) + " --port " + std::to_string(port_) + " " + args +
                           " 2>/dev/null";
        int rc = std::system(line.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
    ASSERT_EQ(say("b@x pw a@x 'See you at eight'"), 0);
    auto texts = receive(*a, 1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].payload, "See you at eight");
    EXPECT_EQ(texts[0].first.get("Content-Type"), "text/plain");
    EXPECT_EQ(texts[0].first.get_id("Source-Id"), uint64_t(server_->account_id("b@x")));

    EXPECT_EQ(say("b@x pw c@x hello"), 1) << "not a contact";
    EXPECT_EQ(say("b@x wrong a@x hello"), 1) << "refused sign-in";
    EXPECT_EQ(say("b@x pw a@x"), 2) << "no text";
    EXPECT_FALSE(a->until("MESG", nullptr, 200)) << "nothing else reached a@x";
}

}  // namespace
}  // namespace olvaro::server::testing
