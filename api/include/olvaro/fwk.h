// Shared building blocks of the hub interface: the counted pointer, the
// signal with its ordered subscriber set, and the singleton holder.
#pragma once

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

typedef uint32_t (*HubCallback)(void* user, void* argument);

namespace fwk {

class SignalBase;

// One callback attached to one signal. Created by the KS_*Subscribe calls and
// freed only by KS_*Unsubscribe (destroy()).
class Subscription {
 public:
  Subscription(HubCallback callback, void* user);
  // Detaches from the signal if still attached, then frees the object.
  virtual void destroy();
  // Called by a dying signal after it has forgotten this subscription.
  virtual void detached();
  virtual void invoke(void* argument);

  SignalBase* signal() const { return m_signal; }
  uint64_t serial() const { return m_serial; }
  HubCallback callback() const { return m_callback; }

 protected:
  virtual ~Subscription() = default;

 private:
  friend class SignalBase;
  SignalBase* m_signal = nullptr;
  HubCallback m_callback;
  void* m_user;
  uint64_t m_serial;  // tells a new subscription apart from a freed one at the same address
};

// The ordered set of subscriptions of one event, variant or entity. Raising
// walks the subscriptions that were attached when the raise began, in address
// order, skipping any that were removed meanwhile; subscriptions added during
// a raise are first called by the next raise. The signal may even be
// destroyed by one of its callbacks: the walk then stops.
class SignalBase {
 public:
  SignalBase() = default;
  SignalBase(const SignalBase&) = delete;
  SignalBase& operator=(const SignalBase&) = delete;
  virtual ~SignalBase();

  void attach(Subscription* s);
  void detach(Subscription* s);
  // Returns the number of subscriptions called.
  int raise(void* argument);
  size_t size() const { return m_subscriptions.size(); }

  // Detaches every subscription for which pred is true, without calling into
  // it; each stays allocated for its owner's unsubscribe. Safe during a raise,
  // which skips what is no longer attached.
  template <class Pred>
  size_t detachIf(Pred pred) {
    std::vector<Subscription*> doomed;
    for (Subscription* s : m_subscriptions)
      if (pred(s)) doomed.push_back(s);
    for (Subscription* s : doomed) detach(s);
    return doomed.size();
  }

 private:
  struct RaiseFrame {
    bool destroyed = false;
    RaiseFrame* outer = nullptr;
  };
  std::set<Subscription*> m_subscriptions;
  RaiseFrame* m_frames = nullptr;
};

template <class Arg>
class Signal : public SignalBase {
 public:
  int raise(Arg argument) { return SignalBase::raise(static_cast<void*>(argument)); }
};

// A shared cell {object, count}; the last copy to go deletes the object
// through its virtual destructor.
template <class T>
class counted_ptr {
 public:
  counted_ptr() = default;
  explicit counted_ptr(T* object) : m_cell(object ? new Cell{object, 1} : nullptr) {}
  counted_ptr(const counted_ptr& other) : m_cell(other.m_cell) {
    if (m_cell) ++m_cell->count;
  }
  counted_ptr(counted_ptr&& other) noexcept : m_cell(std::exchange(other.m_cell, nullptr)) {}
  ~counted_ptr() { release(); }
  counted_ptr& operator=(counted_ptr other) noexcept {
    std::swap(m_cell, other.m_cell);
    return *this;
  }

  T* get() const { return m_cell ? m_cell->object : nullptr; }
  T* operator->() const { return get(); }
  T& operator*() const { return *get(); }
  explicit operator bool() const { return get() != nullptr; }
  long use_count() const { return m_cell ? m_cell->count : 0; }

 private:
  struct Cell {
    T* object;
    long count;
  };
  void release() {
    if (m_cell && --m_cell->count == 0) {
      delete m_cell->object;
      delete m_cell;
    }
    m_cell = nullptr;
  }
  Cell* m_cell = nullptr;
};

// Holder of a process-wide instance. For the hub's class the pointer lives in
// the hub library alone (see the explicit specialisation in api.h), so every
// module of the process shares it.
template <class T>
class Singleton {
 public:
  static T* getInstance() {
    if (!s_instance) s_instance = new T();
    return s_instance;
  }
  static bool hasInstance() { return s_instance != nullptr; }
  static void setInstance(T* instance) { s_instance = instance; }
  // The destructor of T clears the pointer.
  static void deleteInstance() { delete s_instance; }

  static T* s_instance;
};

template <class T>
T* Singleton<T>::s_instance = nullptr;

}  // namespace fwk
