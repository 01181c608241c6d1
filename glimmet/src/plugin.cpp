// The plug-in object the host loads: Start puts the icon in the tray, Stop
// takes it away.
#include <memory>

#include "olvaro/api.h"
#include "tray_notifier.h"

namespace glimmet {
namespace {

class GlimmetPlugin : public kestrum::Plugin {
 public:
  virtual ~GlimmetPlugin() = default;

  void Start() override {
    if (!notifier_) notifier_ = std::make_unique<TrayNotifier>();
    state = 1;
  }

  void Stop() override {
    notifier_.reset();
    state = 0;
  }

  const char* Name() override { return "Glimmet"; }

 private:
  std::unique_ptr<TrayNotifier> notifier_;
};

GlimmetPlugin* g_plugin = nullptr;

}  // namespace
}  // namespace glimmet

extern "C" __attribute__((visibility("default"))) int PluginLoad(int version, kestrum::Plugin** out) {
  if (out) *out = nullptr;
  if (version != 5 || !out) return 0;
  if (!glimmet::g_plugin) glimmet::g_plugin = new glimmet::GlimmetPlugin();
  *out = glimmet::g_plugin;
  return 1;
}

extern "C" __attribute__((visibility("default"))) int PluginUnload() {
  delete glimmet::g_plugin;
  glimmet::g_plugin = nullptr;
  return 0;
}
