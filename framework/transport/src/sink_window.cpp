#include <dlfcn.h>

#include "olvaro/registrations.h"
#include "link.h"
#include "platform/module.h"
#include "platform/window.h"
#include "transport/socket_connection.h"

namespace olvaro::net {
namespace {

// An address in this module's static data: every module that carries the
// transport gets its own sink class.
char g_moduleMarker;

LRESULT CALLBACK sinkProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= kMsgConnected && msg <= kMsgConnectFailed) return SinkDispatch::handle(msg, reinterpret_cast<Link*>(lParam));
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

HWND g_sink = nullptr;

}  // namespace

std::u16string connectionSinkClassName() {
  Dl_info info{};
  const void* base = &g_moduleMarker;
  if (dladdr(&g_moduleMarker, &info) && info.dli_fbase) base = info.dli_fbase;
  return olvaro::handleName(u"KS_CON_SINK_WINDOW_%p", base);
}

HWND connectionSinkWindow() {
  if (g_sink && IsWindow(g_sink)) return g_sink;
  HINSTANCE module = platform::moduleOfAddress(&g_moduleMarker);
  std::u16string name = connectionSinkClassName();
  WNDCLASS wc{};
  if (!GetClassInfo(module, name.c_str(), &wc)) {
    wc = WNDCLASS{};
    wc.lpfnWndProc = sinkProc;
    wc.hInstance = module;
    wc.lpszClassName = name.c_str();
    RegisterClass(&wc);
  }
  g_sink = CreateWindow(name.c_str(), u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  return g_sink;
}

}  // namespace olvaro::net
