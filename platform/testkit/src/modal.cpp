#include "testkit/modal.h"

#include "platform/menu.h"
#include "platform/msgbox.h"
#include "platform/window.h"

namespace testkit {

struct ModalAnswers::State {
  std::vector<ModalStep> steps;
  size_t next = 0;
  ModalStep always;
  Modal kind = Modal::Any;
  int seen = 0;

  bool isFor(HWND modal) const {
    switch (kind) {
      case Modal::Menu:
        return platform::activeMenuWindow() != nullptr;
      case Modal::MessageBox:
        return modal && modal == platform::activeMessageBox();
      case Modal::Any:
        break;
    }
    return true;
  }
  void answer(HWND modal) {
    if (!isFor(modal)) return;
    ++seen;
    if (next < steps.size()) {
      // The step may end the loop and the answers with it: keep it alive.
      ModalStep step = steps[next++];
      step(modal);
    } else if (always) {
      ModalStep step = always;
      step(modal);
    }
  }
};

namespace {

// The answers now installed: only they take the hook away when they go.
ModalAnswers::State* g_installed = nullptr;

void install(const std::shared_ptr<ModalAnswers::State>& state) {
  g_installed = state.get();
  std::weak_ptr<ModalAnswers::State> weak = state;
  platform::setModalIdleHook([weak](HWND modal) {
    if (auto s = weak.lock()) s->answer(modal);
  });
}

}  // namespace

void press(UINT vk) {
  platform::inputKey(vk, true);
  platform::inputKey(vk, false);
}

ModalStep pressing(std::initializer_list<UINT> keys) {
  std::vector<UINT> list(keys);
  return [list](HWND) {
    for (UINT vk : list) press(vk);
  };
}

std::vector<ModalStep> keyPerWait(std::initializer_list<UINT> keys) {
  std::vector<ModalStep> steps;
  for (UINT vk : keys) steps.push_back(pressing({vk}));
  return steps;
}

ModalStep tapping(std::function<POINT()> where) {
  return [where](HWND) {
    POINT p = where();
    platform::inputStylusDown(p.x, p.y);
    platform::inputStylusUp(p.x, p.y);
  };
}

ModalAnswers::ModalAnswers(std::vector<ModalStep> steps, Modal kind) : state_(std::make_shared<State>()) {
  state_->steps = std::move(steps);
  state_->kind = kind;
  install(state_);
}

ModalAnswers::ModalAnswers(std::shared_ptr<State> state) : state_(std::move(state)) { install(state_); }

ModalAnswers ModalAnswers::always(ModalStep step, Modal kind) {
  auto state = std::make_shared<State>();
  state->always = std::move(step);
  state->kind = kind;
  return ModalAnswers(std::move(state));
}

ModalAnswers::ModalAnswers(ModalAnswers&& other) noexcept : state_(std::move(other.state_)) {}

ModalAnswers& ModalAnswers::operator=(ModalAnswers&& other) noexcept {
  if (this != &other) {
    release();
    state_ = std::move(other.state_);
  }
  return *this;
}

ModalAnswers::~ModalAnswers() { release(); }

void ModalAnswers::release() {
  if (state_ && state_.get() == g_installed) {
    platform::setModalIdleHook(nullptr);
    g_installed = nullptr;
  }
  state_.reset();
}

int ModalAnswers::seen() const { return state_ ? state_->seen : 0; }

size_t ModalAnswers::left() const { return state_ ? state_->steps.size() - state_->next : 0; }

}  // namespace testkit
