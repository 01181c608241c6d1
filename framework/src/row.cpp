#include "framework/row.h"

#include "framework/fonts.h"
#include "framework/paint.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/window.h"

namespace fwk {

void Row::paintSelectionBackground(HDC dc, const RECT& rect, bool selected) {
  if (!selected) return;
  RECT r = rect;
  InflateRect(&r, -1, -1);
  HBRUSH brush = CreateSolidBrush(kSelectionColor);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

void Row::activate() {}

void Row::activateIf(bool flag) {
  if (flag) activate();
}

void Row::contextMenu(int, int) {}

TwoLineRow::TwoLineRow(std::u16string title, std::u16string text, HICON icon, int iconSize)
    : m_title(std::move(title)), m_text(std::move(text)), m_icon(icon), m_iconSize(iconSize) {}

int TwoLineRow::height(int) { return screenDpi() * 20 / 64; }

int TwoLineRow::iconSize() const {
  if (m_iconSize > 0) return m_iconSize;
  return screenDpi() / 4 <= 32 ? 16 : 32;
}

void TwoLineRow::paint(HDC dc, const RECT& rect) {
  int dpi = screenDpi();
  int rowHeight = rect.bottom - rect.top;
  // Both lines sit in a band of DPI / 4 around the middle of the row.
  int band = dpi / 4;
  RECT lines{rect.left + rowHeight, (rect.top + rect.bottom - band) / 2, rect.right, 0};
  lines.bottom = lines.top + band;

  SavedDC saved(dc);
  SetBkMode(dc, TRANSPARENT);
  RECT title = lines;
  SelectObject(dc, boldFont());
  SetTextColor(dc, RGB(0, 0, 0));
  DrawText(dc, m_title.c_str(), int(m_title.size()), &title, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  RECT text = lines;
  SelectObject(dc, smallFont());
  SetTextColor(dc, kTwoLineTextColor);
  DrawText(dc, m_text.c_str(), int(m_text.size()), &text, DT_LEFT | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX);
  if (m_icon) {
    int size = iconSize();
    DrawIconEx(dc, rect.left + (rowHeight - size) / 2, rect.top + (rowHeight - size) / 2, m_icon, size, size, 0,
               nullptr, DI_NORMAL);
  }
}

}  // namespace fwk
