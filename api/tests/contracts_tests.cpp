// The contracts the modules share through the hub's headers.
#include <gtest/gtest.h>

#include "olvaro/group_roles.h"
#include "olvaro/hub_records.h"
#include "olvaro/plugin.h"

using namespace olvaro;

TEST(RoleChange, EncodesLittleEndianAndDecodesBack) {
  RoleChange change{kRoleSilenced | kRoleModerator, 0x0102030405060708, "Ann %s"};
  std::string bytes = change.encode();
  ASSERT_EQ(bytes.size(), RoleChange::kFixedSize + 6);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x0a\x00\x00\x00", 4));
  EXPECT_EQ(bytes.substr(4, 8), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
  EXPECT_EQ(bytes.substr(12), "Ann %s");

  std::optional<RoleChange> back = RoleChange::decode(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->role, change.role);
  EXPECT_EQ(back->member, change.member);
  EXPECT_EQ(back->nickname, change.nickname);

  // High bits survive both ways; the nickname may be empty, the fixed part not.
  RoleChange high{-1, -2, ""};
  back = RoleChange::decode(high.encode());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->role, -1);
  EXPECT_EQ(back->member, -2);
  EXPECT_EQ(back->nickname, "");
  EXPECT_FALSE(RoleChange::decode(high.encode().substr(0, 11)));
}

TEST(MessageReaders, ReadMissingFieldsAsEmpty) {
  MessageData d{};
  EXPECT_EQ(typeOf(d), "");
  EXPECT_EQ(payloadOf(d), "");
  const uint8_t bytes[] = {'a', 0, 'b'};
  d.contentType = "text/plain";
  d.payload = bytes;
  d.payloadLength = 3;
  EXPECT_EQ(typeOf(d), "text/plain");
  EXPECT_EQ(payloadOf(d), std::string_view("a\0b", 3));
  d.payloadLength = -1;  // text given NUL-terminated is only for Set
  EXPECT_EQ(payloadOf(d), "");
}

namespace {

int g_made = 0;
int g_deleted = 0;

struct CountedPlugin : kestrum::Plugin {
  CountedPlugin() { ++g_made; }
  virtual ~CountedPlugin() { ++g_deleted; }
  void Start() override { state = 1; }
  void Stop() override { state = 0; }
  const char* Name() override { return "Counted"; }
};

}  // namespace

TEST(PluginEntry, MakesOneObjectForTheHostsVersionAndDeletesItOnUnload) {
  kestrum::Plugin* out = reinterpret_cast<kestrum::Plugin*>(&g_made);
  EXPECT_EQ(loadPlugin<CountedPlugin>(kPluginInterfaceVersion + 1, &out), 0);
  EXPECT_EQ(out, nullptr);  // cleared even when refused
  EXPECT_EQ(loadPlugin<CountedPlugin>(kPluginInterfaceVersion, nullptr), 0);
  EXPECT_EQ(g_made, 0);

  ASSERT_EQ(loadPlugin<CountedPlugin>(kPluginInterfaceVersion, &out), 1);
  ASSERT_NE(out, nullptr);
  EXPECT_STREQ(out->Name(), "Counted");
  kestrum::Plugin* again = nullptr;
  ASSERT_EQ(loadPlugin<CountedPlugin>(kPluginInterfaceVersion, &again), 1);
  EXPECT_EQ(again, out);
  EXPECT_EQ(g_made, 1);

  EXPECT_EQ(unloadPlugin<CountedPlugin>(), 0);
  EXPECT_EQ(g_deleted, 1);
  EXPECT_EQ(unloadPlugin<CountedPlugin>(), 0);  // nothing left to delete
  EXPECT_EQ(g_deleted, 1);
  ASSERT_EQ(loadPlugin<CountedPlugin>(kPluginInterfaceVersion, &out), 1);
  EXPECT_EQ(g_made, 2);
  unloadPlugin<CountedPlugin>();
}
