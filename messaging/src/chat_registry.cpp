#include "chat_registry.h"

#include <vector>

#include "chat_window.h"

namespace messaging {

ChatRegistry::ChatRegistry()
    : m_contactEvent(olvaro::subscribeEvent<&ChatRegistry::onContact>("messaging.chat.contact", this)),
      m_groupEvent(olvaro::subscribeEvent<&ChatRegistry::onGroup>("messaging.chat.group", this)) {}

ChatRegistry::~ChatRegistry() {
  m_contactEvent = olvaro::EventSubscription();
  m_groupEvent = olvaro::EventSubscription();
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

}  // namespace messaging
