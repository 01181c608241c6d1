// Hostile or broken input closes only the connection it came on; seeds,
// the demo and the program's command line.
#include <signal.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "fixture.h"
#include "update_server.h"

namespace olvaro::server::testing {
namespace {

using Robustness = ServerTest;

// A signed-in client proves the server still serves by getting an answer.
void still_serving(TestClient& c) {
    Packet p("CONTACT UPDATE");
    p.set_id("Contact-Id", 1);
    EXPECT_EQ(c.response(c.request(p)), 0);
}

TEST_F(Robustness, NonsenseClosesOnlyThatConnection) {
    account("alice@x");
    account("bob@x");
    auto good = signed_in("alice@x");
    const std::vector<std::string> before_sign_in = {
        std::string(9000, 'A'),                               // a line without end
        "LOGON\n" + std::string(9000, 'h') + "\n",            // a header line too long
        "LOGON\ncontent-length: -5\n\n",                      // negative length
        "LOGON\ncontent-length: 99999999999\n\n",             // beyond any body
        [] { std::string s = "LOGON\n"; for (int i = 0; i < 100; ++i) s += "h" + std::to_string(i) + ": v\n"; return s; }(),
        "GROUP CREATE\nname: x\n\n",                          // a request before signing in
    };
    for (size_t i = 0; i < before_sign_in.size(); ++i) {
        auto bad = connect();
        bad->send_raw(before_sign_in[i]);
        EXPECT_TRUE(bad->closed()) << "case " << i;
    }
    // The same after signing in.
    auto bad = signed_in("bob@x");
    bad->send_raw("MESG\ncontent-length: -1\n\n");
    EXPECT_TRUE(bad->closed());
    still_serving(*good);
}

TEST_F(Robustness, RandomBytesNeverBringTheServerDown) {
    account("alice@x");
    account("bob@x");
    auto good = signed_in("alice@x");
    std::mt19937 rng(1234);
    const std::string alphabet = "PMESGLOHNAUTCD :\n\r0123456789-content-length";
    for (int round = 0; round < 60; ++round) {
        auto c = round % 2 ? signed_in("bob@x") : connect();
        std::string junk;
        size_t n = rng() % 3000;
        for (size_t i = 0; i < n; ++i)
            junk += (rng() % 4) ? alphabet[rng() % alphabet.size()] : char(rng());
        c->send_raw(junk);
        c->read(5);  // whatever comes back, or nothing
    }
    still_serving(*good);
}

TEST_F(Robustness, AReaderThatFallsTooFarBehindIsDropped) {
    Config config;
    config.max_output = 64 * 1024;
    start(config);
    account("alice@x");
    int64_t bob = account("bob@x");
    auto a = signed_in("alice@x");
    auto b = signed_in("bob@x");  // never reads while the flood lasts
    constexpr int kFlood = 4000;
    int answered = 0;
    auto drain = [&](int ms) {
        while (auto p = a->read(ms)) answered += p->command == "RESPONSE";
    };
    std::string body(512, 'z');
    for (int i = 0; i < kFlood; ++i) {
        Packet p("MESG");
        p.set_id("Mesg-Id", uint64_t(100000 + i));
        p.set_id("Target-Id", uint64_t(bob));
        p.set_int("Last", 1);
        p.body = body;
        a->send(p);
        if (i % 200 == 0) drain(0);
    }
    // Bob is not read from until the server has let him go: reading would
    // drain the queue that is to pass the cap, and a server still behind on
    // the flood would then never reach it.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (server_->signed_in_count() > 1 && std::chrono::steady_clock::now() < deadline) {
        drain(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(server_->signed_in_count(), 1u);
    EXPECT_TRUE(b->closed(5000));
    // alice's flood is answered whole before she asks again (a slow server,
    // under a sanitizer, is still working through it).
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (answered < kFlood && std::chrono::steady_clock::now() < deadline) drain(200);
    EXPECT_EQ(answered, kFlood);
    still_serving(*a);
}

TEST_F(Robustness, AClientThatAsksWithoutReadingIsNotReadFromUntilItsAnswersDrain) {
    int64_t alice = account("alice@x");
    int64_t bob = account("bob@x");
    {
        auto b = signed_in("bob@x");
        for (int i = 0; i < 20; ++i) {
            Packet m("MESG");
            m.set_id("Target-Id", uint64_t(alice));
            m.set_int("Last", 1);
            m.body = "stored line " + std::to_string(i);
            ASSERT_EQ(b->response(b->request(m)), 4);
        }
    }
    auto a = signed_in("alice@x");
    std::string flood;
    for (int i = 0; i < 20000; ++i) {
        Packet h("MESG HIST");
        h.set_id("Mesg-Id", uint64_t(1000 + i));
        h.set_id("Source-Id", uint64_t(bob));
        h.set_int("Count", -20);
        h.serialize_to(flood);
    }
    // Written without reading, for as long as the server takes it.
    fcntl(a->fd(), F_SETFL, fcntl(a->fd(), F_GETFL) | O_NONBLOCK);
    size_t off = 0;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
         off < flood.size() && std::chrono::steady_clock::now() < end;) {
        ssize_t n = ::send(a->fd(), flood.data() + off, flood.size() - off, MSG_NOSIGNAL);
        if (n > 0) off += size_t(n);
        else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // what it took is worked on
    auto other = signed_in("bob@x");
    still_serving(*other);
    // Each request queues 21 messages and answers; the server holds a few
    // requests' worth, not the 420,000 of all of them.
    EXPECT_LT(server_->queued(), 4096u) << off << " bytes of requests taken";

    // Reading again, the client gets its answers, in order.
    fcntl(a->fd(), F_SETFL, fcntl(a->fd(), F_GETFL) & ~O_NONBLOCK);
    std::vector<Packet> skipped;
    EXPECT_EQ(a->response(1000, &skipped), 0);
    EXPECT_EQ(a->response(1001, &skipped), 0);
}

TEST_F(Robustness, ConnectionsAreCappedInAllAndPerAddress) {
    Config config;
    config.max_connections = 3;
    config.max_connections_per_address = 2;
    start(config);
    account("alice@x");
    auto first = signed_in("alice@x");
    auto second = connect();
    still_serving(*first);
    EXPECT_TRUE(connect()->closed(1000)) << "a third from the same address";
    auto elsewhere = connect("127.0.0.2");
    EXPECT_TRUE(connect("127.0.0.3")->closed(1000)) << "a fourth in all";
    // One goes, and its place is free again.
    second.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto again = connect();
    EXPECT_FALSE(again->closed(300));
    EXPECT_FALSE(again->sign_in("alice@x", "pw-alice@x").empty());
}

TEST_F(Robustness, UnknownRequestsStillGetAnAnswer) {
    account("alice@x");
    auto a = signed_in("alice@x");
    Packet asked("SOMETHING ASKED");
    uint64_t id = a->request(asked);
    EXPECT_EQ(a->response(id), 1);
    a->send(Packet("SOMETHING NEW"));
    EXPECT_FALSE(a->read(50));
    still_serving(*a);
}

TEST_F(Robustness, SeedFilesAndTheDemo) {
    std::string error;
    EXPECT_FALSE(server_->load_seed("account|a@x|pw|A|\nfriend|a@x|b@x\n", &error));
    EXPECT_EQ(error.rfind("line 2", 0), 0u) << error;
    ASSERT_TRUE(server_->load_seed("# people\naccount|b@x|pw|B|here\r\nmutual|a@x|b@x\ngroup|Club|d|\n"
                                   "member|Club|b@x|1\n", &error)) << error;
    auto b = connect();
    auto got = b->sign_in("b@x", "pw");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].get("Name"), "a@x");
    EXPECT_EQ(got[1].get("Name"), "Club");
    EXPECT_EQ(got[2].get("Status"), "here");

    ASSERT_TRUE(server_->seed_demo());
    auto alice = connect();
    got = alice->sign_in("alice@olvaro.demo", "demo");
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back().command, "LOGON SUCCESSFUL");
    int contacts = 0, groups = 0;
    for (auto& p : got) {
        contacts += p.command == "CONTACT DETAIL";
        groups += p.command == "GROUP DETAIL";
    }
    EXPECT_EQ(contacts, 3);
    EXPECT_EQ(groups, 2);

    // A newcomer gets an account, the automated contact and the lounge.
    auto newcomer = connect();
    got = newcomer->sign_in("new@somewhere", "mine");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].get_int("Device-Type"), 1);
    EXPECT_EQ(got[1].get("Name"), "Lounge");
    Packet hello("MESG");
    hello.set_id("Target-Id", got[0].get_id("Contact-Id"));
    hello.set("Content-Type", "text/plain");
    hello.set_int("Last", 1);
    hello.body = "anyone there?";
    std::vector<Packet> skipped;
    EXPECT_EQ(newcomer->response(newcomer->request(hello), &skipped), 4);
    auto answer = skipped.empty() ? newcomer->until("MESG") : std::optional<Packet>(skipped[0]);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "You said: anyone there?");
}

std::string run(const std::string& command, int* status) {
    std::string out;
    FILE* f = popen(command.c_str(), "r");
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, f)) out.append(buf, n);
    *status = pclose(f);
    return out;
}

TEST(Program, HelpBadOptionsAndARealRun) {
    int status = 0;
    std::string help = run(std::string(OLVARO_SERVER_PROGRAM) + " --help", &status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(help.find("--port"), std::string::npos);
    EXPECT_NE(help.find("--demo"), std::string::npos);
    run(std::string(OLVARO_SERVER_PROGRAM) + " --word-size 6 2>/dev/null", &status);
    EXPECT_EQ(WEXITSTATUS(status), 2);

    // Started for real: it names its port, serves, and stops cleanly on SIGTERM.
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(OLVARO_SERVER_PROGRAM, OLVARO_SERVER_PROGRAM, "--port", "0", "--bind", "127.0.0.1",
              "--account", "cli@x:secret:Cli", "--seed-contacts", "3", "--seed-groups", "2", "--group-members", "4",
              "--keep-message-keys-hours", "1", "--max-message-keys", "1000", "--max-message-mb", "1",
              "--sign-in-timeout-ms", "5000", (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char ch;
    while (read(out[0], &ch, 1) == 1 && ch != '\n') line += ch;
    close(out[0]);
    unsigned port = 0;
    ASSERT_EQ(sscanf(line.c_str(), "listening on port %u", &port), 1) << line;
    {
        TestClient c{uint16_t(port)};
        auto got = c.sign_in("cli@x", "secret");
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back().command, "LOGON SUCCESSFUL");
        EXPECT_EQ(got.back().get("Nickname"), "Cli");
        // Seeded for the first account: three contacts, two groups of four.
        ASSERT_EQ(got.size(), 6u);
        EXPECT_EQ(got[2].command, "CONTACT DETAIL");
        EXPECT_EQ(got[3].command, "GROUP DETAIL");
        EXPECT_EQ(got[4].body.size(), 16u);
    }
    kill(pid, SIGTERM);
    int st = 0;
    waitpid(pid, &st, 0);
    EXPECT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
}

// The demo makes its TLS certificate once, beside the database and for the
// owner only, and names its port and key pin the way scripts read them.
TEST(Program, DemoTlsCertificateIsMadeOnceAndItsPinPrinted) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("olvaro-tls-demo-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string program = OLVARO_SERVER_PROGRAM;
    int status = 0;
    run(program + " -p 0 -b 127.0.0.1 --tls-port 0 2>/dev/null", &status);
    EXPECT_EQ(WEXITSTATUS(status), 2);  // neither a certificate nor the demo
    std::string db = (dir / "demo.db").string();
    auto start = [&](std::string* pin) {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execl(program.c_str(), program.c_str(), "--demo", "-p", "0", "-b", "::", "--tls-port", "0", "--db",
                  db.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string text, line;
        unsigned tls_port = 0;
        char ch;
        while (pin->empty() && read(out[0], &ch, 1) == 1) {
            if (ch != '\n') {
                line += ch;
                continue;
            }
            sscanf(line.c_str(), "listening on TLS port %u", &tls_port);
            if (line.rfind("TLS pin: ", 0) == 0) *pin = line.substr(9);
            line.clear();
        }
        close(out[0]);
        EXPECT_NE(tls_port, 0u);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    };
    std::string first, second;
    start(&first);
    fs::path pem = dir / "demo.db.tls.pem";
    ASSERT_TRUE(fs::exists(pem));
    EXPECT_EQ(fs::status(pem).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
    std::ifstream in(pem);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(first.size(), 64u);
    EXPECT_EQ(first, key_pin(text));
    start(&second);
    EXPECT_EQ(second, first);  // the same key again, not a new one
    fs::remove_all(dir);
}

// The demo key's secret is in the source, so it signs updates only for the
// demo; a key of one's own is made new, never over an old one.
TEST(Program, UpdateKeysTheDemoKeyOnlyOnRequest) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("olvaro-update-key-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "releases");
    const std::string program = OLVARO_SERVER_PROGRAM;
    int status = 0;
    std::string said = run(program + " -p 0 -b 127.0.0.1 --update-port 0 --update-releases " +
                               (dir / "releases").string() + " 2>&1",
                           &status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(said.find("demo key"), std::string::npos) << said;

    fs::path key = dir / "update.key";
    std::string printed = run(program + " --make-update-key " + key.string() + " 2>/dev/null", &status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(key);
    std::string seed;
    in >> seed;
    ASSERT_EQ(seed.size(), 64u);
    EXPECT_EQ(fs::status(key).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
    unsigned char seed_bytes[32], pk[32], sk[64];
    ASSERT_EQ(sodium_hex2bin(seed_bytes, 32, seed.data(), 64, nullptr, nullptr, nullptr), 0);
    crypto_sign_seed_keypair(pk, sk, seed_bytes);
    char pk_hex[65];
    sodium_bin2hex(pk_hex, sizeof pk_hex, pk, sizeof pk);
    EXPECT_EQ(printed, std::string(pk_hex) + "\n");
    // Made again: refused, the key the clients trust kept.
    run(program + " --make-update-key " + key.string() + " 2>/dev/null", &status);
    EXPECT_NE(WEXITSTATUS(status), 0);
    std::ifstream again(key);
    std::string kept;
    again >> kept;
    EXPECT_EQ(kept, seed);

    // In the process: the demo key only when allowed; one's own key always.
    UpdateConfig config;
    config.releases = (dir / "releases").string();
    std::string error;
    EXPECT_FALSE(UpdateServer(config).start(&error));
    EXPECT_NE(error.find("demo key"), std::string::npos);
    config.allow_demo_key = true;
    EXPECT_TRUE(UpdateServer(config).start(&error)) << error;
    config.allow_demo_key = false;
    config.seed_hex = seed;
    EXPECT_TRUE(UpdateServer(config).start(&error)) << error;
    fs::remove_all(dir);
}

}  // namespace
}  // namespace olvaro::server::testing
