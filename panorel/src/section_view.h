// What both kinds of view share: a list of rows gathered from sections,
// each shown under its header row unless it has no items, and its items
// left out while it is collapsed.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "framework/list_control.h"
#include "framework/row.h"

namespace panorel {

class SectionView;

// The screen's DPI, read once for the module (the fonts are sized once too).
int rowDpi();

// A section of a view, shared with any plug-in that made it.
class OverviewSection {
 public:
  OverviewSection(std::string key, std::u16string title) : key(std::move(key)), title(std::move(title)) {}
  OverviewSection(const OverviewSection&) = delete;
  OverviewSection& operator=(const OverviewSection&) = delete;

  std::string key;
  std::u16string title;
  bool collapsed = false;
  std::deque<fwk::Ref<fwk::Row>> items;
  // Made by the view on first layout, kept with the section.
  fwk::Ref<fwk::Row> header;

  void addRef() { ++m_refs; }
  void release() {
    if (--m_refs == 0) delete this;
  }

 private:
  long m_refs = 0;
};

// A section's header: its title with the expanded or contracted triangle.
// Activating it, or asking for its menu, toggles the section.
class SectionHeaderRow : public fwk::Row {
 public:
  SectionHeaderRow(SectionView* view, OverviewSection* section) : m_view(view), m_section(section) {}
  void paint(HDC dc, const RECT& rect) override;
  int height(int width) override;
  void activate() override;
  void activateIf(bool flag) override;
  void contextMenu(int x, int y) override;

  // The header colours, for tests.
  static constexpr COLORREF kBand = 0x00B48C64;  // RGB(100, 140, 180)
  static constexpr COLORREF kTitle = 0x00FFFFFF;

 private:
  SectionView* m_view;
  OverviewSection* m_section;  // owns this row
};

class SectionView : public fwk::ListControl {
 public:
  SectionView(HWND parent);
  ~SectionView() override;

  const std::deque<fwk::Ref<OverviewSection>>& sections() const { return m_sections; }
  OverviewSection* section(const std::string& key) const;
  // Shows the rows of the sections again, keeping the selected row when it
  // is still shown.
  virtual void layOut();
  virtual void toggle(OverviewSection* section);
  // Left and Right leave the view for the tab strip.
  void setSideKeyHandler(std::function<void(UINT)> handler) { m_sideKey = std::move(handler); }

 protected:
  void appendSection(fwk::Ref<OverviewSection> section);
  void prependSection(fwk::Ref<OverviewSection> section);
  virtual void onSideKey(UINT key);
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;
  // While rows are added in bulk the scroll range is set once, at the end.
  void updateScrollRange() override;

  std::deque<fwk::Ref<OverviewSection>> m_sections;

 private:
  std::function<void(UINT)> m_sideKey;
  bool m_bulk = false;
};

}  // namespace panorel
