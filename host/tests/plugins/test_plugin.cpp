// A plug-in for the host's tests: reports its Start and Stop through hub
// events carrying its name, and accepts one interface version only.
#include "olvaro/api.h"

#if TEST_PLUGIN_VERSION != 0
namespace {

struct TestPlugin final : kestrum::Plugin {
  void Start() override {
    state = 1;
    KS_EventRaise("hosttest.plugin.start", const_cast<char*>(TEST_PLUGIN_NAME));
  }
  void Stop() override {
    state = 0;
    KS_EventRaise("hosttest.plugin.stop", const_cast<char*>(TEST_PLUGIN_NAME));
  }
  const char* Name() override { return TEST_PLUGIN_NAME; }
};

TestPlugin* g_plugin = nullptr;

}  // namespace

extern "C" __attribute__((visibility("default"))) int PluginLoad(int version, kestrum::Plugin** out) {
  *out = nullptr;
  if (version != TEST_PLUGIN_VERSION) return 0;
  if (!g_plugin) g_plugin = new TestPlugin;
  *out = g_plugin;
  return 1;
}

extern "C" __attribute__((visibility("default"))) int PluginUnload() {
  delete g_plugin;
  g_plugin = nullptr;
  return 0;
}
#else
extern "C" __attribute__((visibility("default"))) int NotAPlugin() { return 0; }
#endif
