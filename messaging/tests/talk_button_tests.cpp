// The push-to-talk button: real speech from the wave input, recorded as the
// clock runs, streamed into the message while the key is held.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "chat_fixture.h"
#include "framework/fonts.h"
#include "platform/gdi.h"
#include "platform/sound.h"
#include "platform/wave.h"
#include "speech.h"
#include "talk_button.h"
#include "voice_codec.h"

namespace msgtest {
namespace {

using messaging::ChatWindow;
using messaging::TalkButton;
namespace voice = messaging::voice;

MessageData dataOf(HMessage* m) {
  MessageData d{};
  d.size = sizeof d;
  KS_GetMessageData(m, &d);
  return d;
}

// Every change of the recorded message as the window sends it: payload
// length and completion after each.
class Recording {
 public:
  Recording() : sent_(olvaro::subscribeEvent("messages.new.outgoing", &Recording::onSent, this)) {}
  ~Recording() {
    changes_ = olvaro::MessageSubscription();
    if (message) KS_ReleaseMessage(message);
  }
  // The pieces appended, in order.
  std::vector<std::string> pieces() const {
    std::vector<std::string> out;
    for (size_t i = 1; i < states_.size(); ++i)
      if (states_[i].first > states_[i - 1].first)
        out.push_back(payload().substr(states_[i - 1].first, states_[i].first - states_[i - 1].first));
    return out;
  }
  // How many changes completed the message, and whether one brought data.
  int completions(bool* withData) const {
    int n = 0;
    for (size_t i = 1; i < states_.size(); ++i)
      if (states_[i].second && !states_[i - 1].second) {
        ++n;
        if (states_[i].first != states_[i - 1].first) *withData = true;
      }
    return n;
  }
  std::string payload() const {
    MessageData d = dataOf(message);
    return std::string(reinterpret_cast<const char*>(d.payload), size_t(d.payloadLength));
  }
  HMessage* message = nullptr;
  int sends = 0;

 private:
  static uint32_t onSent(void* user, void* argument) {
    auto* self = static_cast<Recording*>(user);
    ++self->sends;
    if (self->message) return 0;
    self->message = KS_DuplicateMessageHandle(static_cast<HMessage*>(argument));
    self->note();
    self->changes_ = olvaro::subscribeMessage(self->message, &Recording::onChange, self);
    return 0;
  }
  static uint32_t onChange(void* user, void*) {
    static_cast<Recording*>(user)->note();
    return 0;
  }
  void note() {
    MessageData d = dataOf(message);
    states_.emplace_back(size_t(d.payloadLength), d.complete != 0);
  }
  olvaro::EventSubscription sent_;
  olvaro::MessageSubscription changes_;
  std::vector<std::pair<size_t, bool>> states_;
};

// True when another thread could take the audio lock now (the hub's lock
// is recursive, so this thread would always get it).
bool audioFree() {
  bool got = false;
  std::thread([&] {
    got = KS_AudioTryLock() != 0;
    if (got) KS_AudioUnlock();
  }).join();
  return got;
}

int beeps() {
  int n = 0;
  for (const auto& s : platform::soundsPlayed()) n += s.kind == platform::SoundRecord::Beep;
  return n;
}

class TalkTest : public ChatTest {
 protected:
  void SetUp() override {
    ChatTest::SetUp();
    speech16 = speechtest::speechAt(voice::kSpeexSampleRate);
    speech8 = speechtest::speechAt(voice::kGsmSampleRate);
    ASSERT_GT(speech16.size(), 3u * 16000) << "espeak-ng made no speech";
    wav16 = session().home() + "/speech16.wav";
    wav8 = session().home() + "/speech8.wav";
    ASSERT_TRUE(platform::writeWavFile(wav16, {16000, speech16}));
    ASSERT_TRUE(platform::writeWavFile(wav8, {8000, speech8}));
    platform::waveSetInputFile(wav16);
    platform::soundRecordReset();
    recording = std::make_unique<Recording>();
  }
  void TearDown() override {
    recording.reset();
    platform::waveSetInputFile("");
    ChatTest::TearDown();
  }
  // A chat with bob on its Voice tab, the button focused; the codec is
  // read as the button is made.
  TalkButton* openVoiceTab(const char* codec = nullptr) {
    if (codec) KS_SetSettingString("audio.recording.codec", codec);
    chat = openChat(bob);
    chat->tabs()->setSelectedIndex(ChatWindow::kVoiceTab);
    testkit::pump();
    SetFocus(chat->talkButton()->hwnd());
    testkit::pump();
    return chat->talkButton();
  }
  // Time passes in small steps, so the device is never short of buffers.
  static void hold(int ms) {
    for (int t = 0; t < ms; t += 20) testkit::runClock(20);
  }
  std::vector<int16_t> speech16, speech8;
  std::string wav16, wav8;
  ChatWindow* chat = nullptr;
  std::unique_ptr<Recording> recording;
};

TEST_F(TalkTest, HoldingEnterStreamsSpeexAndLettingGoCompletes) {
  TalkButton* talk = openVoiceTab();
  EXPECT_STREQ(talk->codec(), "audio/x-speex");
  testkit::keyDown(VK_RETURN);
  ASSERT_TRUE(talk->recording());
  ASSERT_NE(recording->message, nullptr);
  EXPECT_EQ(talk->recorder()->queued(), 10u);
  EXPECT_EQ(talk->recorder()->bufferBytes(), 1280u);
  EXPECT_FALSE(audioFree());
  MessageData d = dataOf(recording->message);
  EXPECT_STREQ(d.contentType, "audio/x-speex");
  EXPECT_EQ(d.complete, 0);
  EXPECT_EQ(d.target, static_cast<void*>(bob));
  EXPECT_GE(d.id, 32768);
  EXPECT_EQ(messageRow(chat, chat->list()->rowCount() - 1)->message(), recording->message);

  // Streamed while held: a second is 25 buffers, already in the message.
  hold(1000);
  EXPECT_EQ(recording->pieces().size(), 25u);
  // An auto-repeat of the held key starts nothing new.
  SendMessage(talk->hwnd(), WM_KEYDOWN, VK_RETURN, LPARAM(1) << 30);
  hold(1000);
  testkit::keyUp(VK_RETURN);
  EXPECT_FALSE(talk->recording());
  EXPECT_EQ(talk->message(), nullptr);
  EXPECT_TRUE(audioFree());
  EXPECT_EQ(recording->sends, 1);

  auto pieces = recording->pieces();
  ASSERT_EQ(pieces.size(), 50u);
  for (const std::string& p : pieces) {
    // Two frames, each a 16-bit little-endian length and its bits.
    ASSERT_GE(p.size(), 4u);
    size_t first = uint8_t(p[0]) | uint8_t(p[1]) << 8;
    ASSERT_GT(first, 0u);
    ASSERT_LE(first + 4, p.size());
    size_t second = uint8_t(p[first + 2]) | uint8_t(p[first + 3]) << 8;
    EXPECT_GT(second, 0u);
    EXPECT_EQ(first + second + 4, p.size());
  }
  bool withData = false;
  EXPECT_EQ(recording->completions(&withData), 1);
  EXPECT_FALSE(withData);
  EXPECT_EQ(dataOf(recording->message).complete, 1);

  // Exactly the spoken input, in order: the same bytes a fresh encoder
  // makes of the first two seconds.
  voice::SpeexEncoder encoder;
  std::string expected;
  for (size_t at = 0; at < 32000; at += 640) {
    auto piece = encoder.encodeBuffer(speech16.data() + at, 1280);
    expected.append(piece.begin(), piece.end());
  }
  EXPECT_EQ(recording->payload(), expected);

  // Let go and pressed again at once: the first recording's buffers are
  // freed, and the device's notices of them, still queued, reach the second
  // recording, which must take none of them for its own.
  testkit::keyDown(VK_RETURN);
  hold(100);
  recording = std::make_unique<Recording>();
  PostMessage(talk->hwnd(), WM_KEYUP, VK_RETURN, LPARAM(0xC0000001));
  PostMessage(talk->hwnd(), WM_KEYDOWN, VK_RETURN, 1);
  testkit::pump();
  ASSERT_TRUE(talk->recording());
  EXPECT_EQ(talk->recorder()->queued(), 10u);
  hold(400);
  EXPECT_EQ(talk->recorder()->queued(), 10u);
  EXPECT_EQ(recording->pieces().size(), 10u);
  testkit::keyUp(VK_RETURN);
}

TEST_F(TalkTest, SpeexAndGsmRecordingsDecodeToTheSpeech) {
  // Speex by the "0" key, the whole speech and a little more.
  const int speexMs = int(speech16.size() / 16) + 200;
  TalkButton* talk = openVoiceTab();
  testkit::keyDown('0');
  hold(speexMs);
  testkit::keyUp('0');
  std::string payload = recording->payload();
  auto decoded = voice::decodeSpeexPayload(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  // Whole buffers only: the partly filled last one is not sent.
  EXPECT_EQ(decoded.size(), size_t(speexMs) * 16 / 640 * 640);
  double speexFollow = speechtest::followCorrelation(speech16, decoded, 16000);
  std::printf("recorded speex: %zu bytes, follow %.3f\n", payload.size(), speexFollow);
  EXPECT_GT(speexFollow, 0.85);
  EXPECT_GT(*std::max_element(decoded.begin(), decoded.end()), 1000);
  (void)talk;

  // GSM from a fresh window: the driver's 65-byte blocks, ten a buffer.
  SendMessage(chat->hwnd(), WM_CLOSE, 0, 0);
  recording = std::make_unique<Recording>();
  platform::waveSetInputFile(wav8);
  talk = openVoiceTab("audio/ms-gsm");
  testkit::keyDown(VK_SPACE);
  EXPECT_EQ(talk->recorder()->bufferBytes(), 650u);
  EXPECT_STREQ(dataOf(recording->message).contentType, "audio/ms-gsm");
  hold(1000);
  EXPECT_EQ(recording->pieces().size(), 2u);  // 400 ms each, as they come
  const int gsmMs = int(speech8.size() / 8) + 200;
  hold(gsmMs - 1000);
  testkit::keyUp(VK_SPACE);
  auto pieces = recording->pieces();
  EXPECT_EQ(pieces.size(), size_t(gsmMs / 400));
  for (const std::string& p : pieces) EXPECT_EQ(p.size(), 650u);
  payload = recording->payload();
  EXPECT_EQ(payload.size(), pieces.size() * 650);
  decoded = voice::decodeGsmPayload(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  double gsmFollow = speechtest::followCorrelation(speech8, decoded, 8000);
  std::printf("recorded gsm: %zu bytes, follow %.3f\n", payload.size(), gsmFollow);
  EXPECT_GT(gsmFollow, 0.85);
  EXPECT_TRUE(audioFree());
}

TEST_F(TalkTest, BusyAudioOrAnUnknownCodecBeepsAndRecordsNothing) {
  // A playback elsewhere holds the audio.
  std::atomic<int> stage{0};
  std::thread player([&] {
    KS_AudioLock();
    stage = 1;
    while (stage != 2) std::this_thread::yield();
    KS_AudioUnlock();
  });
  while (stage != 1) std::this_thread::yield();
  TalkButton* talk = openVoiceTab();
  testkit::key(VK_RETURN);
  EXPECT_EQ(beeps(), 1);
  EXPECT_FALSE(talk->recording());
  EXPECT_EQ(recording->sends, 0);
  stage = 2;
  player.join();
  // Once it is free the key records.
  testkit::keyDown(VK_RETURN);
  EXPECT_TRUE(talk->recording());
  testkit::keyUp(VK_RETURN);
  EXPECT_EQ(recording->sends, 1);
  EXPECT_TRUE(audioFree());

  // A codec nobody records: no message, the lock given back, a beep.
  SendMessage(chat->hwnd(), WM_CLOSE, 0, 0);
  recording = std::make_unique<Recording>();
  int rowsBefore = 0;
  talk = openVoiceTab("audio/x-wav");
  rowsBefore = chat->list()->rowCount();
  testkit::keyDown(VK_RETURN);
  EXPECT_FALSE(talk->recording());
  EXPECT_EQ(talk->message(), nullptr);
  EXPECT_EQ(recording->sends, 0);
  EXPECT_EQ(chat->list()->rowCount(), rowsBefore);
  EXPECT_TRUE(audioFree());
  EXPECT_EQ(beeps(), 2);
  testkit::keyUp(VK_RETURN);
}

TEST_F(TalkTest, FocusLossStylusUpAndClosingTheWindowEachEndTheRecording) {
  TalkButton* talk = openVoiceTab();
  // Down while Enter is held moves the focus on, which ends the recording.
  testkit::keyDown(VK_RETURN);
  hold(400);
  testkit::keyDown(VK_DOWN);
  EXPECT_NE(GetFocus(), talk->hwnd());
  EXPECT_FALSE(talk->recording());
  EXPECT_EQ(recording->pieces().size(), 10u);
  EXPECT_EQ(dataOf(recording->message).complete, 1);
  EXPECT_TRUE(audioFree());
  testkit::keyUp(VK_DOWN);
  testkit::keyUp(VK_RETURN);

  // The stylus: pressing takes the focus and records, lifting sends.
  recording = std::make_unique<Recording>();
  RECT r = testkit::screenRect(talk->hwnd());
  testkit::stylusDown((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  EXPECT_EQ(GetFocus(), talk->hwnd());
  EXPECT_TRUE(talk->recording());
  hold(200);
  testkit::stylusUp((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  EXPECT_FALSE(talk->recording());
  EXPECT_EQ(recording->pieces().size(), 5u);
  EXPECT_EQ(dataOf(recording->message).complete, 1);

  // The window closed mid-recording still completes the message and gives
  // the audio back.
  recording = std::make_unique<Recording>();
  testkit::keyDown(VK_SPACE);
  hold(200);
  ASSERT_NE(recording->message, nullptr);
  SendMessage(chat->hwnd(), WM_CLOSE, 0, 0);
  testkit::pump();
  EXPECT_EQ(registry->find(bob), nullptr);
  EXPECT_EQ(dataOf(recording->message).complete, 1);
  EXPECT_EQ(recording->pieces().size(), 5u);
  EXPECT_TRUE(audioFree());
  testkit::keyUp(VK_SPACE);
  hold(100);  // the device's late notices find nobody and harm nothing
}

TEST_F(TalkTest, TheButtonShowsItsStateInTextAndEdge) {
  TalkButton* talk = openVoiceTab();
  RECT r = testkit::screenRect(talk->hwnd());
  const COLORREF grey = RGB(192, 192, 192);
  const int midY = (r.top + r.bottom) / 2;
  HDC dc = GetDC(talk->hwnd());
  SelectObject(dc, fwk::boldFont());
  auto textWidth = [&](const char16_t* s) {
    SIZE size{};
    GetTextExtentPoint32(dc, s, int(std::char_traits<char16_t>::length(s)), &size);
    return int(size.cx);
  };
  const int pushWidth = textWidth(u"Push to Talk"), releaseWidth = textWidth(u"Release to Send");
  ReleaseDC(talk->hwnd(), dc);
  ASSERT_NE(pushWidth, releaseWidth);
  RECT inner{r.left + 6, r.top + 6, r.right - 6, r.bottom - 6};
  auto checkText = [&](int width) {
    RECT ink = testkit::inkBox(inner, grey);
    EXPECT_NEAR(ink.right - ink.left, width, 2);
    EXPECT_NEAR((ink.left + ink.right) / 2, (r.left + r.right) / 2, 2);
    EXPECT_GT(testkit::countPixels(inner, RGB(0, 0, 0)), 20);
  };
  // The edge's upper-left line two pixels in, its lower-right one.
  auto edge = [&] { return std::make_pair(testkit::pixel(r.left + 2, midY), testkit::pixel(r.right - 3, midY)); };
  auto focusLine = [&] {
    RECT line{r.left + 4, midY - 3, r.left + 5, midY + 3};
    return testkit::countPixels(line, grey);
  };

  EXPECT_EQ(testkit::pixel(r.left + 1, r.top + 1), grey);
  EXPECT_EQ(testkit::pixel(r.right - 2, r.bottom - 2), grey);
  checkText(pushWidth);
  auto raised = edge();
  EXPECT_NE(raised.first, grey);
  EXPECT_NE(raised.first, raised.second);
  EXPECT_LT(focusLine(), 6);  // focused: the dotted rectangle

  testkit::keyDown(VK_RETURN);
  testkit::pump();
  EXPECT_EQ(testkit::windowText(talk->hwnd()), "Release to Send");
  checkText(releaseWidth);
  auto sunken = edge();
  EXPECT_NE(sunken, raised);
  // Sunken: the upper-left side goes dark and the lower-right light.
  EXPECT_LT(GetRValue(sunken.first), GetRValue(raised.first));
  EXPECT_GT(GetRValue(sunken.second), GetRValue(raised.second));
  testkit::keyUp(VK_RETURN);
  testkit::pump();
  checkText(pushWidth);
  EXPECT_EQ(edge(), raised);
  EXPECT_EQ(testkit::windowText(talk->hwnd()), "Push to Talk");

  SetFocus(chat->list()->hwnd());
  testkit::pump();
  EXPECT_EQ(focusLine(), 6);
}

}  // namespace
}  // namespace msgtest
