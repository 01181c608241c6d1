// Answers the message boxes a test brings up and remembers what they said.
#pragma once

#include <string>
#include <vector>

#include "platform/msgbox.h"
#include "testkit/testkit.h"

struct MessageBoxProbe {
  struct Shown {
    std::string caption;
    std::string text;
  };
  std::vector<Shown> shown;
  UINT answerKey;

  explicit MessageBoxProbe(UINT key = VK_TSOFT1) : answerKey(key) {
    platform::setModalIdleHook([this](HWND modal) {
      HWND box = platform::activeMessageBox();
      if (!box || box != modal) return;
      shown.push_back({testkit::windowText(box), testkit::narrow(platform::messageBoxText(box))});
      testkit::key(answerKey);
    });
  }
  ~MessageBoxProbe() { platform::setModalIdleHook({}); }
};
