// ChatWindow: one conversation with a contact or a group. The message list
// on top, the input of the selected tab below it (text, voice or photo, or
// the notice that the user may not talk), the tabs at the bottom.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/box_layout.h"
#include "framework/control.h"
#include "framework/tab_strip.h"
#include "message_edit.h"
#include "message_list.h"
#include "olvaro/api.h"
#include "olvaro/connection_calls.h"
#include "olvaro/registrations.h"
#include "photo.h"
#include "talk_button.h"

namespace messaging {

class ChatRegistry;

// (seconds, microseconds) since 1970 UTC.
struct TimeStamp {
  int32_t sec;
  int32_t usec;
  bool operator<(const TimeStamp& o) const { return sec != o.sec ? sec < o.sec : usec < o.usec; }
};

// The local user's contact in a service (+1 reference), or NULL.
HContact* ownContact(HService* service);

class ChatWindow : public fwk::Control, public Conversation {
 public:
  static constexpr UINT_PTR kHistoryTimer = 1;
  static constexpr UINT kHistoryDelayMs = 250;
  enum HistoryState { kIdle = 0, kRequested = 1, kReceiving = 2 };
  enum Tab { kTextTab = 0, kVoiceTab = 1, kPhotoTab = 2 };

  // `peer` is a contact or (with `isGroup`) a group; the window takes its
  // own reference.
  ChatWindow(ChatRegistry* registry, void* peer, bool isGroup);
  ~ChatWindow() override;

  void* peer() const override { return m_peer; }
  bool isGroup() const { return m_isGroup; }
  MessageList* list() const { return m_list.get(); }
  MessageEdit* edit() const { return m_edit.get(); }
  CaptureButton* captureButton() const { return m_capture.get(); }
  fwk::TabStrip* tabs() const { return m_tabs.get(); }
  HWND muteNotice() const { return m_muteNotice; }
  TalkButton* talkButton() const { return m_talk.get(); }
  HWND menuBar() const { return m_menuBar; }
  // The tab's icon; the window's own, destroyed with it.
  HICON tabIcon(int tab) const { return tab >= 0 && tab < 3 ? m_tabIcons[tab] : nullptr; }
  int pendingHistory() const { return m_pendingHistory; }
  int requestedHistory() const { return m_requestedHistory; }
  int historyState() const { return m_historyState; }
  // Orders the windows' history requests: larger for a later one; 0 while
  // none was made.
  uint64_t historyTicket() const { return m_historyTicket; }
  TimeStamp oldestTime() const { return m_oldest; }
  bool signedIn() const { return m_signedIn; }
  bool talkingAllowed();
  // The edit box when it takes input, else the list.
  void focusInput();

  // Conversation
  std::u16string ownName() override;
  void requestHistory() override;
  bool listKey(UINT key, bool down, LPARAM repeatData) override;
  HWND windowHandle() override { return hwnd(); }

  // A message of this conversation, or a history answer for it (the
  // registry routes them; `d` is the message's data).
  void receive(HMessage* message, const MessageData& d);

  // The history request's completion; ignored once the window is gone.
  // `user` is the window's identity, never that of another window, even
  // one made later at the same address.
  static void historyProgress(void* user, const olvaro::Response* result);

  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT onClose() override;
  LRESULT onCommand(UINT id, UINT code, HWND control) override;
  LRESULT onHotKey(int id, UINT modifiers, UINT key) override;
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;
  LRESULT onSize(UINT kind, int width, int height) override;
  LRESULT onTimer(UINT_PTR id) override;

 private:
  void onContactChanged(HContact* contact);
  void onServiceChanged();

  void buildChildren();
  void refreshTitleAndIcons();
  void applyInputRule();
  void addUnread();
  void acceptInput(HWND from, HMessage* message);
  void fillPlaceholder(HMessage* message);
  void historyDone(int64_t code);
  void dropPlaceholders(bool keepMoreRow);
  void noteTime(const MessageData& d);
  void selectTab(int tab);
  HService* ownService() const;
  std::u16string ownNameNow() const;

  ChatRegistry* m_registry;
  const uint64_t m_identity;
  void* m_peer;
  bool m_isGroup;
  HService* m_service = nullptr;
  HICON m_smallIcon = nullptr;
  HICON m_bigIcon = nullptr;
  HICON m_tabIcons[3] = {};  // the strip draws them, the window owns them
  std::unique_ptr<fwk::BoxLayout> m_layout;
  std::unique_ptr<MessageList> m_list;
  std::unique_ptr<fwk::TabStrip> m_tabs;
  std::unique_ptr<MessageEdit> m_edit;
  std::unique_ptr<CaptureButton> m_capture;
  std::unique_ptr<TalkButton> m_talk;
  HWND m_muteNotice = nullptr;
  HWND m_menuBar = nullptr;
  HWND m_sipPref = nullptr;
  TimeStamp m_oldest{2147483647, 0};
  int m_pendingHistory = 0;
  int m_requestedHistory = 0;
  int m_historyState = kIdle;
  uint64_t m_historyTicket = 0;
  bool m_signedIn = true;
  std::u16string m_ownName;
  olvaro::EventSubscription m_contactChanges;
  olvaro::ServiceSubscription m_serviceChanges;
};

}  // namespace messaging
