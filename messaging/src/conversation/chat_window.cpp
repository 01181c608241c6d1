#include "chat_window.h"

#include <map>

#include "chat_registry.h"
#include "conversation_input.h"
#include "framework/fonts.h"
#include "framework/phone_dialog.h"
#include "message_format.h"
#include "olvaro/connection_state.h"
#include "olvaro/group_roles.h"
#include "olvaro/hub_records.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/controls.h"
#include "platform/module.h"
#include "platform/phoneshell.h"
#include "platform/resources.h"
#include "platform/systime.h"
#include "platform/text.h"
#include "voice_player.h"

namespace messaging {
namespace {

constexpr UINT kSendCommand = 102;
constexpr UINT kCloseCommand = 8;
constexpr UINT kCloseCommandOk = 1;

// The open windows by identity: numbers counted up, never used twice, so
// an answer for a closed window cannot reach one made at its address later.
std::map<uint64_t, ChatWindow*>& liveWindows() {
  static auto* windows = new std::map<uint64_t, ChatWindow*>;
  return *windows;
}
uint64_t g_lastIdentity = 0;
uint64_t g_lastHistoryTicket = 0;

LPCWSTR chatWindowClass() {
  static bool once = [] {
    WNDCLASS wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = DefWindowProc;
    wc.hInstance = fwk::Control::moduleInstance();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = u"KS_CHATWINDOW";
    return RegisterClass(&wc) != 0;
  }();
  (void)once;
  return u"KS_CHATWINDOW";
}

bool serviceSignedIn(HService* service) {
  ServiceData s{};
  s.size = sizeof s;
  KS_GetServiceData(service, &s);
  return s.state != 0 && s.state != 100 && s.state != 101;
}

// Keeps the layout's notifications going to the conversation.
class ChatLayout : public fwk::BoxLayout {
 public:
  ChatLayout(HWND window, int width, int height)
      : BoxLayout(window, WS_CHILD | WS_VISIBLE, 0, 0, width, height), m_window(window) {}
  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == WM_NOTIFY || msg == WM_COMMAND || msg == kInputMessage) return SendMessage(m_window, msg, wParam, lParam);
    return BoxLayout::windowProc(msg, wParam, lParam);
  }

 private:
  HWND m_window;
};

}  // namespace

HContact* ownContact(HService* service) {
  if (!service) return nullptr;
  HContact* me = nullptr;
  std::string name = olvaro::handleName("Service/%p/GetMyHandle", service);
  if (!KS_CallFunction(name.c_str(), &me)) return nullptr;
  return me;
}

ChatWindow::ChatWindow(ChatRegistry* registry, void* peer, bool isGroup)
    // No caption of its own: the shell's title bar shows the title.
    : fwk::Control(chatWindowClass(), u"Chat Window", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, 500, 350,
                   olvaro::mainWindow(), nullptr),
      m_registry(registry),
      m_identity(++g_lastIdentity),
      m_peer(isGroup ? static_cast<void*>(KS_DuplicateGroupHandle(static_cast<HGroup*>(peer)))
                     : static_cast<void*>(KS_DuplicateContactHandle(static_cast<HContact*>(peer)))),
      m_isGroup(isGroup) {
  liveWindows()[m_identity] = this;
  if (m_registry) m_registry->enter(m_peer, m_isGroup, this);
  buildChildren();

  m_menuBar = fwk::initPhoneDialog(hwnd(), 101, platform::currentModule());
  char platformName[32] = {};
  KS_GetPlatformName(platformName);
  if (std::string_view(platformName) == "SmartPhone") {
    SHINITDLGINFO init{};
    init.dwMask = SHIDIM_FLAGS;
    init.hDlg = hwnd();
    init.dwFlags = SHIDIF_SIZEDLGFULLSCREEN;
    SHInitDialog(&init);
  }

  // The peer's service; the more-history bar only where history is kept.
  if (m_isGroup) {
    GroupData g{};
    g.size = sizeof g;
    KS_GetGroupData(static_cast<HGroup*>(m_peer), &g);
    m_service = g.service;
  } else {
    ContactData c = olvaro::contactData(static_cast<HContact*>(m_peer));
    m_service = c.service;
  }
  if (m_service) m_service = KS_DuplicateServiceHandle(m_service);
  HService* primary = KS_GetPrimaryService();
  if (primary && primary == m_service) m_list->setMoreRow(true);
  if (primary) KS_ReleaseService(primary);

  m_ownName = ownNameNow();
  addUnread();
  refreshTitleAndIcons();
  applyInputRule();

  m_contactChanges = olvaro::subscribeEvent<&ChatWindow::onContactChanged>("contact.changed", this);
  if (m_service) m_serviceChanges = olvaro::subscribeService<&ChatWindow::onServiceChanged>(m_service, this);
  focusInput();
  m_sipPref = CreateWindowEx(0, WC_SIPPREF, u"", WS_CHILD, 0, 0, 0, 0, hwnd(), nullptr, nullptr, nullptr);
}

ChatWindow::~ChatWindow() {
  liveWindows().erase(m_identity);
  m_contactChanges = olvaro::EventSubscription();
  m_serviceChanges = olvaro::ServiceSubscription();
  if (hwnd()) KillTimer(hwnd(), kHistoryTimer);
  if (m_registry) m_registry->leave(m_peer, m_isGroup);
  // Nobody is left to hear it or to stop it.
  StopVoicePlayback(m_peer);
  // Children before the window: the rows hold message subscriptions. The
  // talk button first, so a recording it ends still finds its row.
  m_talk.reset();
  m_list.reset();
  m_edit.reset();
  m_capture.reset();
  m_tabs.reset();
  m_layout.reset();
  if (m_isGroup)
    KS_ReleaseGroup(static_cast<HGroup*>(m_peer));
  else
    KS_ReleaseContact(static_cast<HContact*>(m_peer));
  if (m_service) KS_ReleaseService(m_service);
  // The photos this window showed or took are nobody's once it closes.
  removePhotoFiles(hwnd());
  if (hwnd()) DestroyWindow(hwnd());
  if (m_smallIcon) DestroyIcon(m_smallIcon);
  if (m_bigIcon) DestroyIcon(m_bigIcon);
  for (HICON icon : m_tabIcons)
    if (icon) DestroyIcon(icon);
}

void ChatWindow::focusInput() {
  if (IsWindowEnabled(m_edit->hwnd()) && IsWindowVisible(m_edit->hwnd()))
    SetFocus(m_edit->hwnd());
  else
    SetFocus(m_list->hwnd());
}

void ChatWindow::buildChildren() {
  RECT client{};
  GetClientRect(hwnd(), &client);
  int dpi = fwk::screenDpi();
  m_layout = std::make_unique<ChatLayout>(hwnd(), client.right, client.bottom);
  HWND box = m_layout->hwnd();
  m_list = std::make_unique<MessageList>(box, this);
  m_muteNotice = CreateWindowEx(0, u"STATIC", platform::loadStringWide(platform::currentModule(), 121).c_str(),
                                WS_CHILD | SS_CENTER, 0, 0, 10, 10, box, nullptr, nullptr, nullptr);
  m_edit = std::make_unique<MessageEdit>(box, hwnd());
  m_talk = std::make_unique<TalkButton>(box, hwnd());
  m_capture = std::make_unique<CaptureButton>(box, hwnd());
  m_tabs = std::make_unique<fwk::TabStrip>(box, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 10, 10);
  HINSTANCE res = platform::currentModule();
  const std::pair<UINT, UINT> tabs[] = {{102, 109}, {103, 110}, {101, 111}};
  for (int t = 0; t < 3; ++t) {
    auto [icon, text] = tabs[t];
    m_tabIcons[t] = static_cast<HICON>(LoadImage(res, MAKEINTRESOURCE(icon), IMAGE_ICON, 16, 16, 0));
    m_tabs->addTab(std::make_unique<fwk::TabItem>(m_tabIcons[t], 16, platform::loadStringWide(res, text)));
  }
  m_tabs->setSelectedIndex(kTextTab, false);
  m_layout->addStretching(m_list->hwnd());
  m_layout->add(m_muteNotice, dpi / 2, true);
  m_layout->add(m_edit->hwnd(), dpi / 2, true);
  m_layout->add(m_talk->hwnd(), dpi / 2, true);
  m_layout->add(m_capture->hwnd(), dpi / 2);
  m_layout->add(m_tabs->hwnd(), dpi * 21 / 96);
}

HService* ChatWindow::ownService() const {
  if (!m_isGroup && m_service) return m_service;
  HService* primary = KS_GetPrimaryService();
  if (primary) KS_ReleaseService(primary);  // the hub keeps it
  return primary;
}

std::u16string ChatWindow::ownName() { return m_ownName; }

std::u16string ChatWindow::ownNameNow() const {
  HService* service = ownService();
  HContact* me = ownContact(service);
  std::u16string name = nicknameOf(me);
  if (me) KS_ReleaseContact(me);
  // The own contact may not have heard its nickname: the service knows it
  // from the sign-in.
  if (name.empty() && service) {
    ServiceData s{};
    s.size = sizeof s;
    KS_GetServiceData(service, &s);
    const char* shown = s.displayName && *s.displayName ? s.displayName : s.userName;
    name = platform::widen(shown ? shown : "");
  }
  return name;
}

void ChatWindow::refreshTitleAndIcons() {
  std::u16string title;
  HICON small = nullptr, big = nullptr;
  if (m_isGroup) {
    GroupData g{};
    g.size = sizeof g;
    KS_GetGroupData(static_cast<HGroup*>(m_peer), &g);
    title = platform::widen(g.name ? g.name : "");
    HINSTANCE res = platform::currentModule();
    small = static_cast<HICON>(LoadImage(res, u"GROUP", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CXSMICON), 0));
    big = static_cast<HICON>(
        LoadImage(res, u"GROUP", IMAGE_ICON, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CXICON), 0));
  } else {
    auto* contact = static_cast<HContact*>(m_peer);
    title = nicknameOf(contact);
    small = KS_GetContactIcon(contact, GetSystemMetrics(SM_CXSMICON));
    big = KS_GetContactIcon(contact, GetSystemMetrics(SM_CXICON));
  }
  SendMessage(hwnd(), WM_SETICON, ICON_SMALL, LPARAM(small));
  SendMessage(hwnd(), WM_SETICON, ICON_BIG, LPARAM(big));
  if (m_smallIcon) DestroyIcon(m_smallIcon);
  if (m_bigIcon) DestroyIcon(m_bigIcon);
  m_smallIcon = small;
  m_bigIcon = big;
  SetWindowText(hwnd(), title.c_str());
}

bool ChatWindow::talkingAllowed() {
  if (!m_isGroup) return true;
  HContact* me = ownContact(ownService());
  if (!me) return true;
  int32_t role = 0;
  bool member = KS_GetGroupMember(static_cast<HGroup*>(m_peer), me, &role) != 0;
  KS_ReleaseContact(me);
  return !member || !(role == 4 || role == 8 || role == 16);
}

void ChatWindow::applyInputRule() {
  int tab = m_tabs->selectedIndex();
  bool allowed = talkingAllowed();
  auto set = [](HWND h, bool on) {
    ShowWindow(h, on ? SW_SHOW : SW_HIDE);
    EnableWindow(h, on);
  };
  HWND focus = GetFocus();
  set(m_edit->hwnd(), allowed && tab == kTextTab);
  set(m_talk->hwnd(), allowed && tab == kVoiceTab);
  set(m_capture->hwnd(), allowed && tab == kPhotoTab);
  ShowWindow(m_muteNotice, allowed ? SW_HIDE : SW_SHOW);
  if (m_menuBar) SendMessage(m_menuBar, TB_ENABLEBUTTON, kSendCommand, MAKELONG(allowed && tab == kTextTab, 0));
  // A focus on an input that just went away goes to the list.
  if (focus && !IsWindowVisible(focus) &&
      (focus == m_edit->hwnd() || focus == m_talk->hwnd() || focus == m_capture->hwnd()))
    SetFocus(m_list->hwnd());
}

void ChatWindow::addUnread() {
  int count = KS_GetUnreadMessageCount(m_peer, m_isGroup);
  if (count <= 0) return;
  std::vector<HMessage*> handles(static_cast<size_t>(count), nullptr);
  uint32_t n = uint32_t(count);
  KS_GetUnreadMessageHandles(m_peer, m_isGroup, handles.data(), &n);
  for (uint32_t i = 0; i < n; ++i) {
    const MessageData d = olvaro::messageData(handles[i]);
    if (i == 0) m_oldest = TimeStamp{d.timeSec, d.timeUsec};
    m_list->append(fwk::Ref<fwk::Row>(new MessageRow(handles[i], m_list.get())));
    KS_ReleaseMessage(handles[i]);
  }
}

void ChatWindow::noteTime(const MessageData& d) {
  TimeStamp t{d.timeSec, d.timeUsec};
  if (t < m_oldest) m_oldest = t;
}

void ChatWindow::receive(HMessage* message, const MessageData& d) {
  if (d.origin == 3) {
    if (m_historyState != kReceiving) return;
    // Its time is noted even with no placeholder left, so the next request
    // asks for what lies before it, never for it again.
    if (m_pendingHistory > 0) fillPlaceholder(message);
  } else {
    if (isRoleChangeNotice(d)) {
      std::u16string text = adminNoticeText(payloadOf(d), nicknameOf(d.contact), platform::currentModule());
      m_list->append(fwk::Ref<fwk::Row>(new NoticeRow(text, kAdminText, platform::unixTimeNow())));
      applyInputRule();
    } else {
      m_list->append(fwk::Ref<fwk::Row>(new MessageRow(message, m_list.get())));
    }
  }
  noteTime(d);
  MessageData r{};
  r.size = sizeof r;
  r.mask = MESSAGE_READ;
  r.read = 1;
  KS_SetMessageData(message, &r);
}

void ChatWindow::fillPlaceholder(HMessage* message) {
  --m_pendingHistory;
  if (m_requestedHistory > 0) --m_requestedHistory;
  int at = m_pendingHistory + (m_list->hasMoreRow() ? 1 : 0);
  if (!m_list->isWaitRow(at)) return;
  m_list->replaceRow(at, fwk::Ref<fwk::Row>(new MessageRow(message, m_list.get())));
}

void ChatWindow::requestHistory() {
  if (KS_GetVariantLong(olvaro::kConnectionStateVariant) != olvaro::kSignedIn) return;
  bool onBar = m_list->hasMoreRow() && m_list->selectedIndex() == 0;
  m_list->addWaitRow();
  // The bar keeps the selection, so Up asks again.
  if (onBar) m_list->setSelectedIndex(0);
  if (m_pendingHistory == m_requestedHistory) SetTimer(hwnd(), kHistoryTimer, kHistoryDelayMs, nullptr);
  ++m_pendingHistory;
}

LRESULT ChatWindow::onTimer(UINT_PTR id) {
  if (id != kHistoryTimer) return Control::onTimer(id);
  HubCallback fn = nullptr;
  void* user = nullptr;
  bool connectionThere = KS_GetFunctionProcAddress("Connection/RequestMessageHistory", &fn, &user) != 0;
  if (m_historyState == kIdle && m_pendingHistory <= 0) {
    // Nothing waits any more (the placeholders went with the last answer).
    KillTimer(hwnd(), kHistoryTimer);
    return 0;
  }
  if (m_historyState != kIdle || m_pendingHistory <= 0 || !connectionThere) return 0;
  m_historyState = kRequested;
  olvaro::HistoryRequest request{};
  request.count = -m_pendingHistory;
  request.target = m_peer;
  request.isGroup = m_isGroup;
  request.fromSec = m_oldest.sec;
  request.fromUsec = m_oldest.usec;
  request.onProgress = &ChatWindow::historyProgress;
  request.user = reinterpret_cast<void*>(uintptr_t(m_identity));
  if (KS_CallFunction("Connection/RequestMessageHistory", &request)) {
    m_requestedHistory = m_pendingHistory;
    m_historyTicket = ++g_lastHistoryTicket;
    KillTimer(hwnd(), kHistoryTimer);
  } else {
    // Refused: nothing will answer, so the window gives the placeholders up
    // and offers the bar again instead of waiting on a state that never ends.
    KillTimer(hwnd(), kHistoryTimer);
    m_historyState = kIdle;
    m_requestedHistory = m_pendingHistory;
    dropPlaceholders(true);
  }
  return 0;
}

void ChatWindow::historyProgress(void* user, const olvaro::Response* result) {
  auto it = liveWindows().find(uint64_t(reinterpret_cast<uintptr_t>(user)));
  if (it == liveWindows().end() || !result) return;
  it->second->historyDone(result->code);
}

void ChatWindow::historyDone(int64_t code) {
  if (code == olvaro::kResponseOk) {
    m_historyState = kReceiving;
    return;
  }
  if (code == olvaro::kResponseLost) KillTimer(hwnd(), kHistoryTimer);
  m_historyState = kIdle;
  // "Nothing older" takes the bar away even when every answer asked for
  // came (the answers counted the request down to 0).
  bool nothingOlder = code == olvaro::kResponseNothingOlder;
  if (m_requestedHistory == 0 && !nothingOlder) return;
  dropPlaceholders(!nothingOlder);
}

void ChatWindow::dropPlaceholders(bool keepMoreRow) {
  m_list->dropWaitRows(keepMoreRow);
  m_pendingHistory = 0;
  m_requestedHistory = 0;
}

void ChatWindow::onContactChanged(HContact* contact) {
  if (!m_isGroup && contact == m_peer) refreshTitleAndIcons();
  m_ownName = ownNameNow();
  InvalidateRect(m_list->hwnd(), nullptr, FALSE);
}

void ChatWindow::onServiceChanged() {
  m_ownName = ownNameNow();
  bool now = serviceSignedIn(m_service);
  if (now == m_signedIn) return;
  m_signedIn = now;
  m_list->append(fwk::Ref<fwk::Row>(
      new NoticeRow(now ? u"You have logged in." : u"You were disconnected.", kGreyText, platform::unixTimeNow())));
}

void ChatWindow::acceptInput(HWND from, HMessage* message) {
  if (!message || !(from == m_edit->hwnd() || from == m_talk->hwnd() || from == m_capture->hwnd())) return;
  int64_t now = platform::unixTimeNow();
  MessageData d{};
  d.size = sizeof d;
  d.mask = MESSAGE_TARGET | MESSAGE_ISGROUP | MESSAGE_TIME;
  d.target = m_peer;
  d.isGroup = m_isGroup;
  // Stamped with the time it was written, so the row has a time to show
  // once it is delivered.
  d.timeSec = d.localTimeSec = int32_t(now);
  KS_SetMessageData(message, &d);
  m_list->append(fwk::Ref<fwk::Row>(new MessageRow(message, m_list.get())));
  KS_SendMessageEx(message);
}

void ChatWindow::selectTab(int tab) {
  m_tabs->setSelectedIndex(tab);
  applyInputRule();
}

LRESULT ChatWindow::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kInputMessage:
      acceptInput(reinterpret_cast<HWND>(wParam), reinterpret_cast<HMessage*>(lParam));
      return 0;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lParam);
      if (hdr && hdr->hwndFrom == m_tabs->hwnd()) {
        if (hdr->code == TCN_SELCHANGE) {
          applyInputRule();
        } else if (hdr->code == TCN_KEYDOWN) {
          // Any other key on the tabs goes to the tab's input.
          auto* key = reinterpret_cast<NMTCKEYDOWN*>(lParam);
          onKey(key->wVKey, true, 1);
        }
        return 0;
      }
      break;
    }
  }
  return Control::windowProc(msg, wParam, lParam);
}

bool ChatWindow::listKey(UINT key, bool down, LPARAM repeatData) {
  if (!down) return key == VK_LEFT || key == VK_RIGHT || key == VK_ESCAPE;
  switch (key) {
    case VK_LEFT:
    case VK_RIGHT:
    case VK_ESCAPE:
      onKey(key, down, repeatData);
      return true;
    case VK_UP:
      // At the top, Up asks for older messages.
      if (m_list->selectedIndex() == 0 && m_list->hasMoreRow() && !(repeatData & (1 << 30)) &&
          KS_GetVariantLong(olvaro::kConnectionStateVariant) == olvaro::kSignedIn) {
        requestHistory();
        return true;
      }
      return false;
  }
  return false;
}

LRESULT ChatWindow::onKey(UINT key, bool down, LPARAM repeatData) {
  if (!down) return 0;
  switch (key) {
    case VK_ESCAPE:
      PostMessage(hwnd(), WM_CLOSE, 0, 0);
      return 0;
    case VK_LEFT:
    case VK_RIGHT: {
      SetFocus(m_tabs->hwnd());
      int tab = m_tabs->selectedIndex() + (key == VK_LEFT ? -1 : 1);
      if (tab >= 0 && tab < m_tabs->tabCount()) selectTab(tab);
      return 0;
    }
    case VK_UP:
      listKey(key, down, repeatData);
      return 0;
    case VK_DOWN:
      return Control::onKey(key, down, repeatData);
  }
  // Typing anywhere goes to the selected tab's input.
  HWND input = m_tabs->selectedIndex() == kTextTab    ? m_edit->hwnd()
               : m_tabs->selectedIndex() == kVoiceTab ? m_talk->hwnd()
                                                      : m_capture->hwnd();
  if (input && IsWindowEnabled(input) && IsWindowVisible(input)) {
    SetFocus(input);
    LRESULT r = SendMessage(input, WM_KEYDOWN, key, repeatData);
    // A key already let go had its release sent where the focus was: the
    // input gets it too, so a press on the tabs is a whole press.
    if (!(GetKeyState(int(key)) & 0x8000)) SendMessage(input, WM_KEYUP, key, LPARAM(0xC0000001));
    return r;
  }
  return 0;
}

LRESULT ChatWindow::onHotKey(int id, UINT modifiers, UINT key) {
  if (key == VK_TBACK) {
    SHSendBackToFocusWindow(WM_HOTKEY, WPARAM(id), MAKELPARAM(modifiers, key));
    return 0;
  }
  return Control::onHotKey(id, modifiers, key);
}

LRESULT ChatWindow::onCommand(UINT id, UINT code, HWND control) {
  switch (id) {
    case kSendCommand:
      if (IsWindowEnabled(m_edit->hwnd())) m_edit->send();
      return 0;
    case kCloseCommand:
    case kCloseCommandOk:
      PostMessage(hwnd(), WM_CLOSE, 0, 0);
      return 0;
  }
  return Control::onCommand(id, code, control);
}

LRESULT ChatWindow::onClose() {
  delete this;
  return 0;
}

LRESULT ChatWindow::onSize(UINT kind, int width, int height) {
  if (m_layout) MoveWindow(m_layout->hwnd(), 0, 0, width, height, TRUE);
  return Control::onSize(kind, width, height);
}

}  // namespace messaging
