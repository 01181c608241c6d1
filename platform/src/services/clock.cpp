#include "platform/clock.h"

#include <atomic>
#include <chrono>

namespace platform {
namespace {

std::atomic<bool> g_manual{false};
std::atomic<int64_t> g_manualWall{0};
std::atomic<int64_t> g_manualMono{0};

int64_t realUnixMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t realMonoMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int64_t clockNowUnixMs() { return g_manual ? g_manualWall.load() : realUnixMs(); }

int64_t clockMonotonicMs() { return g_manual ? g_manualMono.load() : realMonoMs(); }

void clockSetManual(int64_t unixMs) {
  g_manualWall = unixMs ? unixMs : realUnixMs();
  // Start the monotonic scale well above zero so tick arithmetic never
  // sees a "time before boot".
  g_manualMono = 1000000;
  g_manual = true;
}

void clockSetReal() { g_manual = false; }

bool clockIsManual() { return g_manual; }

void clockAdvance(int64_t ms) {
  if (!g_manual || ms <= 0) return;
  g_manualWall += ms;
  g_manualMono += ms;
}

void clockSetWallTime(int64_t unixMs) { g_manualWall = unixMs; }

}  // namespace platform
