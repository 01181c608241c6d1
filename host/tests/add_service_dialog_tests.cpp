// The "Add a Service" wizard: the type list, the form, and what reaches the
// register function.
#include <cstdio>
#include <cstring>

#include "add_service_dialog.h"
#include "framework/list_control.h"
#include "host_window_fixture.h"
#include "platform/controls.h"
#include "platform/module.h"

using host::AddServiceDialog;

namespace {

struct Registrations {
  std::vector<host::ServiceRegistration> records;
  static uint32_t onRegister(void* user, void* argument) {
    static_cast<Registrations*>(user)->records.push_back(*static_cast<host::ServiceRegistration*>(argument));
    return 1;
  }
};

HServiceType* makeType(const char* longName, const char* shortName) {
  ServiceTypeData d{};
  d.size = sizeof d;
  d.mask = SERVICETYPE_LONGNAME | SERVICETYPE_SHORTNAME | SERVICETYPE_ICON;
  d.longName = longName;
  d.shortName = shortName;
  d.iconModule = GetModuleHandle(nullptr);
  d.iconResource = u"CONTACT_ONLINE";
  return KS_CreateServiceType(&d);
}

std::string registerName(HServiceType* type) {
  char name[64];
  std::snprintf(name, sizeof name, "ServiceType/%p/Register", static_cast<void*>(type));
  return name;
}

}  // namespace

class AddServiceTest : public HostWindowTest {
 protected:
  void SetUp() override {
    HostWindowTest::SetUp();
    start();
    xmpp_ = makeType("Jabber / Google Talk", "XMPP");
    icq_ = makeType("ICQ", "ICQ");
    for (HServiceType* t : {xmpp_, icq_}) KS_RegisterFunction(registerName(t).c_str(), &Registrations::onRegister, &registered_);
  }

  void TearDown() override {
    // The dialog refers to the types: it goes first.
    if (host_) host_->stop();
    KS_ReleaseServiceType(xmpp_);
    KS_ReleaseServiceType(icq_);
    HostWindowTest::TearDown();
  }

  // Opens the wizard and goes to the form of the type in row `row`.
  AddServiceDialog* openForm(int row) {
    command(host::kCommandAddService);
    AddServiceDialog* dialog = main().addServiceDialog();
    if (!dialog || !dialog->typeList()) return nullptr;
    dialog->typeList()->setSelectedIndex(row);
    SendMessage(dialog->hwnd(), WM_COMMAND, IDOK, 0);
    testkit::pump();
    return dialog;
  }

  HServiceType* xmpp_ = nullptr;
  HServiceType* icq_ = nullptr;
  Registrations registered_;
};

TEST_F(AddServiceTest, FirstPageListsTheTypesWithTheFocus) {
  command(host::kCommandAddService);
  AddServiceDialog* dialog = main().addServiceDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(testkit::windowText(dialog->hwnd()), "Add a Service");
  ASSERT_NE(dialog->typeList(), nullptr);
  EXPECT_EQ(dialog->typeList()->rowCount(), 2);
  EXPECT_EQ(GetFocus(), dialog->typeList()->hwnd());
  testkit::saveScreenshot("host_add_service_types");
  // Cancel closes the dialog; the next command makes a fresh one.
  SendMessage(dialog->hwnd(), WM_COMMAND, IDCANCEL, 0);
  testkit::pump();
  EXPECT_EQ(main().addServiceDialog(), nullptr);
}

TEST_F(AddServiceTest, XmppFormHasFiveFieldsOthersThree) {
  AddServiceDialog* dialog = openForm(1);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->typeList(), nullptr);
  EXPECT_EQ(dialog->chosenType(), icq_);
  ASSERT_EQ(dialog->fields().size(), 3u);
  EXPECT_EQ(testkit::windowText(dialog->fields()[2].label), "Nickname");
  SendMessage(dialog->hwnd(), WM_COMMAND, IDCANCEL, 0);
  testkit::pump();

  dialog = openForm(0);
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(dialog->fields().size(), 5u);
  const char* names[] = {"Username", "Password", "Nickname", "Server", "Resource"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(testkit::windowText(dialog->fields()[i].label), names[i]);
  EXPECT_EQ(testkit::windowText(dialog->fields()[3].edit), "jabber.org");
  EXPECT_EQ(testkit::windowText(dialog->fields()[4].edit), "Home");
  EXPECT_FALSE(dialog->fields()[4].required);
  EXPECT_TRUE(GetWindowLong(dialog->fields()[1].edit, GWL_STYLE) & ES_PASSWORD);
  EXPECT_EQ(GetFocus(), dialog->fields()[0].edit);
  testkit::type("me@jabber.orgg");
  // Back belongs to the dialog: it deletes in the field instead of leaving.
  testkit::key(VK_TBACK);
  EXPECT_EQ(testkit::windowText(dialog->fields()[0].edit), "me@jabber.org");
  EXPECT_EQ(main().addServiceDialog(), dialog);
  testkit::saveScreenshot("host_add_service_form");
}

TEST_F(AddServiceTest, SignedInRegistersTheFieldsInFormOrderSkippingEmptyOptionalOnes) {
  setSignedIn(true);
  AddServiceDialog* dialog = openForm(0);
  ASSERT_NE(dialog, nullptr);
  testkit::type("someone");
  SetWindowText(dialog->fields()[1].edit, u"s3cret");
  SetWindowText(dialog->fields()[2].edit, u"Some One");
  SetWindowText(dialog->fields()[4].edit, u"");  // optional: no entry
  // A value longer than its slot is cut to fit.
  SetWindowText(dialog->fields()[3].edit, std::u16string(100, u's').c_str());
  SendMessage(dialog->hwnd(), WM_COMMAND, IDOK, 0);
  testkit::pump();
  ASSERT_EQ(registered_.records.size(), 1u);
  const auto& r = registered_.records[0];
  EXPECT_EQ(r.serviceType, xmpp_);
  EXPECT_EQ(r.mesgId, 0u);
  ASSERT_EQ(r.fieldCount, 4);
  EXPECT_STREQ(r.fields[0].name, "Username");
  EXPECT_STREQ(r.fields[0].value, "someone");
  EXPECT_STREQ(r.fields[1].value, "s3cret");
  EXPECT_STREQ(r.fields[2].value, "Some One");
  EXPECT_STREQ(r.fields[3].name, "Server");
  EXPECT_EQ(std::strlen(r.fields[3].value), 64u);
  EXPECT_EQ(main().addServiceDialog(), nullptr);
}

#include "message_box_probe.h"

TEST_F(AddServiceTest, MissingRequiredFieldIsRefusedAndTheFormKept) {
  setSignedIn(true);
  AddServiceDialog* dialog = openForm(1);
  ASSERT_NE(dialog, nullptr);
  testkit::type("someone");
  // Password left empty.
  SetWindowText(dialog->fields()[2].edit, u"Some One");
  MessageBoxProbe probe;
  SendMessage(dialog->hwnd(), WM_COMMAND, IDOK, 0);
  testkit::pump();
  ASSERT_EQ(probe.shown.size(), 1u);
  EXPECT_EQ(probe.shown[0].caption, "Missing Field");
  EXPECT_EQ(probe.shown[0].text, "A required field is missing");
  EXPECT_TRUE(registered_.records.empty());
  ASSERT_EQ(main().addServiceDialog(), dialog);
  EXPECT_EQ(testkit::windowText(dialog->fields()[0].edit), "someone");
}

TEST_F(AddServiceTest, SignedOutIsRefusedAndNothingRegistered) {
  setSignedIn(false);
  AddServiceDialog* dialog = openForm(1);
  ASSERT_NE(dialog, nullptr);
  for (const auto& f : dialog->fields()) SetWindowText(f.edit, u"x");
  MessageBoxProbe probe;
  SendMessage(dialog->hwnd(), WM_COMMAND, IDOK, 0);
  testkit::pump();
  ASSERT_EQ(probe.shown.size(), 1u);
  EXPECT_EQ(probe.shown[0].caption, "Can't add service");
  EXPECT_EQ(probe.shown[0].text, "You are not signed in.");
  EXPECT_TRUE(registered_.records.empty());
  EXPECT_EQ(main().addServiceDialog(), dialog);
}
