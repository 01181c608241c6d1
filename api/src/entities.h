// The hub's entity objects and the handle cells that carry them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "olvaro/api.h"

namespace kestrum {

template <class T>
Handle<T>* newHandle(T* entity) {
  auto* h = new Handle<T>;
  h->count.store(1);
  h->entity = entity;
  return h;
}

template <class T>
Handle<T>* duplicateHandle(Handle<T>* h) {
  if (h) h->count.fetch_add(1);
  return h;
}

// Takes one reference away; the last one destroys the entity and the cell.
template <class T>
void releaseHandle(Handle<T>* h) {
  if (!h) return;
  if (h->count.fetch_sub(1) == 1) {
    delete h->entity;
    delete h;
  }
}

// Services are listed without a reference, so the release that drops the
// last one also takes the service out of the list, whoever makes it.
template <>
void releaseHandle<Service>(Handle<Service>* h);

// Replaces a held handle: the new reference is taken before the old one is
// released, so setting the same handle again changes nothing.
template <class T>
void replaceHandle(Handle<T>*& slot, Handle<T>* value) {
  duplicateHandle(value);
  Handle<T>* old = slot;
  slot = value;
  releaseHandle(old);
}

// Keeps an entity alive while its change is announced, so a subscriber that
// drops the last reference cannot pull it away from the later subscribers.
template <class T>
class HandleGuard {
 public:
  explicit HandleGuard(Handle<T>* h) : m_h(duplicateHandle(h)) {}
  ~HandleGuard() { releaseHandle(m_h); }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;

 private:
  Handle<T>* m_h;
};

inline std::string copyText(const char* text) { return text ? std::string(text) : std::string(); }

class Contact {
 public:
  ~Contact();
  HService* service = nullptr;
  int64_t id = 0;
  std::string name, nickname, status;
  int32_t onlineStatus = 0;
  int32_t state = 0;
  int32_t deviceType = 0;
  fwk::Signal<void*> signal;
};

class Group {
 public:
  ~Group();
  void removeAllMembers();
  int64_t id = 0;
  HService* service = nullptr;
  std::string name, description;
  int32_t state = 0;
  std::map<HContact*, int32_t> members;  // ordered by handle address
  fwk::Signal<void*> signal;
};

class Service {
 public:
  HServiceType* type = nullptr;  // no reference held
  std::string userName, password, displayName, text24, text28;
  int32_t state = 0;
  int32_t signInRequested = 0;
  HMODULE iconModule = nullptr;
  LPCWSTR iconResource = nullptr;
  fwk::Signal<void*> signal;
};

class ServiceType {
 public:
  std::string longName, shortName;
  int32_t kind = 0;
  HMODULE iconModule = nullptr;
  LPCWSTR iconResource = nullptr;
};

class Message {
 public:
  ~Message();
  int64_t id = 0;
  HContact* contact = nullptr;
  void* target = nullptr;
  // How the target reference was taken, so it is released as what it is even
  // if isGroup is changed later on its own.
  bool targetHeldAsGroup = false;
  uint8_t isGroup = 0;
  uint8_t complete = 0;
  uint8_t interrupted = 0;
  uint8_t read = 0;
  std::string contentType;
  std::vector<uint8_t> payload;
  int32_t origin = 0;
  int32_t lengthOrProgress = 0;
  int32_t timeSec = 0, timeUsec = 0, localTimeSec = 0, localTimeUsec = 0;
  fwk::Signal<void*> signal;
};

// Releases a handle of either conversation kind.
inline void releaseTarget(void* target, bool isGroup) {
  if (isGroup)
    releaseHandle(static_cast<HGroup*>(target));
  else
    releaseHandle(static_cast<HContact*>(target));
}

Subscription* subscribe(fwk::SignalBase& signal, HubCallback callback, void* user);

}  // namespace kestrum
