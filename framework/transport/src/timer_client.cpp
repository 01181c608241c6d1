#include "transport/timer_client.h"

#include "platform/module.h"
#include "platform/window.h"

namespace olvaro::net {
namespace {

char g_moduleMarker;
HWND g_timerSink = nullptr;

LRESULT CALLBACK timerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && wParam) {
    reinterpret_cast<TimerClient*>(wParam)->onTimer();
    return 0;
  }
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

}  // namespace

HWND timerSinkWindow() {
  if (g_timerSink && IsWindow(g_timerSink)) return g_timerSink;
  HINSTANCE module = platform::moduleOfAddress(&g_moduleMarker);
  const char16_t* name = u"KS_TIMER_SINK_WINDOW";
  WNDCLASS wc{};
  if (!GetClassInfo(module, name, &wc)) {
    wc = WNDCLASS{};
    wc.lpfnWndProc = timerProc;
    wc.hInstance = module;
    wc.lpszClassName = name;
    RegisterClass(&wc);
  }
  g_timerSink = CreateWindow(name, u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  return g_timerSink;
}

TimerClient::~TimerClient() { stopTimer(); }

void TimerClient::startTimer(UINT periodMs) {
  SetTimer(timerSinkWindow(), reinterpret_cast<UINT_PTR>(this), periodMs, nullptr);
}

void TimerClient::stopTimer() {
  if (g_timerSink && IsWindow(g_timerSink)) KillTimer(g_timerSink, reinterpret_cast<UINT_PTR>(this));
}

}  // namespace olvaro::net
