// The server list: parsing, defaults written back, and the cursor.
#include "server_list.h"

#include "session_fixture.h"

using namespace olvaro::conn;

using ServerListTest = conntest::SessionTest;

TEST_F(ServerListTest, EmptyListGivesTheTwoDefaultsAndWritesThemBack) {
  ServerList& list = ServerList::instance();
  const ServerEntry& first = list.current();
  EXPECT_EQ(first.host, kDefaultServerHost);
  EXPECT_EQ(first.port, 443);
  ASSERT_EQ(list.entries().size(), 2u);
  EXPECT_EQ(list.entries()[1].port, 12345);
  char buffer[257];
  KS_GetSettingString("Connection/Servers/List", "", buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), std::string(kDefaultServerHost) + ":443," + kDefaultServerHost + ":12345");
}

TEST_F(ServerListTest, AdvanceWrapsAroundTheEntries) {
  servers("a:1,b:2");
  ServerList& list = ServerList::instance();
  EXPECT_EQ(list.current().host, "a");
  list.advance();
  EXPECT_EQ(list.current().host, "b");
  EXPECT_EQ(list.current().port, 2);
  list.advance();
  EXPECT_EQ(list.current().host, "a");
}

TEST(ServerListParse, ItemsWithoutAUsablePortAreSkipped) {
  // "d:70000" would wrap to port 4464 on the socket call.
  auto entries = ServerList::parse("a:1,nohost,,b:x,c:3,d:70000,e:-1,f:0,g:65535,");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].host, "a");
  EXPECT_EQ(entries[1].host, "c");
  EXPECT_EQ(entries[1].port, 3);
  EXPECT_EQ(entries[2].port, 65535);
  EXPECT_TRUE(ServerList::parse("nohost").empty());
  EXPECT_EQ(ServerList::format(entries), "a:1,c:3,g:65535");
}

TEST(ServerListParse, EncryptedEntriesAndBracketedIpv6Literals) {
  auto entries = ServerList::parse("tls:im.example.org:443,[::1]:12345,tls:[fe80::1]:5,[::1]x:6,[::2:7,tls:nohost");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].tls);
  EXPECT_EQ(entries[0].host, "im.example.org");
  EXPECT_EQ(entries[0].port, 443);
  EXPECT_FALSE(entries[1].tls);
  EXPECT_EQ(entries[1].host, "::1");
  EXPECT_EQ(entries[1].port, 12345);
  EXPECT_TRUE(entries[2].tls);
  EXPECT_EQ(entries[2].host, "fe80::1");
  // Written back as it was read.
  EXPECT_EQ(ServerList::format(entries), "tls:im.example.org:443,[::1]:12345,tls:[fe80::1]:5");
}

TEST_F(ServerListTest, AListOfUnusableItemsFallsBackToTheDefaults) {
  servers("justahost");
  EXPECT_EQ(ServerList::instance().current().host, kDefaultServerHost);
}
