// The open conversations, one per contact or group, and the two events that
// open them.
#pragma once

#include <map>
#include <memory>

#include "olvaro/registrations.h"

namespace messaging {

class ChatWindow;

class ChatRegistry {
 public:
  // Subscribes "messaging.chat.contact" and "messaging.chat.group".
  ChatRegistry();
  // Closes every window that is still open.
  ~ChatRegistry();
  ChatRegistry(const ChatRegistry&) = delete;
  ChatRegistry& operator=(const ChatRegistry&) = delete;

  // Brings the peer's window forward, or makes and shows one.
  ChatWindow* open(void* peer, bool isGroup);
  ChatWindow* find(void* peer) const;
  size_t size() const { return m_windows.size(); }

  // Called by the windows as they come and go.
  void enter(void* peer, ChatWindow* window) { m_windows[peer] = window; }
  void leave(void* peer) { m_windows.erase(peer); }

 private:
  static uint32_t onContact(void* user, void* argument);
  static uint32_t onGroup(void* user, void* argument);

  std::map<void*, ChatWindow*> m_windows;  // by handle value
  olvaro::EventSubscription m_contactEvent;
  olvaro::EventSubscription m_groupEvent;
};

}  // namespace messaging
