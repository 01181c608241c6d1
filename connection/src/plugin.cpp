// The plug-in object the host loads: Start creates the session, Stop ends it.
#include <memory>

#include "connection_ui.h"
#include "olvaro/api.h"
#include "session.h"

namespace olvaro::conn {
namespace {

class ConnectionPlugin : public kestrum::Plugin {
 public:
  virtual ~ConnectionPlugin() = default;

  void Start() override {
    if (!connection_) {
      connection_ = std::make_unique<Connection>();
      functions_ = std::make_unique<ConnectionFunctions>(connection_.get());
      ui_ = std::make_unique<ConnectionUi>(connection_.get());
    }
    state = 1;
  }

  void Stop() override {
    ui_.reset();
    functions_.reset();
    connection_.reset();
    state = 0;
  }

  const char* Name() override { return "Connection"; }

 private:
  std::unique_ptr<Connection> connection_;
  std::unique_ptr<ConnectionFunctions> functions_;
  std::unique_ptr<ConnectionUi> ui_;
};

ConnectionPlugin* g_plugin = nullptr;

}  // namespace
}  // namespace olvaro::conn

extern "C" __attribute__((visibility("default"))) int PluginLoad(int version, kestrum::Plugin** out) {
  if (out) *out = nullptr;
  if (version != 5 || !out) return 0;
  if (!olvaro::conn::g_plugin) olvaro::conn::g_plugin = new olvaro::conn::ConnectionPlugin();
  *out = olvaro::conn::g_plugin;
  return 1;
}

extern "C" __attribute__((visibility("default"))) int PluginUnload() {
  delete olvaro::conn::g_plugin;
  olvaro::conn::g_plugin = nullptr;
  return 0;
}
