// TabStrip: a row of tabs made of icon and text parts. Left and Right move
// the selection, Up and Down the focus; other keys go to the parent as a
// key-down notification. A tap selects the tab under it. The parent hears of
// every change of selection.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/control.h"

// The tab-control messages and notifications the strip answers and sends.
#ifndef TCM_FIRST
#define TCM_FIRST 0x1300
#define TCM_GETITEMRECT (TCM_FIRST + 10)
#define TCM_GETCURSEL (TCM_FIRST + 11)
#define TCM_INSERTITEM (TCM_FIRST + 62)
#define TCIF_TEXT 0x0001
#define TCN_FIRST (0U - 550U)
#define TCN_KEYDOWN (TCN_FIRST - 0)
#define TCN_SELCHANGE (TCN_FIRST - 1)
struct TCITEM {
  UINT mask;
  DWORD dwState;
  DWORD dwStateMask;
  LPWSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
};
struct NMTCKEYDOWN {
  NMHDR hdr;
  WORD wVKey;
  UINT flags;
};
#endif

namespace fwk {

// One tab: parts laid out left to right. Derive to react to keys and taps.
class TabItem {
 public:
  TabItem() = default;
  explicit TabItem(std::u16string text);
  TabItem(HICON icon, int iconSize, std::u16string text = std::u16string());
  virtual ~TabItem() = default;

  // An icon part is the icon size * 3 / 2 wide, the icon centred.
  void addIcon(HICON icon, int iconSize);
  // A text part is the text's width in the small font + 15, the text centred.
  void addText(std::u16string text);
  // The first text part's text, or empty.
  std::u16string text() const;
  void setText(std::u16string text);

  // The tab's width with the small font selected into `dc`.
  int width(HDC dc) const;
  // The same, measured once while the parts stay as they are: the strip
  // always measures in the same font.
  int measuredWidth(HDC dc) const;
  // Draws the parts inside `rect`.
  virtual void paintParts(HDC dc, const RECT& rect) const;
  // The key reaches the selected tab before the strip: true when used.
  virtual bool onKey(UINT key);
  // A press on the tab, in the tab's own coordinates.
  virtual void onStylusDown(bool doubleTap, int x, int y);

 private:
  struct Part {
    HICON icon = nullptr;
    int iconSize = 0;
    std::u16string text;
  };
  std::vector<Part> m_parts;
  mutable int m_width = -1;
};

class TabStrip : public Control {
 public:
  TabStrip(HWND parent, DWORD style, int x, int y, int width, int height, UINT id = 0);
  ~TabStrip() override;

  // Returns the new tab's index.
  int addTab(std::unique_ptr<TabItem> item);
  void removeTab(int i);
  // Takes every tab out, and puts a new row of tabs in with `selected`
  // selected, each without a notification: a parent that makes its tabs
  // anew keeps showing what it showed, and may put tabs it took back in.
  std::vector<std::unique_ptr<TabItem>> takeTabs();
  void setTabs(std::vector<std::unique_ptr<TabItem>> items, int selected);
  int tabCount() const { return int(m_items.size()); }
  TabItem* tab(int i) const { return i >= 0 && i < tabCount() ? m_items[size_t(i)].get() : nullptr; }
  // -1 when there are no tabs.
  int selectedIndex() const { return m_selected; }
  // Selects, scrolls into view, repaints and, when the selection changed
  // and `notify`, sends TCN_SELCHANGE.
  void setSelectedIndex(int i, bool notify = true);
  // Client coordinates, after the horizontal scroll; false outside the tabs.
  bool tabRect(int i, RECT* out) const;
  int scrollOffset() const { return m_scroll; }

  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT onEraseBackground(HDC dc) override;
  LRESULT onGetDlgCode(UINT key, MSG* msg) override;
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;
  LRESULT onKillFocus(HWND next) override;
  LRESULT onStylusDown(bool doubleTap, int x, int y) override;
  LRESULT onPaint() override;
  LRESULT onSetFocus(HWND previous) override;
  LRESULT onSize(UINT kind, int width, int height) override;

 private:
  void layoutTabs();
  void scrollIntoView(int i);
  void notify(UINT code, UINT key = 0);
  int hitTest(int x, int y) const;

  std::vector<std::unique_ptr<TabItem>> m_items;
  std::vector<RECT> m_rects;  // without the scroll
  int m_selected = -1;
  int m_scroll = 0;
  bool m_hasFocus = false;
};

}  // namespace fwk
