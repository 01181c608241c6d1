// The camera dialog: pictures of the pictures folder chosen by keys and
// saved as a JPEG of the size asked for; cancelling, bad records and a
// device without a camera.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <vector>

#include "platform/camera.h"
#include "platform/files.h"
#include "platform/menu.h"
#include "platform/module.h"
#include "platform/screen.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "testkit/modal.h"
#include "testkit/testkit.h"

namespace {

namespace fs = std::filesystem;

const fs::path kPictures = fs::path(OLVARO_TEST_PICTURES);

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Width and height from a JPEG's start-of-frame, 0 when there is none.
std::pair<int, int> jpegSize(const std::string& b) {
  for (size_t i = 2; i + 9 < b.size();) {
    if (uint8_t(b[i]) != 0xFF) return {0, 0};
    uint8_t marker = uint8_t(b[i + 1]);
    size_t length = (uint8_t(b[i + 2]) << 8) | uint8_t(b[i + 3]);
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2)
      return {(uint8_t(b[i + 7]) << 8) | uint8_t(b[i + 8]), (uint8_t(b[i + 5]) << 8) | uint8_t(b[i + 6])};
    i += 2 + length;
  }
  return {0, 0};
}

class Camera : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    testkit::PlatformTest::SetUp();
    pictures = fs::path(session().home()) / "pictures";
    fs::create_directories(pictures);
    out = fs::path(session().home()) / "out";
    fs::create_directories(out);
    folder = platform::widen(out.string());
  }
  void TearDown() override {
    answers.reset();
    unsetenv("OLVARO_NO_CAMERA");
    testkit::PlatformTest::TearDown();
  }
  void addPictures() {
    for (const char* name : {"red-blue.png", "green.png"}) fs::copy_file(kPictures / name, pictures / name);
    std::ofstream(pictures / "notes.txt") << "not a picture";
  }
  SHCAMERACAPTURE request() {
    SHCAMERACAPTURE r{};
    r.cbSize = sizeof r;
    r.pszInitialDir = folder.c_str();
    r.pszDefaultFileName = u"capimage.jpg";
    r.StillQuality = CAMERACAPTURE_STILLQUALITY_NORMAL;
    r.nResolutionWidth = 320;
    r.nResolutionHeight = 240;
    r.Mode = CAMERACAPTURE_MODE_STILL;
    return r;
  }
  // Each time the dialog waits, the next step runs.
  void script(std::vector<testkit::ModalStep> steps) { answers.emplace(std::move(steps)); }
  fs::path pictures, out;
  std::u16string folder;
  std::optional<testkit::ModalAnswers> answers;
};

TEST_F(Camera, RightChoosesTheNextPictureAndCaptureSavesItScaled) {
  addPictures();
  std::vector<std::string> shown;
  COLORREF middle = 0;
  script({[&](HWND) {
            shown.push_back(platform::narrow(platform::cameraShownPicture()));
            testkit::press(VK_RIGHT);
          },
          [&](HWND) {
            shown.push_back(platform::narrow(platform::cameraShownPicture()));
            middle = testkit::pixel(120, 160);
            testkit::press(VK_RIGHT);
          },
          [&](HWND) {
            shown.push_back(platform::narrow(platform::cameraShownPicture()));
            testkit::press(VK_TSOFT1);
          }});
  SHCAMERACAPTURE r = request();
  EXPECT_EQ(SHCameraCapture(&r), S_OK);
  // Sorted by name, the text file left out, wrapping round.
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(fs::path(shown[0]).filename(), "green.png");
  EXPECT_EQ(fs::path(shown[1]).filename(), "red-blue.png");
  EXPECT_EQ(fs::path(shown[2]).filename(), "green.png");
  EXPECT_EQ(middle, RGB(0, 0, 255));  // the right half of red-blue fills the middle of the screen
  EXPECT_EQ(platform::narrow(r.szFile), (out / "capimage.jpg").string());
  std::string jpeg = readAll(out / "capimage.jpg");
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(jpegSize(jpeg), std::make_pair(320, 240));
  EXPECT_EQ(platform::cameraShownPicture(), u"");

  // Higher quality makes a larger file of the same picture.
  script(testkit::keyPerWait({VK_RETURN}));
  r = request();
  r.StillQuality = CAMERACAPTURE_STILLQUALITY_LOW;
  r.pszDefaultFileName = u"low.jpg";
  ASSERT_EQ(SHCameraCapture(&r), S_OK);
  script(testkit::keyPerWait({VK_RETURN}));
  r = request();
  r.StillQuality = CAMERACAPTURE_STILLQUALITY_HIGH;
  r.pszDefaultFileName = u"high.jpg";
  ASSERT_EQ(SHCameraCapture(&r), S_OK);
  EXPECT_LT(fs::file_size(out / "low.jpg"), fs::file_size(out / "high.jpg"));
}

TEST_F(Camera, CancelBackAndAnIdleDialogSaveNothing) {
  addPictures();
  SHCAMERACAPTURE r = request();
  script(testkit::keyPerWait({VK_TSOFT2}));
  EXPECT_EQ(SHCameraCapture(&r), S_FALSE);
  script(testkit::keyPerWait({VK_TBACK}));
  EXPECT_EQ(SHCameraCapture(&r), S_FALSE);
  answers.reset();
  EXPECT_EQ(SHCameraCapture(&r), S_FALSE);
  EXPECT_FALSE(fs::exists(out / "capimage.jpg"));
}

TEST_F(Camera, BadRecordsAndUnreadablePictures) {
  SHCAMERACAPTURE r = request();
  r.cbSize = 8;
  EXPECT_EQ(SHCameraCapture(&r), E_INVALIDARG);
  EXPECT_EQ(SHCameraCapture(nullptr), E_INVALIDARG);
  r = request();
  r.Mode = CAMERACAPTURE_MODE_VIDEOONLY;
  EXPECT_EQ(SHCameraCapture(&r), E_INVALIDARG);
  r = request();
  r.pszDefaultFileName = u"../escape.jpg";
  EXPECT_EQ(SHCameraCapture(&r), E_INVALIDARG);
  std::u16string missing = folder + u"/missing";
  r = request();
  r.pszInitialDir = missing.c_str();
  EXPECT_EQ(SHCameraCapture(&r), E_INVALIDARG);

  // A damaged picture is shown black and cannot be captured; no pictures
  // at all cannot either.
  r = request();
  script(testkit::keyPerWait({VK_TSOFT1}));
  EXPECT_EQ(SHCameraCapture(&r), S_FALSE);
  std::ofstream(pictures / "broken.jpg") << "\xFF\xD8\xFF\xE0 not really";
  script(testkit::keyPerWait({VK_TSOFT1}));
  EXPECT_EQ(SHCameraCapture(&r), E_FAIL);
  EXPECT_FALSE(fs::exists(out / "capimage.jpg"));
}

TEST_F(Camera, ADeviceWithoutACameraHasNoCameraFunction) {
  HMODULE shell = LoadLibrary(u"aygshell.dll");
  ASSERT_NE(shell, nullptr);
  EXPECT_NE(GetProcAddress(shell, "SHCameraCapture"), nullptr);
  setenv("OLVARO_NO_CAMERA", "1", 1);
  EXPECT_EQ(GetProcAddress(shell, "SHCameraCapture"), nullptr);
  EXPECT_NE(GetProcAddress(shell, "SHCreateMenuBar"), nullptr);
  setenv("OLVARO_NO_CAMERA", "0", 1);
  EXPECT_NE(GetProcAddress(shell, "SHCameraCapture"), nullptr);
  FreeLibrary(shell);
}

}  // namespace
