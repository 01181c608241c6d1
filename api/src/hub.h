// The hub instance's tables.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "entities.h"

namespace kestrum {

struct Data::Impl {
  struct Binding {
    HubCallback function;
    void* user;
    uint64_t serial;  // names this binding alone, so an owner removes only its own
  };

  std::map<std::string, fwk::counted_ptr<fwk::Signal<void*>>, std::less<>> events;
  std::map<std::string, fwk::counted_ptr<Variant>, std::less<>> variants;
  std::map<std::string, Binding, std::less<>> functions;
  std::map<std::string, fwk::counted_ptr<Setting>, std::less<>> settings;

  std::map<int64_t, HGroup*> groups;  // one reference held on each
  std::vector<HService*> services;    // no references held
  std::vector<HServiceType*> serviceTypes;
  HService* primaryService = nullptr;  // one reference held

  using Queue = std::deque<HMessage*>;  // one reference held on each message
  std::map<void*, Queue> unreadGroups;
  std::map<void*, Queue> unreadContacts;
  int32_t unreadTotal = 0;

  std::vector<Plugin*> plugins;
  uint32_t luid = 0x8000;
  std::vector<bool> menuCommandsHeld;  // the plug-in command pool, by offset
  uint32_t nextMenuCommand = 0;        // offset the next search starts at
  std::recursive_mutex audioLock;

  // Lookup-or-create by name.
  fwk::counted_ptr<fwk::Signal<void*>>& event(std::string_view name);
  fwk::counted_ptr<Variant>& variant(std::string_view name);
  void publishUnreadTotal();
  // Drops every subscription and named function whose callback lies in module.
  void dropCallbacksInto(HMODULE module);
};

inline Data& hub() { return *fwk::Singleton<Data>::getInstance(); }
inline Data::Impl& tables() { return hub().impl(); }

}  // namespace kestrum
