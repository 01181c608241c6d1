// The built plug-in as the host loads it: interface version 5 only, a
// conversation opened on the contact list's event, a live arrival beeping
// with the plug-in's own sound, and none of it left after Stop.
#include "chat_fixture.h"
#include "hubtest/plugin_loading.h"
#include "platform/module.h"
#include "platform/sound.h"

namespace msgtest {
namespace {

TEST_F(ChatTest, ThePluginOpensConversationsBetweenStartAndStop) {
  registry.reset();  // the plug-in's own registry listens instead
  HMODULE library = nullptr;
  kestrum::Plugin* plugin = hubtest::loadAsHost(MESSAGING_PLUGIN, &library);
  ASSERT_NE(plugin, nullptr);

  for (int run = 0; run < 2; ++run) {
    plugin->Start();
    EXPECT_EQ(plugin->state, 1);
    KS_EventRaise("messaging.chat.contact", bob);
    KS_EventRaise("messaging.chat.contact", bob);
    testkit::pump();
    auto windows = testkit::findWindows("KS_CHATWINDOW");
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(testkit::windowText(windows[0]), "Bob");
    // Its texts are found in its resources.
    EXPECT_NE(testkit::findWindow("STATIC", "You may not currently talk in this group.", windows[0]), nullptr);
    EXPECT_NE(testkit::findWindow("", "Push to Talk", windows[0]), nullptr);
    testkit::saveScreenshot("conversation_plugin");
    HMessage* text = incoming(bob, "hi");
    platform::soundRecordReset();
    KS_EventRaise("messages.new.complete", text);
    auto sounds = platform::soundsPlayed();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].name, u"#105");
    EXPECT_TRUE(sounds[0].module == library);
    plugin->Stop();
    testkit::pump();
    EXPECT_EQ(plugin->state, 0);
    EXPECT_TRUE(testkit::findWindows("KS_CHATWINDOW").empty());
    KS_EventRaise("messaging.chat.contact", bob);
    KS_EventRaise("messages.new.complete", text);
    KS_ReleaseMessage(text);
    testkit::pump();
    EXPECT_TRUE(testkit::findWindows("KS_CHATWINDOW").empty()) << "no longer listening";
    EXPECT_EQ(platform::soundsPlayed().size(), 1u);
  }
}

}  // namespace
}  // namespace msgtest
