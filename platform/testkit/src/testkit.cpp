#include "testkit/testkit.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/connmgr.h"
#include "platform/gdi.h"
#include "platform/registry.h"
#include "platform/screen.h"
#include "platform/text.h"
#include "platform/phoneshell.h"
#include "platform/sound.h"
#include "platform/wave.h"

namespace testkit {

Session::Session(const Options& options) {
  if (const char* h = std::getenv("OLVARO_HOME")) {
    hadHome_ = true;
    oldHome_ = h;
  }
  std::string tmpl = options.homeParent + "/olvaro-test-XXXXXX";
  if (mkdtemp(tmpl.data())) home_ = tmpl;
  setenv("OLVARO_HOME", home_.c_str(), 1);
  setenv("OLVARO_BACKEND", "headless", 1);
  platform::registryKeepInMemory(options.settingsInMemory);
  platform::powerRecordReset();
  platform::waveSetInputFile(std::string());
  platform::waveSetOutputFile(std::string());
  platform::waveKeepPlayedClips(false);
  platform::soundRecordReset();
  platform::shellSignalsReset();
  platform::setTestNetwork(nullptr);
  platform::clockSetManual(options.wallClockMs);
  platform::screenSelectBackend("headless");
  platform::screenInit(options.width, options.height, options.dpi);
  platform::windowSystemResetThread();
}

Session::~Session() {
  PlaySound(nullptr, nullptr, 0);  // no sound runs on into the next test
  platform::windowSystemResetThread();
  platform::registryKeepInMemory(false);
  platform::powerRecordReset();
  platform::setTestNetwork(nullptr);
  platform::clockSetReal();
  std::error_code ec;
  if (!home_.empty()) std::filesystem::remove_all(home_, ec);
  if (hadHome_) {
    setenv("OLVARO_HOME", oldHome_.c_str(), 1);
  } else {
    unsetenv("OLVARO_HOME");
  }
}

void PlatformTest::SetUp() { session_ = std::make_unique<Session>(options()); }

void PlatformTest::TearDown() {
  if (HasFailure()) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    saveScreenshot(name);
  }
  session_.reset();
}

int pump(int limit) {
  // Audio due by the clock is delivered before the messages are looked at.
  platform::waveProcessDue();
  int n = 0;
  MSG msg;
  while (n < limit && PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ++n;
    if (msg.message == WM_QUIT) {
      // Keep the quit for the code under test's own loop.
      PostQuitMessage(int(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  return n;
}

bool pumpUntil(const std::function<bool()>& done, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    pump();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void runClock(int64_t ms) {
  int64_t end = platform::clockMonotonicMs() + std::max<int64_t>(0, ms);
  pump();
  for (int guard = 0; guard < 1000000; ++guard) {
    int64_t now = platform::clockMonotonicMs();
    int64_t due = platform::nextTimerDue();
    if (due < 0 || due > end) {
      platform::clockAdvance(end - now);
      pump();
      return;
    }
    if (due > now) platform::clockAdvance(due - now);
    platform::wakeAllQueues();
    pump();
    if (platform::clockMonotonicMs() >= end && platform::nextTimerDue() > end) return;
    if (due <= now && platform::nextTimerDue() <= now) {
      // Nothing consumed the due item (a timer of a window that is gone):
      // step on rather than spin.
      platform::clockAdvance(1);
    }
  }
}

void keyDown(UINT vk) {
  platform::inputKey(vk, true);
  pump();
}

void keyUp(UINT vk) {
  platform::inputKey(vk, false);
  pump();
}

void key(UINT vk) {
  platform::inputKey(vk, true);
  platform::inputKey(vk, false);
  pump();
}

void type(const std::string& utf8) {
  for (char16_t c : platform::widen(utf8)) platform::inputChar(c);
  pump();
}

void stylusDown(int x, int y) {
  platform::inputStylusDown(x, y);
  pump();
}

void stylusMove(int x, int y) {
  platform::inputStylusMove(x, y);
  pump();
}

void stylusUp(int x, int y) {
  platform::inputStylusUp(x, y);
  pump();
}

void tap(int x, int y) {
  stylusDown(x, y);
  stylusUp(x, y);
}

void doubleTap(int x, int y) {
  tap(x, y);
  platform::clockAdvance(50);
  tap(x, y);
}

void tapAndHold(int x, int y) {
  stylusDown(x, y);
  runClock(platform::kTapAndHoldMs + 50);
  stylusUp(x, y);
}

void tap(HWND hwnd) {
  RECT r = screenRect(hwnd);
  tap((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

struct MessageBoxRecorder::State {
  mutable std::mutex m;
  int answer = platform::kMessageBoxDefaultAnswer;
  std::function<int(const SeenMessageBox&)> answerer;
  std::vector<SeenMessageBox> boxes;
};

MessageBoxRecorder::MessageBoxRecorder(int answer) : state_(std::make_shared<State>()) {
  state_->answer = answer;
  // The hook holds the state, so a box that is still asking when the
  // recorder goes finds it alive.
  std::shared_ptr<State> state = state_;
  previous_ = platform::setMessageBoxHook([state](const platform::MessageBoxShown& shown) {
    SeenMessageBox seen{shown.owner, platform::narrow(shown.caption), platform::narrow(shown.text), shown.type, 0};
    std::function<int(const SeenMessageBox&)> answerer;
    {
      std::lock_guard<std::mutex> g(state->m);
      answerer = state->answerer;
      seen.answer = state->answer;
    }
    if (answerer) seen.answer = answerer(seen);
    std::lock_guard<std::mutex> g(state->m);
    state->boxes.push_back(seen);
    return seen.answer;
  });
}

MessageBoxRecorder::~MessageBoxRecorder() { platform::setMessageBoxHook(std::move(previous_)); }

void MessageBoxRecorder::setAnswer(int answer) {
  std::lock_guard<std::mutex> g(state_->m);
  state_->answer = answer;
  state_->answerer = nullptr;
}

void MessageBoxRecorder::setAnswerer(std::function<int(const SeenMessageBox&)> answerer) {
  std::lock_guard<std::mutex> g(state_->m);
  state_->answerer = std::move(answerer);
}

std::vector<SeenMessageBox> MessageBoxRecorder::boxes() const {
  std::lock_guard<std::mutex> g(state_->m);
  return state_->boxes;
}

size_t MessageBoxRecorder::count() const {
  std::lock_guard<std::mutex> g(state_->m);
  return state_->boxes.size();
}

SeenMessageBox MessageBoxRecorder::last() const {
  std::lock_guard<std::mutex> g(state_->m);
  return state_->boxes.empty() ? SeenMessageBox{nullptr, {}, {}, 0, 0} : state_->boxes.back();
}

void MessageBoxRecorder::clear() {
  std::lock_guard<std::mutex> g(state_->m);
  state_->boxes.clear();
}

platform::PowerRecord powerRecord() { return platform::powerRecord(); }
void resetPowerRecord() { platform::powerRecordReset(); }

FakeNetwork::FakeNetwork(std::vector<std::string> hostAddresses, std::vector<std::string> interfaceAddresses) {
  platform::TestNetwork n{std::move(hostAddresses), std::move(interfaceAddresses)};
  platform::setTestNetwork(&n);
}

FakeNetwork::~FakeNetwork() { platform::setTestNetwork(nullptr); }

std::u16string wide(const std::string& utf8) { return platform::widen(utf8); }
std::string narrow(const std::u16string& text) { return platform::narrow(text); }

std::string windowText(HWND hwnd) {
  int n = GetWindowTextLength(hwnd);
  std::u16string buf(size_t(n) + 1, u'\0');
  int got = GetWindowText(hwnd, buf.data(), n + 1);
  buf.resize(size_t(std::max(0, got)));
  return platform::narrow(buf);
}

std::string className(HWND hwnd) {
  char16_t buf[256];
  int n = GetClassName(hwnd, buf, 256);
  return platform::narrow(std::u16string(buf, size_t(std::max(0, n))));
}

RECT screenRect(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r;
}

std::vector<HWND> findWindows(const std::string& cls, const std::string& text, HWND under) {
  int n = platform::enumWindows(nullptr, 0);
  std::vector<HWND> all(size_t(n) + 16);
  n = platform::enumWindows(all.data(), int(all.size()));
  all.resize(size_t(std::min<int>(n, int(all.size()))));
  std::vector<HWND> out;
  for (HWND h : all) {
    if (under && !IsChild(under, h)) continue;
    if (!cls.empty() && className(h) != cls) continue;
    if (!text.empty() && windowText(h) != text) continue;
    out.push_back(h);
  }
  return out;
}

HWND findWindow(const std::string& cls, const std::string& text, HWND under) {
  auto v = findWindows(cls, text, under);
  return v.empty() ? nullptr : v.front();
}

COLORREF pixel(int x, int y) { return platform::screenPixel(x, y); }

int countPixels(const RECT& area, COLORREF color) {
  int n = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      if (platform::screenPixel(x, y) == color) ++n;
  return n;
}

RECT inkBox(const RECT& area, COLORREF background) {
  RECT box{0, 0, 0, 0};
  bool any = false;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x) {
      COLORREF c = platform::screenPixel(x, y);
      if (c == background || c == CLR_INVALID) continue;
      if (!any) {
        box = RECT{x, y, x + 1, y + 1};
        any = true;
      } else {
        box.left = std::min<LONG>(box.left, x);
        box.top = std::min<LONG>(box.top, y);
        box.right = std::max<LONG>(box.right, x + 1);
        box.bottom = std::max<LONG>(box.bottom, y + 1);
      }
    }
  return box;
}

std::string screenshotDir() {
  if (const char* d = std::getenv("OLVARO_SCREENSHOT_DIR")) return d;
#ifdef OLVARO_SCREENSHOT_DIR
  return OLVARO_SCREENSHOT_DIR;
#else
  return "screenshots";
#endif
}

bool saveScreenshot(const std::string& name) {
  std::error_code ec;
  std::filesystem::create_directories(screenshotDir(), ec);
  return platform::screenSavePng(screenshotDir() + "/" + name + ".png");
}

}  // namespace testkit

// fontconfig keeps its configuration and font cache for the life of the
// process, and SDL's X11 video its desktop bus connection; under the leak
// checker they are not leaks of ours.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
