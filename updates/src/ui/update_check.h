// One update check: connects to the update server, sends the module list,
// reads the answer with progress and installs the package it carries.
#pragma once

#include <cstdint>
#include <string>

#include "http_message.h"
#include "transport/socket_connection.h"
#include "transport/timer_client.h"

namespace updates {

// Where a check shows its progress (the overview's status item).
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual void reportStatus(const std::string& title, const std::string& text) = 0;
  virtual void removeStatus() = 0;
};

enum CheckState : int32_t {
  kCheckStarted = 0,
  kCheckDownloading = 1,
  kCheckProcessing = 2,
  kCheckFailed = 3,
  kCheckNoUpdates = 4,
  kCheckInstalled = 5,
};

// Modules the check reports: no extension, ".dll", ".exe" or ".so".
bool isModuleName(const std::string& name);
// The modules of `folder` with a build stamp, in name order.
std::vector<ModuleStamp> listModules(const std::string& folder);
// The whole request, as written to the socket.
std::string buildRequest(const std::string& host, const std::string& folder);

// A download that stops making progress fails after kStallMs, so that the
// next tick can start another check.
class UpdateCheck : public olvaro::net::SocketConnection, public olvaro::net::TimerClient {
 public:
  static constexpr int64_t kStallMs = 60000;
  static constexpr unsigned kStallTickMs = 5000;

  UpdateCheck(StatusSink& status, std::string folder);
  ~UpdateCheck() override;

  // Reports "Connecting to server..." and connects to the configured server.
  void start();
  int32_t checkState() const { return state_; }

  void onConnected() override;
  void onDataReceived() override;
  void onClosed() override;
  void onTimer() override;

 private:
  // Runs a complete response; the reader has already matched its body to
  // the announced length.
  void process(const HttpMessage& response);
  void fail(const std::string& text);
  StatusSink& status_;
  std::string folder_;
  std::string host_;
  ResponseReader reader_;
  int32_t state_ = kCheckStarted;
  bool done_ = false;
  int64_t lastProgressMs_ = 0;
};

}  // namespace updates
