// Messages of mixed sizes from the client under test to a second account
// through the real server, while links drop at random moments and the server
// restarts on the same port and database. Every message must arrive whole at
// least once, none corrupted or mixed with another, and none twice: a message
// restarted after its chunks got through but before the acknowledgements
// came back keeps its name, so the server answers the copy without
// delivering it again.
//
// OLVARO_CHAOS_MESSAGES and OLVARO_CHAOS_RESTARTS set the size of the run
// (default 1,000 and 5).
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "messenger_fixture.h"

using namespace conntest;

namespace {

int envInt(const char* name, int fallback) {
  const char* v = getenv(name);
  return v && *v ? atoi(v) : fallback;
}

// Message i: "#i:" and bytes that follow from i alone, so a message can be
// checked without keeping what was sent. Every tenth is a 64 KB binary one.
std::string payloadOf(int i, std::string* type) {
  std::mt19937 rng(uint32_t(i) * 2654435761u);
  bool binary = i % 10 == 9;
  size_t size = binary ? 64 * 1024 : 1 + rng() % (5 * 1024);
  *type = binary ? "application/octet-stream" : "text/plain";
  std::string s = "#" + std::to_string(i) + ":";
  while (s.size() < size) s += binary ? char(rng()) : char('a' + rng() % 26);
  s.resize(std::max(size, s.size()));
  return s;
}

class ChaosTest : public MessengerTest {};

TEST_F(ChaosTest, EveryMessageArrivesWholeThroughDropsAndRestarts) {
  const int total = envInt("OLVARO_CHAOS_MESSAGES", 1000);
  const int restarts = envInt("OLVARO_CHAOS_RESTARTS", 5);
  srv::Config config = restartableServer("chaos");
  ASSERT_TRUE(server);
  signIn();

  std::mt19937 rng(20261209);
  std::unique_ptr<WireClient> b;
  long newestSeen = 0;  // server seconds of the newest message bob saw
  // bob (re)connects and asks for what was kept for him and for what came
  // since the second of the newest message he saw: a restart can lose what
  // the server had already sent him, and times are whole seconds. What
  // comes twice that way has the same id and is not a duplicate.
  auto connectBob = [&] {
    b = std::make_unique<WireClient>(config.ports[0]);
    if (!b->signIn("bob@example.org", "bobpass1")) {
      b.reset();
      return;
    }
    Packet stored("MESG STORED");
    stored.setHeaderInt("Count", 0);
    stored.setHeader("Include-self", "0");
    stored.setHeader("From-Private", std::to_string(newestSeen) + ".0");
    b->request(stored);
  };
  connectBob();
  ASSERT_TRUE(b);

  std::map<int, std::set<uint64_t>> arrivals;  // message index: ids it came under
  int corrupted = 0, sent = 0, restartsDone = 0;
  auto started = std::chrono::steady_clock::now();
  auto timeLimit = std::chrono::seconds(60 + total / 5);
  int nextChaos = 20 + int(rng() % 50);
  ContactRef to = contact(bob);
  while (int(arrivals.size()) < total && std::chrono::steady_clock::now() - started < timeLimit) {
    // A few more messages onto the way.
    for (int k = 0; k < 4 && sent < total; ++k, ++sent) {
      std::string type, payload = payloadOf(sent, &type);
      HMessage* m = nullptr;
      KS_SendMessage(to.handle, 0, type.c_str(), payload.data(), int(payload.size()), 1, &m);
      if (m) KS_ReleaseMessage(m);
    }
    testkit::pump();
    if (b) {
      WireMessage got;
      while (b->nextMessage(&got, 0)) {
        newestSeen = std::max(newestSeen, atol(got.timestamp.c_str()));
        size_t colon = got.payload.find(':');
        int index = colon != std::string::npos && got.payload[0] == '#' ? atoi(got.payload.c_str() + 1) : -1;
        std::string type;
        if (index < 0 || index >= total || got.payload != payloadOf(index, &type) || got.contentType != type)
          ++corrupted;
        else
          arrivals[index].insert(got.id);
      }
      if (b->closed()) b.reset();
    }
    // Restarts at even steps through the run, drops at random in between.
    if (restartsDone < restarts && sent >= (restartsDone + 1) * total / (restarts + 1)) {
      ++restartsDone;
      server.reset();
      b.reset();
      server = startServer(config);
      ASSERT_TRUE(server);
    } else if (--nextChaos <= 0) {
      nextChaos = 20 + int(rng() % 80);
      // A drop some packets from now, on every link.
      srv::Faults drop;
      drop.drop_after_packets = 5 + rng() % 200;
      server->set_faults(drop);
      settle(int(rng() % 20));
      server->set_faults(srv::Faults());
    }
    if (!b) connectBob();
    // The client reconnects after its own delay, on the platform clock.
    if (state() != 100) runClock(5000, 5000);
    settle(1);
  }
  int duplicates = 0;
  for (auto& [index, ids] : arrivals) duplicates += int(ids.size()) - 1;
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  printf("chaos: %d messages, %d restarts, %d arrived, %d duplicates, %d corrupted, %.1f s\n", total, restartsDone,
         int(arrivals.size()), duplicates, corrupted, seconds);
  EXPECT_EQ(int(arrivals.size()), total);
  EXPECT_EQ(corrupted, 0);
  EXPECT_EQ(duplicates, 0);
  EXPECT_EQ(restartsDone, restarts);
}

}  // namespace
