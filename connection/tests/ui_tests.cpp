// The connection's screens on the headless device: the status bar, the
// presence menu, the two dialogs and the items of bridged services.
#include <gtest/gtest.h>

#include <cstdlib>

#include "connection_ui.h"
#include "framework/box_layout.h"
#include "framework/fonts.h"
#include "olvaro/registrations.h"
#include "overview.h"
#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "service_item.h"
#include "session_fixture.h"
#include "testkit/modal.h"
#include "status_lock.h"
#include "ui_fixture.h"

namespace conntest {
namespace {

using olvaro::conn::ConnectionUi;
using olvaro::conn::PresenceMenu;

// Pixels of a screen area within `tolerance` of a colour on every channel.
int countNear(const RECT& area, int r, int g, int b, int tolerance = 40) {
  int n = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x) {
      COLORREF c = testkit::pixel(x, y);
      if (std::abs(GetRValue(c) - r) <= tolerance && std::abs(GetGValue(c) - g) <= tolerance &&
          std::abs(GetBValue(c) - b) <= tolerance)
        ++n;
    }
  return n;
}

std::string menuText(HMENU menu, int position) {
  WCHAR text[128] = {};
  GetMenuString(menu, position, text, 128, MF_BYPOSITION);
  return testkit::narrow(text);
}

class UiTest : public ScriptedSessionTest {
 protected:
  void SetUp() override {
    ScriptedSessionTest::SetUp();
    main_ = std::make_unique<MainWindowStandIn>();
  }
  void TearDown() override {
    platform::setModalIdleHook({});
    ui.reset();
    functions_.reset();
    connection.reset();
    main_.reset();
    ScriptedSessionTest::TearDown();
  }

  // The session, its functions when `realFunctions`, and the screens.
  void startUi(bool realFunctions = true) {
    useServer(peer.port());
    start();
    if (realFunctions) functions_ = std::make_unique<olvaro::conn::ConnectionFunctions>(connection.get());
    ui = std::make_unique<ConnectionUi>(connection.get());
    testkit::pump();
  }
  void signIn(const std::string& logon) {
    credentials("ann@example.org", "secret12");
    startUi();
    ScriptedSessionTest::signIn({.fresh = false, .exact = false, .contacts = "", .logon = logon});
    testkit::pump();
  }
  olvaro::conn::ConnectionStatusBar& bar() { return *ui->statusBar(); }
  RECT barRect() { return testkit::screenRect(bar().hwnd()); }
  // The icon square and the two text lines, on the screen.
  RECT iconSquare() {
    RECT r = barRect();
    int h = r.bottom - r.top, size = h > 64 ? 64 : h > 32 ? 32 : 16, off = (h - size) / 2;
    return RECT{r.left + off, r.top + off + 1, r.left + off + size, r.top + off + 1 + size};
  }
  RECT line(int which) {
    RECT r = barRect();
    int h = r.bottom - r.top, mid = r.top + h / 2 + 1;
    return which == 1 ? RECT{r.left + h, r.top, r.right, mid} : RECT{r.left + h, mid, r.right, r.bottom};
  }
  ServiceData own() { return service(); }
  void setService(uint32_t mask, const ServiceData& d) {
    ServiceData copy = d;
    copy.size = sizeof copy;
    copy.mask = mask;
    KS_SetServiceData(connection->service(), &copy);
  }
  HMENU presenceMenu() {
    std::string name = olvaro::handleName("Service/%p/CreatePopupMenu", connection->service());
    return reinterpret_cast<HMENU>(uintptr_t(KS_CallFunction(name.c_str(), nullptr)));
  }
  uint32_t handlePopup(UINT command) {
    std::string name = olvaro::handleName("Service/%p/HandlePopupMenu", connection->service());
    return KS_CallFunction(name.c_str(), reinterpret_cast<void*>(uintptr_t(command)));
  }

  std::unique_ptr<ConnectionUi> ui;

 private:
  std::unique_ptr<MainWindowStandIn> main_;
  std::unique_ptr<olvaro::conn::ConnectionFunctions> functions_;
};

// Records calls of a named function the test stands in for.
struct FakeFunction {
  FakeFunction(const std::string& name, std::function<uint32_t(void*)> body)
      : body(std::move(body)), registration(name, &FakeFunction::call, this) {}
  static uint32_t call(void* user, void* argument) {
    auto* self = static_cast<FakeFunction*>(user);
    ++self->calls;
    return self->body(argument);
  }
  std::function<uint32_t(void*)> body;
  int calls = 0;
  olvaro::FunctionRegistration registration;
};

TEST_F(UiTest, SignedInWithThreeUnreadShowsTheYellowIconTheNameAndTheCount) {
  signIn("LOGON SUCCESSFUL\nSub-Id: 9\nNickname: Ann Example\nStatus: at the desk\n\n");
  ServiceData away{};
  away.signInRequested = 2;
  setService(SERVICE_SIGNINREQUESTED, away);
  KS_SetVariantLong("messages.unread", 3);
  testkit::pump();

  EXPECT_EQ(barRect().bottom - barRect().top, fwk::screenDpi() * 2 / 5);
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusFirstLine(100, own())), "Ann Example - Away");
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusSecondLine(100, 3, own())), "3 New Messages");
  EXPECT_GT(countNear(iconSquare(), 0xFF, 0xE0, 0x20), 20);  // yellow
  EXPECT_EQ(countNear(iconSquare(), 0xFF, 0x90, 0x20, 20), 0);
  EXPECT_GT(testkit::countPixels(line(1), RGB(255, 255, 255)), 20);
  EXPECT_EQ(testkit::countPixels(line(2), RGB(255, 255, 255)), 0);
  EXPECT_GT(testkit::countPixels(line(2), RGB(160, 160, 160)), 20);
  EXPECT_FALSE(bar().animating());
  EXPECT_EQ(lockPixels(bar().hwnd()), 0) << "a lock on a plain link";

  // Nothing unread: the plain mark and the own status line; one: singular.
  KS_SetVariantLong("messages.unread", 0);
  testkit::pump();
  EXPECT_GT(countNear(iconSquare(), 0xFF, 0x90, 0x20, 20), 20);
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusSecondLine(100, 0, own())), "at the desk");
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusSecondLine(100, 1, own())), "1 New Message");
  // No nickname: the user name; a request below away reads as online.
  ServiceData plain{};
  plain.displayName = "";
  plain.signInRequested = 0;
  plain.text24 = "";
  setService(SERVICE_DISPLAYNAME | SERVICE_SIGNINREQUESTED | SERVICE_TEXT24, plain);
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusFirstLine(100, own())), "ann@example.org - Online");
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusSecondLine(100, 0, own())), "No Messages");
  testkit::pump();
  testkit::saveScreenshot("connection_status_bar_signed_in");
}

TEST_F(UiTest, RefusedSignInLeavesNotConnectedAndTheServiceItemShowsTheReason) {
  credentials("ann@example.org", "secret12");
  startUi();
  openLink();
  peer.send("LOGON FAILED\nreason: Wrong password\nretry: 0\n\n");
  ASSERT_TRUE(waitFor([&] { return boxes->count() == 1; }));
  peer.drop();
  ASSERT_TRUE(waitState(0));
  testkit::pump();
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusFirstLine(0, own())), "Not Connected");
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusSecondLine(0, 0, own())), "No Messages");
  EXPECT_GT(countNear(iconSquare(), 0xA0, 0xA0, 0xA0, 48), 20);
  EXPECT_EQ(countNear(iconSquare(), 0xFF, 0x90, 0x20, 30), 0);
  EXPECT_FALSE(bar().animating());

  // A bridged service refused the same way, in a stand-in overview.
  struct Shown {
    std::string title, text;
    LPCWSTR icon = nullptr;
  } shown;
  static int section, item;
  FakeFunction createSection("Overview/CreateSection", [](void* a) {
    auto* info = static_cast<olvaro::conn::OverviewSectionInfo*>(a);
    EXPECT_STREQ(info->key, "SERVICES");
    EXPECT_STREQ(info->title, "Services");
    EXPECT_EQ(info->atFront, 0);
    info->section = &section;
    return 1u;
  });
  auto record = [&](void* a) {
    auto* info = static_cast<olvaro::conn::OverviewItemInfo*>(a);
    shown = {info->title, info->text, info->iconResource};
    info->item = &item;
    return 1u;
  };
  FakeFunction add("Overview/AddStaticItem", record), update("Overview/UpdateStaticItem", record);
  FakeFunction remove("Overview/DeleteItem", [](void*) { return 1u; });
  ServiceData bridged{};
  bridged.size = sizeof bridged;
  bridged.mask = SERVICE_USERNAME | SERVICE_DISPLAYNAME | SERVICE_TEXT28 | SERVICE_ICON;
  bridged.userName = "ann@icq";
  bridged.displayName = "ICQ";
  bridged.text28 = "Bad password";
  bridged.iconResource = u"NET_ICQ";
  HService* icq = KS_CreateService(&bridged);
  {
    olvaro::conn::ServiceItem serviceItem(icq);
    EXPECT_EQ(add.calls, 1);
    EXPECT_EQ(shown.title, "ICQ - Offline");
    EXPECT_EQ(shown.text, "Bad password - ann@icq");
    EXPECT_EQ(std::u16string(shown.icon), u"NET_ICQ");

    ServiceData change{};
    change.size = sizeof change;
    change.mask = SERVICE_SIGNINREQUESTED;
    change.signInRequested = 5;
    KS_SetServiceData(icq, &change);
    EXPECT_EQ(shown.title, "ICQ - Logging In");
    change.mask = SERVICE_STATE;
    change.state = 5;
    KS_SetServiceData(icq, &change);
    EXPECT_EQ(shown.title, "ICQ - Busy");
    EXPECT_EQ(shown.text, "ann@icq");  // the reason only while signed out
    change.mask = SERVICE_SIGNINREQUESTED | SERVICE_DISPLAYNAME;
    change.signInRequested = 0;
    change.displayName = "";
    KS_SetServiceData(icq, &change);
    EXPECT_EQ(shown.title, "Logging Off");
    EXPECT_EQ(add.calls, 1);
    EXPECT_EQ(update.calls, 3);

    // Its context menu is the bridge's own menu, and the choice goes back to it.
    UINT handled = 0;
    FakeFunction bridgeMenu(olvaro::handleName("Service/%p/CreatePopupMenu", icq), [](void*) {
      HMENU m = CreatePopupMenu();
      AppendMenu(m, MF_STRING, 71, u"Online");
      AppendMenu(m, MF_STRING, 72, u"Away");
      return uint32_t(reinterpret_cast<uintptr_t>(m));
    });
    FakeFunction bridgeHandle(olvaro::handleName("Service/%p/HandlePopupMenu", icq), [&](void* a) {
      handled = UINT(reinterpret_cast<uintptr_t>(a));
      return 0u;
    });
    testkit::ModalAnswers away({testkit::pressing({VK_DOWN, VK_RETURN})});
    olvaro::conn::OverviewContextMenuInfo other{&section, 10, 10}, mine{&item, 10, 10};
    KS_EventRaise("Overview/Item/OnContextMenu", &other);
    EXPECT_EQ(bridgeMenu.calls, 0);
    KS_EventRaise("Overview/Item/OnContextMenu", &mine);
    EXPECT_EQ(bridgeMenu.calls, 1);
    EXPECT_EQ(handled, 72u);
  }
  EXPECT_EQ(remove.calls, 1);
  KS_ReleaseService(icq);
}

TEST_F(UiTest, PresenceMenuOffersSignInAsOnlySignedOutAndMyIdentityOnlySignedIn) {
  credentials("ann@example.org", "secret12");
  KS_SetSettingLong("Connection/AutoSignIn", 0);
  std::vector<int32_t> asked;
  FakeFunction setPresence("Connection/SetPresenceStatus", [&](void* a) {
    asked.push_back(*static_cast<int32_t*>(a));
    return 1u;
  });
  startUi(false);
  ServiceData busy{};
  busy.signInRequested = 5;
  setService(SERVICE_SIGNINREQUESTED, busy);

  const char* presences[] = {"Online", "", "Away", "Busy", "Invisible", "", "Offline"};
  auto look = [&](long state) {
    KS_SetVariantLong("connection.state", state);
    HMENU menu = presenceMenu();
    EXPECT_TRUE(IsMenu(menu));
    std::vector<std::string> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) items.push_back(menuText(menu, i));
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(items.at(i), presences[i]);
      bool checked = GetMenuState(menu, i, MF_BYPOSITION) & MF_CHECKED;
      EXPECT_EQ(checked, i == 3) << presences[i];
    }
    DestroyMenu(menu);
    return items;
  };
  std::vector<std::string> signedOut = look(0), connecting = look(40), signedIn = look(100);
  KS_SetVariantLong("connection.state", 0);
  ASSERT_EQ(signedOut.size(), 9u);
  EXPECT_EQ(signedOut[8], "Sign in as...");
  EXPECT_EQ(connecting.size(), 7u);
  ASSERT_EQ(signedIn.size(), 9u);
  EXPECT_EQ(signedIn[8], "My Identity...");

  PresenceMenu& menu = ui->presenceMenu();
  EXPECT_EQ(handlePopup(menu.command(PresenceMenu::kAway)), 0u);
  EXPECT_EQ(handlePopup(12345), 0u);
  EXPECT_EQ(asked, std::vector<int32_t>{2});
  EXPECT_EQ(handlePopup(menu.command(PresenceMenu::kSignInAs)), 1u);
  ASSERT_NE(menu.signInDialog(), nullptr);
  EXPECT_TRUE(menu.signInDialog()->isShown());
  // The host's menu hands the command over as a window command.
  KS_EventRaise("core.window.OnCommand", reinterpret_cast<void*>(uintptr_t(menu.command(PresenceMenu::kOffline))));
  EXPECT_EQ(asked, (std::vector<int32_t>{2, 0}));

  // Enter on the bar opens the menu; keys pick "Invisible".
  menu.signInDialog()->close();
  SetFocus(bar().hwnd());
  std::vector<std::string> seen;
  {
    testkit::ModalAnswers invisible({[](HWND) {
      RECT r = testkit::screenRect(platform::activeMenuWindow());
      EXPECT_LE(r.left, 5);
      for (int i = 0; i < 3; ++i) testkit::press(VK_DOWN);  // separators are passed over
      testkit::press(VK_RETURN);
    }});
    testkit::key(VK_RETURN);
  }
  EXPECT_EQ(asked, (std::vector<int32_t>{2, 0, 3}));
  // Tap-and-hold opens it under the stylus; a plain tap does not.
  RECT opened{};
  // Only the menu is answered, not the gesture's own wait.
  auto held = testkit::ModalAnswers::always([&](HWND) {
    opened = testkit::screenRect(platform::activeMenuWindow());
    testkit::press(VK_ESCAPE);
  }, testkit::Modal::Menu);
  RECT r = barRect();
  testkit::tap(r.left + 120, r.top + 10);
  EXPECT_EQ(held.seen(), 0);
  testkit::tapAndHold(r.left + 120, r.top + 10);
  EXPECT_EQ(held.seen(), 1);
  EXPECT_GE(opened.left, r.left + 60);
  EXPECT_EQ(asked.size(), 3u);
}

TEST_F(UiTest, GoingOnlineWithoutAnAccountAsksForItAndTheDialogSignsIn) {
  startUi();
  int32_t online = 1;
  EXPECT_EQ(KS_CallFunction("Connection/SetPresenceStatus", &online), 0u);
  EXPECT_EQ(state(), 0);
  auto* dialog = ui->presenceMenu().signInDialog();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(dialog->isShown());
  EXPECT_EQ(testkit::windowText(dialog->hwnd()), "Sign In");
  EXPECT_EQ(GetFocus(), dialog->userEdit());
  EXPECT_TRUE(GetWindowLong(dialog->passwordEdit(), GWL_STYLE) & ES_PASSWORD);
  EXPECT_EQ(SendMessage(dialog->rememberBox(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessage(dialog->autoSignInBox(), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  testkit::type("ann@example.org");
  testkit::key(VK_TSOFT1);  // OK without a password
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_EQ(boxes->last().text, "You must enter a user name and a password");
  EXPECT_EQ(boxes->last().caption, "Missing Information");
  EXPECT_EQ(boxes->last().type & MB_ICONMASK, UINT(MB_ICONEXCLAMATION));
  EXPECT_TRUE(dialog->isShown());
  EXPECT_EQ(state(), 0);

  SetFocus(dialog->passwordEdit());
  testkit::type("secret12");
  // Signing in by itself needs the password kept.
  SetFocus(dialog->autoSignInBox());
  testkit::key(VK_SPACE);
  EXPECT_EQ(SendMessage(dialog->rememberBox(), BM_GETCHECK, 0, 0), BST_CHECKED);
  testkit::key(VK_TSOFT1);
  EXPECT_FALSE(dialog->isShown());
  char saved[64];
  KS_GetSettingString("connection.user", "", saved, sizeof saved);
  EXPECT_STREQ(saved, "ann@example.org");
  KS_GetSettingString("connection.pass", "", saved, sizeof saved);
  EXPECT_STREQ(saved, "secret12");
  EXPECT_EQ(KS_GetSettingLong("Connection/AutoSignIn", 0), 1);
  EXPECT_EQ(service().signInRequested, 1);
  openLink();  // the peer sees the password typed
  EXPECT_NE(state(), 0);
}

TEST_F(UiTest, SignInWithoutRememberMeClearsTheSavedPasswordAndKeepsTheUserName) {
  credentials("saved@example.org", "oldpass");
  KS_SetSettingLong("Connection/AutoSignIn", 0);
  startUi();
  PresenceMenu& menu = ui->presenceMenu();
  EXPECT_EQ(handlePopup(menu.command(PresenceMenu::kSignInAs)), 1u);
  auto* dialog = menu.signInDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(testkit::windowText(dialog->userEdit()), "saved@example.org");
  EXPECT_EQ(SendMessage(dialog->rememberBox(), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessage(dialog->autoSignInBox(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  SetFocus(dialog->autoSignInBox());
  testkit::key(VK_SPACE);
  ASSERT_EQ(SendMessage(dialog->autoSignInBox(), BM_GETCHECK, 0, 0), BST_CHECKED);
  // Forgetting the password ends signing in by itself.
  SetFocus(dialog->rememberBox());
  testkit::key(VK_SPACE);
  EXPECT_EQ(SendMessage(dialog->rememberBox(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessage(dialog->autoSignInBox(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  SetWindowText(dialog->userEdit(), u"other@example.org");
  SetWindowText(dialog->passwordEdit(), u"secret12");
  testkit::key(VK_TSOFT1);
  EXPECT_FALSE(dialog->isShown());
  char saved[64];
  KS_GetSettingString("connection.user", "", saved, sizeof saved);
  EXPECT_STREQ(saved, "saved@example.org");
  KS_GetSettingString("connection.pass", "x", saved, sizeof saved);
  EXPECT_STREQ(saved, "");
  EXPECT_EQ(KS_GetSettingLong("Connection/AutoSignIn", 1), 0);
  // This session still signs in with what was typed.
  EXPECT_STREQ(service().userName, "other@example.org");
  ASSERT_TRUE(peer.accept());
  peer.takePacket();
  peer.send(kAuthChallenge);
  ASSERT_TRUE(waitFor([&] { return peer.received().find("secret12") != std::string::npos; }));
  EXPECT_NE(peer.received().find("name: other@example.org\nonline-status: 1\n"), std::string::npos);

  // Opened again, the form shows what is saved now.
  EXPECT_EQ(handlePopup(menu.command(PresenceMenu::kSignInAs)), 1u);
  EXPECT_EQ(menu.signInDialog(), dialog);
  EXPECT_EQ(testkit::windowText(dialog->passwordEdit()), "");
  EXPECT_EQ(SendMessage(dialog->rememberBox(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  testkit::key(VK_TSOFT2);  // Cancel
  EXPECT_FALSE(dialog->isShown());
}

TEST_F(UiTest, IdentityDialogSendsTheNicknameAndStatusTyped) {
  signIn("LOGON SUCCESSFUL\nSub-Id: 9\nNickname: Ann\nStatus: here\n\n");
  PresenceMenu& menu = ui->presenceMenu();
  EXPECT_EQ(handlePopup(menu.command(PresenceMenu::kMyIdentity)), 1u);
  auto* dialog = menu.identityDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(testkit::windowText(dialog->hwnd()), "Edit Identity");
  EXPECT_EQ(GetFocus(), dialog->nicknameEdit());
  EXPECT_EQ(testkit::windowText(dialog->statusEdit()), "here");
  testkit::type("Annie");  // replaces the selected nickname
  EXPECT_EQ(testkit::windowText(dialog->nicknameEdit()), "Annie");

  SetWindowText(dialog->statusEdit(), u"");
  testkit::key(VK_TSOFT1);
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_EQ(boxes->last().text, "You must enter a nickname and status");
  EXPECT_EQ(boxes->last().caption, "Missing Information");
  EXPECT_TRUE(dialog->isShown());

  SetFocus(dialog->statusEdit());
  testkit::type("out for lunch");
  peer.clear();
  testkit::key(VK_TSOFT1);
  EXPECT_FALSE(dialog->isShown());
  ASSERT_TRUE(waitFor([&] { return peer.received().find("out for lunch") != std::string::npos; }));
  EXPECT_NE(peer.received().find("Annie"), std::string::npos);
}

TEST_F(UiTest, StatusBarAnimatesWhileConnectingButNotWaitingForTheProxy) {
  startUi(false);
  RECT square = iconSquare();
  auto frame = [&] {
    std::vector<COLORREF> pixels;
    for (int y = square.top; y < square.bottom; ++y)
      for (int x = square.left; x < square.right; ++x) pixels.push_back(testkit::pixel(x, y));
    return pixels;
  };
  KS_SetVariantLong("connection.state", 30);
  testkit::pump();
  EXPECT_TRUE(bar().animating());
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusFirstLine(30, own())), "Connecting");
  EXPECT_GT(countNear(square, 255, 255, 255, 0), 0);  // the lit spoke
  auto before = frame();
  unsigned ticks = bar().ticks();
  testkit::runClock(150);
  EXPECT_EQ(bar().ticks(), ticks + 1);
  EXPECT_NE(frame(), before);

  KS_SetVariantLong("connection.state", 35);
  testkit::pump();
  EXPECT_FALSE(bar().animating());
  EXPECT_GT(countNear(square, 255, 255, 255, 0), 0);
  testkit::runClock(600);
  EXPECT_EQ(bar().ticks(), ticks + 1);
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusFirstLine(35, own())), "Connecting via Proxy...");

  KS_SetVariantLong("connection.state", 130);
  testkit::pump();
  EXPECT_TRUE(bar().animating());
  // An unknown state: no icon, no indicator, no animation.
  KS_SetVariantLong("connection.state", 77);
  testkit::pump();
  EXPECT_FALSE(bar().animating());
  EXPECT_EQ(countNear(square, 255, 255, 255, 0), 0);
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusFirstLine(77, own())), "Unknown State");
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusSecondLine(70, 0, own())), "Retrieving Messages...");
  KS_SetVariantLong("connection.state", 0);
}

}  // namespace
}  // namespace conntest
