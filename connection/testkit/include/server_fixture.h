// The real reference server, in process on a free loopback port.
#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <memory>
#include <string>

#include "olvaro_server/server.h"
#include "session_fixture.h"

namespace conntest {

namespace srv = olvaro::server;

// The real tinyproxy, on a free loopback port, for as long as it lives.
class Tinyproxy {
 public:
  explicit Tinyproxy(const std::string& folder, const std::string& extra = std::string()) {
    port_ = closedPort();
    std::string conf = folder + "/tinyproxy.conf";
    std::ofstream(conf) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 600\nAllow 127.0.0.1\n"
                        << "MaxClients 10\nLogLevel Critical\nLogFile \"" << folder << "/tinyproxy.log\"\n" << extra;
    pid_ = fork();
    if (pid_ == 0) {
      execlp("tinyproxy", "tinyproxy", "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Tinyproxy() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }
  // Waits until the proxy accepts connections.
  bool ready() {
    return waitFor([&] {
      int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(uint16_t(port_));
      bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(s);
      return ok;
    }, 5000);
  }

 private:
  int port_ = 0;
  pid_t pid_ = -1;
};

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
  // The server again, also speaking TLS with this certificate and key on a
  // port of its own, with ann, bob and the rest as SetUp made them.
  void restartWithTls(const std::string& cert, const std::string& key, const std::string& bind = "127.0.0.1") {
    server.reset();
    srv::Config config;
    config.bind_address = bind;
    config.tls_ports = {0};
    config.tls_cert_pem = cert;
    config.tls_key_pem = key;
    server = startServer(config);
    ASSERT_TRUE(server);
    ann = server->create_account({"ann@example.org", "secret12", "Ann", "around", 0});
    bob = server->create_account({"bob@example.org", "bobpass1", "Bob", "", 0});
    server->list_contact(ann, bob);
    server->create_group("Friends", "old friends", "", ann);
  }
  int tlsPort() { return server->tls_ports().at(0); }
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
