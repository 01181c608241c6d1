#include "section_view.h"

#include "framework/fonts.h"
#include "framework/paint.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "texts.h"

namespace panorel {

int SectionHeaderRow::height(int) { return rowDpi() * 18 / 96; }

int rowDpi() {
  // Asked once: every row of a long list measures itself with it.
  static const int dpi = fwk::screenDpi();
  return dpi;
}

void SectionHeaderRow::paint(HDC dc, const RECT& rect) {
  fwk::SavedDC saved(dc);
  HBRUSH band = CreateSolidBrush(kBand);
  FillRect(dc, &rect, band);
  DeleteObject(band);
  int h = rect.bottom - rect.top;
  int size = h >= 20 ? 16 : 12;
  if (HICON icon = moduleIcon(m_section->collapsed ? u"GROUP_CONTRACTED" : u"GROUP_EXPANDED", size))
    DrawIconEx(dc, rect.left + 2, rect.top + (h - size) / 2, icon, size, size, 0, nullptr, DI_NORMAL);
  RECT r = rect;
  r.left += size + 6;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kTitle);
  SelectObject(dc, fwk::boldFont());
  DrawText(dc, m_section->title.c_str(), int(m_section->title.size()), &r,
           DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void SectionHeaderRow::activate() { m_view->toggle(m_section); }

// One tap is enough to fold a section.
void SectionHeaderRow::activateIf(bool) { activate(); }

void SectionHeaderRow::contextMenu(int, int) { activate(); }

SectionView::SectionView(HWND parent)
    : fwk::ListControl(parent, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 10, 10) {}

SectionView::~SectionView() {
  // The header rows point back at their sections and this view.
  removeAllRows();
  for (auto& s : m_sections) s->header = fwk::Ref<fwk::Row>();
}

OverviewSection* SectionView::section(const std::string& key) const {
  for (const auto& s : m_sections)
    if (s->key == key) return s.get();
  return nullptr;
}

void SectionView::appendSection(fwk::Ref<OverviewSection> section) { m_sections.push_back(std::move(section)); }

void SectionView::prependSection(fwk::Ref<OverviewSection> section) { m_sections.push_front(std::move(section)); }

void SectionView::updateScrollRange() {
  if (!m_bulk) fwk::ListControl::updateScrollRange();
}

void SectionView::layOut() {
  fwk::Ref<fwk::Row> selected(row(selectedIndex()));
  m_bulk = true;
  removeAllRows();
  int reselect = -1;
  for (const auto& s : m_sections) {
    if (s->items.empty()) continue;
    if (!s->header) s->header = fwk::Ref<fwk::Row>(new SectionHeaderRow(this, s.get()));
    if (s->header.get() == selected.get()) reselect = rowCount();
    addRow(s->header);
    if (s->collapsed) continue;
    for (const auto& item : s->items) {
      if (item.get() == selected.get()) reselect = rowCount();
      addRow(item);
    }
  }
  m_bulk = false;
  updateScrollRange();
  if (reselect >= 0) setSelectedIndex(reselect);
}

void SectionView::toggle(OverviewSection* section) {
  section->collapsed = !section->collapsed;
  layOut();
}

void SectionView::onSideKey(UINT key) {
  if (m_sideKey) m_sideKey(key);
}

LRESULT SectionView::onKey(UINT key, bool down, LPARAM repeatData) {
  if (down && (key == VK_LEFT || key == VK_RIGHT)) {
    onSideKey(key);
    return 0;
  }
  return fwk::ListControl::onKey(key, down, repeatData);
}

}  // namespace panorel
