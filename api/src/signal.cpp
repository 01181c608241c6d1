#include <atomic>

#include "olvaro/fwk.h"

namespace fwk {
namespace {
std::atomic<uint64_t> g_nextSerial{1};
}

Subscription::Subscription(HubCallback callback, void* user)
    : m_callback(callback), m_user(user), m_serial(g_nextSerial++) {}

void Subscription::destroy() {
  if (m_signal) m_signal->detach(this);
  delete this;
}

void Subscription::detached() {}

void Subscription::invoke(void* argument) {
  if (m_callback) m_callback(m_user, argument);
}

SignalBase::~SignalBase() {
  for (RaiseFrame* f = m_frames; f; f = f->outer) f->destroyed = true;
  // Subscriptions stay allocated until their owners unsubscribe; they only
  // forget this signal.
  std::set<Subscription*> subscriptions;
  subscriptions.swap(m_subscriptions);
  for (Subscription* s : subscriptions) {
    s->m_signal = nullptr;
    s->detached();
  }
}

void SignalBase::attach(Subscription* s) {
  m_subscriptions.insert(s);
  s->m_signal = this;
}

void SignalBase::detach(Subscription* s) {
  m_subscriptions.erase(s);
  s->m_signal = nullptr;
}

int SignalBase::raise(void* argument) {
  if (m_subscriptions.empty()) return 0;
  // Walk a snapshot so that callbacks may subscribe and unsubscribe freely.
  // A snapshot entry is still live only when the same object (by serial) is
  // still in the set; an address reused by a new subscription is not called.
  std::vector<std::pair<Subscription*, uint64_t>> snapshot;
  snapshot.reserve(m_subscriptions.size());
  for (Subscription* s : m_subscriptions) snapshot.emplace_back(s, s->serial());

  RaiseFrame frame;
  frame.outer = m_frames;
  m_frames = &frame;
  int called = 0;
  for (const auto& [s, serial] : snapshot) {
    if (m_subscriptions.find(s) == m_subscriptions.end() || s->serial() != serial)
      continue;
    ++called;
    s->invoke(argument);
    if (frame.destroyed) return called;  // a callback destroyed this signal
  }
  m_frames = frame.outer;
  return called;
}

}  // namespace fwk
