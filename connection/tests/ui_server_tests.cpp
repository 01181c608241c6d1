// Signing in through the Sign In dialog against the real server.
#include <gtest/gtest.h>

#include "connection_ui.h"
#include "platform/controls.h"
#include "platform/menu.h"
#include "platform/window.h"
#include "server_fixture.h"
#include "testkit/modal.h"
#include "ui_fixture.h"
#include "wire_client.h"

namespace conntest {
namespace {

class UiServerTest : public ServerTest {
 protected:
  // After the hub is fresh, so the main window's variants stay set.
  void SetUp() override {
    ServerTest::SetUp();
    main = std::make_unique<MainWindowStandIn>();
  }
  void TearDown() override {
    ui.reset();
    functions.reset();
    connection.reset();
    main.reset();
    ServerTest::TearDown();
  }
  std::unique_ptr<MainWindowStandIn> main;
  std::unique_ptr<olvaro::conn::ConnectionFunctions> functions;
  std::unique_ptr<olvaro::conn::ConnectionUi> ui;
};

TEST_F(UiServerTest, SignsInThroughTheDialogAfterAWrongPassword) {
  useServer(port(*server));
  start();
  functions = std::make_unique<olvaro::conn::ConnectionFunctions>(connection.get());
  ui = std::make_unique<olvaro::conn::ConnectionUi>(connection.get());
  int32_t online = 1;
  ASSERT_EQ(KS_CallFunction("Connection/SetPresenceStatus", &online), 0u);
  auto* dialog = ui->presenceMenu().signInDialog();
  ASSERT_TRUE(dialog && dialog->isShown());
  testkit::type("ann@example.org");
  SetFocus(dialog->passwordEdit());
  testkit::type("wrongpass");
  SetFocus(dialog->rememberBox());
  testkit::key(VK_SPACE);
  testkit::key(VK_TSOFT1);
  ASSERT_TRUE(waitFor([&] { return boxes->count() == 1; }));
  EXPECT_EQ(boxes->last().caption, "Login Failed");
  ASSERT_TRUE(waitState(0));
  EXPECT_EQ(service().signInRequested, 0);

  // Signed out, the menu offers the dialog again, filled with what was saved.
  std::string handle = olvaro::handleName("Service/%p/HandlePopupMenu", connection->service());
  UINT signInAs = ui->presenceMenu().command(olvaro::conn::PresenceMenu::kSignInAs);
  ASSERT_EQ(KS_CallFunction(handle.c_str(), reinterpret_cast<void*>(uintptr_t(signInAs))), 1u);
  ASSERT_TRUE(dialog->isShown());
  EXPECT_EQ(testkit::windowText(dialog->userEdit()), "ann@example.org");
  EXPECT_EQ(testkit::windowText(dialog->passwordEdit()), "wrongpass");
  EXPECT_EQ(SendMessage(dialog->rememberBox(), BM_GETCHECK, 0, 0), BST_CHECKED);
  SetWindowText(dialog->passwordEdit(), u"");
  SetFocus(dialog->passwordEdit());
  testkit::type("secret12");
  testkit::key(VK_TSOFT1);
  ASSERT_TRUE(waitState(100));
  EXPECT_EQ(boxes->count(), 1u);
  char saved[64];
  KS_GetSettingString("connection.pass", "", saved, sizeof saved);
  EXPECT_STREQ(saved, "secret12");
  testkit::pump();
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusFirstLine(100, service())), "Ann - Online");
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusSecondLine(100, 0, service())), "around");
  testkit::saveScreenshot("connection_signed_in_through_the_dialog");

  // Away from the presence menu, by keys: bob, who lists ann, sees it.
  server->list_contact(bob, ann);
  WireClient b(port(*server));
  ASSERT_TRUE(b.signIn("bob@example.org", "bobpass1"));
  ASSERT_TRUE(ui->statusBar());
  SetFocus(ui->statusBar()->hwnd());
  // From "Online" over the separator to "Away".
  testkit::ModalAnswers away({testkit::pressing({VK_DOWN, VK_RETURN})}, testkit::Modal::Menu);
  testkit::key(VK_RETURN);
  EXPECT_EQ(service().signInRequested, 2);
  Packet seen;
  ASSERT_TRUE(b.next([&](const Packet& p) {
    return p.command == "CONTACT DETAIL" && int64_t(p.getHeaderId("Contact-Id")) == ann &&
           p.getHeaderInt("Online-Status") == 2;
  }, &seen));
}

}  // namespace
}  // namespace conntest
