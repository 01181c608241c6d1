// The connection plug-in against the real server on loopback: sign-in of an
// account with 1,000 to 10,000 contacts and 200 groups of 50 members (time to
// "signed in" and the client's resident memory per contact), and 1,000
// messages of 1 KB to a second account (messages per second, client CPU per
// message); the 10,000-contact sign-in and the messages also over TLS (second
// argument 1), next to plain. The server runs in a child process so the client's figures are
// its own.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "olvaro/api.h"
#include "olvaro/connection_state.h"
#include "olvaro_server/server.h"
#include "server_process.h"
#include "packet_reader.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "server_list.h"
#include "contacts.h"
#include "session.h"
#include "testkit/testkit.h"
#include "wire_client.h"

namespace {

const int kSizes[] = {1000, 5000, 10000};
constexpr int kGroups = 200, kMembers = 50;

// Heap bytes in use: unlike the resident size, it falls again when a
// round frees what it took, so every round measures its own.
size_t heapInUse() { return mallinfo2().uordblks; }

size_t groupCount() {
  size_t n = 0;
  int64_t id = 0;
  for (int more = KS_EnumGroupsBegin(&id); more; id = KS_EnumGroupsNext(id), more = id != 0) ++n;
  return n;
}

double threadCpuUs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

// The seed: 10,000 accounts; owner<N> lists the first N and belongs, with
// 49 of them, to 200 groups of its own; "sender" and "receiver" for the
// message run.
std::string seed() {
  std::string s;
  for (int i = 0; i < 10000; ++i)
    s += "account|c" + std::to_string(i) + "@bench|pw|Contact " + std::to_string(i) + "|here\n";
  s += "account|sender@bench|pw|Sender|\naccount|receiver@bench|pw|Receiver|\n";
  s += "mutual|sender@bench|receiver@bench\n";
  for (int n : kSizes) {
    std::string owner = "owner" + std::to_string(n) + "@bench";
    s += "account|" + owner + "|pw|Owner|\n";
    for (int i = 0; i < n; ++i) s += "contact|" + owner + "|c" + std::to_string(i) + "@bench\n";
    for (int g = 0; g < kGroups; ++g) {
      std::string name = "g" + std::to_string(n) + "-" + std::to_string(g);
      s += "group|" + name + "|bench group|\n";
      s += "member|" + name + "|" + owner + "|1\n";
      for (int m = 1; m < kMembers; ++m)
        s += "member|" + name + "|c" + std::to_string((g * kMembers + m) % n) + "@bench|0\n";
    }
  }
  return s;
}

bench::ServerProcess& server() {
  static bench::ServerProcess* s = [] {
    auto* p = new bench::ServerProcess;
    p->tls = true;
    // The seed's 10,000 accounts would take minutes at the full hashing cost;
    // what is measured here is the link, not the hash.
    olvaro::server::Config config;
    config.quick_password_hashes = true;
    if (!p->start([](olvaro::server::Server& server, std::string* error) { return server.load_seed(seed(), error); },
                  std::move(config)))
      fprintf(stderr, "the server did not start\n");
    return p;
  }();
  return *s;
}

// A fresh platform and hub, signed in as `user`; null when it did not sign in.
class Client {
 public:
  Client(const std::string& user, bool tls) {
    KS_API_Cleanup();
    platform::registryReset();
    platform::setCommandLine(u"olvaro");
    KS_SetSettingString("connection.user", user.c_str());
    KS_SetSettingString("connection.pass", "pw");
    std::string entry = tls ? "tls:127.0.0.1:" + std::to_string(server().tlsPort) : "127.0.0.1:" + std::to_string(server().port);
    KS_SetSettingString("Connection/Servers/List", entry.c_str());
    if (tls) KS_SetSettingString("Connection/TLS/Pin", server().pin.c_str());
    olvaro::conn::ServerList::instance().reset();
  }
  ~Client() {
    connection.reset();
    KS_API_Cleanup();
  }
  bool signIn() {
    connection = std::make_unique<olvaro::conn::Connection>();
    return conntest::waitFor([] { return KS_GetVariantLong("connection.state") == olvaro::kSignedIn; }, 60000);
  }
  std::unique_ptr<olvaro::conn::Connection> connection;
};

void BM_SignIn(benchmark::State& state) {
  testkit::Session platformSession;
  int contacts = int(state.range(0));
  std::string user = "owner" + std::to_string(contacts) + "@bench";
  double bytesPerContact = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto client = std::make_unique<Client>(user, state.range(1) != 0);
    size_t before = heapInUse();
    state.ResumeTiming();
    if (!client->signIn()) {
      state.SkipWithError("no sign-in");
      break;
    }
    state.PauseTiming();
    bytesPerContact = double(heapInUse() - before) / contacts;
    // The whole list and every group made it into the hub.
    if (client->connection->contacts().size() < size_t(contacts) || groupCount() < size_t(kGroups) + 1 ||
        client->connection->encrypted() != (state.range(1) != 0))
      state.SkipWithError("the hub is missing contacts or groups");
    client.reset();
    state.ResumeTiming();
  }
  // Everything the sign-in left in the hub and the session, per contact
  // (the 200 groups of 50 included).
  state.counters["bytes_per_contact"] = bytesPerContact;
  state.SetComplexityN(contacts);
}

// 1,000 messages of 1 KB from the client under test to a second account
// reading on its own thread; the client's thread time is the CPU figure.
void BM_Messages(benchmark::State& state) {
  testkit::Session platformSession;
  constexpr int kCount = 1000;
  std::string payload(1024, 'm');
  double cpuPerMessage = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Client client("sender@bench", state.range(0) != 0);
    if (!client.signIn()) {
      state.SkipWithError("no sign-in");
      break;
    }
    conntest::WireClient receiver(server().port);
    if (!receiver.signIn("receiver@bench", "pw")) {
      state.SkipWithError("receiver did not sign in");
      break;
    }
    HContact* to = client.connection->contacts().getContact(receiver.subId);
    std::atomic<int> received{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
      while (!stop && received < kCount) {
        receiver.pump();
        for (auto it = receiver.queue().begin(); it != receiver.queue().end();) {
          if (it->command == "MESG" && it->hasHeader("Last")) ++received;
          it = receiver.queue().erase(it);
        }
        pollfd none{};
        poll(&none, 0, 1);
      }
    });
    double cpu0 = threadCpuUs();
    state.ResumeTiming();
    for (int i = 0; i < kCount; ++i) {
      HMessage* m = nullptr;
      KS_SendMessage(to, 0, "text/plain", payload.data(), int(payload.size()), 1, &m);
      if (m) KS_ReleaseMessage(m);
      testkit::pump();
    }
    bool done = conntest::waitFor([&] { return received == kCount; }, 60000);
    state.PauseTiming();
    cpuPerMessage = (threadCpuUs() - cpu0) / kCount;
    stop = true;
    reader.join();
    KS_ReleaseContact(to);
    if (!done) {
      state.SkipWithError(("only " + std::to_string(received.load()) + " messages arrived").c_str());
      break;
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kCount);
  state.counters["client_cpu_us_per_message"] = cpuPerMessage;
}

}  // namespace

BENCHMARK(BM_SignIn)
    ->ArgNames({"contacts", "tls"})
    ->Args({1000, 0})
    ->Args({5000, 0})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_Messages)->ArgName("tls")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  server();  // fork before any thread starts
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
