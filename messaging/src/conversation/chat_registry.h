// The open conversations, one per contact or group, the two events that
// open them, and the arriving messages, each handed to its conversation.
#pragma once

#include <map>
#include <memory>
#include <utility>

#include "olvaro/api.h"
#include "olvaro/registrations.h"

namespace messaging {

class ChatWindow;

class ChatRegistry {
 public:
  // Subscribes "messaging.chat.contact", "messaging.chat.group" and
  // "messages.new".
  ChatRegistry();
  // Closes every window that is still open.
  ~ChatRegistry();
  ChatRegistry(const ChatRegistry&) = delete;
  ChatRegistry& operator=(const ChatRegistry&) = delete;

  // Brings the peer's window forward, or makes and shows one.
  ChatWindow* open(void* peer, bool isGroup);
  ChatWindow* find(void* peer, bool isGroup) const;
  size_t size() const { return m_windows.size(); }

  // Called by the windows as they come and go.
  void enter(void* peer, bool isGroup, ChatWindow* window) { m_windows[{peer, isGroup}] = window; }
  void leave(void* peer, bool isGroup) { m_windows.erase({peer, isGroup}); }

 private:
  void onContact(HContact* contact);
  void onGroup(HGroup* group);
  // Hands a message to the window of its sender or group.
  void route(HMessage* message);
  // Hands a history answer to the conversation it belongs to (see there).
  void routeHistory(HMessage* message, const MessageData& d);
  // The private conversation receiving history that asked first, if any.
  ChatWindow* earliestPrivateReceiver() const;

  std::map<std::pair<void*, bool>, ChatWindow*> m_windows;  // by handle value and kind
  olvaro::EventSubscription m_contactEvent;
  olvaro::EventSubscription m_groupEvent;
  olvaro::EventSubscription m_newMessages;
};

}  // namespace messaging
