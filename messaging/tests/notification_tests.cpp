// Arrival announcements: the profile table against what is really heard
// and felt (the beep resource, the motor, the LED), the messages that are
// never announced, voice arrivals handed to the player, and the shells that
// cannot vibrate.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "chat_fixture.h"
#include "notification_agent.h"
#include "platform/module.h"
#include "platform/desktop.h"
#include "platform/phoneshell.h"
#include "platform/power.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/sound.h"

namespace {

using messaging::NotificationAgent;

// Sets OLVARO_PLATFORM for one test and puts the old value back.
class PlatformType {
 public:
  explicit PlatformType(const char* type) {
    if (const char* old = std::getenv("OLVARO_PLATFORM")) old_ = old;
    setenv("OLVARO_PLATFORM", type, 1);
  }
  ~PlatformType() {
    if (old_)
      setenv("OLVARO_PLATFORM", old_->c_str(), 1);
    else
      unsetenv("OLVARO_PLATFORM");
  }

 private:
  std::optional<std::string> old_;
};

std::vector<HMessage*> g_played;
void recordPlay(HMessage* m) { g_played.push_back(KS_DuplicateMessageHandle(m)); }

class NotificationTest : public msgtest::ChatTest {
 protected:
  void SetUp() override {
    msgtest::ChatTest::SetUp();
    g_played.clear();
    platform::soundRecordReset();
    platform::shellSignalsReset();
  }
  void TearDown() override {
    for (HMessage* m : g_played) KS_ReleaseMessage(m);
    g_played.clear();
    platform::testHideProc("VibrateStop", false);
    msgtest::ChatTest::TearDown();
  }

  static void setProfile(const char16_t* profile, long mode) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"ControlPanel\\Profiles", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                             nullptr),
              ERROR_SUCCESS);
    if (profile) {
      std::u16string text(profile);
      RegSetValueEx(key, u"ActiveProfile", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                    DWORD((text.size() + 1) * sizeof(char16_t)));
    } else {
      RegDeleteValue(key, u"ActiveProfile");
    }
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"ControlPanel\\Notifications\\ShellOverrides", 0, nullptr, 0,
                             KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (mode >= 0) {
      DWORD value = DWORD(mode);
      RegSetValueEx(key, u"Mode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    } else {
      RegDeleteValue(key, u"Mode");
    }
    RegCloseKey(key);
  }

  int beeps() const {
    int n = 0;
    for (const auto& s : platform::soundsPlayed())
      if (s.kind == platform::SoundRecord::Resource && s.name == u"#105") ++n;
    return n;
  }
  static std::vector<int> vibrationStates() {
    std::vector<int> states;
    for (const auto& s : platform::shellSignals())
      if (s.vibration) states.push_back(s.state);
    return states;
  }

  // Announces one complete message through the event, as the connection
  // raises it; the agent is gone afterwards, so its vibrations have ended.
  void arrive(const char* type, int origin, const std::string& payload = "hello") {
    NotificationAgent agent(&recordPlay);
    HMessage* m = incoming(bob, payload, origin, 1767225600, type);
    KS_EventRaise("messages.new.complete", m);
    KS_ReleaseMessage(m);
  }
};

TEST_F(NotificationTest, ProfileTableDecidesBeepAndVibrationForText) {
  PlatformType smartphone("SmartPhone");
  struct Case {
    const char16_t* profile;
    long mode;
    long setting;
    bool beep;
    bool vibrate;
  } cases[] = {
      {u"Meeting", -1, 1, false, true},   // vibration only, whatever the setting
      {u"Meeting", 2, 1, false, true},    // the mode is not read for the named profiles
      {u"Silent", 1, 1, false, false},
      {u"Normal", 1, 1, false, true},
      {u"Normal", 2, 1, false, false},
      {u"Normal", -1, 1, true, false},    // no override: the beep sounds
      {nullptr, 0, 1, true, false},       // no profile at all counts as any other
      {u"Normal", 0, 0, false, false},    // the user turned sounds off
      {u"meeting", -1, 1, true, false},   // names compare exactly
      {u"Meetings", -1, 1, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.profile ? platform::narrow(c.profile) : "(none)") << " mode " << c.mode
                                    << " setting " << c.setting);
    platform::soundRecordReset();
    platform::shellSignalsReset();
    setProfile(c.profile, c.mode);
    KS_SetSettingLong("messaging.notifications.sound", c.setting);
    arrive("text/plain", 1);
    EXPECT_EQ(beeps(), c.beep ? 1 : 0);
    EXPECT_EQ(vibrationStates(), c.vibrate ? (std::vector<int>{1, 0, 1, 0}) : std::vector<int>{});
  }
}

TEST_F(NotificationTest, BeepHoldsTheAudioDeviceOnlyWhileStarting) {
  setProfile(u"Normal", -1);
  arrive("text/plain", 1);
  ASSERT_EQ(beeps(), 1);
  // The requirement on the audio device was taken and given back.
  EXPECT_TRUE(platform::powerRecord().requirements.empty());
  auto sounds = platform::soundsPlayed();
  EXPECT_TRUE(sounds.back().module == platform::currentModule());
}

TEST_F(NotificationTest, OnlyLiveTextAndVoiceAreAnnounced) {
  PlatformType smartphone("SmartPhone");
  setProfile(u"Normal", -1);
  arrive("text/plain", 2);  // stored
  arrive("text/plain", 3);  // history
  arrive("text/plain", 0);  // sent from here
  arrive("image/jpeg", 1);
  arrive("audio/x-speex", 2);
  EXPECT_EQ(beeps(), 0);
  EXPECT_TRUE(g_played.empty());
  setProfile(u"Meeting", -1);
  arrive("image/jpeg", 1);
  EXPECT_TRUE(vibrationStates().empty());
}

TEST_F(NotificationTest, VoiceArrivalPlaysTheMessageItselfOrVibrates) {
  PlatformType smartphone("SmartPhone");
  setProfile(u"Normal", -1);
  arrive("audio/x-speex", 1, "frames");
  ASSERT_EQ(g_played.size(), 1u);
  EXPECT_EQ(payloadOf(g_played[0]), "frames");
  EXPECT_EQ(beeps(), 0);  // the voice is the sound
  KS_SetSettingLong("messaging.notifications.sound", 0);
  arrive("audio/ms-gsm", 1);
  EXPECT_EQ(g_played.size(), 1u);
  setProfile(u"Meeting", -1);
  KS_SetSettingLong("messaging.notifications.sound", 1);
  arrive("audio/ms-gsm", 1);
  EXPECT_EQ(g_played.size(), 1u);
  EXPECT_EQ(vibrationStates(), (std::vector<int>{1, 0, 1, 0}));
}

TEST_F(NotificationTest, PocketPcBlinksTheLedAndAShellWithoutStopNeverVibrates) {
  setProfile(u"Meeting", -1);
  {
    PlatformType pocket("PocketPC");
    platform::shellSignalsReset();
    arrive("text/plain", 1);
    std::vector<int> led;
    for (const auto& s : platform::shellSignals()) {
      EXPECT_FALSE(s.vibration);
      if (!s.vibration && s.led == 1) led.push_back(s.state);
    }
    EXPECT_EQ(led, (std::vector<int>{1, 0, 1, 0}));
  }
  PlatformType smartphone("SmartPhone");
  platform::testHideProc("VibrateStop");
  platform::shellSignalsReset();
  arrive("text/plain", 1);
  EXPECT_TRUE(platform::shellSignals().empty());
}

TEST_F(NotificationTest, VibrationWaitsForTheAudioAndABurstStaysBounded) {
  PlatformType smartphone("SmartPhone");
  setProfile(u"Meeting", -1);
  auto agent = std::make_unique<NotificationAgent>(&recordPlay);
  KS_AudioLock();  // a playback in progress
  for (int i = 0; i < 20; ++i) {
    HMessage* m = incoming(bob, "hi", 1);
    KS_EventRaise("messages.new.complete", m);
    KS_ReleaseMessage(m);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(vibrationStates().empty());
  KS_AudioUnlock();
  agent.reset();
  // One vibration running and one waiting behind it cover the burst.
  EXPECT_EQ(vibrationStates(), (std::vector<int>{1, 0, 1, 0, 1, 0, 1, 0}));
}

}  // namespace

// On a desktop whose keyboard is elsewhere, a text that beeps is also a
// desktop note: the sender and the text's first line. Nothing when the
// window is in front, when the text does not beep, or for other kinds.
TEST_F(NotificationTest, BeepingTextIsADesktopNoteWhileTheWindowIsBehind) {
  setProfile(u"Normal", -1);
  platform::shellDesktopSetFocused(false);
  arrive("text/plain", 1, "See you at eight\nat the usual place");
  using Note = std::pair<std::u16string, std::u16string>;
  EXPECT_EQ(platform::shellDesktopNotes(), (std::vector<Note>{{u"Bob", u"See you at eight"}}));

  arrive("text/plain", 2, "stored");                 // not announced at all
  arrive("audio/x-speex", 1, std::string(40, '\1'));  // heard as itself
  KS_SetSettingLong("messaging.notifications.sound", 0);
  arrive("text/plain", 1, "quiet");
  KS_SetSettingLong("messaging.notifications.sound", 1);
  setProfile(u"Silent", -1);
  arrive("text/plain", 1, "silent");
  setProfile(u"Normal", -1);
  platform::shellDesktopSetFocused(true);
  arrive("text/plain", 1, "in front");
  EXPECT_EQ(platform::shellDesktopNotes().size(), 1u);
}
