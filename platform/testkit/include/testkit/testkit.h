// The test kit: runs the platform on the headless screen with a fresh
// configuration folder and a clock that only moves by hand, and drives it as
// a user would (keys, text, taps) while reading back what is on the screen.
//
//   class MyTest : public testkit::PlatformTest {};
//   TEST_F(MyTest, Works) {
//     HWND w = CreateWindowEx(...);
//     testkit::pump();
//     testkit::tap(10, 10);
//     testkit::runClock(1000);          // fires timers in clock order
//     EXPECT_EQ(testkit::pixel(5, 5), RGB(255, 0, 0));
//   }
//
// A failing test leaves a screenshot named after it in the build's
// "screenshots" folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/msgbox.h"
#include "platform/power.h"
#include "platform/types.h"
#include "platform/window.h"

namespace testkit {

struct Options {
  int width = 0;  // 0: OLVARO_SCREEN or 240x320
  int height = 0;
  int dpi = 0;    // 0: OLVARO_DPI or 131
  int64_t wallClockMs = 1767225600000;  // 2026-01-01 00:00:00 UTC
  // Where the temporary OLVARO_HOME is made.
  std::string homeParent = "/tmp";
  // Every setting is written through to the hive file with an fsync; a caller
  // that changes settings thousands of times a second (a fuzzer) keeps the
  // hives in memory instead (platform::registryKeepInMemory).
  bool settingsInMemory = false;
};

// Starts the platform: a new temporary OLVARO_HOME, the headless backend, a
// white screen, the manual clock. The destructor destroys the calling
// thread's windows and timers and removes the folder.
class Session {
 public:
  explicit Session(const Options& options = Options());
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  const std::string& home() const { return home_; }

 private:
  std::string home_;
  std::string oldHome_;
  bool hadHome_ = false;
};

// A fixture holding a Session; saves a screenshot when the test failed.
class PlatformTest : public ::testing::Test {
 protected:
  virtual Options options() const { return Options(); }
  void SetUp() override;
  void TearDown() override;
  Session& session() { return *session_; }

 private:
  std::unique_ptr<Session> session_;
};

// Handles every message of the calling thread until the queue is idle (sent,
// posted, input, paint, due timers). Returns how many were handled; stops at
// `limit` so a window that never validates cannot hang a test.
int pump(int limit = 100000);
// Pumps until `done` holds or `ms` of real time pass, for work that takes
// real time (sockets, worker threads) while the platform clock stands.
bool pumpUntil(const std::function<bool()>& done, int ms = 5000);
// Runs the manual clock forward by `ms`, stopping at every due timer (and
// stylus hold) on the way, pumping at each, so timers fire in clock order.
void runClock(int64_t ms);

// Keys: down and up, then pump. Text arrives as WM_CHAR, one per character.
void keyDown(UINT vk);
void keyUp(UINT vk);
void key(UINT vk);
void type(const std::string& utf8);
// The stylus, in screen coordinates; each pumps.
void tap(int x, int y);
void doubleTap(int x, int y);
void tapAndHold(int x, int y);
void stylusDown(int x, int y);
void stylusMove(int x, int y);
void stylusUp(int x, int y);
// Taps the middle of a window.
void tap(HWND hwnd);

// Windows by class name and (optional) text, UTF-8; `under` limits the
// search to one window's descendants. Top-level windows first, in Z order.
HWND findWindow(const std::string& className, const std::string& text = std::string(), HWND under = nullptr);
std::vector<HWND> findWindows(const std::string& className, const std::string& text = std::string(),
                              HWND under = nullptr);
std::string windowText(HWND hwnd);
std::string className(HWND hwnd);
RECT screenRect(HWND hwnd);

// The screen.
COLORREF pixel(int x, int y);
// How many pixels of a screen rectangle have exactly this colour.
int countPixels(const RECT& area, COLORREF color);
// Pixels of an area that differ from `background`, as a bounding box
// (empty when none): where something was drawn.
RECT inkBox(const RECT& area, COLORREF background);
bool saveScreenshot(const std::string& name);
std::string screenshotDir();

// Every MessageBox shown while a recorder lives (on any thread), answered
// at once with the configured answer: IDOK, IDCANCEL, IDYES, IDNO, or
// platform::kMessageBoxDefaultAnswer (the box's default button). An answer
// the box does not offer leaves it unanswered (MessageBox gives 0 on the
// headless screen). Recorders nest; the inner one sees the boxes.
struct SeenMessageBox {
  HWND owner;
  std::string caption;
  std::string text;
  UINT type;     // MB_* flags as passed
  int answer;    // what the recorder answered (kMessageBoxDefaultAnswer as such)
};
class MessageBoxRecorder {
 public:
  explicit MessageBoxRecorder(int answer = platform::kMessageBoxDefaultAnswer);
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  void setAnswer(int answer);
  // Chooses each answer from the box (replaces setAnswer's).
  void setAnswerer(std::function<int(const SeenMessageBox&)> answerer);
  std::vector<SeenMessageBox> boxes() const;
  size_t count() const;
  // The last box seen; an empty record (type 0, answer 0) when none.
  SeenMessageBox last() const;
  void clear();

 private:
  struct State;
  std::shared_ptr<State> state_;
  platform::MessageBoxHook previous_;
};

// What the power calls recorded (platform/power.h); each Session starts with
// an empty record.
platform::PowerRecord powerRecord();
void resetPowerRecord();

// While alive, the device's own host name resolves to `hostAddresses` and
// its interfaces have `interfaceAddresses` (dotted quads), so both outcomes
// of a network check can be tested:
//   testkit::FakeNetwork offline({"127.0.0.1"}, {"127.0.0.1"});
//   testkit::FakeNetwork dialUp({"127.0.1.1"}, {"127.0.0.1", "10.1.2.3"});
class FakeNetwork {
 public:
  FakeNetwork(std::vector<std::string> hostAddresses, std::vector<std::string> interfaceAddresses);
  ~FakeNetwork();
  FakeNetwork(const FakeNetwork&) = delete;
  FakeNetwork& operator=(const FakeNetwork&) = delete;
};

// UTF-8 to the platform's wide text.
std::u16string wide(const std::string& utf8);
std::string narrow(const std::u16string& text);

}  // namespace testkit
