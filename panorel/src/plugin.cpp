// The plug-in object the host loads: Start fills the main window with the
// contact list, Stop takes it away again.
#include <memory>

#include "contact_list.h"
#include "olvaro/api.h"

namespace panorel {
namespace {

class ContactListPlugin : public kestrum::Plugin {
 public:
  virtual ~ContactListPlugin() = default;

  void Start() override {
    if (!m_list) m_list = std::make_unique<ContactList>();
    state = 1;
  }

  void Stop() override {
    m_list.reset();
    state = 0;
  }

  const char* Name() override { return "Panorel"; }

 private:
  std::unique_ptr<ContactList> m_list;
};

ContactListPlugin* g_plugin = nullptr;

}  // namespace
}  // namespace panorel

extern "C" __attribute__((visibility("default"))) int PluginLoad(int version, kestrum::Plugin** out) {
  if (out) *out = nullptr;
  if (version != 5 || !out) return 0;
  if (!panorel::g_plugin) panorel::g_plugin = new panorel::ContactListPlugin();
  *out = panorel::g_plugin;
  return 1;
}

extern "C" __attribute__((visibility("default"))) int PluginUnload() {
  delete panorel::g_plugin;
  panorel::g_plugin = nullptr;
  return 0;
}
