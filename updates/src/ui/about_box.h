// The About window: the program's modules, each with its build date.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/box_layout.h"
#include "framework/control.h"
#include "framework/list_control.h"

namespace updates {

// "%04d-%02d-%02d %02d:%02d:%02d" in UTC, or "Unknown Version" for 0.
std::string buildDateText(uint32_t stamp);
// The running program first, then every ".so" and ".dll" in `folder`.
std::vector<std::string> aboutModules(const std::string& folder, const std::string& program);

class AboutBox : public fwk::Control {
 public:
  // `onClosed` runs once when the window goes (its soft key, or Back).
  AboutBox(HWND owner, const std::string& folder, const std::string& program, std::function<void()> onClosed);
  ~AboutBox() override;

  fwk::ListControl* list() const { return list_.get(); }
  HWND heading() const { return heading_; }

 protected:
  LRESULT onCommand(UINT id, UINT code, HWND control) override;
  LRESULT onSize(UINT kind, int width, int height) override;
  LRESULT onDestroy() override;

 private:
  std::unique_ptr<fwk::BoxLayout> layout_;
  std::unique_ptr<fwk::ListControl> list_;
  HWND heading_ = nullptr;
  HWND menuBar_ = nullptr;
  std::vector<HICON> icons_;
  std::function<void()> onClosed_;
};

}  // namespace updates
