// The plug-in object the host loads: Start opens conversations on the
// contact list's request and announces arrivals, Stop closes them.
#include <memory>

#include "chat_registry.h"
#include "notification_agent.h"
#include "olvaro/api.h"
#include "olvaro/plugin.h"
#include "photo.h"
#include "voice_player.h"

namespace messaging {
namespace {

class MessagingPlugin : public kestrum::Plugin {
 public:
  virtual ~MessagingPlugin() = default;

  void Start() override {
    if (!registry_) registry_ = std::make_unique<ChatRegistry>();
    if (!notifications_) notifications_ = std::make_unique<NotificationAgent>(&PlayVoiceMessage);
    state = 1;
  }

  void Stop() override {
    registry_.reset();
    removeAllPhotoFiles();
    // Playback and vibration threads run this library's code. Playbacks are
    // cut short first: a vibration waits for the audio they hold.
    StopVoicePlayback();
    notifications_.reset();
    state = 0;
  }

  const char* Name() override { return "Messaging"; }

 private:
  std::unique_ptr<ChatRegistry> registry_;
  std::unique_ptr<NotificationAgent> notifications_;
};

}  // namespace
}  // namespace messaging

OLVARO_PLUGIN(messaging::MessagingPlugin)
