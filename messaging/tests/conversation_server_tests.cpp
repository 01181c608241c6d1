// Conversations against the real server with the real connection: the
// automated contact answers, a second account (bob) talks at the protocol
// level, older messages come by scrolling up, photos go both ways, and
// voice streams out while it is recorded and comes back to be heard.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "chat_registry.h"
#include "chat_window.h"
#include "conversation_input.h"
#include "messenger_fixture.h"
#include "notification_agent.h"
#include "platform/camera.h"
#include "platform/files.h"
#include "platform/menu.h"
#include "platform/wave.h"
#include "testkit/modal.h"
#include "testkit/speech.h"
#include "ui_fixture.h"
#include "voice_codec.h"
#include "voice_player.h"

using namespace conntest;

namespace {

namespace fs = std::filesystem;
using messaging::ChatWindow;

const fs::path kPictures =
    fs::path(OLVARO_TEST_PICTURES);

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ConversationTest : public MessengerTest {
 protected:
  void SetUp() override {
    MessengerTest::SetUp();
    bot = server->create_account({"echo@example.org", "echopass", "Echo", "", 1});
    server->list_contact(ann, bot);
    temp = fs::path(testing::TempDir()) / ("conversation-" + std::to_string(getpid()));
    fs::create_directories(temp);
    if (const char* old = std::getenv("TMPDIR")) oldTmp_ = old;
    setenv("TMPDIR", temp.c_str(), 1);
    main_ = std::make_unique<MainWindowStandIn>();
    registry = std::make_unique<messaging::ChatRegistry>();
    signInAnn();
  }
  void TearDown() override {
    registry.reset();
    main_.reset();
    unsetenv("OLVARO_OPEN_COMMAND");
    if (oldTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    MessengerTest::TearDown();
    fs::remove_all(temp);
  }
  ChatWindow* open(int64_t id) {
    ContactRef c = contact(id);
    KS_EventRaise("messaging.chat.contact", c.handle);
    testkit::pump();
    return registry->find(c.handle, false);
  }
  static std::string payload(HMessage* m) {
    MessageData d{};
    d.size = sizeof d;
    KS_GetMessageData(m, &d);
    return std::string(reinterpret_cast<const char*>(d.payload), size_t(d.payloadLength));
  }
  static messaging::MessageRow* row(ChatWindow* w, int i) {
    return dynamic_cast<messaging::MessageRow*>(w->list()->row(i));
  }
  static messaging::MessageRow* last(ChatWindow* w) { return row(w, w->list()->rowCount() - 1); }
  // The row count once it reaches `n`.
  static bool rowsReach(ChatWindow* w, int n) { return waitFor([&] { return w->list()->rowCount() >= n; }); }

  int64_t bot = 0;
  fs::path temp;
  std::string oldTmp_;
  std::unique_ptr<messaging::ChatRegistry> registry;

 private:
  std::unique_ptr<MainWindowStandIn> main_;
};

// The states an outgoing row shows, each once, in order.
struct StateLog {
  messaging::MessageRow* row = nullptr;
  std::vector<std::u16string> seen;
  void note() {
    std::u16string s = row->statusText();
    if (seen.empty() || seen.back() != s) seen.push_back(s);
  }
  static uint32_t onChange(void* user, void*) {
    static_cast<StateLog*>(user)->note();
    return 0;
  }
};

TEST_F(ConversationTest, TheAutomatedContactAnswersWhatIsTyped) {
  ChatWindow* w = open(bot);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(testkit::windowText(w->hwnd()), "Echo");
  int rows = w->list()->rowCount();
  // The row's state from the moment it is handed to the connection.
  StateLog log;
  olvaro::MessageSubscription watch;
  struct Hook {
    ChatWindow* w;
    StateLog* log;
    olvaro::MessageSubscription* watch;
  } hook{w, &log, &watch};
  olvaro::EventSubscription outgoing = olvaro::subscribeEvent(
      "messages.new.outgoing",
      [](void* user, void* argument) -> uint32_t {
        auto* h = static_cast<Hook*>(user);
        h->log->row = last(h->w);
        h->log->note();
        *h->watch = olvaro::subscribeMessage(static_cast<HMessage*>(argument), &StateLog::onChange, h->log);
        return 0;
      },
      &hook);
  testkit::type("hello there");
  testkit::key(VK_RETURN);
  ASSERT_NE(log.row, nullptr);
  ASSERT_TRUE(rowsReach(w, rows + 2));
  ASSERT_TRUE(waitFor([&] { log.note(); return log.seen.back().find(u':') != std::u16string::npos; }));
  EXPECT_EQ(log.seen.front(), u"Sending");
  EXPECT_EQ(payload(log.row->message()), "Hello there");
  EXPECT_EQ(testkit::narrow(log.row->senderName()), "Ann");
  messaging::MessageRow* answer = row(w, rows + 1);
  EXPECT_EQ(payload(answer->message()), "You said: Hello there");
  EXPECT_EQ(testkit::narrow(answer->senderName()), "Echo");
  EXPECT_EQ(KS_GetVariantLong("messages.unread"), 0);
  testkit::type("/me waves");
  testkit::key(VK_RETURN);
  ASSERT_TRUE(rowsReach(w, rows + 4));
  EXPECT_EQ(payload(last(w)->message()), "You said: /me waves");
  testkit::saveScreenshot("conversation_echo");
}

TEST_F(ConversationTest, TextsReachBobInChunksAndHisAnswersAreReadOrWaitUnread) {
  auto b = signInBob(*server);
  ChatWindow* w = open(bob);
  ASSERT_NE(w, nullptr);
  std::string text(1100, 'x');
  SetWindowText(w->edit()->hwnd(), testkit::wide(text).c_str());
  SendMessage(w->hwnd(), WM_COMMAND, 102, 0);
  WireMessage got;
  ASSERT_TRUE(b->nextMessage(&got));
  EXPECT_EQ(got.payload, text);
  EXPECT_EQ(b->chunksSeen, 3u);
  EXPECT_EQ(got.contentType, "text/plain");

  // An answer into the open window is read at once.
  int rows = w->list()->rowCount();
  ASSERT_EQ(b->response(b->sendMessage(ann, false, "text/plain", "got it")), 4);
  ASSERT_TRUE(rowsReach(w, rows + 1));
  EXPECT_EQ(payload(last(w)->message()), "got it");
  EXPECT_EQ(KS_GetVariantLong("messages.unread"), 0);

  // With the window closed the next one waits, unread, until it opens.
  SendMessage(w->hwnd(), WM_COMMAND, 8, 0);
  testkit::pump();
  ASSERT_EQ(registry->find(contact(bob).handle, false), nullptr);
  ASSERT_EQ(b->response(b->sendMessage(ann, false, "text/plain", "are you there?")), 4);
  ASSERT_TRUE(waitFor([&] { return KS_GetVariantLong("messages.unread") == 1; }));
  w = open(bob);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(KS_GetVariantLong("messages.unread"), 0);
  ASSERT_EQ(w->list()->rowCount(), 2);
  EXPECT_EQ(payload(last(w)->message()), "are you there?");
}

TEST_F(ConversationTest, ScrollingPastTheTopFetchesOlderMessages) {
  auto b = signInBob(*server);
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(b->response(b->sendMessage(ann, false, "text/plain", "old " + std::to_string(i))), 4);
  ASSERT_TRUE(waitFor([&] { return inbox->messages.size() == 4; }));
  ChatWindow* w = open(bob);
  ASSERT_EQ(w->list()->rowCount(), 5);  // the bar and the four, taken from the unread queue
  SendMessage(w->hwnd(), WM_COMMAND, 8, 0);
  testkit::pump();

  w = open(bob);
  ASSERT_EQ(w->list()->rowCount(), 1);
  SetFocus(w->list()->hwnd());
  w->list()->setSelectedIndex(0);
  for (int i = 0; i < 3; ++i) testkit::key(VK_UP);
  ASSERT_EQ(w->list()->rowCount(), 4);
  EXPECT_TRUE(w->list()->isWaitRow(1));
  testkit::runClock(250);
  ASSERT_TRUE(waitFor([&] { return w->historyState() == ChatWindow::kIdle && w->pendingHistory() == 0; }));
  ASSERT_EQ(w->list()->rowCount(), 4);
  std::set<std::string> fetched;
  for (int i = 1; i < 4; ++i) {
    ASSERT_NE(row(w, i), nullptr) << i;
    fetched.insert(payload(row(w, i)->message()));
  }
  EXPECT_EQ(fetched, (std::set<std::string>{"old 1", "old 2", "old 3"}));
  EXPECT_TRUE(w->list()->hasMoreRow());

  // Two more asked, one left: it comes and the bar goes for good.
  w->list()->setSelectedIndex(0);
  testkit::key(VK_UP);
  testkit::key(VK_UP);
  testkit::runClock(250);
  ASSERT_TRUE(waitFor([&] { return w->historyState() == ChatWindow::kIdle && w->pendingHistory() == 0; }));
  ASSERT_EQ(w->list()->rowCount(), 4);
  EXPECT_FALSE(w->list()->hasMoreRow());
  ASSERT_NE(row(w, 0), nullptr);
  EXPECT_EQ(payload(row(w, 0)->message()), "old 0");
  testkit::saveScreenshot("conversation_history");
}

TEST_F(ConversationTest, AConversationOf150LinesLoadsBackInOrderOneUpAtATime) {
  auto b = signInBob(*server);
  ChatWindow* w = open(bob);
  ASSERT_NE(w, nullptr);
  // bob and Ann take turns, each line stored before the next is said.
  std::vector<std::string> said;
  for (int i = 0; i < 150; ++i) {
    if (i % 2 == 0) {
      said.push_back("Bob says " + std::to_string(i));
      ASSERT_EQ(b->response(b->sendMessage(ann, false, "text/plain", said.back())), 4);
    } else {
      said.push_back("Ann says " + std::to_string(i));
      sendFromHub(bob, "text/plain", said.back());
      WireMessage got;
      ASSERT_TRUE(b->nextMessage(&got));
      ASSERT_EQ(got.payload, said.back());
    }
  }
  ASSERT_TRUE(rowsReach(w, 1 + 75));  // bob's lines, live
  SendMessage(w->hwnd(), WM_COMMAND, 8, 0);
  testkit::pump();

  w = open(bob);
  ASSERT_EQ(w->list()->rowCount(), 1);
  SetFocus(w->list()->hwnd());
  for (int k = 1; k <= 150; ++k) {
    w->list()->setSelectedIndex(0);
    testkit::key(VK_UP);
    testkit::runClock(250);
    ASSERT_TRUE(waitFor([&] { return w->historyState() == ChatWindow::kIdle && w->pendingHistory() == 0; })) << k;
    int top = w->list()->hasMoreRow() ? 1 : 0;
    ASSERT_EQ(w->list()->rowCount(), top + k) << k;
    ASSERT_NE(row(w, top), nullptr) << k;
    ASSERT_EQ(payload(row(w, top)->message()), said[size_t(150 - k)]) << k;
  }
  EXPECT_FALSE(w->list()->hasMoreRow());
  for (int i = 0; i < 150; ++i) EXPECT_EQ(payload(row(w, i)->message()), said[size_t(i)]) << i;
  EXPECT_EQ(testkit::narrow(row(w, 1)->senderName()), "Ann");
}

TEST_F(ConversationTest, APhotoGoesToBobAndTheAutomatedContactsCopyIsViewed) {
  fs::path pictures = fs::path(session().home()) / "pictures";
  fs::create_directories(pictures);
  fs::copy_file(kPictures / "red-blue.png", pictures / "red-blue.png");
  std::string script = session().home() + "/opener.sh";
  std::ofstream(script) << "#!/bin/sh\ncp \"$1\" \"" << session().home() << "/viewed.jpg\"\n";
  chmod(script.c_str(), 0700);
  setenv("OLVARO_OPEN_COMMAND", script.c_str(), 1);
  auto shoot = testkit::ModalAnswers::always(testkit::pressing({VK_TSOFT1}));
  auto capture = [&](ChatWindow* w) {
    w->tabs()->setSelectedIndex(ChatWindow::kPhotoTab);
    SetFocus(w->captureButton()->hwnd());
    testkit::key(VK_RETURN);
    return readAll(fs::path(platform::privateTempFolder()) / "capimage.jpg");
  };

  auto b = signInBob(*server);
  std::string toBob = capture(open(bob));
  ASSERT_GT(toBob.size(), 100u);
  WireMessage got;
  ASSERT_TRUE(b->nextMessage(&got));
  EXPECT_EQ(got.contentType, "image/jpeg");
  EXPECT_EQ(got.payload, toBob);

  ChatWindow* w = open(bot);
  int rows = w->list()->rowCount();
  std::string jpeg = capture(w);
  ASSERT_TRUE(rowsReach(w, rows + 2));
  messaging::MessageRow* echoed = last(w);
  ASSERT_EQ(echoed->menuItems().front().second, u"View");
  ASSERT_TRUE(waitFor([&] { return payload(echoed->message()).size() == jpeg.size(); }));
  echoed->runCommand(3);
  fs::path viewed = fs::path(session().home()) / "viewed.jpg";
  for (int i = 0; i < 500 && readAll(viewed).size() < jpeg.size(); ++i) usleep(10000);
  EXPECT_EQ(readAll(viewed), jpeg);
  testkit::saveScreenshot("conversation_photo");
}

// Recording from spoken input: the talk key held on the Voice tab while the
// platform clock runs through the speech.
class VoiceConversationTest : public ConversationTest {
 protected:
  void SetUp() override {
    ConversationTest::SetUp();
    speech = testkit::speechAt(messaging::voice::kSpeexSampleRate);
    ASSERT_GT(speech.size(), 16000u * 3) << "espeak-ng made no speech";
    std::string wav = (temp / "speech.wav").string();
    ASSERT_TRUE(platform::writeWavFile(wav, {16000, speech}));
    platform::waveSetInputFile(wav);
    platform::waveKeepPlayedClips(true);
    platform::waveClearPlayedClips();
  }
  void TearDown() override {
    messaging::StopVoicePlayback();
    platform::waveSetInputFile("");
    ConversationTest::TearDown();
  }
  ChatWindow* voiceTab(int64_t id) {
    ChatWindow* w = open(id);
    if (!w) return nullptr;
    w->tabs()->setSelectedIndex(ChatWindow::kVoiceTab);
    testkit::pump();
    SetFocus(w->talkButton()->hwnd());
    testkit::pump();
    return w;
  }
  // Moves the clock on in steps of one buffer, letting the link work.
  static void talkFor(int ms, const std::function<void()>& meanwhile = [] {}) {
    for (int t = 0; t < ms; t += 40) {
      testkit::runClock(40);
      meanwhile();
    }
  }
  // The speech as long as it was recorded: whole buffers of 40 ms.
  std::vector<int16_t> spoken(size_t pieces) const {
    std::vector<int16_t> s(speech.begin(), speech.begin() + std::min(speech.size(), pieces * 640));
    return s;
  }
  std::vector<int16_t> speech;
};

TEST_F(VoiceConversationTest, VoiceStreamsToBobWhileItIsRecorded) {
  auto b = signInBob(*server);
  ChatWindow* w = voiceTab(bob);
  ASSERT_NE(w, nullptr);
  testkit::keyDown(VK_RETURN);
  ASSERT_TRUE(w->talkButton()->recording());
  WireMessage got;
  // A second into the speech bob already holds pieces of it.
  talkFor(1000, [&] { b->nextMessage(&got, 5); });
  size_t early = b->chunksSeen;
  EXPECT_GE(early, 2u);
  const int ms = int(speech.size() / 16) + 200;
  talkFor(ms - 1000, [&] { b->nextMessage(&got, 2); });
  testkit::keyUp(VK_RETURN);
  ASSERT_FALSE(w->talkButton()->recording());
  ASSERT_TRUE(b->nextMessage(&got));
  EXPECT_EQ(got.contentType, "audio/x-speex");
  EXPECT_GT(b->chunksSeen, early);
  const auto decoded = messaging::voice::decodeSpeexPayload(reinterpret_cast<const uint8_t*>(got.payload.data()),
                                                            got.payload.size());
  ASSERT_GT(decoded.size(), speech.size() / 2);
  const double r = testkit::followCorrelation(spoken(decoded.size() / 640), 16000, decoded, 16000);
  EXPECT_GT(r, 0.85) << "what bob got does not follow the speech";
}

TEST_F(VoiceConversationTest, TheAutomatedContactsCopyComesBackAndPlaysByItself) {
  // The plug-in's announcements: a live voice arrival is played.
  messaging::NotificationAgent agent(&messaging::PlayVoiceMessage);
  ChatWindow* w = voiceTab(bot);
  ASSERT_NE(w, nullptr);
  int rows = w->list()->rowCount();
  testkit::keyDown(' ');
  const int ms = int(speech.size() / 16) + 200;
  talkFor(ms, [] { settle(1); });
  testkit::keyUp(' ');
  ASSERT_TRUE(rowsReach(w, rows + 2));
  HMessage* echoed = last(w)->message();
  ASSERT_TRUE(waitFor([&] {
    MessageData d{};
    d.size = sizeof d;
    KS_GetMessageData(echoed, &d);
    return d.complete != 0;
  }));
  EXPECT_EQ(payload(echoed), payload(row(w, rows)->message()));
  // It plays on its own thread as the clock runs.
  for (int i = 0; i < 400 && platform::wavePlayedClips().empty(); ++i) {
    testkit::runClock(100);
    usleep(1000);
  }
  auto clips = platform::wavePlayedClips();
  ASSERT_EQ(clips.size(), 1u);
  EXPECT_EQ(clips[0].rate, 16000u);
  const double r = testkit::followCorrelation(spoken(clips[0].samples.size() / 640), 16000, clips[0].samples, 16000);
  EXPECT_GT(r, 0.85) << "what was heard does not follow the speech";
}

}  // namespace
