// Photo messages: the camera's every result, the 64 kB rule, and viewing a
// received photo through the desktop's opener.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <unistd.h>

#include "chat_fixture.h"
#include "conversation_input.h"
#include "photo.h"
#include "platform/camera.h"
#include "platform/files.h"
#include "platform/menu.h"
#include "platform/module.h"
#include "platform/sound.h"
#include "testkit/modal.h"

namespace msgtest {
namespace {

namespace fs = std::filesystem;

const fs::path kPictures =
    fs::path(OLVARO_TEST_PICTURES);

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the stand-in camera does when a test cannot make the real one
// produce a result (an exact file size, a failure code).
struct StandIn {
  HRESULT result = S_OK;
  size_t bytes = 0;
  bool writeFile = true;
};
StandIn g_standIn;

HRESULT standInCamera(PSHCAMERACAPTURE r) {
  if (g_standIn.result != S_OK) return g_standIn.result;
  std::u16string path = std::u16string(r->pszInitialDir) + r->pszDefaultFileName;
  if (g_standIn.writeFile) {
    std::string bytes(g_standIn.bytes, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7);
    std::ofstream(platform::nativePath(path), std::ios::binary) << bytes;
  }
  std::copy(path.begin(), path.end(), r->szFile);
  r->szFile[path.size()] = 0;
  return S_OK;
}

class PhotoTest : public ChatTest {
 protected:
  void SetUp() override {
    ChatTest::SetUp();
    // The user's private folder, and the shared one photos must stay out of.
    temp = fs::path(platform::privateTempFolder()).parent_path();
    ASSERT_EQ(temp, fs::path(session().home()) / "temp");
    shared = fs::path(session().home()) / "shared";
    fs::create_directories(shared);
    if (const char* old = std::getenv("TMPDIR")) oldTmp_ = old;
    setenv("TMPDIR", shared.c_str(), 1);
    std::string script = session().home() + "/opener.sh";
    std::ofstream(script) << "#!/bin/sh\ncp \"$1\" \"" << session().home() << "/viewed.jpg\"\necho \"$1\" > \""
                          << session().home() << "/opened.txt\"\n";
    chmod(script.c_str(), 0700);
    setenv("OLVARO_OPEN_COMMAND", script.c_str(), 1);
    outbox = std::make_unique<Outbox>();
    chat = openChat(bob);
    chat->tabs()->setSelectedIndex(messaging::ChatWindow::kPhotoTab);
    SetFocus(chat->captureButton()->hwnd());
  }
  void TearDown() override {
    useRealCamera();
    outbox.reset();
    unsetenv("OLVARO_NO_CAMERA");
    unsetenv("OLVARO_OPEN_COMMAND");
    if (oldTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    ChatTest::TearDown();
  }
  void useStandIn(StandIn s) {
    g_standIn = s;
    platform::registerShellExport("SHCameraCapture", reinterpret_cast<FARPROC>(&standInCamera));
  }
  static void useRealCamera() {
    platform::registerShellExport("SHCameraCapture", reinterpret_cast<FARPROC>(&SHCameraCapture));
  }
  void pressCapture() { testkit::key(VK_RETURN); }
  // Waits for the opener (another process) to have run: its line is whole.
  bool opened() {
    fs::path done = fs::path(session().home()) / "opened.txt";
    auto whole = [&] {
      std::string line = readAll(done);
      return !line.empty() && line.back() == '\n';
    };
    for (int i = 0; i < 500 && !whole(); ++i) usleep(10000);
    return whole();
  }
  fs::path temp;
  fs::path shared;
  std::string oldTmp_;
  messaging::ChatWindow* chat = nullptr;
  std::unique_ptr<Outbox> outbox;  // made after the fresh hub
  testkit::MessageBoxRecorder boxes{IDOK};
};

TEST_F(PhotoTest, UpTo65535BytesAreSentAndMoreAreRefused) {
  useStandIn({S_OK, 65535});
  pressCapture();
  ASSERT_EQ(outbox->sent.size(), 1u);
  EXPECT_EQ(boxes.count(), 0u);
  MessageData d = olvaro::messageData(outbox->sent[0]);
  EXPECT_STREQ(d.contentType, "image/jpeg");
  EXPECT_EQ(d.complete, 1);
  EXPECT_EQ(d.target, static_cast<void*>(bob));
  EXPECT_EQ(payloadOf(outbox->sent[0]), readAll(temp / "capimage.jpg"));
  EXPECT_EQ(messageRow(chat, chat->list()->rowCount() - 1)->message(), outbox->sent[0]);

  useStandIn({S_OK, 65536});
  pressCapture();
  EXPECT_EQ(outbox->sent.size(), 1u);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.last().caption, "Error");
  EXPECT_EQ(boxes.last().text, "Image size exceeds 64kB. Please reduce the resolution.");
  EXPECT_EQ(boxes.last().type & MB_ICONMASK, UINT(MB_ICONERROR));
  EXPECT_FALSE(chat->captureButton()->pressed());
}

uint32_t countPiece(void* user, void* argument) {
  auto* sizes = static_cast<std::vector<int>*>(user);
  MessageData d{};
  d.size = sizeof d;
  KS_GetMessageData(static_cast<HMessage*>(argument), &d);
  sizes->push_back(d.payloadLength - (sizes->empty() ? 0 : std::accumulate(sizes->begin(), sizes->end(), 0)));
  return d.complete;
}

TEST_F(PhotoTest, ThePhotoGoesInPiecesOf4096Bytes) {
  HMessage* m = hubtest::MessageRecord().create();
  std::vector<int> sizes;
  {
    olvaro::MessageSubscription s = olvaro::subscribeMessage(m, &countPiece, &sizes);
    std::vector<uint8_t> bytes(65535, 0x5A);
    messaging::appendInPieces(m, bytes.data(), bytes.size());
  }
  ASSERT_EQ(sizes.size(), 16u);
  EXPECT_EQ(sizes[0], 4096);
  EXPECT_EQ(sizes[15], 4095);
  EXPECT_EQ(olvaro::messageData(m).complete, 1);
  KS_ReleaseMessage(m);
}

TEST_F(PhotoTest, EveryCameraResultHasItsBox) {
  struct Case {
    StandIn standIn;
    const char* caption;
    const char* text;
  };
  const Case cases[] = {
      {{E_OUTOFMEMORY}, "Capture Failed", "There is not enough memory to save the image."},
      {{E_INVALIDARG}, "Capture Failed", "An invalid argument was specified."},
      {{E_FAIL}, "Capture Failed", "An unknown error occured."},
      {{S_OK, 10, false}, "Capture Failed", "The saved file could not be opened."},
  };
  for (const Case& c : cases) {
    boxes.clear();
    useStandIn(c.standIn);
    pressCapture();
    ASSERT_EQ(boxes.count(), 1u) << c.text;
    EXPECT_EQ(boxes.last().caption, c.caption);
    EXPECT_EQ(boxes.last().text, c.text);
    EXPECT_EQ(boxes.last().type & MB_ICONMASK, UINT(MB_ICONINFORMATION));
  }
  EXPECT_TRUE(outbox->sent.empty());

  // The real camera: cancelled shows nothing; without a camera, "Coming Soon".
  useRealCamera();
  boxes.clear();
  pressCapture();
  EXPECT_EQ(boxes.count(), 0u);
  // Enter on the tabs reaches the button, as a typed key does.
  useStandIn({E_INVALIDARG});
  SetFocus(chat->tabs()->hwnd());
  testkit::key(VK_RETURN);
  EXPECT_EQ(GetFocus(), chat->captureButton()->hwnd());
  EXPECT_EQ(boxes.count(), 1u);
  useRealCamera();
  boxes.clear();
  setenv("OLVARO_NO_CAMERA", "1", 1);
  pressCapture();
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.last().caption, "Coming Soon");
  EXPECT_EQ(boxes.last().text, "Photo messaging is not currently supported on your device.");
  EXPECT_TRUE(outbox->sent.empty());
}

TEST_F(PhotoTest, ACapturedPictureIsSentAndAReceivedOneIsViewed) {
  fs::path pictures = fs::path(session().home()) / "pictures";
  fs::create_directories(pictures);
  fs::copy_file(kPictures / "green.png", pictures / "green.png");
  {
    auto capture = testkit::ModalAnswers::always(testkit::pressing({VK_TSOFT1}));
    // A tap on the button works as Enter does.
    RECT r = testkit::screenRect(chat->captureButton()->hwnd());
    testkit::tap((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
  ASSERT_EQ(outbox->sent.size(), 1u);
  std::string jpeg = readAll(temp / "capimage.jpg");
  ASSERT_GT(jpeg.size(), 100u);
  EXPECT_EQ(payloadOf(outbox->sent[0]), jpeg);

  // bob's photo comes back; View hands the opener a file of its bytes.
  HMessage* photo = incoming(bob, jpeg, 1, 1767225600, "image/jpeg");
  deliver(photo);
  auto* row = messageRow(chat, chat->list()->rowCount() - 1);
  ASSERT_EQ(row->menuItems().front().second, u"View");
  row->runCommand(3);
  ASSERT_TRUE(opened());
  EXPECT_EQ(readAll(fs::path(session().home()) / "opened.txt"), (temp / "image.jpg").string() + "\n");
  EXPECT_EQ(readAll(fs::path(session().home()) / "viewed.jpg"), jpeg);

  // While the viewer holds image.jpg the next one is imag1.jpg.
  fs::remove(fs::path(session().home()) / "opened.txt");
  std::u16string held = platform::widen((temp / "image.jpg").string());
  HANDLE viewer = CreateFile(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
  row->activate();
  ASSERT_TRUE(opened());
  EXPECT_EQ(readAll(fs::path(session().home()) / "opened.txt"), (temp / "imag1.jpg").string() + "\n");
  EXPECT_EQ(readAll(temp / "imag1.jpg"), jpeg);

  // Both names held: a beep, and nothing is opened.
  fs::remove(fs::path(session().home()) / "opened.txt");
  std::u16string held1 = platform::widen((temp / "imag1.jpg").string());
  HANDLE viewer1 = CreateFile(held1.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(viewer1, INVALID_HANDLE_VALUE);
  platform::soundRecordReset();
  row->activate();
  usleep(200000);
  EXPECT_FALSE(fs::exists(fs::path(session().home()) / "opened.txt"));
  auto sounds = platform::soundsPlayed();
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].kind, platform::SoundRecord::Beep);
  CloseHandle(viewer1);
  CloseHandle(viewer);
  KS_ReleaseMessage(photo);
}

TEST_F(PhotoTest, PhotosStayPrivateAreNeverWrittenThroughALinkAndGoWithTheWindow) {
  // Another user's links where the photo would go, aimed at the user's file.
  fs::path victim = fs::path(session().home()) / "notes.txt";
  std::ofstream(victim) << "mine";
  fs::create_symlink(victim, shared / "image.jpg");
  fs::create_symlink(victim, temp / "image.jpg");
  std::string jpeg = "\xFF\xD8\xFF\xE0 a photo";
  HMessage* photo = incoming(bob, jpeg, 1, 1767225600, "image/jpeg");
  deliver(photo);
  messageRow(chat, chat->list()->rowCount() - 1)->runCommand(3);
  ASSERT_TRUE(opened());
  EXPECT_EQ(readAll(victim), "mine");
  fs::path file = temp / "image.jpg";
  EXPECT_EQ(readAll(fs::path(session().home()) / "opened.txt"), file.string() + "\n");
  EXPECT_FALSE(fs::is_symlink(file));
  EXPECT_EQ(readAll(file), jpeg);
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(temp).permissions(), fs::perms::owner_all);
  // Closing the window takes its photo away.
  SendMessage(chat->hwnd(), WM_COMMAND, 8, 0);
  testkit::pump();
  ASSERT_EQ(registry->find(bob, false), nullptr);
  EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
  KS_ReleaseMessage(photo);
}

TEST_F(PhotoTest, APayloadThatIsNoJpegIsNotOpened) {
  HMessage* program = incoming(bob, "#!/bin/sh\nrm -rf ~\n", 1, 1767225600, "image/jpeg");
  deliver(program);
  platform::soundRecordReset();
  messageRow(chat, chat->list()->rowCount() - 1)->activate();
  usleep(200000);
  EXPECT_FALSE(fs::exists(fs::path(session().home()) / "opened.txt"));
  EXPECT_FALSE(fs::exists(temp / "image.jpg"));
  EXPECT_EQ(platform::soundsPlayed().size(), 1u);
  KS_ReleaseMessage(program);
}

}  // namespace
}  // namespace msgtest
