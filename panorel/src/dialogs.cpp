#include "dialogs.h"

#include <unordered_map>

#include "framework/fonts.h"
#include "framework/paint.h"
#include "framework/phone_dialog.h"
#include "olvaro/hub_records.h"
#include "olvaro/registrations.h"
#include "platform/controls.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/msgbox.h"
#include "platform/phoneshell.h"
#include "platform/resources.h"
#include "texts.h"

namespace panorel {

namespace {

constexpr UINT kCommandAction = 1;
constexpr UINT kCommandClose = 2;
constexpr UINT_PTR kBusyTimer = 1;
constexpr int kBusyWidth = 128, kBusyHeight = 32;
constexpr UINT kMenuOkCancel = 105;
constexpr UINT kMenuOk = 104;
constexpr int kGroupNameLimit = 128;
constexpr int kPasswordLimit = 128;
int margin() { return fwk::screenDpi() * 4 / 96; }

std::unordered_map<uint32_t, PanelDialog*>& liveDialogs() {
  static std::unordered_map<uint32_t, PanelDialog*> live;
  return live;
}
uint32_t g_nextTicket = 1;

uint32_t lowWord(int64_t code) { return uint32_t(uint64_t(code) & 0xffffffffu); }
uint32_t highWord(int64_t code) { return uint32_t(uint64_t(code) >> 32); }

// How a service is labelled: its type's short name; the service's own
// network has no type.
std::u16string serviceTypeName(HServiceType* type) {
  if (!type) return u"Olvaro";
  ServiceTypeData t{};
  t.size = sizeof t;
  KS_GetServiceTypeData(type, &t);
  return widen(t.shortName);
}

}  // namespace

// ---- BusyAnimation -------------------------------------------------------

BusyAnimation::BusyAnimation(HWND parent)
    : fwk::Control(nullptr, u"", WS_CHILD, 0, 0, kBusyWidth, kBusyHeight, parent, nullptr) {}

void BusyAnimation::start() {
  ShowWindow(hwnd(), SW_SHOW);
  SetTimer(hwnd(), kBusyTimer, kStepMs, nullptr);
}

void BusyAnimation::stop() {
  KillTimer(hwnd(), kBusyTimer);
  ShowWindow(hwnd(), SW_HIDE);
}

LRESULT BusyAnimation::onTimer(UINT_PTR id) {
  if (id != kBusyTimer) return fwk::Control::onTimer(id);
  ++m_tick;
  InvalidateRect(hwnd(), nullptr, FALSE);
  return 0;
}

LRESULT BusyAnimation::onPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT client;
  GetClientRect(hwnd(), &client);
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
  FillRect(dc, &client, white);
  DeleteObject(white);
  int size = client.bottom - client.top;
  fwk::drawBusyIndicator(dc, (client.right - client.left - size) / 2, 0, size, m_tick, PanelDialog::kCaptionBand,
                         RGB(200, 205, 215));
  EndPaint(hwnd(), &ps);
  return 0;
}

// ---- PanelDialog ---------------------------------------------------------

int PanelDialog::captionHeight() { return fwk::screenDpi() * 2 / 5; }

PanelDialog::PanelDialog(LPCWSTR title, UINT menuBarId, unsigned captionId)
    : fwk::Control(nullptr, title, WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                   mainWindow(), nullptr),
      m_captionId(captionId),
      m_caption(text(captionId)),
      m_ticket(g_nextTicket++) {
  liveDialogs()[m_ticket] = this;
  m_menuBar = fwk::initPhoneDialog(hwnd(), menuBarId, platform::currentModule());
  m_captionFont = fwk::createFont(u"Tahoma", 110, FW_NORMAL);
  m_white = CreateSolidBrush(RGB(255, 255, 255));
  m_busy = std::make_unique<BusyAnimation>(hwnd());
  m_waitingText = CreateWindowEx(0, WC_STATIC, u"", WS_CHILD | SS_CENTER, 0, 0, 10, 10, hwnd(), nullptr, nullptr,
                                 nullptr);
  m_bodyText = CreateWindowEx(0, WC_STATIC, u"", WS_CHILD | SS_LEFT, 0, 0, 10, 10, hwnd(), nullptr, nullptr, nullptr);
  for (HWND w : {m_waitingText, m_bodyText}) SendMessage(w, WM_SETFONT, reinterpret_cast<WPARAM>(fwk::smallFont()), 0);
}

PanelDialog::~PanelDialog() {
  liveDialogs().erase(m_ticket);
  m_busy.reset();
  if (m_captionFont) DeleteObject(m_captionFont);
  if (m_white) DeleteObject(m_white);
}

PanelDialog* PanelDialog::fromTicket(void* context) {
  auto found = liveDialogs().find(uint32_t(reinterpret_cast<uintptr_t>(context)));
  return found == liveDialogs().end() ? nullptr : found->second;
}

void PanelDialog::resultCallback(void* context, const olvaro::Response* response) {
  // A request that was never answered counts as a lost connection.
  if (PanelDialog* self = fromTicket(context)) self->onResult(response ? response->code : olvaro::kResponseLost);
}

void PanelDialog::bringUp() {
  if (finishedState(m_state)) {
    for (const Field& f : m_fields)
      if (f.clearable) SetWindowText(f.input, u"");
    setCaptionId(m_captionId);
    setState(kInput);
  }
  onOpen();
  ShowWindow(hwnd(), SW_SHOW);
  SetForegroundWindow(hwnd());
  place();
  if (!m_fields.empty() && m_state != kWaiting) SetFocus(m_fields.front().input);
}

void PanelDialog::close() {
  m_busy->stop();
  ShowWindow(hwnd(), SW_HIDE);
}

bool PanelDialog::isShown() const { return IsWindowVisible(hwnd()) != FALSE; }

LRESULT PanelDialog::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_HOTKEY && HIWORD(lParam) == VK_TBACK) {
    SHSendBackToFocusWindow(msg, wParam, lParam);
    return 0;
  }
  return fwk::Control::windowProc(msg, wParam, lParam);
}

HWND PanelDialog::addField(LPCWSTR label, LPCWSTR inputClass, DWORD style) {
  HWND l = CreateWindowEx(0, WC_STATIC, label, WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 10, 10, hwnd(),
                          reinterpret_cast<HMENU>(uintptr_t(m_nextId++)), nullptr, nullptr);
  HWND input = CreateWindowEx(0, inputClass, u"", WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd(),
                              reinterpret_cast<HMENU>(uintptr_t(m_nextId++)), nullptr, nullptr);
  for (HWND w : {l, input}) SendMessage(w, WM_SETFONT, reinterpret_cast<WPARAM>(fwk::smallFont()), 0);
  bool clearable = std::u16string(inputClass) == WC_EDIT && !(style & ES_READONLY);
  m_fields.push_back({l, input, clearable});
  place();
  return input;
}

void PanelDialog::setCaption(std::u16string caption) {
  m_caption = std::move(caption);
  RECT band{0, 0, 10000, captionHeight()};
  InvalidateRect(hwnd(), &band, FALSE);
}

void PanelDialog::setCaptionId(unsigned id) { setCaption(text(id)); }

void PanelDialog::setState(int state) {
  m_state = state;
  if (state == kWaiting)
    m_busy->start();
  else
    m_busy->stop();
  setLeftKey(finishedState(state) ? text(kStrFinish) : std::u16string(u"OK"));
  place();
}

void PanelDialog::wait(unsigned captionId, unsigned waitingTextId) {
  setCaptionId(captionId);
  SetWindowText(m_waitingText, text(waitingTextId).c_str());
  setState(kWaiting);
}

void PanelDialog::finish(unsigned captionId, unsigned bodyTextId, int finishedState) {
  setCaptionId(captionId);
  m_body = text(bodyTextId);
  SetWindowText(m_bodyText, m_body.c_str());
  setState(finishedState);
}

void PanelDialog::refuse(LPCWSTR message, LPCWSTR title) {
  MessageBox(hwnd(), message, title, MB_OK | MB_ICONEXCLAMATION);
}

std::string PanelDialog::inputText(HWND input, int limit) {
  std::u16string buffer(size_t(limit) + 1, u'\0');
  int length = GetWindowText(input, buffer.data(), limit + 1);
  buffer.resize(length > 0 ? size_t(length) : 0);
  return narrow(buffer);
}

std::u16string PanelDialog::leftKeyText() const {
  char16_t buffer[64] = {};
  TBBUTTONINFO info{};
  info.cbSize = sizeof info;
  info.dwMask = TBIF_TEXT;
  info.pszText = buffer;
  info.cchText = 63;
  if (!m_menuBar || SendMessage(m_menuBar, TB_GETBUTTONINFO, kCommandAction, reinterpret_cast<LPARAM>(&info)) < 0)
    return u"";
  return buffer;
}

void PanelDialog::setLeftKey(const std::u16string& label) {
  if (!m_menuBar) return;
  std::u16string copy = label;
  TBBUTTONINFO info{};
  info.cbSize = sizeof info;
  info.dwMask = TBIF_TEXT;
  info.pszText = copy.data();
  info.cchText = int(copy.size());
  SendMessage(m_menuBar, TB_SETBUTTONINFO, kCommandAction, reinterpret_cast<LPARAM>(&info));
}

LRESULT PanelDialog::onCommand(UINT id, UINT, HWND) {
  // The fields' ids start at 100, clear of the soft keys' commands.
  if (id == kCommandClose) {
    close();
  } else if (id == kCommandAction) {
    if (finishedState(m_state))
      close();
    else if (m_state != kWaiting)
      onAction();
  }
  return 0;
}

LRESULT PanelDialog::onClose() {
  close();
  return 0;
}

LRESULT PanelDialog::onSize(UINT, int, int) {
  place();
  return 0;
}

LRESULT PanelDialog::onCtlColorStatic(HDC dc, HWND) {
  SetBkColor(dc, RGB(255, 255, 255));
  return reinterpret_cast<LRESULT>(m_white);
}

LRESULT PanelDialog::onPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT client;
  GetClientRect(hwnd(), &client);
  RECT band = client;
  band.bottom = captionHeight();
  RECT body = client;
  body.top = band.bottom;
  HBRUSH bandBrush = CreateSolidBrush(kCaptionBand);
  FillRect(dc, &band, bandBrush);
  DeleteObject(bandBrush);
  FillRect(dc, &body, m_white);
  {
    fwk::SavedDC saved(dc);
    SelectObject(dc, m_captionFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT text = band;
    InflateRect(&text, -margin(), 0);
    DrawText(dc, m_caption.c_str(), int(m_caption.size()), &text,
             DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  EndPaint(hwnd(), &ps);
  return 0;
}

void PanelDialog::place() {
  RECT client;
  GetClientRect(hwnd(), &client);
  int m = margin(), dpi = fwk::screenDpi();
  int width = client.right - client.left - 2 * m;
  int y = captionHeight() + m;
  bool inputs = m_state != kWaiting && !finishedState(m_state);
  for (size_t i = 0; i < m_fields.size(); ++i) {
    bool shown = inputs && fieldShown(i);
    ShowWindow(m_fields[i].label, shown ? SW_SHOW : SW_HIDE);
    ShowWindow(m_fields[i].input, shown ? SW_SHOW : SW_HIDE);
    if (!shown) continue;
    int labelHeight = dpi * 18 / 96, inputHeight = dpi * 22 / 96;
    MoveWindow(m_fields[i].label, m, y, width, labelHeight, TRUE);
    y += labelHeight;
    MoveWindow(m_fields[i].input, m, y, width, inputHeight, TRUE);
    y += inputHeight + m;
  }
  if (m_state == kWaiting) {
    MoveWindow(m_busy->hwnd(), (client.right - kBusyWidth) / 2, y, kBusyWidth, kBusyHeight, TRUE);
    y += kBusyHeight + m;
    MoveWindow(m_waitingText, m, y, width, dpi * 18 / 96, TRUE);
    ShowWindow(m_waitingText, SW_SHOW);
  } else {
    ShowWindow(m_waitingText, SW_HIDE);
  }
  bool finished = finishedState(m_state);
  if (finished) MoveWindow(m_bodyText, m, y, width, std::max(0, int(client.bottom) - y - m), TRUE);
  ShowWindow(m_bodyText, finished ? SW_SHOW : SW_HIDE);
  InvalidateRect(hwnd(), nullptr, FALSE);
}

// ---- Add a Contact -------------------------------------------------------

AddContactDialog::AddContactDialog() : PanelDialog(u"Add a Contact", kMenuOkCancel, kStrChooseContact) {
  m_services = addField(u"Contact Service:", WC_COMBOBOX, WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
  m_userName = addField(text(kStrContactUsername).c_str(), WC_EDIT, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL);
  SendMessage(m_userName, EM_LIMITTEXT, kUserNameLimit, 0);
}

AddContactDialog::~AddContactDialog() { releaseServices(); }

void AddContactDialog::releaseServices() {
  for (HService* s : m_serviceHandles) KS_ReleaseService(s);
  m_serviceHandles.clear();
}

void AddContactDialog::onOpen() {
  releaseServices();
  SendMessage(m_services, CB_RESETCONTENT, 0, 0);
  HService* services[kMaxServices] = {};
  int count = kMaxServices;
  KS_GetServices(services, &count);
  for (int i = 0; i < count && i < kMaxServices; ++i) {
    ServiceData d{};
    d.size = sizeof d;
    KS_GetServiceData(services[i], &d);
    std::u16string entry = serviceTypeName(d.type) + u" - " + widen(d.userName);
    SendMessage(m_services, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    m_serviceHandles.push_back(services[i]);
  }
  SendMessage(m_services, CB_SETCURSEL, 0, 0);
}

void AddContactDialog::onAction() {
  LRESULT chosen = SendMessage(m_services, CB_GETCURSEL, 0, 0);
  HService* service =
      chosen >= 0 && size_t(chosen) < m_serviceHandles.size() ? m_serviceHandles[size_t(chosen)] : nullptr;
  std::string function = olvaro::handleName("Service/%p/AddContact", service);
  if (!service || !KS_GetFunctionProcAddress(function.c_str(), nullptr, nullptr)) {
    refuse(u"This service does not support this function.", u"Unsupported");
    return;
  }
  ServiceData d{};
  d.size = sizeof d;
  KS_GetServiceData(service, &d);
  if (d.state == 0) {
    refuse(u"You are not currently connected to this service.", u"Not Connected");
    return;
  }
  std::string userName = inputText(m_userName, kUserNameLimit);
  if (userName.empty()) {
    refuse(u"You did not enter a username.", u"Add Contact");
    return;
  }
  wait(kStrPleaseWait, kStrPleaseWait);
  olvaro::AddContactRequest request{sizeof request, userName.c_str(), kAddContactMessage, &PanelDialog::resultCallback,
                                    ticket()};
  // A request that could not even be sent has no answer coming.
  if (!KS_CallFunction(function.c_str(), &request) && state() == kWaiting) onResult(olvaro::kResponseLost);
}

void AddContactDialog::onResult(int64_t code) {
  if (state() != kWaiting) return;
  if (code == olvaro::kResponseOk) {
    finish(kStrContactAdded, kStrContactAddedBody);
    return;
  }
  if (code == olvaro::kResponseNoSuch)
    setCaptionId(kStrNoSuchUser);
  else if (code == olvaro::kResponseAlreadyListed)
    setCaptionId(kStrContactExists);
  else if (code == olvaro::kResponseLost)
    setCaptionId(kStrDisconnected);
  setState(kInput);
}

// ---- Contact Properties --------------------------------------------------

ContactPropertiesDialog::ContactPropertiesDialog() : PanelDialog(u"Contact Properties", kMenuOk, 0) {
  DWORD style = WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL;
  m_nickname = addField(u"Nickname:", WC_EDIT, style);
  m_status = addField(u"Status Message:", WC_EDIT, style);
  m_userId = addField(u"Service/User ID:", WC_EDIT, style);
}

void ContactPropertiesDialog::fill(HContact* contact) {
  ContactData d = olvaro::contactData(contact);
  std::u16string nickname = widen(d.nickname);
  SetWindowText(hwnd(), nickname.c_str());
  setCaption(nickname);
  SetWindowText(m_nickname, nickname.c_str());
  SetWindowText(m_status, d.status && *d.status ? widen(d.status).c_str() : u"None");
  ServiceData s{};
  s.size = sizeof s;
  if (d.service) KS_GetServiceData(d.service, &s);
  std::u16string id = serviceTypeName(s.type) + u": ";
  id += d.name && *d.name ? widen(d.name) : widen(std::to_string(int32_t(d.id)).c_str());
  SetWindowText(m_userId, id.c_str());
}

// ---- Create a Group ------------------------------------------------------

CreateGroupDialog::CreateGroupDialog() : PanelDialog(u"Create a Group", kMenuOkCancel, kStrNameGroup) {
  m_name = addField(u"Group Name:", WC_EDIT, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL);
  SendMessage(m_name, EM_LIMITTEXT, kGroupNameLimit, 0);
}

void CreateGroupDialog::onAction() {
  std::string name = inputText(m_name, kGroupNameLimit);
  if (name.empty()) {
    refuse(u"You did not enter a group name.", u"Create Group");
    return;
  }
  wait(kStrGroupBeingCreated, kStrGroupBeingCreated);
  olvaro::GroupCreateRequest request{sizeof request, name.c_str(), &PanelDialog::resultCallback, ticket()};
  if (!KS_CallFunction("orvaloGroupCreate", &request) && state() == kWaiting) onResult(olvaro::kResponseLost);
}

void CreateGroupDialog::onResult(int64_t code) {
  if (state() != kWaiting) return;
  if (code == olvaro::kResponseOk) {
    finish(kStrGroupCreated, kStrGroupCreatedBody);
    return;
  }
  if (highWord(code) == 0 && lowWord(code) == olvaro::kResponseTaken)
    setCaptionId(kStrGroupInUse);
  else if (highWord(code) == 0 && lowWord(code) == olvaro::kResponseLost)
    setCaptionId(kStrCreateDisconnected);
  setState(kInput);
}

// ---- Join a Group --------------------------------------------------------

JoinGroupDialog::JoinGroupDialog() : PanelDialog(u"Join a Group", kMenuOkCancel, kStrChooseGroup) {
  m_name = addField(u"Group Name:", WC_EDIT, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL);
  m_password = addField(u"Password:", WC_EDIT, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | ES_PASSWORD);
  SendMessage(m_name, EM_LIMITTEXT, kGroupNameLimit, 0);
  SendMessage(m_password, EM_LIMITTEXT, kPasswordLimit, 0);
}

void JoinGroupDialog::onAction() {
  std::string name = inputText(m_name, kGroupNameLimit);
  if (name.empty()) {
    refuse(u"You did not enter a group name.", u"Join Group");
    return;
  }
  // The field is asked for only after a refusal; until then the password
  // is empty, never missing.
  std::string password = state() == kInputWithPassword ? inputText(m_password, kPasswordLimit) : std::string();
  wait(kStrJoinWait, kStrJoining);
  olvaro::GroupJoinRequest request{sizeof request, name.c_str(), password.c_str(), &PanelDialog::resultCallback,
                                   ticket()};
  if (!KS_CallFunction("orvaloGroupSubscribe", &request) && state() == kWaiting) onResult(olvaro::kResponseLost);
}

void JoinGroupDialog::onResult(int64_t code) {
  if (state() != kWaiting) return;
  if (code == olvaro::kResponseOk) {
    finish(kStrGroupJoined, kStrGroupJoinedBody, kJoinFinished);
    return;
  }
  if (highWord(code) == 0) {
    switch (lowWord(code)) {
      case olvaro::kResponseNoSuch:
        setCaptionId(kStrNoSuchGroup);
        break;
      case olvaro::kResponseTaken:
        setCaptionId(kStrAlreadyInGroup);
        break;
      case olvaro::kResponseDenied:
        setCaptionId(kStrAccessDenied);
        break;
      case olvaro::kResponseLost:
        setCaptionId(kStrJoinDisconnected);
        break;
      default:
        break;
    }
  }
  setState(highWord(code) == 0 && lowWord(code) == olvaro::kResponseDenied ? kInputWithPassword : kInput);
  if (state() == kInputWithPassword) SetFocus(m_password);
}

// ---- DialogSet -----------------------------------------------------------

namespace {
DialogSet* g_dialogs = nullptr;
}

DialogSet::DialogSet() { g_dialogs = this; }

DialogSet::~DialogSet() {
  if (g_dialogs == this) g_dialogs = nullptr;
}

DialogSet* DialogSet::current() { return g_dialogs; }

AddContactDialog& DialogSet::addContact() {
  if (!m_addContact) m_addContact = std::make_unique<AddContactDialog>();
  return *m_addContact;
}

ContactPropertiesDialog& DialogSet::properties() {
  if (!m_properties) m_properties = std::make_unique<ContactPropertiesDialog>();
  return *m_properties;
}

CreateGroupDialog& DialogSet::createGroup() {
  if (!m_createGroup) m_createGroup = std::make_unique<CreateGroupDialog>();
  return *m_createGroup;
}

JoinGroupDialog& DialogSet::joinGroup() {
  if (!m_joinGroup) m_joinGroup = std::make_unique<JoinGroupDialog>();
  return *m_joinGroup;
}

void DialogSet::showProperties(HContact* contact) {
  ContactPropertiesDialog& dialog = properties();
  dialog.fill(contact);
  dialog.bringUp();
}

}  // namespace panorel
