#pragma once
// A server on a free loopback port, with an in-memory store unless a test
// names a file, and accounts made through the control interface.

#include <gtest/gtest.h>

#include <memory>

#include "olvaro_server/server.h"
#include "test_client.h"

namespace olvaro::server::testing {

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { start(); }

    void start(Config config = {}) {
        server_.reset();
        config.quick_password_hashes = true;
        server_ = std::make_unique<Server>(std::move(config));
        std::string error;
        ASSERT_TRUE(server_->start(&error)) << error;
        port_ = server_->ports().at(0);
    }

    int64_t account(const std::string& email, const std::string& nickname = "", const std::string& status = "") {
        int64_t id = server_->create_account({email, "pw-" + email, nickname, status, 0});
        EXPECT_NE(id, 0) << email;
        return id;
    }

    std::unique_ptr<TestClient> connect(const char* from = nullptr) { return std::make_unique<TestClient>(port_, from); }

    // A client signed in as `email` (password "pw-" + email).
    std::unique_ptr<TestClient> signed_in(const std::string& email, int presence = 1,
                                          std::vector<Packet>* got = nullptr) {
        auto c = connect();
        auto packets = c->sign_in(email, "pw-" + email, presence);
        EXPECT_FALSE(packets.empty());
        if (!packets.empty()) {
            EXPECT_EQ(packets.back().command, "LOGON SUCCESSFUL") << email;
        }
        if (got) *got = packets;
        return c;
    }

    std::unique_ptr<Server> server_;
    uint16_t port_ = 0;
};

}  // namespace olvaro::server::testing
