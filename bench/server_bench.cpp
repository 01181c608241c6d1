// Server figures: message throughput among 1,000 signed-in clients on
// loopback, the memory they take, and the sign-in of an account with 10,000
// contacts.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "olvaro_server/server.h"
#include "test_client.h"

using namespace olvaro::server;
using olvaro::server::testing::TestClient;

namespace {

long rss_kb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// CPU time of the whole process (server thread and the clients), in microseconds.
double process_cpu_us() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e6 + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
}

Config quiet_config() {
    Config c;
    c.database = ":memory:";
    return c;
}

struct Crowd {
    std::unique_ptr<Server> server;
    std::vector<std::unique_ptr<TestClient>> clients;
    std::vector<int64_t> ids;
    long rss_before = 0, rss_after = 0;

    explicit Crowd(int n) {
        rss_before = rss_kb();
        server = std::make_unique<Server>(quiet_config());
        server->start();
        for (int i = 0; i < n; ++i) {
            std::string email = "user" + std::to_string(i) + "@bench";
            ids.push_back(server->create_account({email, "pw", "", "", 0}));
        }
        // Each lists its partner, so presence traffic is part of the picture.
        for (int i = 0; i < n; ++i) server->list_contact(ids[i], ids[i ^ 1]);
        for (int i = 0; i < n; ++i) {
            auto c = std::make_unique<TestClient>(server->ports()[0]);
            c->sign_in("user" + std::to_string(i) + "@bench", "pw");
            clients.push_back(std::move(c));
        }
        // Drain the presence updates of the partners' sign-ins.
        for (auto& c : clients)
            while (c->read(1)) {}
        rss_after = rss_kb();
    }
};

void BM_MessagesAmong1000Clients(benchmark::State& state) {
    static Crowd crowd(1000);
    const int n = int(crowd.clients.size());
    const size_t per_client = size_t(state.range(0));
    std::string body(100, 'm');
    uint64_t next = 1;
    double cpu_start = process_cpu_us();
    for (auto _ : state) {
        // Everyone sends to its partner; then every delivery and every
        // acknowledgement is read back.
        for (int i = 0; i < n; ++i) {
            std::string batch;
            for (size_t k = 0; k < per_client; ++k) {
                Packet p("MESG");
                p.set_id("Mesg-Id", next++);
                p.set_int("Mesg-Target", 0);
                p.set_id("Target-Id", uint64_t(crowd.ids[i ^ 1]));
                p.set("Content-Type", "text/plain");
                p.set_int("Last", 1);
                p.body = body;
                p.serialize_to(batch);
            }
            crowd.clients[i]->send_raw(batch);
        }
        size_t expected = size_t(n) * per_client * 2, seen = 0;
        while (seen < expected) {
            size_t before = seen;
            for (auto& c : crowd.clients)
                while (auto p = c->read(0)) seen += p->command == "MESG" || p->command == "RESPONSE";
            if (seen == before) poll(nullptr, 0, 1);
        }
    }
    int64_t messages = int64_t(state.iterations()) * n * int64_t(per_client);
    state.SetItemsProcessed(messages);
    // Less dependent on a busy machine than wall time.
    state.counters["cpu_us_per_message"] = (process_cpu_us() - cpu_start) / double(messages);
    state.counters["clients"] = n;
    state.counters["rss_MB_for_1000_clients"] = double(crowd.rss_after - crowd.rss_before) / 1024.0;
}
BENCHMARK(BM_MessagesAmong1000Clients)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SignInWith10000Contacts(benchmark::State& state) {
    static std::unique_ptr<Server> server;
    if (!server) {
        server = std::make_unique<Server>(quiet_config());
        server->start();
        server->create_account({"busy@bench", "pw", "Busy", "", 0});
        std::string seed;
        for (int i = 0; i < 10000; ++i) {
            std::string email = "c" + std::to_string(i) + "@bench";
            seed += "account|" + email + "|pw|Contact " + std::to_string(i) + "|status\n";
            seed += "contact|busy@bench|" + email + "\n";
        }
        server->load_seed(seed);
    }
    size_t contacts = 0;
    for (auto _ : state) {
        TestClient c(server->ports()[0]);
        auto got = c.sign_in("busy@bench", "pw");
        contacts = got.size() - 1;
        if (got.empty() || got.back().command != "LOGON SUCCESSFUL") state.SkipWithError("sign-in failed");
    }
    state.counters["contacts"] = double(contacts);
}
BENCHMARK(BM_SignInWith10000Contacts)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
