// The plug-in object the host loads: Start puts the icon in the tray, Stop
// takes it away.
#include <memory>

#include "olvaro/api.h"
#include "olvaro/plugin.h"
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

}  // namespace
}  // namespace glimmet

OLVARO_PLUGIN(glimmet::GlimmetPlugin)
