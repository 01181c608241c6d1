// Answers for the modal loops a test sets off (a tracked menu, a message
// box, a dialog with a loop of its own), given as a user gives them: keys
// and taps at the moments the loop waits for input.
//
//   testkit::ModalAnswers pick({testkit::pressing({VK_DOWN, VK_RETURN})}, testkit::Modal::Menu);
//   testkit::key(VK_TSOFT2);  // opens the menu; the second item is chosen
//   EXPECT_EQ(pick.seen(), 1);
//
// A loop left waiting with no answer is dismissed on the headless screen,
// so a test that forgets one fails instead of hanging.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/types.h"

namespace testkit {

// Which waits a set of answers is for.
enum class Modal {
  Any,         // every modal wait, a gesture's own included
  Menu,        // while a tracked menu is shown
  MessageBox,  // the waits of a message box's loop
};

// One answer, given the waiting loop's window.
using ModalStep = std::function<void(HWND modal)>;

// Presses a key, down and up, for a waiting loop to handle (testkit::key
// pumps as well, which is the loop's job here).
void press(UINT vk);
// A step pressing the keys in turn.
ModalStep pressing(std::initializer_list<UINT> keys);
// Steps pressing one key each, one wait after another.
std::vector<ModalStep> keyPerWait(std::initializer_list<UINT> keys);
// Taps the stylus where `where` says at the time of the wait.
ModalStep tapping(std::function<POINT()> where);

// While alive, answers the waits of `kind`: at each one the next step runs;
// once the steps are spent later waits go unanswered. The newest one made
// answers; when it goes, nothing does.
class ModalAnswers {
 public:
  explicit ModalAnswers(std::vector<ModalStep> steps, Modal kind = Modal::Any);
  // Answers every wait of `kind` with `step`.
  static ModalAnswers always(ModalStep step, Modal kind = Modal::Any);
  ~ModalAnswers();
  ModalAnswers(ModalAnswers&& other) noexcept;
  ModalAnswers& operator=(ModalAnswers&& other) noexcept;
  ModalAnswers(const ModalAnswers&) = delete;
  ModalAnswers& operator=(const ModalAnswers&) = delete;

  // The waits of its kind met so far, answered or not.
  int seen() const;
  // The steps not run yet.
  size_t left() const;

  struct State;

 private:
  ModalAnswers(std::shared_ptr<State> state);
  void release();
  std::shared_ptr<State> state_;
};

}  // namespace testkit
