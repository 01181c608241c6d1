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

ChatWindow* ChatRegistry::find(void* peer, bool isGroup) const {
  auto it = m_windows.find({peer, isGroup});
  return it == m_windows.end() ? nullptr : it->second;
}

ChatWindow* ChatRegistry::open(void* peer, bool isGroup) {
  if (!peer) return nullptr;
  if (ChatWindow* window = find(peer, isGroup)) {
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
    routeHistory(message, d);
    return;
  }
  void* from = d.isGroup ? d.target : static_cast<void*>(d.contact);
  if (!from) return;
  if (ChatWindow* window = find(from, d.isGroup)) window->receive(message, d);
}

void ChatRegistry::routeHistory(HMessage* message, const MessageData& d) {
  ChatWindow* window = nullptr;
  if (d.isGroup) {
    window = find(d.target, true);
  } else if (d.contact) {
    // A private answer has the user on one side and the peer on the other.
    // The user's own lines come with the user on both (the server does not
    // say to whom they went): they belong to the conversation whose answers
    // are arriving, the earliest that asked, as answers come in that order.
    HContact* me = ownContact(olvaro::contactData(d.contact).service);
    bool fromMe = d.contact == me;
    bool toMe = d.target == me || !me;
    if (!fromMe && toMe)
      window = find(d.contact, false);
    else if (fromMe && !toMe)
      window = find(d.target, false);
    else if (fromMe)
      window = earliestPrivateReceiver();
    if (me) KS_ReleaseContact(me);
  }
  if (window) window->receive(message, d);
}

ChatWindow* ChatRegistry::earliestPrivateReceiver() const {
  ChatWindow* earliest = nullptr;
  for (auto& [key, window] : m_windows)
    if (!key.second && window->historyState() == ChatWindow::kReceiving &&
        (!earliest || window->historyTicket() < earliest->historyTicket()))
      earliest = window;
  return earliest;
}

}  // namespace messaging
