// The plug-in object the host loads: Start tidies up after an earlier update
// and begins the hourly checks; Stop ends them.
#include <memory>

#include "olvaro/api.h"
#include "olvaro/plugin.h"
#include "platform/module.h"
#include "platform/text.h"
#include "updater.h"

namespace updates {
namespace {

// The program folder and the program's file name, from its module path.
void programPath(std::string* folder, std::string* program) {
  WCHAR self[MAX_PATH] = {};
  DWORD length = GetModuleFileName(nullptr, self, MAX_PATH);
  std::string path = platform::narrow(std::u16string_view(self, length));
  size_t slash = path.find_last_of("/\\");
  *folder = slash == std::string::npos ? "." : path.substr(0, slash);
  *program = slash == std::string::npos ? path : path.substr(slash + 1);
}

class UpdatesPlugin : public kestrum::Plugin {
 public:
  virtual ~UpdatesPlugin() = default;

  void Start() override {
    if (!updater_) {
      std::string folder, program;
      programPath(&folder, &program);
      updater_ = std::make_unique<Updater>(folder, program);
    }
    state = 1;
  }

  void Stop() override {
    updater_.reset();
    state = 0;
  }

  const char* Name() override { return "Updates"; }

 private:
  std::unique_ptr<Updater> updater_;
};

}  // namespace
}  // namespace updates

OLVARO_PLUGIN(updates::UpdatesPlugin)
