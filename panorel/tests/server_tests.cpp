// The contact list against the real server, with the real connection
// plug-in loaded as the host loads it: alice of the demo signs in and uses
// the list, the dialogs and the group-chat row.
#include <dlfcn.h>

#include "olvaro/connection_state.h"
#include "olvaro_server/server.h"
#include "panorel_fixture.h"
#include "peer.h"
#include "platform/controls.h"
#include "wire_client.h"

namespace panoreltest {
namespace {

namespace srv = olvaro::server;
using LoadFn = int (*)(int, kestrum::Plugin**);
using Names = std::vector<std::string>;

// One server for the program: the connection plug-in keeps the server list
// it read first.
srv::Server* demoServer() {
  static srv::Server* server = [] {
    auto* s = new srv::Server(srv::Config());
    std::string error;
    if (!s->start(&error) || !s->seed_demo()) {
      ADD_FAILURE() << "server: " << error;
      return static_cast<srv::Server*>(nullptr);
    }
    return s;
  }();
  return server;
}

kestrum::Plugin* connectionPlugin() {
  static kestrum::Plugin* plugin = [] {
    void* library = dlopen(CONNECTION_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    auto load = library ? reinterpret_cast<LoadFn>(dlsym(library, "PluginLoad")) : nullptr;
    kestrum::Plugin* p = nullptr;
    if (!load || !load(5, &p)) ADD_FAILURE() << "connection plug-in: " << (library ? "no PluginLoad" : dlerror());
    return p;
  }();
  return plugin;
}

class ServerListTest : public PanorelTest {
 protected:
  void SetUp() override {
    PanorelTest::SetUp();
    server = demoServer();
    ASSERT_TRUE(server);
    connection = connectionPlugin();
    ASSERT_TRUE(connection);
    KS_SetSettingString("connection.user", "alice@olvaro.demo");
    KS_SetSettingString("connection.pass", "demo");
    KS_SetSettingString("Connection/Servers/List", ("127.0.0.1:" + std::to_string(server->ports().at(0))).c_str());
    // As the host does: the connection first, then the contact list.
    connection->Start();
    start();
    ASSERT_TRUE(
        conntest::waitFor([] { return KS_GetVariantLong(olvaro::kConnectionStateVariant) == olvaro::kSignedIn; }));
  }
  void TearDown() override {
    list.reset();
    if (connection) connection->Stop();
    conntest::settle(20);
    PanorelTest::TearDown();
  }
  // Waits until the shown member view lists `names`.
  bool viewShows(const Names& names) {
    return conntest::waitFor([&] { return list->groupView() && rowNames(list->groupView()) == names; });
  }
  srv::Server* server = nullptr;
  kestrum::Plugin* connection = nullptr;
};

TEST_F(ServerListTest, AliceSeesHerContactsAndGroupsAndUsesTheDialogs) {
  panorel::OverviewView* overview = list->overview();
  ASSERT_TRUE(conntest::waitFor([&] { return overview->statusHeader()->title() == u"Alice - Online"; }));
  testkit::pump();
  EXPECT_EQ(overview->statusHeader()->text(), u"alice@olvaro.demo");
  testkit::saveScreenshot("panorel_alice_overview");

  // The demo's contacts: the automated one is always there, bob and carol
  // are not signed in.
  list->tabs().setSelectedIndex(1);
  ASSERT_TRUE(viewShows({"[header]", "Echo", "[header]", "Bob", "Carol"})) << testing::PrintToString(rowNames(list->groupView()));
  conntest::WireClient bob(server->ports().at(0));
  ASSERT_TRUE(bob.signIn("bob@olvaro.demo", "demo"));
  ASSERT_TRUE(viewShows({"[header]", "Bob", "Echo", "[header]", "Carol"}));
  testkit::pump();
  testkit::saveScreenshot("panorel_alice_contacts");

  // Both demo groups: the group tab shows the lower id first.
  ASSERT_EQ(list->tabs().tabCount(), 3);
  std::vector<int64_t> groups = panorel::ContactList::groupIds();
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(list->tabs().tab(2)->text(), u"Group: Lounge");
  list->tabs().setSelectedIndex(2);
  ASSERT_TRUE(conntest::waitFor([&] { return list->groupView() && list->groupView()->rowCount() >= 4; }));
  panorel::ContactRow* admin = nullptr;
  for (int i = 0; i < list->groupView()->rowCount(); ++i)
    if (auto* row = dynamic_cast<panorel::ContactRow*>(list->groupView()->row(i)))
      if (row->nickname() == "Bob") admin = row;
  ASSERT_TRUE(admin);
  EXPECT_EQ(admin->roleSuffix(), u" (Mod)");
  testkit::pump();
  testkit::saveScreenshot("panorel_alice_lounge");

  // Adding by address: an unknown one, then one that exists.
  panorel::AddContactDialog& add = list->dialogs().addContact();
  add.bringUp();
  SetFocus(add.userNameEdit());
  testkit::type("nobody@nowhere.example");
  testkit::key(VK_TSOFT1);
  ASSERT_TRUE(conntest::waitFor([&] { return add.state() == panorel::PanelDialog::kInput; }));
  EXPECT_EQ(testkit::narrow(add.caption()), "No such user");
  server->create_account({"dora@olvaro.demo", "demo", "Dora", "", 0});
  SetWindowText(add.userNameEdit(), u"");
  SetFocus(add.userNameEdit());
  testkit::type("dora@olvaro.demo");
  testkit::key(VK_TSOFT1);
  ASSERT_TRUE(conntest::waitFor([&] { return add.state() == panorel::PanelDialog::kFinished; }));
  EXPECT_EQ(testkit::narrow(add.caption()), "Contact Added");
  testkit::key(VK_TSOFT1);
  EXPECT_FALSE(add.isShown());

  // A group with a password: refused first, then joined.
  int64_t bobId = server->account_id("bob@olvaro.demo");
  ASSERT_TRUE(server->create_group("Vault", "Kept closed", "sesame", bobId));
  panorel::JoinGroupDialog& join = list->dialogs().joinGroup();
  join.bringUp();
  SetFocus(join.nameEdit());
  testkit::type("Vault");
  testkit::key(VK_TSOFT1);
  ASSERT_TRUE(conntest::waitFor([&] { return join.state() != panorel::PanelDialog::kWaiting; }));
  EXPECT_EQ(testkit::narrow(join.caption()), "Access Denied");
  ASSERT_EQ(join.state(), panorel::JoinGroupDialog::kInputWithPassword);
  SetFocus(join.passwordEdit());
  testkit::type("sesame");
  testkit::key(VK_TSOFT1);
  ASSERT_TRUE(conntest::waitFor([&] { return join.state() != panorel::PanelDialog::kWaiting; }));
  EXPECT_EQ(testkit::narrow(join.caption()), "Group Joined");
  // The new group reaches the list first; "Finish" must still reach the
  // dialog.
  ASSERT_TRUE(conntest::waitFor([] { return panorel::ContactList::groupIds().size() == 3; }));
  testkit::key(VK_TSOFT1);
  EXPECT_FALSE(join.isShown());

  // A new group of her own, shown on the group tab, then left from its
  // group-chat row.
  panorel::CreateGroupDialog& create = list->dialogs().createGroup();
  create.bringUp();
  SetFocus(create.nameEdit());
  testkit::type("Chess Club");
  testkit::key(VK_TSOFT1);
  ASSERT_TRUE(conntest::waitFor([&] { return create.state() != panorel::PanelDialog::kWaiting; }));
  EXPECT_EQ(testkit::narrow(create.caption()), "The group has been created.");
  ASSERT_TRUE(conntest::waitFor([] { return panorel::ContactList::groupIds().size() == 4; }));
  testkit::key(VK_TSOFT1);
  EXPECT_FALSE(create.isShown());
  int64_t chess = panorel::ContactList::groupIds().back();
  list->selectGroup(chess);
  EXPECT_EQ(list->tabs().tab(2)->text(), u"Group: Chess Club");
  ASSERT_TRUE(list->groupView() && list->groupView()->groupId() == chess);
  testkit::pump();
  auto* chat = dynamic_cast<panorel::GroupChatRow*>(list->groupView()->row(1));
  ASSERT_TRUE(chat);
  chat->runCommand(panorel::kCmdDelete);
  ASSERT_TRUE(conntest::waitFor([&] {
    std::vector<int64_t> ids = panorel::ContactList::groupIds();
    return std::find(ids.begin(), ids.end(), chess) == ids.end();
  }));
  testkit::pump();
  EXPECT_NE(list->tabs().tab(2)->text(), u"Group: Chess Club");
}

}  // namespace
}  // namespace panoreltest
