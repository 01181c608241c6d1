#include "chat_registry.h"

#include <vector>

#include "chat_window.h"
#include "olvaro/hub_records.h"

namespace messaging {

ChatRegistry::ChatRegistry()
    : m_contactEvent(olvaro::subscribeEvent<&ChatRegistry::onContact>("messaging.chat.contact", this)),
      m_groupEvent(olvaro::subscribeEvent<&ChatRegistry::onGroup>("messaging.chat.group", this)),
      m_newMessages(olvaro::subscribeEvent<&ChatRegistry::route>("messages.new", this)) {}

ChatRegistry::~ChatRegistry() {
  m_contactEvent = olvaro::EventSubscription();
  m_groupEvent = olvaro::EventSubscription();
  m_newMessages = olvaro::EventSubscription();
  std::vector<ChatWindow*> open;
  for (auto& [peer, window] : m_windows) open.push_back(window);
  for (ChatWindow* window : open) delete window;
}

ChatWindow* ChatRegistry::find(void* peer) const {
  auto it = m_windows.find(peer);
  return it == m_windows.end() ? nullptr : it->second;
}

ChatWindow* ChatRegistry::open(void* peer, bool isGroup) {
  if (!peer) return nullptr;
  if (ChatWindow* window = find(peer)) {
    SetForegroundWindow(window->hwnd());
    return window;
  }
  auto* window = new ChatWindow(this, peer, isGroup);
  if (!window->hwnd()) {
    delete window;
    return nullptr;
  }
  ShowWindow(window->hwnd(), SW_SHOWNORMAL);
  // Showing activates the window, which takes the focus itself.
  window->focusInput();
  return window;
}

void ChatRegistry::onContact(HContact* contact) { open(contact, false); }

void ChatRegistry::onGroup(HGroup* group) { open(group, true); }

void ChatRegistry::route(HMessage* message) {
  if (!message) return;
  const MessageData d = olvaro::messageData(message);
  if (d.origin == 3) {
    // An answer names its group and its sender: the window of either may be
    // the one that asked.
    if (ChatWindow* window = find(d.target)) window->receive(message, d);
    void* contact = static_cast<void*>(d.contact);
    if (contact != d.target)
      if (ChatWindow* window = find(contact)) window->receive(message, d);
    return;
  }
  void* from = d.isGroup ? d.target : static_cast<void*>(d.contact);
  if (!from) return;
  if (ChatWindow* window = find(from)) window->receive(message, d);
}

}  // namespace messaging
