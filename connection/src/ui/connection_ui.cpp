#include "connection_ui.h"

#include "bridges.h"
#include "framework/box_layout.h"
#include "olvaro/hub_records.h"
#include "service_item.h"
#include "session.h"

namespace olvaro::conn {
namespace {

// An enabled bridge's item in "Services".
class BridgeServiceItem : public BridgeItem {
 public:
  explicit BridgeServiceItem(HService* service) : item_(service) {}

 private:
  ServiceItem item_;
};

}  // namespace

ConnectionUi::ConnectionUi(Connection* connection)
    : connection_(connection), menu_(std::make_unique<PresenceMenu>(connection->service())) {
  if (HWND parent = mainWindow()) {
    PresenceMenu* menu = menu_.get();
    statusBar_ = std::make_unique<ConnectionStatusBar>(
        parent, KS_GetVariantPtr("core.window.layout"), connection->service(),
        [menu, this](int x, int y) { menu->popUp(statusBar_ ? statusBar_->hwnd() : nullptr, x, y); });
  }
  connection_->setSignInPrompt([menu = menu_.get()] { menu->showSignIn(); });
  Bridges::setItemMaker([](HService* service) { return std::make_unique<BridgeServiceItem>(service); });
}

ConnectionUi::~ConnectionUi() {
  connection_->setSignInPrompt(nullptr);
  Bridges::setItemMaker(nullptr);
  if (statusBar_) {
    // The layout goes on living with the main window; take the bar out first.
    if (auto* layout = static_cast<fwk::BoxLayout*>(KS_GetVariantPtr("core.window.layout")))
      layout->remove(statusBar_->hwnd());
  }
  statusBar_.reset();
  menu_.reset();
}

}  // namespace olvaro::conn
