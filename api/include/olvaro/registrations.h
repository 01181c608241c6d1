// Owning handles for what a module registers with the hub. Each removes its
// registration when it goes, so a window or plug-in that dies takes its
// callbacks with it. All of them are move-only.
#pragma once

#include <cstdio>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "olvaro/api.h"

namespace olvaro {

// The hub calls back with (user, argument); hubCall<&T::method, Owner> turns
// that into owner->method(...), so a registration names the method instead of
// a hand-written function casting the pointers back. The method takes
// nothing, a pointer (the argument as it came) or a reference (the object
// the argument points to; a null argument answers 0 without a call). What
// it returns becomes the 32-bit result; void answers 0.
namespace binding {

template <class Method>
struct Shape;
template <class T, class R, class... A>
struct Shape<R (T::*)(A...)> {
  using Result = R;
  using Arguments = std::tuple<A...>;
};
template <class T, class R, class... A>
struct Shape<R (T::*)(A...) noexcept> : Shape<R (T::*)(A...)> {};
template <class T, class R, class... A>
struct Shape<R (T::*)(A...) const> : Shape<R (T::*)(A...)> {};
template <class T, class R, class... A>
struct Shape<R (T::*)(A...) const noexcept> : Shape<R (T::*)(A...)> {};

template <class... A>
inline constexpr bool takesReference = false;
template <class A>
inline constexpr bool takesReference<A> = std::is_reference_v<A>;

template <auto Method, class Owner, class... A>
uint32_t call(Owner* owner, void* argument, std::tuple<A...>*) {
  static_assert(sizeof...(A) <= 1, "a hub callback passes one argument");
  using Result = typename Shape<decltype(Method)>::Result;
  auto invoke = [&]() -> decltype(auto) {
    if constexpr (sizeof...(A) == 0) {
      return (owner->*Method)();
    } else {
      using Arg = std::tuple_element_t<0, std::tuple<A...>>;
      if constexpr (std::is_pointer_v<Arg>) {
        return (owner->*Method)(static_cast<Arg>(argument));
      } else {
        static_assert(std::is_reference_v<Arg>, "bind a method taking a pointer or a reference");
        return (owner->*Method)(*static_cast<std::remove_reference_t<Arg>*>(argument));
      }
    }
  };
  if constexpr (takesReference<A...>) {
    if (!argument) return 0;
  }
  if constexpr (std::is_void_v<Result>) {
    invoke();
    return 0;
  } else {
    return static_cast<uint32_t>(invoke());
  }
}

}  // namespace binding

template <auto Method, class Owner>
uint32_t hubCall(void* user, void* argument) {
  using Arguments = typename binding::Shape<decltype(Method)>::Arguments;
  return binding::call<Method>(static_cast<Owner*>(user), argument, static_cast<Arguments*>(nullptr));
}

// One subscription, given back through Unsubscribe when the owner goes.
template <void (*Unsubscribe)(Subscription*)>
class OwnedSubscription {
 public:
  OwnedSubscription() = default;
  explicit OwnedSubscription(Subscription* subscription) noexcept : m_subscription(subscription) {}
  OwnedSubscription(OwnedSubscription&& other) noexcept : m_subscription(other.release()) {}
  OwnedSubscription& operator=(OwnedSubscription&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  OwnedSubscription(const OwnedSubscription&) = delete;
  OwnedSubscription& operator=(const OwnedSubscription&) = delete;
  ~OwnedSubscription() { reset(); }

  // Unsubscribes what is held, then holds `subscription`.
  void reset(Subscription* subscription = nullptr) noexcept {
    Subscription* old = std::exchange(m_subscription, subscription);
    if (old && old != subscription) Unsubscribe(old);
  }
  // Gives up ownership without unsubscribing.
  Subscription* release() noexcept { return std::exchange(m_subscription, nullptr); }
  Subscription* get() const noexcept { return m_subscription; }
  explicit operator bool() const noexcept { return m_subscription != nullptr; }
  // False once its entity died or the hub dropped it; it still needs freeing.
  bool attached() const noexcept { return m_subscription && m_subscription->signal(); }

 private:
  Subscription* m_subscription = nullptr;
};

using EventSubscription = OwnedSubscription<KS_EventUnsubscribe>;
using VariantSubscription = OwnedSubscription<KS_VariantUnsubscribe>;
using ContactSubscription = OwnedSubscription<KS_ContactUnsubscribe>;
using GroupSubscription = OwnedSubscription<KS_GroupUnsubscribe>;
using ServiceSubscription = OwnedSubscription<KS_ServiceUnsubscribe>;
using MessageSubscription = OwnedSubscription<KS_MessageUnsubscribe>;

inline EventSubscription subscribeEvent(const char* name, HubCallback callback, void* user) {
  return EventSubscription(KS_EventSubscribe(callback, name, user));
}
inline VariantSubscription subscribeVariant(const char* name, HubCallback callback, void* user) {
  return VariantSubscription(KS_VariantSubscribe(callback, name, user));
}
inline ContactSubscription subscribeContact(HContact* contact, HubCallback callback, void* user) {
  return ContactSubscription(KS_ContactSubscribe(callback, contact, user));
}
inline GroupSubscription subscribeGroup(HGroup* group, HubCallback callback, void* user) {
  return GroupSubscription(KS_GroupSubscribe(callback, group, user));
}
inline ServiceSubscription subscribeService(HService* service, HubCallback callback, void* user) {
  return ServiceSubscription(KS_ServiceSubscribe(callback, service, user));
}
inline MessageSubscription subscribeMessage(HMessage* message, HubCallback callback, void* user) {
  return MessageSubscription(KS_MessageSubscribe(callback, message, user));
}

// The same, calling a method of `owner`: subscribeEvent<&T::onX>(name, this).
template <auto Method, class Owner>
EventSubscription subscribeEvent(const char* name, Owner* owner) {
  return subscribeEvent(name, &hubCall<Method, Owner>, owner);
}
template <auto Method, class Owner>
VariantSubscription subscribeVariant(const char* name, Owner* owner) {
  return subscribeVariant(name, &hubCall<Method, Owner>, owner);
}
template <auto Method, class Owner>
ContactSubscription subscribeContact(HContact* contact, Owner* owner) {
  return subscribeContact(contact, &hubCall<Method, Owner>, owner);
}
template <auto Method, class Owner>
GroupSubscription subscribeGroup(HGroup* group, Owner* owner) {
  return subscribeGroup(group, &hubCall<Method, Owner>, owner);
}
template <auto Method, class Owner>
ServiceSubscription subscribeService(HService* service, Owner* owner) {
  return subscribeService(service, &hubCall<Method, Owner>, owner);
}
template <auto Method, class Owner>
MessageSubscription subscribeMessage(HMessage* message, Owner* owner) {
  return subscribeMessage(message, &hubCall<Method, Owner>, owner);
}

// One named function. Unregistering removes the name only while it is still
// bound by this owner: a later registration of the same name by someone else
// is left alone.
class FunctionRegistration {
 public:
  FunctionRegistration() = default;
  FunctionRegistration(std::string name, HubCallback function, void* user) { reset(std::move(name), function, user); }
  FunctionRegistration(FunctionRegistration&& other) noexcept
      : m_name(std::move(other.m_name)), m_binding(std::exchange(other.m_binding, 0)) {}
  FunctionRegistration& operator=(FunctionRegistration&& other) noexcept {
    if (this != &other) {
      reset();
      m_name = std::move(other.m_name);
      m_binding = std::exchange(other.m_binding, 0);
    }
    return *this;
  }
  FunctionRegistration(const FunctionRegistration&) = delete;
  FunctionRegistration& operator=(const FunctionRegistration&) = delete;
  ~FunctionRegistration() { reset(); }

  // Binds `name` to a method of `owner`: bind<&T::method>(name, this).
  template <auto Method, class Owner>
  static FunctionRegistration bind(std::string name, Owner* owner) {
    return FunctionRegistration(std::move(name), &hubCall<Method, Owner>, owner);
  }

  // Lets go of what is held, then binds `name` (replacing any binding of it).
  void reset(std::string name, HubCallback function, void* user) {
    reset();
    m_binding = hub()->bindFunction(name.c_str(), function, user);
    m_name = std::move(name);
  }
  void reset() noexcept {
    uint64_t binding = std::exchange(m_binding, 0);
    // A torn-down hub has no bindings left; do not make a new one to ask.
    if (binding && fwk::Singleton<kestrum::Data>::hasInstance()) hub()->unbindFunction(m_name.c_str(), binding);
    m_name.clear();
  }

  const std::string& name() const noexcept { return m_name; }
  explicit operator bool() const noexcept { return m_binding != 0; }
  // Whether the name is still bound by this owner.
  bool bound() const {
    if (!m_binding || !fwk::Singleton<kestrum::Data>::hasInstance()) return false;
    return hub()->isBound(m_name.c_str(), m_binding);
  }

 private:
  static kestrum::Data* hub() { return fwk::Singleton<kestrum::Data>::getInstance(); }
  std::string m_name;
  uint64_t m_binding = 0;
};

// A name for one handle, such as "Service/%p/AddContact" or "KS_CTRL_%p": the
// first "%p" of the pattern becomes the handle as snprintf prints "%p". The
// pattern itself is never used as a format, so any text is safe in it.
inline std::string handleName(const char* pattern, const void* handle) {
  std::string name = pattern ? pattern : "";
  char printed[48];
  int length = std::snprintf(printed, sizeof printed, "%p", handle);
  size_t at = name.find("%p");
  if (at != std::string::npos && length > 0 && size_t(length) < sizeof printed) name.replace(at, 2, printed, size_t(length));
  return name;
}

// The same for wide names (window classes).
inline std::u16string handleName(const char16_t* pattern, const void* handle) {
  std::u16string name = pattern ? pattern : u"";
  size_t at = name.find(u"%p");
  if (at == std::u16string::npos) return name;
  std::string printed = handleName("%p", handle);
  name.replace(at, 2, std::u16string(printed.begin(), printed.end()));
  return name;
}

}  // namespace olvaro
