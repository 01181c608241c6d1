// PlaySound, MessageBeep, and the vibration motor and LED as the device shows them.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/clock.h"
#include "platform/module.h"
#include "platform/phoneshell.h"
#include "platform/resources.h"
#include "platform/sound.h"
#include "platform/text.h"
#include "platform/wave.h"
#include "testkit/testkit.h"

namespace {

class SoundTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    platform::waveKeepPlayedClips(true);
    mod_ = LoadLibrary(platform::widen(SERVICES_TESTMOD).c_str());
    ASSERT_NE(mod_, nullptr);
    HRSRC res = FindResource(mod_, MAKEINTRESOURCE(105), RT_WAVE);
    ASSERT_NE(res, nullptr);
    ASSERT_TRUE(platform::parseWav(LockResource(LoadResource(mod_, res)), SizeofResource(mod_, res), &beep_));
  }
  void TearDown() override {
    PlaySound(nullptr, nullptr, 0);
    testkit::pump();
    if (mod_) FreeLibrary(mod_);
    PlatformTest::TearDown();
  }
  HMODULE mod_ = nullptr;
  platform::WavData beep_;
};

TEST_F(SoundTest, AResourcePlaysAsynchronouslyAsTheClockRuns) {
  ASSERT_EQ(beep_.rate, 8000u);
  ASSERT_EQ(beep_.samples.size(), 1200u);  // 150 ms
  int64_t start = platform::clockMonotonicMs();
  ASSERT_TRUE(PlaySound(MAKEINTRESOURCE(105), mod_, SND_RESOURCE | SND_ASYNC));
  EXPECT_EQ(platform::clockMonotonicMs(), start) << "an asynchronous sound waited";
  EXPECT_TRUE(platform::wavePlayedClips().empty());
  testkit::runClock(149);
  EXPECT_TRUE(platform::wavePlayedClips().empty()) << "done before its 150 ms";
  testkit::runClock(1);
  auto clips = platform::wavePlayedClips();
  ASSERT_EQ(clips.size(), 1u);
  EXPECT_EQ(clips[0].rate, 8000u);
  EXPECT_EQ(clips[0].samples, beep_.samples);
  auto played = platform::soundsPlayed();
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0].kind, platform::SoundRecord::Resource);
  EXPECT_EQ(played[0].name, u"#105");
  EXPECT_EQ(played[0].module, mod_);
  EXPECT_EQ(played[0].atMs, start);

  // A resource the module does not have is not played, nor recorded.
  EXPECT_FALSE(PlaySound(MAKEINTRESOURCE(999), mod_, SND_RESOURCE | SND_ASYNC));
  EXPECT_FALSE(PlaySound(MAKEINTRESOURCE(105), GetModuleHandle(nullptr), SND_RESOURCE | SND_ASYNC));
  EXPECT_EQ(platform::soundsPlayed().size(), 1u);

  // Synchronous: returns once played, the clock having run on.
  start = platform::clockMonotonicMs();
  ASSERT_TRUE(PlaySound(MAKEINTRESOURCE(105), mod_, SND_RESOURCE | SND_SYNC));
  EXPECT_GE(platform::clockMonotonicMs() - start, 150);
  EXPECT_EQ(platform::wavePlayedClips().size(), 2u);
}

TEST_F(SoundTest, ANewSoundCutsTheOldOneAndNoStopRefuses) {
  ASSERT_TRUE(PlaySound(MAKEINTRESOURCE(105), mod_, SND_RESOURCE | SND_ASYNC));
  testkit::runClock(50);
  EXPECT_FALSE(PlaySound(MAKEINTRESOURCE(105), mod_, SND_RESOURCE | SND_ASYNC | SND_NOSTOP));
  ASSERT_TRUE(MessageBeep(0xFFFFFFFF));
  testkit::pump();
  auto clips = platform::wavePlayedClips();
  ASSERT_EQ(clips.size(), 1u);
  // What was heard of the cut sound: its first 50 ms.
  EXPECT_EQ(clips[0].samples, std::vector<int16_t>(beep_.samples.begin(), beep_.samples.begin() + 400));
  testkit::runClock(500);
  clips = platform::wavePlayedClips();
  ASSERT_EQ(clips.size(), 2u);
  // The beep is a real tone, not silence.
  ASSERT_GE(clips[1].samples.size(), 800u);
  int peak = 0;
  for (int16_t s : clips[1].samples) peak = std::max(peak, std::abs(int(s)));
  EXPECT_GT(peak, 4000);
  auto played = platform::soundsPlayed();
  ASSERT_EQ(played.size(), 2u);
  EXPECT_EQ(played[1].kind, platform::SoundRecord::Beep);
  EXPECT_EQ(played[1].beepType, 0xFFFFFFFFu);
  // Stopping with nothing playing is fine.
  EXPECT_TRUE(PlaySound(nullptr, nullptr, 0));
}

TEST_F(SoundTest, VibrationAndTheLedShowInTheTitleBarAndAreRecorded) {
  HMODULE shell = LoadLibrary(u"aygshell.dll");
  ASSERT_NE(shell, nullptr);
  using VibrateFn = HRESULT (*)(DWORD, const void*, BOOL, DWORD);
  using StopFn = HRESULT (*)();
  auto on = reinterpret_cast<VibrateFn>(GetProcAddress(shell, "Vibrate"));
  auto off = reinterpret_cast<StopFn>(GetProcAddress(shell, "VibrateStop"));
  ASSERT_TRUE(on && off);
  HWND title = platform::shellTitleBar();
  ASSERT_NE(title, nullptr);
  testkit::pump();
  RECT bar = testkit::screenRect(title);
  const COLORREF orange = RGB(255, 140, 0), green = RGB(40, 220, 60);
  EXPECT_EQ(testkit::countPixels(bar, orange), 0);

  on(0, nullptr, TRUE, 0xFFFFFFFF);
  testkit::pump();
  EXPECT_GT(testkit::countPixels(bar, orange), 0) << "vibration not shown";
  testkit::runClock(100);
  off();
  NLED_SETTINGS_INFO led{1, 1, 0, 0, 0, 0, 0};
  ASSERT_TRUE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &led));
  testkit::pump();
  EXPECT_EQ(testkit::countPixels(bar, orange), 0);
  EXPECT_GT(testkit::countPixels(bar, green), 0) << "LED not shown";
  led.OffOnBlink = 0;
  ASSERT_TRUE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &led));
  led.OffOnBlink = 7;
  EXPECT_FALSE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &led));
  testkit::pump();
  EXPECT_EQ(testkit::countPixels(bar, green), 0);

  auto s = platform::shellSignals();
  ASSERT_EQ(s.size(), 4u);
  EXPECT_TRUE(s[0].vibration && s[0].state == 1);
  EXPECT_TRUE(s[1].vibration && s[1].state == 0);
  EXPECT_EQ(s[1].atMs - s[0].atMs, 100);
  EXPECT_TRUE(!s[2].vibration && s[2].led == 1 && s[2].state == 1);
  EXPECT_TRUE(!s[3].vibration && s[3].led == 1 && s[3].state == 0);
  FreeLibrary(shell);
}

}  // namespace

namespace {

// WAV images come from files and resources: a broken one is refused, never over-read.
TEST(WavImages, BrokenOnesAreRefusedWithoutReadingPastThem) {
  auto image = [](uint16_t tag, uint16_t channels, uint16_t bits, uint32_t dataSize, size_t dataBytes) {
    std::string s = "RIFF____WAVEfmt ";
    auto put = [&s](uint32_t v, int n) {
      for (int i = 0; i < n; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
    };
    put(16, 4);
    put(tag, 2);
    put(channels, 2);
    put(8000, 4);
    put(8000u * channels * bits / 8, 4);
    put(channels * bits / 8, 2);
    put(bits, 2);
    s += "data";
    put(dataSize, 4);
    s.append(dataBytes, '\x10');
    return s;
  };
  platform::WavData w;
  std::string good = image(1, 1, 16, 8, 8);
  ASSERT_TRUE(platform::parseWav(good.data(), good.size(), &w));
  EXPECT_EQ(w.samples, std::vector<int16_t>(4, 0x1010));
  // A data size past the end (as streaming writers leave it): what is there.
  std::string longer = image(1, 2, 16, 0xFFFFFFFF, 10);
  ASSERT_TRUE(platform::parseWav(longer.data(), longer.size(), &w));
  EXPECT_EQ(w.samples.size(), 2u);  // whole stereo frames only
  std::string eight = image(1, 1, 8, 2, 2);
  ASSERT_TRUE(platform::parseWav(eight.data(), eight.size(), &w));
  EXPECT_EQ(w.samples, std::vector<int16_t>(2, int16_t((0x10 - 128) << 8)));

  for (const std::string& bad : {image(49, 1, 0, 65, 65), image(1, 0, 16, 8, 8), image(1, 1, 12, 8, 8),
                                 good.substr(0, 11), good.substr(0, 30), std::string("RIFF\0\0\0\0WAVE", 12)}) {
    // Each copy on the heap of its exact size, so a read past it is caught.
    std::vector<char> exact(bad.begin(), bad.end());
    EXPECT_FALSE(platform::parseWav(exact.data(), exact.size(), &w));
  }
  // A chunk whose size jumps past the end ends the search.
  std::string jump = good;
  jump[16] = '\xFF', jump[17] = '\xFF', jump[18] = '\xFF', jump[19] = '\x7F';
  std::vector<char> exact(jump.begin(), jump.end());
  EXPECT_FALSE(platform::parseWav(exact.data(), exact.size(), &w));
  EXPECT_FALSE(PlaySound(u"/no/such/file.wav", nullptr, SND_FILENAME | SND_ASYNC));
}

}  // namespace
