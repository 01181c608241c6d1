#include "platform/end_request.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

#include "platform/window.h"

namespace platform {
namespace {

// Never destroyed: the watcher thread may still reach it while the process
// runs its static destructors.
struct EndState {
  std::mutex m;
  HWND target = nullptr;
  UINT msg = 0;
  bool pending = false;    // asked for with no target to take it
  bool delivered = false;  // the current target has had its message
};

EndState& state() {
  static EndState* s = new EndState;
  return *s;
}

int g_wakeWrite = -1;
std::atomic<int> g_signals{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");

// Only async-signal-safe work here: the watcher thread does the rest.
void onEndSignal(int sig) {
  if (g_signals.fetch_add(1) > 0) _exit(128 + sig);
  int saved = errno;
  char byte = static_cast<char>(sig);
  ssize_t n = write(g_wakeWrite, &byte, 1);
  (void)n;
  errno = saved;
}

void watch(int fd) {
  for (;;) {
    char byte;
    ssize_t n = read(fd, &byte, 1);
    if (n == 1) {
      requestEnd();
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

}  // namespace

void installEndSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    // The handler must never block on a full pipe; one byte is enough anyway.
    fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    g_wakeWrite = fds[1];
    std::thread(watch, fds[0]).detach();
    struct sigaction sa {};
    sa.sa_handler = onEndSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
  });
}

void setEndTarget(HWND target, UINT msg) {
  EndState& s = state();
  std::lock_guard<std::mutex> g(s.m);
  s.target = target;
  s.msg = msg;
  s.delivered = false;
  if (target && s.pending) {
    s.pending = false;
    s.delivered = PostMessage(target, msg, 0, 0) != FALSE;
  }
}

bool requestEnd() {
  EndState& s = state();
  std::lock_guard<std::mutex> g(s.m);
  if (!s.target) {
    s.pending = true;
    return false;
  }
  if (!s.delivered) s.delivered = PostMessage(s.target, s.msg, 0, 0) != FALSE;
  return true;
}

}  // namespace platform
