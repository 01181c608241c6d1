// The four dialogs driven by keys: refusals, waiting, every result and the
// finished state, with the connection's functions stood in for.
#include "panorel_fixture.h"
#include "platform/controls.h"
#include "platform/phoneshell.h"

namespace panoreltest {
namespace {

// The pending request of a stood-in connection function: its callback and
// context, answered later by the test.
struct Pending {
  olvaro::ResponseCallback callback = nullptr;
  void* context = nullptr;
  std::string name, password;
  bool passwordWasNull = false;
  int calls = 0;
  void answer(int64_t code) {
    olvaro::Response r{code, ""};
    callback(context, &r);
  }
};

void setServiceState(int32_t state) {
  HService* primary = KS_GetPrimaryService();
  ServiceData d{};
  d.size = sizeof d;
  d.mask = SERVICE_STATE | SERVICE_USERNAME;
  d.state = state;
  d.userName = "alice@olvaro.demo";
  KS_SetServiceData(primary, &d);
  KS_ReleaseService(primary);
}

TEST_F(PanorelTest, AddContactRefusesThenWaitsAndShowsEveryResult) {
  setServiceState(0);
  start();
  panorel::AddContactDialog& dialog = list->dialogs().addContact();
  dialog.bringUp();
  testkit::pump();
  ASSERT_TRUE(dialog.isShown());
  ASSERT_TRUE(dialog.menuBar());
  EXPECT_EQ(GetForegroundWindow(), dialog.hwnd());
  EXPECT_EQ(testkit::narrow(dialog.leftKeyText()), "OK");
  EXPECT_EQ(testkit::narrow(dialog.caption()), "Choose a contact to add");
  EXPECT_EQ(SendMessage(dialog.serviceList(), CB_GETCOUNT, 0, 0), 1);
  char16_t entry[64] = {};
  SendMessage(dialog.serviceList(), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(entry));
  EXPECT_EQ(testkit::narrow(entry), "Olvaro - alice@olvaro.demo");

  // No function, then not connected, then no name: each a message box.
  testkit::key(VK_TSOFT1);
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_EQ(boxes->last().caption, "Unsupported");
  EXPECT_EQ(boxes->last().text, "This service does not support this function.");
  Pending pending;
  HService* primary = KS_GetPrimaryService();
  olvaro::FunctionRegistration add(olvaro::handleName("Service/%p/AddContact", primary), [](void* user, void* arg) -> uint32_t {
    auto* r = static_cast<olvaro::AddContactRequest*>(arg);
    auto* p = static_cast<Pending*>(user);
    p->callback = r->callback;
    p->context = r->context;
    p->name = r->userName;
    ++p->calls;
    return 1;
  }, &pending);
  KS_ReleaseService(primary);
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(boxes->last().caption, "Not Connected");
  EXPECT_EQ(boxes->last().text, "You are not currently connected to this service.");
  setServiceState(100);
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(boxes->last().caption, "Add Contact");
  EXPECT_EQ(boxes->last().text, "You did not enter a username.");
  EXPECT_EQ(pending.calls, 0);
  EXPECT_EQ(dialog.state(), panorel::PanelDialog::kInput);

  SetFocus(dialog.userNameEdit());
  testkit::type("nobody@olvaro.demo");
  testkit::key(VK_TSOFT1);
  ASSERT_EQ(pending.calls, 1);
  EXPECT_EQ(pending.name, "nobody@olvaro.demo");
  EXPECT_EQ(dialog.state(), panorel::PanelDialog::kWaiting);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "Please Wait...");
  EXPECT_FALSE(IsWindowVisible(dialog.userNameEdit()));
  EXPECT_TRUE(IsWindowVisible(dialog.animation().hwnd()));
  RECT busy = testkit::screenRect(dialog.animation().hwnd());
  EXPECT_EQ(busy.right - busy.left, 128);
  EXPECT_EQ(busy.bottom - busy.top, 32);
  unsigned tick = dialog.animation().tick();
  testkit::runClock(450);
  EXPECT_EQ(dialog.animation().tick(), tick + 3);
  testkit::saveScreenshot("panorel_add_contact_waiting");
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(pending.calls, 1) << "no second request while waiting";

  pending.answer(2);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "No such user");
  EXPECT_EQ(dialog.state(), panorel::PanelDialog::kInput);
  EXPECT_TRUE(IsWindowVisible(dialog.userNameEdit()));
  EXPECT_FALSE(IsWindowVisible(dialog.animation().hwnd()));
  for (auto [code, caption] : {std::pair<int64_t, const char*>{12, "Contact Already Exists"},
                               {100, "You were disconnected"}, {55, "Please Wait..."}}) {
    testkit::key(VK_TSOFT1);
    pending.answer(code);
    EXPECT_EQ(testkit::narrow(dialog.caption()), caption) << code;
    EXPECT_EQ(dialog.state(), panorel::PanelDialog::kInput);
  }
  testkit::key(VK_TSOFT1);
  pending.answer(0);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "Contact Added");
  EXPECT_EQ(dialog.state(), panorel::PanelDialog::kFinished);
  EXPECT_EQ(testkit::narrow(dialog.leftKeyText()), "Finish");
  EXPECT_NE(testkit::narrow(dialog.bodyText()).find("appear on your contact list"), std::string::npos);
  testkit::pump();
  testkit::saveScreenshot("panorel_add_contact_added");
  testkit::key(VK_TSOFT1);
  EXPECT_FALSE(dialog.isShown());

  // Opened again it starts over.
  dialog.bringUp();
  EXPECT_EQ(dialog.state(), panorel::PanelDialog::kInput);
  EXPECT_EQ(testkit::narrow(dialog.leftKeyText()), "OK");
  EXPECT_EQ(testkit::windowText(dialog.userNameEdit()), "");

  // A result after the dialogs are gone finds nothing to change, not even
  // the dialog made in their place that waits for its own answer.
  SetFocus(dialog.userNameEdit());
  testkit::type("late@olvaro.demo");
  testkit::key(VK_TSOFT1);
  ASSERT_EQ(pending.calls, 6);
  Pending late = pending;
  list.reset();
  late.answer(0);
  start();
  panorel::AddContactDialog& fresh = list->dialogs().addContact();
  fresh.bringUp();
  SetFocus(fresh.userNameEdit());
  testkit::type("next@olvaro.demo");
  testkit::key(VK_TSOFT1);
  ASSERT_EQ(pending.calls, 7);
  ASSERT_EQ(fresh.state(), panorel::PanelDialog::kWaiting);
  late.answer(0);
  EXPECT_EQ(fresh.state(), panorel::PanelDialog::kWaiting) << "the late answer was not this dialog's";
  pending.answer(0);
  EXPECT_EQ(fresh.state(), panorel::PanelDialog::kFinished);
}

TEST_F(PanorelTest, CreateGroupShowsItsResults) {
  start();
  panorel::CreateGroupDialog& dialog = list->dialogs().createGroup();
  dialog.bringUp();
  testkit::pump();
  EXPECT_EQ(testkit::narrow(dialog.caption()), "Enter a name for your group");
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(boxes->last().caption, "Create Group");
  EXPECT_EQ(boxes->last().text, "You did not enter a group name.");
  Pending pending;
  olvaro::FunctionRegistration create("orvaloGroupCreate", [](void* user, void* arg) -> uint32_t {
    auto* r = static_cast<olvaro::GroupCreateRequest*>(arg);
    auto* p = static_cast<Pending*>(user);
    p->callback = r->callback;
    p->context = r->context;
    p->name = r->name;
    ++p->calls;
    return 1;
  }, &pending);
  SetFocus(dialog.nameEdit());
  testkit::type("Chess");
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(pending.name, "Chess");
  EXPECT_EQ(testkit::narrow(dialog.caption()), "The group is being created.");
  pending.answer(11);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "Group in use or reserved.");
  testkit::key(VK_TSOFT1);
  pending.answer(100);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "You were disconnected.");
  testkit::key(VK_TSOFT1);
  pending.answer(int64_t(11) | (int64_t(1) << 32));
  EXPECT_EQ(testkit::narrow(dialog.caption()), "The group is being created.") << "a high word leaves the caption";
  EXPECT_EQ(dialog.state(), panorel::PanelDialog::kInput);
  testkit::key(VK_TSOFT1);
  pending.answer(0);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "The group has been created.");
  EXPECT_EQ(dialog.state(), panorel::PanelDialog::kFinished);
  testkit::pump();
  testkit::saveScreenshot("panorel_create_group_done");

  // A request the connection could not send does not wait for ever.
  create.reset();
  dialog.bringUp();
  SetFocus(dialog.nameEdit());
  testkit::type("Offline");
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(dialog.state(), panorel::PanelDialog::kInput);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "You were disconnected.");
  // Cancel closes.
  testkit::key(VK_TSOFT2);
  EXPECT_FALSE(dialog.isShown());
}

TEST_F(PanorelTest, JoinGroupAsksForThePasswordAfterAccessDenied) {
  start();
  panorel::JoinGroupDialog& dialog = list->dialogs().joinGroup();
  dialog.bringUp();
  testkit::pump();
  EXPECT_EQ(testkit::narrow(dialog.caption()), "Choose a group to join");
  EXPECT_FALSE(IsWindowVisible(dialog.passwordEdit()));
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(boxes->last().caption, "Join Group");
  EXPECT_EQ(boxes->last().text, "You did not enter a group name.");
  Pending pending;
  olvaro::FunctionRegistration join("orvaloGroupSubscribe", [](void* user, void* arg) -> uint32_t {
    auto* r = static_cast<olvaro::GroupJoinRequest*>(arg);
    auto* p = static_cast<Pending*>(user);
    p->callback = r->callback;
    p->context = r->context;
    p->name = r->name;
    p->passwordWasNull = r->password == nullptr;
    p->password = r->password ? r->password : "";
    ++p->calls;
    return 1;
  }, &pending);
  SetFocus(dialog.nameEdit());
  testkit::type("Back Room");
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(pending.name, "Back Room");
  EXPECT_FALSE(pending.passwordWasNull) << "an empty string, not a null pointer";
  EXPECT_EQ(pending.password, "");
  EXPECT_EQ(testkit::narrow(dialog.caption()), "Please Wait...");
  pending.answer(13);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "Access Denied");
  EXPECT_EQ(dialog.state(), panorel::JoinGroupDialog::kInputWithPassword);
  EXPECT_TRUE(IsWindowVisible(dialog.passwordEdit()));
  testkit::pump();
  testkit::saveScreenshot("panorel_join_group_password");
  testkit::type("demo");
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(pending.password, "demo");
  pending.answer(2);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "There is no such group");
  EXPECT_EQ(dialog.state(), panorel::PanelDialog::kInput);
  EXPECT_FALSE(IsWindowVisible(dialog.passwordEdit()));
  testkit::key(VK_TSOFT1);
  pending.answer(11);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "You are already in that group.");
  testkit::key(VK_TSOFT1);
  pending.answer(100);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "You were disconnected");
  testkit::key(VK_TSOFT1);
  pending.answer(0);
  EXPECT_EQ(testkit::narrow(dialog.caption()), "Group Joined");
  EXPECT_EQ(dialog.state(), panorel::JoinGroupDialog::kJoinFinished);
  EXPECT_EQ(testkit::narrow(dialog.leftKeyText()), "Finish");
  testkit::key(VK_TSOFT1);
  EXPECT_FALSE(dialog.isShown());
}

}  // namespace
}  // namespace panoreltest
