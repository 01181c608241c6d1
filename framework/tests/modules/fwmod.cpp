// A module that carries its own copy of the framework and makes one control
// in its own window class.
#include <memory>

#include "framework/control.h"

namespace {

class Answering : public fwk::Control {
 public:
  explicit Answering(HWND parent)
      : Control(nullptr, u"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent, nullptr) {}
  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    // Tells which module's object answered.
    if (msg == WM_USER) return reinterpret_cast<LRESULT>(fwk::Control::moduleClassName());
    return Control::windowProc(msg, wParam, lParam);
  }
};

std::unique_ptr<Answering> g_control;

}  // namespace

extern "C" __attribute__((visibility("default"))) HWND fwmod_create(HWND parent) {
  g_control = std::make_unique<Answering>(parent);
  return g_control->hwnd();
}

extern "C" __attribute__((visibility("default"))) void fwmod_destroy() { g_control.reset(); }
