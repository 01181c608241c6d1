// The plug-in object the host loads: Start creates the session, Stop ends it.
#include <memory>

#include "connection_ui.h"
#include "olvaro/api.h"
#include "olvaro/plugin.h"
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

}  // namespace
}  // namespace olvaro::conn

OLVARO_PLUGIN(olvaro::conn::ConnectionPlugin)
