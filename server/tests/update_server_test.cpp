// The update server: the module list, the deltas and the signed packages,
// over a real socket.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sodium.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "package_builder.h"
#include "update_delta.h"
#include "update_manifest.h"
#include "update_server.h"

using namespace olvaro::server;
namespace fs = std::filesystem;

namespace {

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

void write_file(const fs::path& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }

std::string exchange(uint16_t port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string out;
    char buf[65536];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) out.append(buf, size_t(n));  // until closed
    close(fd);
    return out;
}

std::string post(const std::string& xml) {
    return "POST /u.php HTTP/1.0\ncontent-length: " + std::to_string(xml.size()) +
           "\ncontent-type: text/xml\nhost: localhost\n\n" + xml;
}

std::string module_list(const std::vector<std::pair<std::string, uint32_t>>& files) {
    std::string xml = "<?xml version='1.0'?>\n<root>";
    for (const auto& [name, build] : files)
        xml += "<file><name>" + name + "</name><build>" + std::to_string(build) + "</build></file>";
    return xml + "<platform><name>PocketPC</name><language>1033</language></platform><user><subid>7</subid></user></root>";
}

const std::string kBad = "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

TEST(UpdateDelta, SmallChangesCostAboutTheirSize) {
    std::string old = random_bytes(1 << 20, 1), fresh = old;
    fresh[1000] ^= 1;                                 // in place
    fresh.insert(300000, "inserted bytes");           // an insertion
    fresh.erase(700000, 5000);                        // a cut
    fresh.replace(900000, 64, random_bytes(64, 2));   // a rewritten stretch
    auto ops = block_delta(old, fresh);
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(replay_delta(ops, old, fresh), fresh);
    uint64_t literal = 0;
    for (const auto& op : ops) literal += op.copy ? 0 : op.length;
    EXPECT_LE(literal, 200u);
    EXPECT_LE(ops.size(), 12u);
    // The same file is one copy; nothing in common is one literal.
    EXPECT_EQ(block_delta(old, old).size(), 1u);
    auto none = block_delta(random_bytes(5000, 3), random_bytes(7000, 4));
    EXPECT_EQ(replay_delta(none, "", random_bytes(7000, 4)), random_bytes(7000, 4));
    EXPECT_EQ(block_delta("", "abc").size(), 1u);
}

TEST(UpdateRequestXml, ReadsTheListAndRefusesBrokenOnes) {
    UpdateRequest r;
    ASSERT_TRUE(parse_update_request(module_list({{"olvaro", 5}, {"api.so", 4294967295u}}), &r));
    ASSERT_EQ(r.modules.size(), 2u);
    EXPECT_EQ(r.modules[1].name, "api.so");
    EXPECT_EQ(r.modules[1].build, 4294967295u);
    EXPECT_EQ(r.platform, "PocketPC");
    EXPECT_EQ(r.language, 1033);
    EXPECT_EQ(r.subid, 7);
    EXPECT_FALSE(parse_update_request("<root><file><name>a", &r));
    EXPECT_FALSE(parse_update_request(module_list({{"a", 1}}) + "<extra/>", &r));
    EXPECT_FALSE(parse_update_request("<root><file><name>a</name><build>4294967296</build></file></root>", &r));
    EXPECT_FALSE(parse_update_request("<root><file><name>a</name><build>x1</build></file></root>", &r));
    EXPECT_FALSE(parse_update_request("<root><file><name>" + std::string(300, 'a') + "</name></file></root>", &r));
    // Entities that would grow without bound are not expanded into the list.
    EXPECT_FALSE(parse_update_request(
        "<!DOCTYPE r [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
        "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>]><root><file><name>&c;</name><build>1</build></file></root>",
        &r));
}

class UpdateServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("olvaro-update-server-" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder / "previous");
        old_module = updatestest::module(1000, random_bytes(300000, 5));
        new_module = updatestest::module(2000, old_module.substr(144));
        new_module.replace(150000, 10, "new code!!");
        write_file(folder / "previous" / "mod.so", old_module);
        write_file(folder / "mod.so", new_module);
        write_file(folder / "same.so", updatestest::module(3000, "same"));
        write_file(folder / "changelog.txt", "Better things\n");
        UpdateConfig config;
        config.releases = folder.string();
        config.timeout_ms = 2000;
        config.allow_demo_key = true;
        server = std::make_unique<UpdateServer>(config);
        std::string error;
        ASSERT_TRUE(server->start(&error)) << error;
    }
    void TearDown() override {
        server.reset();
        fs::remove_all(folder);
    }
    fs::path folder;
    std::string old_module, new_module;
    std::unique_ptr<UpdateServer> server;
};

TEST_F(UpdateServerTest, SignedDeltaForAKnownBuildWholeForAnUnknownNothingWhenCurrent) {
    EXPECT_EQ(exchange(server->port(), post(module_list({{"mod.so", 2000}, {"same.so", 3000}, {"other", 9}}))),
              "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");

    std::string answer = exchange(server->port(), post(module_list({{"same.so", 3000}, {"mod.so", 1000}})));
    size_t head = answer.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    std::string body = answer.substr(head + 4);
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    // The signature is of the manifest, which binds the body, the source as
    // the client has it, and each result with its stamp.
    auto header = [&](const std::string& name) {
        size_t at = answer.find("\r\n" + name + ": ");
        if (at == std::string::npos) return std::string();
        at += name.size() + 4;
        return answer.substr(at, answer.find("\r\n", at) - at);
    };
    std::string manifest_bytes;
    ASSERT_TRUE(updates::fromBase64(header("X-Olvaro-Manifest"), &manifest_bytes));
    std::string signature = header("X-Olvaro-Signature");
    ASSERT_EQ(signature.size(), 128u);
    unsigned char sig[64], seed[32], pk[32], sk[64];
    sodium_hex2bin(sig, 64, signature.data(), 128, nullptr, nullptr, nullptr);
    sodium_hex2bin(seed, 32, kDemoUpdateSeed, 64, nullptr, nullptr, nullptr);
    crypto_sign_seed_keypair(pk, sk, seed);
    EXPECT_EQ(crypto_sign_verify_detached(sig, reinterpret_cast<const unsigned char*>(manifest_bytes.data()),
                                          manifest_bytes.size(), pk),
              0);
    updates::Manifest manifest;
    ASSERT_TRUE(updates::readManifest(reinterpret_cast<const uint8_t*>(manifest_bytes.data()), manifest_bytes.size(),
                                      &manifest));
    using updatestest::digest;
    EXPECT_EQ(manifest.package, digest(body));
    ASSERT_EQ(manifest.sources.size(), 1u);
    EXPECT_EQ(manifest.sources[0].name, "mod.so");
    EXPECT_EQ(manifest.sources[0].digest, digest(old_module));
    ASSERT_EQ(manifest.targets.size(), 2u);
    EXPECT_EQ(manifest.targets[0].name + "/" + std::to_string(manifest.targets[0].stamp), "mod.so/2000");
    EXPECT_EQ(manifest.targets[0].digest, digest(new_module));
    EXPECT_EQ(manifest.targets[1].name + "/" + std::to_string(manifest.targets[1].stamp), "changelog.txt/0");
    EXPECT_EQ(manifest.targets[1].digest, digest("Better things\n"));
    EXPECT_LT(manifest_bytes.size(), 200u);
    // Sources: the installed mod.so; then its entry, then the change log.
    ASSERT_EQ(body.compare(0, 7, std::string("mod.so\0", 7)), 0);
    EXPECT_EQ(body.compare(7, 7, std::string("mod.so\0", 7)), 0);
    EXPECT_NE(body.find(std::string("changelog.txt\0", 14)), std::string::npos);
    EXPECT_NE(body.find("Better things\n"), std::string::npos);
    EXPECT_LT(body.size(), 400u);  // for a 300 KB module

    // A build the server never saw: the module whole, no sources.
    answer = exchange(server->port(), post(module_list({{"mod.so", 1500}})));
    body = answer.substr(answer.find("\r\n\r\n") + 4);
    EXPECT_EQ(body[0], '\0');
    EXPECT_NE(body.find(new_module), std::string::npos);
    // A client ahead of the release is not sent back.
    EXPECT_EQ(exchange(server->port(), post(module_list({{"mod.so", 2500}}))),
              "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(UpdateServerTest, MalformedOrOversizedRequestsGet400AndAClose) {
    std::string list = module_list({{"mod.so", 1000}});
    EXPECT_EQ(exchange(server->port(), post("<root><file>")), kBad);
    EXPECT_EQ(exchange(server->port(), "POST /u.php HTTP/1.0\nhost: x\n\n" + list), kBad);  // no length
    EXPECT_EQ(exchange(server->port(), "POST /u.php HTTP/1.0\ncontent-length: 99999999\n\n"), kBad);
    EXPECT_EQ(exchange(server->port(), "POST /u.php HTTP/1.0\ncontent-length: -5\n\n"), kBad);
    EXPECT_EQ(exchange(server->port(), "GET /u.php HTTP/1.0\ncontent-length: 0\n\n"), kBad);
    EXPECT_EQ(exchange(server->port(), "POST /u.php HTTP/1.0\nx: " + std::string(20000, 'x') + "\n\n"), kBad);
    EXPECT_EQ(exchange(server->port(), "POST /other HTTP/1.0\ncontent-length: 0\n\n").substr(0, 13), "HTTP/1.0 404 ");
    // A client that stops half-way is dropped at the time-out; others go on.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(server->port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    send(fd, "POST /u.php", 11, 0);
    EXPECT_EQ(exchange(server->port(), post(module_list({{"mod.so", 2000}}))).substr(0, 16), "HTTP/1.0 200 OK\r");
    close(fd);
}

}  // namespace
