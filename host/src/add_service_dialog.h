// "Add a Service": pick a network type, then enter the account details that
// go to the type's register function.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dialog.h"
#include "olvaro/api.h"
#include "service_registration.h"

namespace fwk {
class ListControl;
}

namespace host {

// Room the host keeps for service types on the first page.
constexpr int kMaxServiceTypes = 16;
// Pre-filled on XMPP forms; the user may change it.
inline constexpr const char16_t* kDefaultXmppServer = u"jabber.org";

class AddServiceDialog : public Dialog {
 public:
  AddServiceDialog(HWND owner, std::function<void()> onClosed);
  ~AddServiceDialog() override;

  // Page one: the list of types (null once the form is shown).
  fwk::ListControl* typeList() const { return list_.get(); }
  // Page two: one label and one edit per field, in order.
  struct Field {
    HWND label = nullptr;
    HWND edit = nullptr;
    bool required = true;
  };
  const std::vector<Field>& fields() const { return fields_; }
  HServiceType* chosenType() const { return chosen_; }

 protected:
  void onOk() override;
  LRESULT onCommand(UINT id, UINT code, HWND control) override;
  LRESULT onVScroll(UINT code, int pos, HWND bar) override;
  LRESULT onSize(UINT kind, int width, int height) override;

 private:
  void showForm(HServiceType* type);
  void placeForm();
  void scrollTo(int position);
  // Scrolls the form so a field that got the focus is seen with its label.
  void ensureVisible(HWND edit);
  void submit();

  std::unique_ptr<fwk::ListControl> list_;
  std::vector<HServiceType*> types_;
  HServiceType* chosen_ = nullptr;
  std::vector<Field> fields_;
  int scroll_ = 0;
  int formHeight_ = 0;
};

}  // namespace host
