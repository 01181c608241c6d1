// The real reference server, in process on a free loopback port.
#pragma once

#include <memory>
#include <string>

#include "olvaro_server/server.h"
#include "session_fixture.h"

namespace conntest {

namespace srv = olvaro::server;

class ServerTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    server = startServer();
    ASSERT_TRUE(server);
    ann = server->create_account({"ann@example.org", "secret12", "Ann", "around", 0});
    bob = server->create_account({"bob@example.org", "bobpass1", "Bob", "", 0});
    server->list_contact(ann, bob);
    server->create_group("Friends", "old friends", "", ann);
  }
  void TearDown() override {
    SessionTest::TearDown();  // the client goes first
    server.reset();
  }

  std::unique_ptr<srv::Server> startServer(srv::Config config = srv::Config()) {
    config.quick_password_hashes = true;
    auto s = std::make_unique<srv::Server>(config);
    std::string error;
    if (!s->start(&error)) {
      ADD_FAILURE() << error;
      return nullptr;
    }
    return s;
  }
  int port(srv::Server& s) { return s.ports().at(0); }
  // Signs the session in to the server with this account.
  void signIn(const std::string& user = "ann@example.org", const std::string& pass = "secret12") {
    credentials(user, pass);
    useServer(port(*server));
    start();
    ASSERT_TRUE(waitState(olvaro::kSignedIn));
  }

  std::unique_ptr<srv::Server> server;
  int64_t ann = 0, bob = 0;
};

}  // namespace conntest
