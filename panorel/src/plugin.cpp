// The plug-in object the host loads: Start fills the main window with the
// contact list, Stop takes it away again.
#include <memory>

#include "contact_list.h"
#include "olvaro/api.h"
#include "olvaro/plugin.h"

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

}  // namespace
}  // namespace panorel

OLVARO_PLUGIN(panorel::ContactListPlugin)
