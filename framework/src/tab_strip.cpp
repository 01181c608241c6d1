#include "framework/tab_strip.h"

#include <algorithm>

#include "framework/fonts.h"
#include "framework/paint.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"

namespace fwk {

namespace {

constexpr int kTextPadding = 15;
constexpr COLORREF kStripBackground = RGB(196, 204, 216);
constexpr COLORREF kTabTop = RGB(226, 230, 236);
constexpr COLORREF kTabBottom = RGB(186, 194, 208);
constexpr COLORREF kSelectedTop = RGB(255, 255, 255);
constexpr COLORREF kSelectedBottom = RGB(246, 242, 236);
constexpr COLORREF kBorder = RGB(128, 138, 156);

}  // namespace

// ---- TabItem ---------------------------------------------------------------

TabItem::TabItem(std::u16string text) { addText(std::move(text)); }

TabItem::TabItem(HICON icon, int iconSize, std::u16string text) {
  addIcon(icon, iconSize);
  if (!text.empty()) addText(std::move(text));
}

void TabItem::addIcon(HICON icon, int iconSize) {
  Part p;
  p.icon = icon;
  p.iconSize = std::max(0, iconSize);
  m_parts.push_back(std::move(p));
  m_width = -1;
}

void TabItem::addText(std::u16string text) {
  Part p;
  p.text = std::move(text);
  m_parts.push_back(std::move(p));
  m_width = -1;
}

std::u16string TabItem::text() const {
  for (const Part& p : m_parts)
    if (!p.icon && p.iconSize == 0) return p.text;
  return std::u16string();
}

void TabItem::setText(std::u16string text) {
  for (Part& p : m_parts)
    if (!p.icon && p.iconSize == 0) {
      p.text = std::move(text);
      m_width = -1;
      return;
    }
  addText(std::move(text));
}

namespace {

int partWidth(HDC dc, const std::u16string& text, HICON icon, int iconSize) {
  if (icon || iconSize > 0) return iconSize * 3 / 2;
  SIZE size{0, 0};
  if (!text.empty()) GetTextExtentPoint32(dc, text.c_str(), int(text.size()), &size);
  return size.cx + kTextPadding;
}

}  // namespace

int TabItem::width(HDC dc) const {
  int w = 0;
  for (const Part& p : m_parts) w += partWidth(dc, p.text, p.icon, p.iconSize);
  return w;
}

int TabItem::measuredWidth(HDC dc) const {
  if (m_width < 0) m_width = width(dc);
  return m_width;
}

void TabItem::paintParts(HDC dc, const RECT& rect) const {
  int x = rect.left;
  for (const Part& p : m_parts) {
    int w = partWidth(dc, p.text, p.icon, p.iconSize);
    if (p.icon || p.iconSize > 0) {
      if (p.icon)
        DrawIconEx(dc, x + (w - p.iconSize) / 2, (rect.top + rect.bottom - p.iconSize) / 2, p.icon, p.iconSize,
                   p.iconSize, 0, nullptr, DI_NORMAL);
    } else {
      RECT r{x, rect.top, x + w, rect.bottom};
      DrawText(dc, p.text.c_str(), int(p.text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    x += w;
  }
}

bool TabItem::onKey(UINT) { return false; }

void TabItem::onStylusDown(bool, int, int) {}

// ---- TabStrip --------------------------------------------------------------

TabStrip::TabStrip(HWND parent, DWORD style, int x, int y, int width, int height, UINT id)
    : Control(nullptr, u"", style, x, y, width, height, parent, nullptr, 0, id) {
  setTakesFocusOnTap(true);
}

TabStrip::~TabStrip() = default;

int TabStrip::addTab(std::unique_ptr<TabItem> item) {
  if (!item) return -1;
  m_items.push_back(std::move(item));
  if (m_selected < 0) m_selected = 0;
  layoutTabs();
  InvalidateRect(hwnd(), nullptr, FALSE);
  return tabCount() - 1;
}

void TabStrip::removeTab(int i) {
  if (i < 0 || i >= tabCount()) return;
  m_items.erase(m_items.begin() + i);
  bool selectedGone = i == m_selected;
  if (i < m_selected) --m_selected;
  if (m_items.empty()) {
    m_selected = -1;
  } else {
    m_selected = std::clamp(m_selected, 0, tabCount() - 1);
  }
  layoutTabs();
  if (m_selected >= 0) scrollIntoView(m_selected);
  InvalidateRect(hwnd(), nullptr, FALSE);
  // Another tab now shows: the parent must switch what it displays.
  if (selectedGone && m_selected >= 0) notify(TCN_SELCHANGE);
}

std::vector<std::unique_ptr<TabItem>> TabStrip::takeTabs() {
  std::vector<std::unique_ptr<TabItem>> items = std::move(m_items);
  m_items.clear();
  m_rects.clear();
  m_selected = -1;
  return items;
}

void TabStrip::setTabs(std::vector<std::unique_ptr<TabItem>> items, int selected) {
  std::erase(items, nullptr);
  m_items = std::move(items);
  m_selected = m_items.empty() ? -1 : std::clamp(selected, 0, tabCount() - 1);
  layoutTabs();
  if (m_selected >= 0) scrollIntoView(m_selected);
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void TabStrip::setSelectedIndex(int i, bool notifyParent) {
  if (m_items.empty()) return;
  i = std::clamp(i, 0, tabCount() - 1);
  bool changed = i != m_selected;
  m_selected = i;
  scrollIntoView(i);
  InvalidateRect(hwnd(), nullptr, FALSE);
  if (changed && notifyParent) notify(TCN_SELCHANGE);
}

void TabStrip::layoutTabs() {
  m_rects.clear();
  if (!hwnd()) return;
  RECT client{};
  GetClientRect(hwnd(), &client);
  int inset = screenDpi() / 32;
  HDC dc = GetDC(hwnd());
  {
    ScopedSelect font(dc, smallFont());
    int x = 0;
    for (const auto& item : m_items) {
      int w = item->measuredWidth(dc);
      m_rects.push_back(RECT{x, client.top + inset, x + w, client.bottom});
      x += w;
    }
  }
  ReleaseDC(hwnd(), dc);
}

bool TabStrip::tabRect(int i, RECT* out) const {
  if (i < 0 || i >= int(m_rects.size()) || !out) return false;
  RECT r = m_rects[size_t(i)];
  if (i == m_selected) r.top = 0;  // the selected tab stands up out of the row
  OffsetRect(&r, -m_scroll, 0);
  *out = r;
  return true;
}

void TabStrip::scrollIntoView(int i) {
  if (i < 0 || i >= int(m_rects.size())) return;
  RECT client{};
  GetClientRect(hwnd(), &client);
  int width = client.right - client.left;
  const RECT& r = m_rects[size_t(i)];
  int scroll = m_scroll;
  if (r.right > scroll + width) scroll = r.right - width;
  if (r.left < scroll) scroll = r.left;
  m_scroll = std::max(0, scroll);
}

int TabStrip::hitTest(int x, int y) const {
  // The raised selected tab first: it covers its neighbours' corners.
  RECT r;
  POINT pt{x, y};
  if (tabRect(m_selected, &r) && PtInRect(&r, pt)) return m_selected;
  for (int i = 0; i < tabCount(); ++i)
    if (tabRect(i, &r) && PtInRect(&r, pt)) return i;
  return -1;
}

void TabStrip::notify(UINT code, UINT key) {
  HWND parent = GetParent(hwnd());
  if (!parent) return;
  NMTCKEYDOWN n{};
  n.hdr.hwndFrom = hwnd();
  n.hdr.idFrom = UINT_PTR(GetDlgCtrlID(hwnd()));
  n.hdr.code = code;
  n.wVKey = WORD(key);
  SendMessage(parent, WM_NOTIFY, n.hdr.idFrom, reinterpret_cast<LPARAM>(&n));
}

LRESULT TabStrip::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case TCM_GETCURSEL:
      return m_selected;
    case TCM_GETITEMRECT:
      return tabRect(int(wParam), reinterpret_cast<RECT*>(lParam)) ? TRUE : FALSE;
    case TCM_INSERTITEM: {
      auto* item = reinterpret_cast<const TCITEM*>(lParam);
      if (!item || !(item->mask & TCIF_TEXT) || !item->pszText) return -1;
      return addTab(std::make_unique<TabItem>(std::u16string(item->pszText)));
    }
  }
  return Control::windowProc(msg, wParam, lParam);
}

LRESULT TabStrip::onEraseBackground(HDC) { return 1; }

LRESULT TabStrip::onGetDlgCode(UINT key, MSG*) {
  // Every key but Tab and Back: the parent hears of those the strip leaves.
  if (key == VK_TAB || key == VK_ESCAPE) return DLGC_WANTARROWS;
  return DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_WANTMESSAGE;
}

LRESULT TabStrip::onKey(UINT key, bool down, LPARAM repeatData) {
  if (!down) return Control::onKey(key, down, repeatData);
  if (TabItem* item = tab(m_selected); item && item->onKey(key)) return 0;
  int sel = m_selected;
  switch (key) {
    case VK_LEFT:
      if (sel > 0) --sel;
      break;
    case VK_RIGHT:
      if (sel < tabCount() - 1) ++sel;
      break;
    case VK_UP:
    case VK_DOWN:
      if (HWND parent = GetParent(hwnd())) SendMessage(parent, WM_NEXTDLGCTL, key == VK_UP ? 1 : 0, 0);
      return 0;
    default:
      notify(TCN_KEYDOWN, key);
      return 0;
  }
  if (sel != m_selected) setSelectedIndex(sel);
  return 0;
}

LRESULT TabStrip::onKillFocus(HWND next) {
  m_hasFocus = false;
  InvalidateRect(hwnd(), nullptr, FALSE);
  return Control::onKillFocus(next);
}

LRESULT TabStrip::onSetFocus(HWND previous) {
  m_hasFocus = true;
  InvalidateRect(hwnd(), nullptr, FALSE);
  return Control::onSetFocus(previous);
}

LRESULT TabStrip::onStylusDown(bool doubleTap, int x, int y) {
  int i = hitTest(x, y);
  if (i < 0) return 0;
  if (i != m_selected) setSelectedIndex(i);
  RECT r;
  if (TabItem* item = tab(i); item && tabRect(i, &r)) item->onStylusDown(doubleTap, x - r.left, y - r.top);
  return 0;
}

LRESULT TabStrip::onSize(UINT kind, int width, int height) {
  layoutTabs();
  scrollIntoView(m_selected);
  InvalidateRect(hwnd(), nullptr, FALSE);
  return Control::onSize(kind, width, height);
}

LRESULT TabStrip::onPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT client{};
  GetClientRect(hwnd(), &client);
  int w = client.right, h = client.bottom;
  if (MemoryDC mem(dc, w, h); mem) {
    HDC m = mem.dc();
    HBRUSH back = CreateSolidBrush(kStripBackground);
    FillRect(m, &client, back);
    DeleteObject(back);
    ScopedSelect font(m, smallFont());
    SetBkMode(m, TRANSPARENT);
    SetTextColor(m, RGB(0, 0, 0));
    ScopedSelect pen(m, CreatePen(PS_SOLID, 1, kBorder), ScopedSelect::kOwned);
    // The line the unselected tabs stand on.
    MoveToEx(m, 0, h - 1, nullptr);
    LineTo(m, w, h - 1);
    // The selected tab last, over its neighbours.
    auto paintTab = [&](int i) {
      RECT r;
      if (!tabRect(i, &r) || r.right <= 0 || r.left >= w) return;
      bool selected = i == m_selected;
      fillVerticalGradient(m, r, selected ? kSelectedTop : kTabTop, selected ? kSelectedBottom : kTabBottom);
      POINT outline[4] = {{r.left, r.bottom - (selected ? 0 : 1)},
                          {r.left, r.top},
                          {r.right - 1, r.top},
                          {r.right - 1, r.bottom - (selected ? 0 : 1)}};
      Polyline(m, outline, 4);
      m_items[size_t(i)]->paintParts(m, r);
      if (selected && m_hasFocus) {
        RECT f = r;
        InflateRect(&f, -2, -2);
        DrawFocusRect(m, &f);
      }
    };
    for (int i = 0; i < tabCount(); ++i)
      if (i != m_selected) paintTab(i);
    if (m_selected >= 0) paintTab(m_selected);
    mem.copyTo(client);
  }
  EndPaint(hwnd(), &ps);
  return 0;
}

}  // namespace fwk
