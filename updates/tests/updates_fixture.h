// A fresh platform and hub per test, the kit's stand-in overview recording
// what the plug-in shows in it, a program folder of its own, and a scripted
// update server on a loopback socket.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hubtest/fake_overview.h"
#include "hubtest/hub_test.h"
#include "olvaro/api.h"
#include "olvaro/connection_calls.h"
#include "package_builder.h"
#include "platform/clock.h"
#include "testkit/testkit.h"
#include "updater.h"

namespace updatestest {

// Accepts one connection at a time; `script` gets the request and writes
// the answer through `send`.
class ScriptedServer {
 public:
  using Script = std::function<void(const std::string& request, const std::function<void(const std::string&)>& send)>;
  explicit ScriptedServer(Script script) : script_(std::move(script)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 4);
    socklen_t n = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    {
      // A client that connected but has not sent its request yet (its
      // owner waits for this very destructor) must not keep run() waiting.
      std::lock_guard<std::mutex> lock(mutex_);
      if (client_ >= 0) shutdown(client_, SHUT_RDWR);
    }
    close(fd_);
    thread_.join();
  }
  int port() const { return port_; }
  int accepted() const { return accepted_; }
  std::string request() {
    std::lock_guard<std::mutex> lock(mutex_);
    return request_;
  }

 private:
  void run() {
    while (!stop_) {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        client_ = c;
        if (stop_) shutdown(c, SHUT_RDWR);
      }
      ++accepted_;
      std::string in;
      char buf[4096];
      size_t need = std::string::npos;
      while (need == std::string::npos || in.size() < need) {
        ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        in.append(buf, size_t(n));
        size_t head = in.find("\n\n");
        size_t at = in.find("content-length: ");
        if (head != std::string::npos && at != std::string::npos) need = head + 2 + std::stoul(in.substr(at + 16));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        request_ = in;
      }
      script_(in, [c](const std::string& bytes) { ::send(c, bytes.data(), bytes.size(), MSG_NOSIGNAL); });
      std::lock_guard<std::mutex> lock(mutex_);
      client_ = -1;
      close(c);
    }
  }
  Script script_;
  int fd_ = -1;
  int client_ = -1;  // the connection being served, under mutex_
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::string request_;
  std::thread thread_;
};

// A package with its manifest and signature headers (an empty one left out).
inline std::string response(const std::string& body, const SignedManifest& manifest) {
  std::string head = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  if (!manifest.text.empty()) head += "X-Olvaro-Manifest: " + manifest.text + "\r\n";
  if (!manifest.signature.empty()) head += "X-Olvaro-Signature: " + manifest.signature + "\r\n";
  return head + "\r\n" + body;
}

class UpdatesTest : public hubtest::HubTest {
 protected:
  void SetUp() override {
    hubtest::HubTest::SetUp();
    folder = freshFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    overview = std::make_unique<hubtest::FakeOverview>();
  }
  void TearDown() override {
    updater.reset();
    overview.reset();
    unsetenv("OLVARO_PLATFORM");
    std::filesystem::remove_all(folder);
    hubtest::HubTest::TearDown();
  }
  void start() {
    updater = std::make_unique<updates::Updater>(folder.string(), "olvaro");
    testkit::pump();
  }
  void useServer(const ScriptedServer& server) {
    KS_SetSettingString("Updates/ServerHost", "127.0.0.1");
    KS_SetSettingLong("Updates/ServerPort", server.port());
  }
  int32_t state() const { return updater && updater->check() ? updater->check()->checkState() : -1; }

  std::filesystem::path folder;
  std::unique_ptr<hubtest::FakeOverview> overview;
  std::unique_ptr<updates::Updater> updater;
};

}  // namespace updatestest
