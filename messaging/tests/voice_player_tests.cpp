// Voice playback on its own thread: real speech encoded as the recorder
// sends it, played through the wave output by the manual clock, and what
// the speaker got compared with what was said.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "chat_fixture.h"
#include "platform/clock.h"
#include "platform/menu.h"
#include "platform/power.h"
#include "platform/wave.h"
#include "testkit/modal.h"
#include "testkit/speech.h"
#include "voice_codec.h"
#include "voice_player.h"

namespace msgtest {
namespace {

using namespace messaging::voice;
using messaging::PlayVoiceMessage;
using messaging::RunningVoicePlaybacks;
using testkit::speechAt;

// Speech encoded buffer by buffer, as the recorder appends it.
std::vector<uint8_t> speexPayload(const std::vector<int16_t>& pcm) {
  SpeexEncoder encoder;
  std::vector<uint8_t> payload;
  for (size_t at = 0; at + 640 <= pcm.size(); at += 640) {
    const auto piece = encoder.encodeBuffer(pcm.data() + at, 1280);
    payload.insert(payload.end(), piece.begin(), piece.end());
  }
  return payload;
}

// The bytes of the first `frames` length-prefixed frames.
size_t framesBytes(const std::vector<uint8_t>& payload, size_t frames) {
  size_t at = 0;
  for (size_t f = 0; f < frames && at + 2 <= payload.size(); ++f) at += 2 + (payload[at] | (payload[at + 1] << 8));
  return at;
}

bool holdsAudioPower() {
  for (const auto& r : testkit::powerRecord().requirements)
    if (r.device == u"WAV1:" && r.state == D0 && r.deviceFlags == (POWER_NAME | POWER_FORCE)) return true;
  return false;
}

class VoicePlayerTest : public ChatTest {
 protected:
  void SetUp() override {
    ChatTest::SetUp();
    platform::waveKeepPlayedClips(true);
    platform::waveClearPlayedClips();
  }
  void TearDown() override {
    messaging::StopVoicePlayback();
    ChatTest::TearDown();
  }

  HMessage* voiceMessage(const char* type, const std::vector<uint8_t>& payload) {
    return incoming(bob, std::string(payload.begin(), payload.end()), 1, 1767225600, type);
  }

  // Plays a new message, released at once, to its end.
  bool play(const char* type, const std::vector<uint8_t>& payload) {
    HMessage* m = voiceMessage(type, payload);
    PlayVoiceMessage(m);
    KS_ReleaseMessage(m);
    return playToEnd();
  }

  // Runs the clock until every playback thread has ended.
  static bool playToEnd() {
    for (int step = 0; step < 3000; ++step) {
      if (RunningVoicePlaybacks() == 0) return true;
      platform::clockAdvance(100);
      platform::waveProcessDue();
      usleep(500);
    }
    return RunningVoicePlaybacks() == 0;
  }

  // The one clip played since the test began.
  static platform::PlayedClip onlyClip() {
    auto clips = platform::wavePlayedClips();
    EXPECT_EQ(clips.size(), 1u);
    return clips.empty() ? platform::PlayedClip{} : clips.back();
  }
};

TEST_F(VoicePlayerTest, SpeexPlaysTheSpeechWithAtMostElevenBuffersInFlight) {
  // 23 buffers: three rounds of eleven, but two of twelve.
  auto pcm = speechAt(kSpeexSampleRate);
  ASSERT_GT(pcm.size(), 16000u * 3);
  for (const auto once = pcm; pcm.size() < 23 * 3200;) pcm.insert(pcm.end(), once.begin(), once.end());
  pcm.resize(23 * 3200);
  const auto payload = speexPayload(pcm);
  const auto decoded = decodeSpeexPayload(payload.data(), payload.size());
  const size_t buffers = (decoded.size() + 3199) / 3200;
  ASSERT_EQ(buffers, 23u);

  HMessage* m = voiceMessage("audio/x-speex", payload);
  PlayVoiceMessage(m);
  KS_ReleaseMessage(m);  // the thread keeps its own
  // The clock stands still: the thread fills the device and waits. Each
  // jump finishes what is queued; with at most 11 in flight the message
  // cannot be over before ceil(buffers / 11) jumps.
  usleep(200000);
  EXPECT_TRUE(holdsAudioPower());
  EXPECT_TRUE(platform::wavePlayedClips().empty());
  const size_t rounds = (buffers + 10) / 11;
  for (size_t jump = 1; jump < rounds; ++jump) {
    platform::clockAdvance(60000);
    platform::waveProcessDue();
    usleep(200000);
    EXPECT_EQ(RunningVoicePlaybacks(), 1) << "over after " << jump << " jumps of " << buffers << " buffers";
  }
  ASSERT_TRUE(playToEnd());

  const auto clip = onlyClip();
  EXPECT_EQ(clip.rate, DWORD(kSpeexSampleRate));
  EXPECT_EQ(clip.samples, decoded);  // nothing lost, repeated or reordered between buffers
  const double r = testkit::followCorrelation(pcm, kSpeexSampleRate, clip.samples, kSpeexSampleRate);
  std::printf("speex playback: %zu buffers, envelope correlation %.3f\n", buffers, r);
  EXPECT_GT(r, 0.85);
  EXPECT_FALSE(holdsAudioPower());
  ASSERT_TRUE(KS_AudioTryLock());
  KS_AudioUnlock();
}

TEST_F(VoicePlayerTest, GsmPlaysWholeAtEightThousandThoughTheCallerReleasedAtOnceOrTheMessageGrew) {
  const auto pcm = speechAt(kGsmSampleRate);
  ASSERT_GT(pcm.size(), 8000u * 3);
  const auto payload = encodeGsm(pcm.data(), pcm.size());
  ASSERT_TRUE(play("audio/ms-gsm", payload));

  const auto clip = onlyClip();
  EXPECT_EQ(clip.rate, DWORD(kGsmSampleRate));
  EXPECT_EQ(clip.samples, decodeGsmPayload(payload.data(), payload.size()));
  const double r = testkit::followCorrelation(pcm, kGsmSampleRate, clip.samples, kGsmSampleRate);
  std::printf("gsm playback: envelope correlation %.3f\n", r);
  EXPECT_GT(r, 0.85);
  EXPECT_FALSE(holdsAudioPower());

  // A message still arriving plays what it held when played, though the
  // chunks appended meanwhile move its bytes.
  platform::waveClearPlayedClips();
  const std::vector<uint8_t> half(payload.begin(), payload.begin() + payload.size() / 2 / 65 * 65);
  HMessage* arriving = voiceMessage("audio/ms-gsm", half);
  PlayVoiceMessage(arriving);
  for (size_t at = half.size(); at < payload.size(); at += 65)
    KS_ContinueMessage(arriving, payload.data() + at, 65, at + 65 >= payload.size());
  KS_ReleaseMessage(arriving);
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(onlyClip().samples, decodeGsmPayload(half.data(), half.size()));
}

TEST_F(VoicePlayerTest, CorruptLengthsPlayOnlyWhatCameBeforeThem) {
  const auto pcm = speechAt(kSpeexSampleRate);
  const auto payload = speexPayload(pcm);
  ASSERT_GT(payload.size(), 1000u);
  const size_t frames = 37;  // not a whole buffer of ten
  const size_t good = framesBytes(payload, frames);
  const std::vector<uint8_t> prefix(payload.begin(), payload.begin() + good);
  const auto expected = decodeSpeexPayload(prefix.data(), prefix.size());
  ASSERT_EQ(expected.size(), frames * 320);

  std::vector<uint8_t> huge = {0xB8, 0x0B};  // 3000: more than a frame's bit buffer holds
  huge.resize(2 + 3000, 0x55);
  const std::vector<std::vector<uint8_t>> tails = {
      {0x10, 0x00, 0x01, 0x02},  // 16 bytes announced, 2 there: the payload was cut
      {0x00, 0x80, 0x01, 0x02},  // negative
      huge,
      {0x07},  // half a length
  };
  for (size_t i = 0; i <= tails.size(); ++i) {
    std::vector<uint8_t> p = prefix;
    if (i < tails.size()) p.insert(p.end(), tails[i].begin(), tails[i].end());
    // Last, a first length past the payload: nothing at all is heard.
    if (i == tails.size()) p = {0xFF, 0x01, 0x12, 0x34, 0x56};
    ASSERT_TRUE(play("audio/x-speex", p));
    auto clips = platform::wavePlayedClips();
    ASSERT_EQ(clips.size(), i + 1);
    EXPECT_EQ(clips.back().samples, i < tails.size() ? expected : std::vector<int16_t>()) << "case " << i;
  }
  EXPECT_FALSE(holdsAudioPower());
  ASSERT_TRUE(KS_AudioTryLock());
  KS_AudioUnlock();
}

TEST_F(VoicePlayerTest, APlaybackWaitsWhileTheAudioIsLockedAndOtherTypesPlayNothing) {
  const auto pcm = speechAt(kGsmSampleRate);
  const auto payload = encodeGsm(pcm.data(), 8000);  // one second
  HMessage* m = voiceMessage("audio/ms-gsm", payload);
  KS_AudioLock();  // as a recording does
  PlayVoiceMessage(m);
  KS_ReleaseMessage(m);
  platform::clockAdvance(60000);
  platform::waveProcessDue();
  usleep(200000);
  EXPECT_EQ(RunningVoicePlaybacks(), 1);
  EXPECT_FALSE(holdsAudioPower());  // no device opened yet
  EXPECT_TRUE(platform::wavePlayedClips().empty());
  KS_AudioUnlock();
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(onlyClip().samples.size(), 8000u / kGsmBlockSamples * kGsmBlockSamples);

  // Other audio types and empty messages open no device.
  platform::waveClearPlayedClips();
  ASSERT_TRUE(play("audio/amr", payload));
  ASSERT_TRUE(play("audio/x-speex", {}));
  EXPECT_TRUE(platform::wavePlayedClips().empty());
  EXPECT_FALSE(holdsAudioPower());
}

TEST_F(VoicePlayerTest, StoppingCutsPlaybackShortAndLeavesNothingHeld) {
  const auto pcm = speechAt(kSpeexSampleRate);
  HMessage* m = voiceMessage("audio/x-speex", speexPayload(pcm));
  PlayVoiceMessage(m);
  KS_ReleaseMessage(m);
  platform::clockAdvance(500);
  platform::waveProcessDue();
  usleep(100000);
  // The clock stands still from here: only the stop can end it.
  messaging::StopVoicePlayback();
  EXPECT_EQ(RunningVoicePlaybacks(), 0);
  const auto clip = onlyClip();
  EXPECT_LT(clip.samples.size(), pcm.size() / 2);
  EXPECT_FALSE(holdsAudioPower());
  ASSERT_TRUE(KS_AudioTryLock());
  KS_AudioUnlock();
}

TEST_F(VoicePlayerTest, PlayFromTheMenuAndByActivatingTheRow) {
  messaging::ChatWindow* w = openChat(bob);
  const auto pcm = speechAt(kSpeexSampleRate);
  const auto payload = speexPayload(pcm);
  HMessage* m = voiceMessage("audio/x-speex", payload);
  deliver(m);
  KS_ReleaseMessage(m);  // the window holds it
  SetFocus(w->list()->hwnd());
  w->list()->setSelectedIndex(w->list()->rowCount() - 1);
  {
    // The first item: "Play".
    testkit::ModalAnswers play({testkit::pressing({VK_RETURN})}, testkit::Modal::Menu);
    testkit::key(VK_RETURN);
    EXPECT_EQ(play.seen(), 1) << "the row's menu";
  }
  EXPECT_EQ(RunningVoicePlaybacks(), 1);
  ASSERT_TRUE(playToEnd());
  const auto decoded = decodeSpeexPayload(payload.data(), payload.size());
  EXPECT_EQ(onlyClip().samples, decoded);

  // Activating the row (a double tap, in the list) plays it again.
  platform::waveClearPlayedClips();
  messageRow(w, w->list()->rowCount() - 1)->activate();
  ASSERT_TRUE(playToEnd());
  EXPECT_EQ(onlyClip().samples, decoded);
}

TEST_F(VoicePlayerTest, AWindowPlaysOneAtATimeWithAFewWaitingAndPlayAgainOrClosingStops) {
  messaging::ChatWindow* w = openChat(bob);
  const auto pcm = speechAt(kGsmSampleRate);
  const auto payload = encodeGsm(pcm.data(), pcm.size());
  const size_t whole = payload.size() / kGsmBlockBytes * kGsmBlockSamples;
  for (int i = 0; i < 6; ++i) {
    HMessage* m = voiceMessage("audio/ms-gsm", payload);
    deliver(m);
    KS_ReleaseMessage(m);
  }
  const int first = w->list()->rowCount() - 6;
  // The clock stands still while these wait: only a stop can end a playback.
  auto settle = [](auto done) {
    for (int i = 0; i < 2000 && !done(); ++i) usleep(1000);
    return done();
  };
  for (int i = 0; i < 6; ++i) messageRow(w, first + i)->activate();
  EXPECT_EQ(RunningVoicePlaybacks(), 1) << "one playback at a time in a window";
  ASSERT_TRUE(settle(holdsAudioPower));
  messageRow(w, first)->activate();  // "Play" on the one playing stops it
  ASSERT_TRUE(settle([] { return platform::wavePlayedClips().size() == 1; }));
  EXPECT_LT(platform::wavePlayedClips()[0].samples.size(), whole);
  // Three waited their turn; the last two were one too many.
  ASSERT_TRUE(playToEnd());
  auto clips = platform::wavePlayedClips();
  ASSERT_EQ(clips.size(), 4u);
  for (size_t i = 1; i < clips.size(); ++i) EXPECT_EQ(clips[i].samples.size(), whole);

  // Closing the window stops what it plays and drops what waits.
  messageRow(w, first)->activate();
  messageRow(w, first + 1)->activate();
  ASSERT_TRUE(settle(holdsAudioPower));
  SetFocus(w->list()->hwnd());
  testkit::key(VK_TBACK);
  testkit::pump();
  ASSERT_EQ(registry->find(bob, false), nullptr);
  ASSERT_TRUE(settle([] { return RunningVoicePlaybacks() == 0; }));
  clips = platform::wavePlayedClips();
  ASSERT_EQ(clips.size(), 5u);
  EXPECT_LT(clips[4].samples.size(), whole);
}

}  // namespace
}  // namespace msgtest
