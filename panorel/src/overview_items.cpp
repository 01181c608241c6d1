#include "overview_items.h"

#include "framework/fonts.h"
#include "olvaro/connection_calls.h"
#include "olvaro/connection_state.h"
#include "olvaro/hub_records.h"
#include "olvaro/registrations.h"
#include "platform/bitmap.h"
#include "platform/menu.h"
#include "texts.h"

namespace panorel {

namespace {

int iconSizeForDpi() { return fwk::screenDpi() / 4 <= 32 ? 16 : 32; }

}  // namespace

bool chooseSingleItem(const std::u16string& label, int x, int y) {
  HMENU menu = CreatePopupMenu();
  AppendMenu(menu, MF_STRING, 1, label.c_str());
  return trackMenu(menu, x, y) == 1;
}

void StatusHeaderRow::update() {
  long state = KS_GetVariantLong(olvaro::kConnectionStateVariant);
  int size = iconSizeForDpi();
  if (state == olvaro::kSignedOut) {
    setTitle(u"Not Connected");
    setText(u"Tap here to sign in.");
    setIcon(moduleIcon(u"ORVALO_GRAY", size));
  } else if (state == olvaro::kSignedIn) {
    HService* primary = KS_GetPrimaryService();
    ServiceData d{};
    d.size = sizeof d;
    KS_GetServiceData(primary, &d);
    std::u16string title = widen(d.displayName);
    unsigned word = 0;
    if (d.signInRequested == 0 || d.signInRequested == 1)
      word = kStrOnline;
    else if (d.signInRequested == 2)
      word = kStrAway;
    else if (d.signInRequested == 5)
      word = kStrBusy;
    if (word) title += u" - " + panorel::text(word);
    setTitle(std::move(title));
    setText(widen(d.userName));
    KS_ReleaseService(primary);
    setIcon(moduleIcon(u"AA_ORVALO", size));
  } else {
    setTitle(u"Signing In");
    setText(u"You are being connected.");
    setIcon(moduleIcon(u"MISSINGARTWORK", size));
  }
}

void StatusHeaderRow::paint(HDC dc, const RECT& rect) {
  update();
  fwk::TwoLineRow::paint(dc, rect);
}

void StatusHeaderRow::activate() {
  int32_t presence = KS_GetVariantLong(olvaro::kConnectionStateVariant) != olvaro::kSignedIn ? 1 : 0;
  KS_CallFunction("Connection/SetPresenceStatus", &presence);
}

void StatusHeaderRow::contextMenu(int x, int y) {
  HService* primary = KS_GetPrimaryService();
  std::string create = olvaro::handleName("Service/%p/CreatePopupMenu", primary);
  std::string handle = olvaro::handleName("Service/%p/HandlePopupMenu", primary);
  KS_ReleaseService(primary);
  HMENU menu = reinterpret_cast<HMENU>(uintptr_t(KS_CallFunction(create.c_str(), nullptr)));
  if (!menu) return;
  UINT chosen = trackMenu(menu, x, y);
  KS_CallFunction(handle.c_str(), reinterpret_cast<void*>(uintptr_t(chosen)));
}

UnreadContactRow::UnreadContactRow(HContact* contact)
    : fwk::TwoLineRow(u"", u"", moduleIcon(u"MESSAGE_UNREAD", iconSizeForDpi())),
      m_contact(KS_DuplicateContactHandle(contact)) {
  update();
}

UnreadContactRow::~UnreadContactRow() { KS_ReleaseContact(m_contact); }

void UnreadContactRow::update() {
  ContactData d = olvaro::contactData(m_contact);
  setTitle(widen(d.nickname));
  int count = KS_GetUnreadMessageCount(m_contact, 0);
  setText(withCount(count < 2 ? u"%d Private Message" : u"%d Private Messages", count));
}

void UnreadContactRow::paint(HDC dc, const RECT& rect) {
  update();
  fwk::TwoLineRow::paint(dc, rect);
}

void UnreadContactRow::activate() { KS_EventRaise("messaging.chat.contact", m_contact); }

void UnreadContactRow::contextMenu(int x, int y) {
  if (chooseSingleItem(u"View Messages", x, y)) activate();
}

UnreadGroupRow::UnreadGroupRow(HGroup* group)
    : fwk::TwoLineRow(u"", u"", moduleIcon(u"MESSAGE_UNREAD", iconSizeForDpi())),
      m_group(KS_DuplicateGroupHandle(group)) {
  update();
}

UnreadGroupRow::~UnreadGroupRow() { KS_ReleaseGroup(m_group); }

void UnreadGroupRow::update() {
  GroupData d{};
  d.size = sizeof d;
  KS_GetGroupData(m_group, &d);
  setTitle(panorel::text(kStrGroup) + u": " + widen(d.name));
  int count = KS_GetUnreadMessageCount(m_group, 1);
  setText(withCount(count < 2 ? u"%d Group Message" : u"%d Group Messages", count));
}

void UnreadGroupRow::paint(HDC dc, const RECT& rect) {
  update();
  fwk::TwoLineRow::paint(dc, rect);
}

void UnreadGroupRow::activate() { KS_EventRaise("messaging.chat.group", m_group); }

void UnreadGroupRow::contextMenu(int x, int y) {
  if (chooseSingleItem(u"View Messages", x, y)) activate();
}

NoUnreadRow::NoUnreadRow()
    : fwk::TwoLineRow(panorel::text(kStrNoUnread), panorel::text(kStrNoUnreadText), moduleIcon(u"MESSAGE_NONE", iconSizeForDpi())) {}

StaticItemRow::StaticItemRow(const char* title, const char* text, HMODULE iconModule, LPCWSTR iconResource)
    : fwk::TwoLineRow(widen(title), widen(text)) {
  setIcon(iconModule, iconResource);
}

StaticItemRow::~StaticItemRow() {
  if (m_ownIcon) DestroyIcon(m_ownIcon);
}

void StaticItemRow::setIcon(HMODULE iconModule, LPCWSTR iconResource) {
  if (!iconModule || !iconResource) return;
  int size = iconSizeForDpi();
  HICON icon = static_cast<HICON>(LoadImage(iconModule, iconResource, IMAGE_ICON, size, size, 0));
  if (m_ownIcon) DestroyIcon(m_ownIcon);
  m_ownIcon = icon;
  fwk::TwoLineRow::setIcon(icon);
}

void StaticItemRow::contextMenu(int x, int y) {
  olvaro::OverviewContextMenuInfo info{this, x, y};
  KS_EventRaise("Overview/Item/OnContextMenu", &info);
}

}  // namespace panorel
