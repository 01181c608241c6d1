// Answers the message boxes a test brings up with a key and remembers what
// they said.
#pragma once

#include <string>
#include <vector>

#include "platform/msgbox.h"
#include "testkit/modal.h"
#include "testkit/testkit.h"

struct MessageBoxProbe {
  struct Shown {
    std::string caption;
    std::string text;
  };
  std::vector<Shown> shown;

  explicit MessageBoxProbe(UINT key = VK_TSOFT1)
      : answers_(testkit::ModalAnswers::always(
            [this, key](HWND box) {
              shown.push_back({testkit::windowText(box), testkit::narrow(platform::messageBoxText(box))});
              testkit::press(key);
            },
            testkit::Modal::MessageBox)) {}

 private:
  testkit::ModalAnswers answers_;
};
