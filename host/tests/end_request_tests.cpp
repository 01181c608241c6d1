// An end asked for from outside (a signal, the desktop window closed): the
// run ends as a confirmed Exit does, without the question, also when a
// message box or a menu has its own loop running at that moment.
#include <thread>

#include "host_window_fixture.h"
#include "message_box_probe.h"
#include "platform/end_request.h"
#include "platform/menu.h"
#include "testkit/modal.h"

namespace {

class EndRequestTest : public HostWindowTest {
 protected:
  // As the signal watcher does: from a thread of its own.
  static void requestFromAnotherThread() {
    std::thread([] { platform::requestEnd(); }).join();
  }
  bool quitQueued() {
    MSG msg;
    return PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
  }
  // The rest of the run once the loop ends: the window must be gone before
  // the plug-ins stop, as after Exit.
  void finishRun(PluginLog& log, HWND hwnd) {
    ASSERT_TRUE(quitQueued());
    EXPECT_EQ(host_->loop(), 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(quitQueued());
    host_->stop();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"start aa_first", "stop aa_first"}));
  }
};

}  // namespace

TEST_F(EndRequestTest, EndsWhileSignedInWithoutAsking) {
  PluginLog log;
  start({"aa_first.so"});
  setSignedIn(true);
  HWND hwnd = main().hwnd();
  MessageBoxProbe probe;
  requestFromAnotherThread();
  testkit::pump();
  EXPECT_TRUE(probe.shown.empty());
  EXPECT_FALSE(IsWindow(hwnd));
  finishRun(log, hwnd);
}

TEST_F(EndRequestTest, EndsTheExitQuestionUnansweredAndThenTheRun) {
  PluginLog log;
  start({"aa_first.so"});
  setSignedIn(true);
  HWND hwnd = main().hwnd();
  testkit::ModalAnswers end({[](HWND) { requestFromAnotherThread(); }}, testkit::Modal::MessageBox);
  command(host::kCommandExit);
  EXPECT_EQ(end.seen(), 1);
  EXPECT_EQ(platform::activeMessageBox(), nullptr);
  finishRun(log, hwnd);
}

TEST_F(EndRequestTest, EndsAnOpenMenuAndThenTheRun) {
  PluginLog log;
  start({"aa_first.so"});
  HWND hwnd = main().hwnd();
  testkit::ModalAnswers end({[](HWND) { requestFromAnotherThread(); }}, testkit::Modal::Menu);
  testkit::key(VK_TSOFT2);  // "Menu"
  EXPECT_EQ(end.seen(), 1);
  EXPECT_EQ(platform::activeMenuWindow(), nullptr);
  finishRun(log, hwnd);
}
