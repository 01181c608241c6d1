// The plug-in object the host loads: Start creates the session, Stop ends it.
#include "olvaro/api.h"
#include "session.h"

namespace olvaro::conn {
namespace {

class ConnectionPlugin : public kestrum::Plugin {
 public:
  virtual ~ConnectionPlugin() = default;

  void Start() override {
    if (!connection_) {
      connection_ = new Connection();
      registerConnectionFunctions(connection_);
    }
    state = 1;
  }

  void Stop() override {
    if (connection_) {
      unregisterConnectionFunctions();
      delete connection_;
      connection_ = nullptr;
    }
    state = 0;
  }

  const char* Name() override { return "Connection"; }

 private:
  Connection* connection_ = nullptr;
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
