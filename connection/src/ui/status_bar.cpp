#include "status_bar.h"

#include <algorithm>
#include <string>

#include "framework/box_layout.h"
#include "framework/fonts.h"
#include "framework/gesture.h"
#include "framework/paint.h"
#include "olvaro/connection_state.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "ui_texts.h"

namespace olvaro::conn {

namespace {

constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT kAnimationMs = 150;
constexpr COLORREF kTop = RGB(58, 84, 128);
constexpr COLORREF kBottom = RGB(24, 38, 66);
constexpr COLORREF kFirstLine = RGB(255, 255, 255);
constexpr COLORREF kSecondLine = RGB(160, 160, 160);

std::u16string presenceName(int32_t presence) {
  unsigned id = presenceTextId(presence);
  return id ? loadWideText(id) : std::u16string();
}

bool empty(const char* text) { return !text || !*text; }

}  // namespace

const char16_t* statusIconName(long state, long unread) {
  if (state == kSignedOut) return u"ORVALO_GRAY";
  if (state == kSignedIn) return unread == 0 ? u"AA_ORVALO" : u"ORVALO_YELLOW";
  return nullptr;
}

bool showsBusyIndicator(long state) {
  switch (state) {
    case kCheckingNetwork: case kConnecting: case kWaitingForProxy: case kLoggingOn: case kReceivingContacts:
    case kReceivingGroups: case kFetchingStored: case kWaitingToReconnect:
      return true;
  }
  return false;
}

// The proxy wait shows the indicator standing still.
bool animatesBusyIndicator(long state) { return state != kWaitingForProxy && showsBusyIndicator(state); }

std::u16string statusFirstLine(long state, const ServiceData& own) {
  switch (state) {
    case kSignedOut:
      return loadWideText(kStrNotConnected);
    case kCheckingNetwork:
      return loadWideText(kStrDialing);
    case kConnecting:
      return loadWideText(kStrConnecting);
    case kWaitingForProxy:
      return loadWideText(kStrConnectingViaProxy);
    case kLoggingOn:
      return loadWideText(kStrLoggingIn);
    case kReceivingContacts: case kReceivingGroups: case kFetchingStored:
      return loadWideText(kStrSynchronizing);
    case kWaitingToReconnect:
      return loadWideText(kStrReconnectPending);
    case kSignedIn: {
      std::u16string line = widen(empty(own.displayName) ? own.userName : own.displayName);
      // Asking to be signed in at all means online unless said otherwise.
      line += u" - " + presenceName(own.signInRequested < 2 ? 1 : own.signInRequested);
      return line;
    }
  }
  return u"Unknown State";
}

std::u16string statusSecondLine(long state, long unread, const ServiceData& own) {
  if (unread == 1) return loadWideText(kStrOneNewMessage);
  if (unread > 1) {
    // The count goes in by text, not printf: a translated table is no
    // format string to trust.
    std::u16string text = loadWideText(kStrNewMessages);
    std::string count = std::to_string(unread);
    size_t at = text.find(u"%d");
    if (at == std::u16string::npos) return platform::widen(count) + u" " + text;
    return text.replace(at, 2, platform::widen(count));
  }
  switch (state) {
    case kReceivingContacts:
      return loadWideText(kStrRetrievingContacts);
    case kReceivingGroups:
      return loadWideText(kStrRetrievingGroups);
    case kFetchingStored:
      return loadWideText(kStrRetrievingMessages);
    case kSignedIn:
      if (!empty(own.text24)) return widen(own.text24);
      break;
  }
  return loadWideText(kStrNoMessages);
}

RECT statusLockBox(const RECT& client) {
  int h = client.bottom - client.top;
  int size = std::max(8, h * 2 / 5), margin = std::max(2, h / 10);
  int top = client.top + h / 2 + (h - h / 2 - size) / 2;
  return RECT{client.right - margin - size, top, client.right - margin, top + size};
}

namespace {

// A padlock filling `box`: the shackle an arch of a pen an eighth as wide,
// the body a block over its lower half with the keyhole cut in the
// strip's own colour.
void drawLock(HDC dc, const RECT& box, COLORREF colour, COLORREF hole) {
  int s = box.right - box.left, stroke = std::max(1, s / 8);
  {
    fwk::ScopedSelect pen(dc, CreatePen(PS_SOLID, stroke, colour), fwk::ScopedSelect::kOwned);
    fwk::ScopedSelect brush(dc, GetStockObject(NULL_BRUSH));
    int left = box.left + s / 4, right = box.right - s / 4;
    RoundRect(dc, left, box.top + stroke / 2, right, box.top + s * 3 / 4, right - left, right - left);
  }
  RECT body{box.left + s / 8, box.top + s * 7 / 16, box.right - s / 8, box.bottom};
  HBRUSH fill = CreateSolidBrush(colour);
  FillRect(dc, &body, fill);
  DeleteObject(fill);
  int middle = (box.left + box.right) / 2, holeWidth = std::max(1, s / 8);
  int holeTop = body.top + (body.bottom - body.top) / 3;
  RECT keyhole{middle - holeWidth / 2, holeTop, middle - holeWidth / 2 + holeWidth, holeTop + std::max(2, s / 5)};
  HBRUSH cut = CreateSolidBrush(hole);
  FillRect(dc, &keyhole, cut);
  DeleteObject(cut);
}

}  // namespace

ConnectionStatusBar::ConnectionStatusBar(HWND parent, void* layout, HService* service, MenuOpener openMenu)
    : fwk::Control(nullptr, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, parent, nullptr),
      service_(service ? KS_DuplicateServiceHandle(service) : nullptr),
      openMenu_(std::move(openMenu)) {
  int height = heightForDpi(fwk::screenDpi());
  if (layout) {
    static_cast<fwk::BoxLayout*>(layout)->add(hwnd(), height);
  } else {
    RECT client{};
    GetClientRect(parent, &client);
    MoveWindow(hwnd(), 0, 0, client.right, height, TRUE);
  }
  stateWatch_ = subscribeVariant<&ConnectionStatusBar::refresh>(kConnectionStateVariant, this);
  unreadWatch_ = subscribeVariant<&ConnectionStatusBar::refresh>("messages.unread", this);
  encryptedWatch_ = subscribeVariant<&ConnectionStatusBar::refresh>(kEncryptedVariant, this);
  if (service_) serviceWatch_ = subscribeService<&ConnectionStatusBar::refresh>(service_, this);
  refresh();
}

ConnectionStatusBar::~ConnectionStatusBar() {
  stateWatch_.reset();
  unreadWatch_.reset();
  encryptedWatch_.reset();
  serviceWatch_.reset();
  if (timerRunning_) KillTimer(hwnd(), kAnimationTimer);
  for (auto& [key, icon] : icons_) DestroyIcon(icon);
  if (service_) KS_ReleaseService(service_);
}

void ConnectionStatusBar::refresh() {
  bool animate = animatesBusyIndicator(KS_GetVariantLong(kConnectionStateVariant));
  if (animate && !timerRunning_) {
    timerRunning_ = SetTimer(hwnd(), kAnimationTimer, kAnimationMs, nullptr) != 0;
  } else if (!animate && timerRunning_) {
    KillTimer(hwnd(), kAnimationTimer);
    timerRunning_ = false;
  }
  InvalidateRect(hwnd(), nullptr, FALSE);
}

LRESULT ConnectionStatusBar::onTimer(UINT_PTR id) {
  if (id != kAnimationTimer) return 0;
  ++ticks_;
  InvalidateRect(hwnd(), nullptr, FALSE);
  return 0;
}

LRESULT ConnectionStatusBar::onEraseBackground(HDC) { return 1; }

// Enter (the key and its character are both 13) is ours: it opens the menu.
LRESULT ConnectionStatusBar::onGetDlgCode(UINT key, MSG*) { return key == VK_RETURN ? DLGC_WANTMESSAGE : 0; }

LRESULT ConnectionStatusBar::onKey(UINT key, bool down, LPARAM repeatData) {
  if (key == VK_RETURN) {
    if (down && openMenu_) openMenu_(5, 5);
    return 0;
  }
  return fwk::Control::onKey(key, down, repeatData);
}

LRESULT ConnectionStatusBar::onStylusDown(bool, int x, int y) {
  if (fwk::recognizeTapAndHold(hwnd(), x, y) && openMenu_) {
    POINT at{x, y};
    ClientToScreen(hwnd(), &at);
    openMenu_(at.x, at.y);
  }
  return 0;
}

LRESULT ConnectionStatusBar::onContextMenu(int x, int y) {
  if (!openMenu_) return 0;
  if (x == -1 && y == -1) {
    openMenu_(5, 5);
  } else {
    openMenu_(x, y);
  }
  return 0;
}

LRESULT ConnectionStatusBar::onPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT client;
  GetClientRect(hwnd(), &client);
  {
    fwk::MemoryDC mem(dc, client.right, client.bottom);
    if (mem) {
      paint(mem.dc(), client);
      mem.copyTo(ps.rcPaint);
    }
  }
  EndPaint(hwnd(), &ps);
  return 0;
}

void ConnectionStatusBar::paint(HDC dc, const RECT& client) {
  fwk::fillVerticalGradient(dc, client, kTop, kBottom);
  long state = KS_GetVariantLong(kConnectionStateVariant);
  long unread = KS_GetVariantLong("messages.unread");
  ServiceData own{};
  own.size = sizeof own;
  if (service_) KS_GetServiceData(service_, &own);

  int h = client.bottom - client.top;
  int size = h > 64 ? 64 : h > 32 ? 32 : 16;
  int offset = (h - size) / 2;
  if (const char16_t* name = statusIconName(state, unread)) {
    if (HICON i = icon(name, size)) DrawIconEx(dc, offset, offset + 1, i, size, size, 0, nullptr, DI_NORMAL);
  } else if (showsBusyIndicator(state)) {
    fwk::drawBusyIndicator(dc, offset, offset + 1, size, ticks_);
  }

  int dpi = fwk::screenDpi();
  RECT text{h, client.top + 2 + dpi / 20, client.right, client.bottom};
  fwk::SavedDC saved(dc);
  SetBkMode(dc, TRANSPARENT);
  const UINT format = DT_SINGLELINE | DT_LEFT | DT_NOPREFIX | DT_END_ELLIPSIS;
  std::u16string first = statusFirstLine(state, own);
  SelectObject(dc, fwk::boldFont());
  SetTextColor(dc, kFirstLine);
  RECT measured = text;
  DrawText(dc, first.c_str(), -1, &measured, format | DT_CALCRECT);
  DrawText(dc, first.c_str(), -1, &text, format);
  text.top += (measured.bottom > measured.top ? measured.bottom - measured.top : dpi / 9);
  // A lock rather than a word: the strip is narrow, and a word there cut
  // the status text short.
  if (state == kSignedIn && KS_GetVariantLong(kEncryptedVariant) != 0) {
    RECT lock = statusLockBox(client);
    drawLock(dc, lock, kSecondLine, kBottom);
    text.right = lock.left - (client.right - lock.right);
  }
  std::u16string second = statusSecondLine(state, unread, own);
  SelectObject(dc, fwk::regularFont());
  SetTextColor(dc, kSecondLine);
  DrawText(dc, second.c_str(), -1, &text, format);
}

HICON ConnectionStatusBar::icon(const char16_t* name, int size) {
  auto key = std::make_pair(std::u16string(name), size);
  auto found = icons_.find(key);
  if (found != icons_.end()) return found->second;
  auto loaded = static_cast<HICON>(LoadImage(platform::currentModule(), name, IMAGE_ICON, size, size, 0));
  if (loaded) icons_[key] = loaded;
  return loaded;
}

}  // namespace olvaro::conn
