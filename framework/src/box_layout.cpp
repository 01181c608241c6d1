#include "framework/box_layout.h"

#include <algorithm>

namespace fwk {

BoxLayout::BoxLayout(HWND parent, DWORD style, int x, int y, int width, int height, UINT id)
    : Control(nullptr, u"", style | WS_CLIPCHILDREN, x, y, width, height, parent, nullptr, WS_EX_CONTROLPARENT,
              id) {}

BoxLayout::~BoxLayout() = default;

void BoxLayout::add(HWND child, int height, bool overlap) {
  if (!child || !IsWindow(child)) return;
  remove(child);
  if (GetParent(child) != hwnd()) SetParent(child, hwnd());
  m_items.push_back(Item{child, std::max(0, height), overlap, false});
  layout();
}

void BoxLayout::addStretching(HWND child) {
  if (!child || !IsWindow(child)) return;
  remove(child);
  for (Item& item : m_items) item.stretch = false;
  if (GetParent(child) != hwnd()) SetParent(child, hwnd());
  m_items.push_back(Item{child, 0, false, true});
  layout();
}

void BoxLayout::remove(HWND child) {
  auto gone = std::remove_if(m_items.begin(), m_items.end(), [child](const Item& i) { return i.hwnd == child; });
  if (gone == m_items.end()) return;
  m_items.erase(gone, m_items.end());
  layout();
}

bool BoxLayout::setHeight(HWND child, int height) {
  for (Item& item : m_items)
    if (item.hwnd == child) {
      item.height = std::max(0, height);
      layout();
      return true;
    }
  return false;
}

void BoxLayout::layout() {
  if (!hwnd()) return;
  // Children destroyed by their owners leave the layout.
  m_items.erase(std::remove_if(m_items.begin(), m_items.end(),
                               [this](const Item& i) { return !IsWindow(i.hwnd) || GetParent(i.hwnd) != hwnd(); }),
                m_items.end());
  RECT client{};
  GetClientRect(hwnd(), &client);
  int width = client.right - client.left;

  // The height the fixed children take: overlapping ones share one band, as
  // tall as the tallest of them.
  int fixed = 0, band = 0;
  for (const Item& item : m_items) {
    if (item.stretch) continue;
    band = std::max(band, item.height);
    if (!item.overlap) {
      fixed += band;
      band = 0;
    }
  }
  fixed += band;
  int stretch = std::max(0, (client.bottom - client.top) - fixed);

  int y = 0;
  band = 0;
  for (const Item& item : m_items) {
    int h = item.stretch ? stretch : item.height;
    MoveWindow(item.hwnd, 0, y, width, h, TRUE);
    band = std::max(band, h);
    if (!item.overlap) {
      y += band;
      band = 0;
    }
  }
}

std::vector<HWND> BoxLayout::focusOrder() const {
  struct Stop {
    HWND hwnd;
    RECT rect;
  };
  std::vector<Stop> stops;
  for (HWND c = GetWindow(hwnd(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    LONG style = GetWindowLong(c, GWL_STYLE);
    if (!(style & WS_TABSTOP) || !IsWindowVisible(c) || !IsWindowEnabled(c)) continue;
    Stop s{c, {}};
    GetWindowRect(c, &s.rect);
    stops.push_back(s);
  }
  std::stable_sort(stops.begin(), stops.end(), [](const Stop& a, const Stop& b) {
    return a.rect.top != b.rect.top ? a.rect.top < b.rect.top : a.rect.left < b.rect.left;
  });
  std::vector<HWND> order;
  order.reserve(stops.size());
  for (const Stop& s : stops) order.push_back(s.hwnd);
  return order;
}

LRESULT BoxLayout::onNextDlgCtl(bool previous) {
  std::vector<HWND> order = focusOrder();
  if (order.empty()) return 0;
  // The stop that holds the focus: the focused window or one of its ancestors.
  auto at = order.end();
  for (HWND f = GetFocus(); f && f != hwnd() && at == order.end(); f = GetParent(f))
    at = std::find(order.begin(), order.end(), f);
  HWND next;
  if (at == order.end()) {
    next = previous ? order.back() : order.front();
  } else {
    size_t i = size_t(at - order.begin()), n = order.size();
    next = order[previous ? (i + n - 1) % n : (i + 1) % n];
  }
  SetFocus(next);
  return 0;
}

LRESULT BoxLayout::onSize(UINT kind, int width, int height) {
  layout();
  return Control::onSize(kind, width, height);
}

}  // namespace fwk
