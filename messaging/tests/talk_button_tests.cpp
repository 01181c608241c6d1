// The push-to-talk button: real speech from the wave input, recorded as the
// manual clock runs and streamed into the message while the key is held.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "chat_fixture.h"
#include "framework/fonts.h"
#include "platform/gdi.h"
#include "platform/sound.h"
#include "platform/wave.h"
#include "testkit/speech.h"
#include "talk_button.h"

namespace msgtest {
namespace {

using messaging::TalkButton;
namespace voice = messaging::voice;

std::string payloadOf(HMessage* m) {
  MessageData d = olvaro::messageData(m);
  return std::string(reinterpret_cast<const char*>(d.payload), size_t(d.payloadLength));
}

// The message the window sends, each piece appended to it, its completions.
struct Recording {
  Recording() : sent(olvaro::subscribeEvent("messages.new.outgoing", &Recording::onSent, this)) {}
  ~Recording() {
    changes = olvaro::MessageSubscription();
    if (message) KS_ReleaseMessage(message);
  }
  static uint32_t onSent(void* user, void* m) {
    auto* self = static_cast<Recording*>(user);
    if (self->sends++ > 0) return 0;
    self->message = KS_DuplicateMessageHandle(static_cast<HMessage*>(m));
    self->changes = olvaro::subscribeMessage(self->message, &Recording::onChange, self);
    return 0;
  }
  static uint32_t onChange(void* user, void*) {
    auto* self = static_cast<Recording*>(user);
    std::string now = payloadOf(self->message);
    bool complete = olvaro::messageData(self->message).complete != 0;
    if (complete && !self->complete) self->completionData.push_back(now.size() - self->pieceEnd);
    if (now.size() > self->pieceEnd) self->pieces.push_back(now.substr(self->pieceEnd));
    self->pieceEnd = now.size();
    self->complete = complete;
    return 0;
  }
  HMessage* message = nullptr;
  int sends = 0;
  bool complete = false;
  size_t pieceEnd = 0;
  std::vector<std::string> pieces;
  std::vector<size_t> completionData;  // bytes brought by each completion
  olvaro::EventSubscription sent;
  olvaro::MessageSubscription changes;
};

// The hub's lock is recursive: only another thread tells whether it is free.
bool audioFree() {
  bool got = false;
  std::thread([&] {
    if ((got = KS_AudioTryLock() != 0)) KS_AudioUnlock();
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
    speech16 = testkit::speechAt(16000);
    speech8 = testkit::speechAt(8000);
    ASSERT_GT(speech16.size(), 3u * 16000) << "espeak-ng made no speech";
    wav16 = session().home() + "/speech16.wav";
    wav8 = session().home() + "/speech8.wav";
    ASSERT_TRUE(platform::writeWavFile(wav16, {16000, speech16}));
    ASSERT_TRUE(platform::writeWavFile(wav8, {8000, speech8}));
    platform::waveSetInputFile(wav16);
    platform::soundRecordReset();
    rec = std::make_unique<Recording>();
  }
  void TearDown() override {
    rec.reset();
    platform::waveSetInputFile("");
    ChatTest::TearDown();
  }
  // bob's chat on the Voice tab, the button focused; it reads the codec as
  // it is made.
  TalkButton* openVoiceTab(const char* codec = nullptr) {
    if (chat) SendMessage(chat->hwnd(), WM_CLOSE, 0, 0);
    if (codec) KS_SetSettingString("audio.recording.codec", codec);
    chat = openChat(bob);
    chat->tabs()->setSelectedIndex(messaging::ChatWindow::kVoiceTab);
    SetFocus(chat->talkButton()->hwnd());
    testkit::pump();
    return chat->talkButton();
  }
  // Small steps, so the device is never short of buffers.
  static void hold(int ms) {
    for (int t = 0; t < ms; t += 20) testkit::runClock(20);
  }
  std::vector<int16_t> speech16, speech8;
  std::string wav16, wav8;
  messaging::ChatWindow* chat = nullptr;
  std::unique_ptr<Recording> rec;
};

TEST_F(TalkTest, HoldingEnterStreamsTwoFramesEvery40MsThenAnEmptyCompletion) {
  TalkButton* talk = openVoiceTab();
  testkit::keyDown(VK_RETURN);
  ASSERT_TRUE(talk->recording());
  EXPECT_EQ(talk->recorder()->queued(), 10u);
  EXPECT_FALSE(audioFree());
  MessageData d = olvaro::messageData(rec->message);
  EXPECT_STREQ(d.contentType, "audio/x-speex");
  EXPECT_EQ(d.complete, 0);
  EXPECT_EQ(d.target, static_cast<void*>(bob));
  EXPECT_EQ(messageRow(chat, chat->list()->rowCount() - 1)->message(), rec->message);
  hold(1000);
  EXPECT_EQ(rec->pieces.size(), 25u);                                 // streamed while held
  SendMessage(talk->hwnd(), WM_KEYDOWN, VK_RETURN, LPARAM(1) << 30);  // auto-repeat: nothing new
  hold(1000);
  testkit::keyUp(VK_RETURN);
  EXPECT_FALSE(talk->recording());
  EXPECT_TRUE(audioFree());
  EXPECT_EQ(rec->sends, 1);
  ASSERT_EQ(rec->pieces.size(), 50u);
  for (const std::string& p : rec->pieces) {
    // Two frames, each a 16-bit little-endian length and its bits.
    ASSERT_GE(p.size(), 4u);
    size_t first = uint8_t(p[0]) | uint8_t(p[1]) << 8;
    ASSERT_LE(first + 4, p.size());
    size_t second = uint8_t(p[first + 2]) | uint8_t(p[first + 3]) << 8;
    EXPECT_TRUE(first > 0 && second > 0 && first + second + 4 == p.size());
  }
  EXPECT_EQ(rec->completionData, std::vector<size_t>{0});
  // The spoken input in order: what a fresh encoder makes of two seconds.
  voice::SpeexEncoder encoder;
  std::string expected;
  for (size_t at = 0; at < 32000; at += 640) {
    auto piece = encoder.encodeBuffer(speech16.data() + at, 1280);
    expected.append(piece.begin(), piece.end());
  }
  EXPECT_EQ(payloadOf(rec->message), expected);

  // Let go and pressed again at once: the device's notices of the freed
  // buffers, still queued, reach the new recording, which takes none.
  testkit::keyDown(VK_RETURN);
  hold(100);
  rec = std::make_unique<Recording>();
  PostMessage(talk->hwnd(), WM_KEYUP, VK_RETURN, LPARAM(0xC0000001));
  PostMessage(talk->hwnd(), WM_KEYDOWN, VK_RETURN, 1);
  testkit::pump();
  ASSERT_TRUE(talk->recording());
  hold(400);
  EXPECT_EQ(talk->recorder()->queued(), 10u);
  EXPECT_EQ(rec->pieces.size(), 10u);
  testkit::keyUp(VK_RETURN);
}

TEST_F(TalkTest, SpeexAndGsmRecordingsDecodeToTheSpeech) {
  const int speexMs = int(speech16.size() / 16) + 200;
  openVoiceTab();
  testkit::keyDown('0');
  hold(speexMs);
  testkit::keyUp('0');
  std::string payload = payloadOf(rec->message);
  auto decoded = voice::decodeSpeexPayload(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  EXPECT_EQ(decoded.size(), size_t(speexMs) * 16 / 640 * 640);  // the partly filled last buffer is not sent
  double follow = testkit::followCorrelation(speech16, 16000, decoded, 16000);
  std::printf("recorded speex: %zu bytes, follow %.3f\n", payload.size(), follow);
  EXPECT_GT(follow, 0.85);

  rec = std::make_unique<Recording>();
  platform::waveSetInputFile(wav8);
  openVoiceTab("audio/ms-gsm");
  testkit::keyDown(VK_SPACE);
  EXPECT_STREQ(olvaro::messageData(rec->message).contentType, "audio/ms-gsm");
  hold(1000);
  EXPECT_EQ(rec->pieces.size(), 2u);  // ten blocks every 400 ms, as they come
  const int gsmMs = int(speech8.size() / 8) + 200;
  hold(gsmMs - 1000);
  testkit::keyUp(VK_SPACE);
  EXPECT_EQ(rec->pieces.size(), size_t(gsmMs / 400));
  for (const std::string& p : rec->pieces) EXPECT_EQ(p.size(), 650u);
  payload = payloadOf(rec->message);
  decoded = voice::decodeGsmPayload(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  follow = testkit::followCorrelation(speech8, 8000, decoded, 8000);
  std::printf("recorded gsm: %zu bytes, follow %.3f\n", payload.size(), follow);
  EXPECT_GT(follow, 0.85);
}

TEST_F(TalkTest, BusyAudioAnUnknownCodecOrNoMicrophoneBeepsAndHoldsNothing) {
  std::atomic<int> stage{0};
  std::thread player([&] {  // a playback holding the audio
    KS_AudioLock();
    stage = 1;
    while (stage != 2) std::this_thread::yield();
    KS_AudioUnlock();
  });
  while (stage != 1) std::this_thread::yield();
  openVoiceTab();
  testkit::key(VK_RETURN);
  EXPECT_EQ(beeps(), 1);
  EXPECT_EQ(rec->sends, 0);
  stage = 2;
  player.join();
  testkit::key(VK_RETURN);
  EXPECT_EQ(rec->sends, 1);

  // A refused start records nothing, makes no message, frees the lock and
  // beeps once more.
  auto startIsRefused = [&](const char* codec, int beepsThen) {
    TalkButton* button = openVoiceTab(codec);
    int rows = chat->list()->rowCount();
    testkit::keyDown(VK_RETURN);
    EXPECT_FALSE(button->recording()) << codec;
    EXPECT_EQ(rec->sends, 1);
    EXPECT_EQ(chat->list()->rowCount(), rows);
    EXPECT_TRUE(audioFree());
    EXPECT_EQ(beeps(), beepsThen);
    testkit::keyUp(VK_RETURN);
  };
  startIsRefused("audio/x-wav", 2);
  // A phone without a microphone: the device does not open.
  setenv("OLVARO_NO_MICROPHONE", "1", 1);
  startIsRefused("audio/x-speex", 3);
  unsetenv("OLVARO_NO_MICROPHONE");
}

TEST_F(TalkTest, FocusLossStylusUpAndClosingTheWindowEachEndTheRecording) {
  TalkButton* talk = openVoiceTab();
  testkit::keyDown(VK_RETURN);
  hold(400);
  testkit::keyDown(VK_DOWN);  // the focus moves on while Enter is held
  EXPECT_FALSE(talk->recording());
  EXPECT_EQ(rec->pieces.size(), 10u);
  EXPECT_EQ(rec->completionData.size(), 1u);
  EXPECT_TRUE(audioFree());
  testkit::keyUp(VK_DOWN);
  testkit::keyUp(VK_RETURN);

  rec = std::make_unique<Recording>();
  RECT r = testkit::screenRect(talk->hwnd());
  testkit::stylusDown((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  EXPECT_EQ(GetFocus(), talk->hwnd());
  EXPECT_TRUE(talk->recording());
  hold(200);
  testkit::stylusUp((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  EXPECT_FALSE(talk->recording());
  EXPECT_EQ(rec->pieces.size(), 5u);
  EXPECT_EQ(rec->completionData.size(), 1u);

  rec = std::make_unique<Recording>();
  testkit::keyDown(VK_SPACE);
  hold(200);
  SendMessage(chat->hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(registry->find(bob, false), nullptr);
  EXPECT_EQ(rec->pieces.size(), 5u);
  EXPECT_EQ(rec->completionData, std::vector<size_t>{0});
  EXPECT_TRUE(audioFree());
  testkit::keyUp(VK_SPACE);
  hold(100);  // late device notices find nobody
}

TEST_F(TalkTest, TheButtonShowsItsStateInTextAndEdge) {
  TalkButton* talk = openVoiceTab();
  RECT r = testkit::screenRect(talk->hwnd());
  const COLORREF grey = RGB(192, 192, 192);
  const int midY = (r.top + r.bottom) / 2;
  auto width = [&](const char16_t* s) {
    HDC dc = GetDC(talk->hwnd());
    SelectObject(dc, fwk::boldFont());
    SIZE size{};
    GetTextExtentPoint32(dc, s, int(std::char_traits<char16_t>::length(s)), &size);
    ReleaseDC(talk->hwnd(), dc);
    return int(size.cx);
  };
  auto checkText = [&](const char* text, const char16_t* shown) {
    RECT ink = testkit::inkBox(RECT{r.left + 6, r.top + 6, r.right - 6, r.bottom - 6}, grey);
    EXPECT_NEAR(ink.right - ink.left, width(shown), 2) << text;
    EXPECT_NEAR((ink.left + ink.right) / 2, (r.left + r.right) / 2, 2) << text;
    EXPECT_EQ(testkit::windowText(talk->hwnd()), text);
  };
  // The edge's left and right lines two pixels in; the focus line four in.
  auto edge = [&] { return std::make_pair(testkit::pixel(r.left + 2, midY), testkit::pixel(r.right - 3, midY)); };
  auto focusGrey = [&] { return testkit::countPixels(RECT{r.left + 4, midY - 3, r.left + 5, midY + 3}, grey); };

  EXPECT_EQ(testkit::pixel(r.left + 1, r.top + 1), grey);
  EXPECT_EQ(testkit::pixel(r.right - 2, r.bottom - 2), grey);
  checkText("Push to Talk", u"Push to Talk");
  auto raised = edge();
  EXPECT_NE(raised.first, grey);
  EXPECT_LT(focusGrey(), 6);  // the dotted rectangle
  testkit::keyDown(VK_RETURN);
  checkText("Release to Send", u"Release to Send");
  auto sunken = edge();
  EXPECT_LT(GetRValue(sunken.first), GetRValue(raised.first));  // dark upper-left
  EXPECT_GT(GetRValue(sunken.second), GetRValue(raised.second));
  testkit::keyUp(VK_RETURN);
  checkText("Push to Talk", u"Push to Talk");
  EXPECT_EQ(edge(), raised);
  SetFocus(chat->list()->hwnd());
  testkit::pump();
  EXPECT_EQ(focusGrey(), 6);
}

}  // namespace
}  // namespace msgtest
