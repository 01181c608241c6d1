// Rows of a ListControl: reference-counted objects that measure and paint
// themselves. The list holds one reference per row; an owner that wants to
// update a row later keeps its own.
//
//   fwk::Ref<fwk::TwoLineRow> row(new fwk::TwoLineRow(u"Title", u"text", icon));
//   list.addRow(row);
#pragma once

#include <string>
#include <utility>

#include "platform/types.h"

namespace fwk {

// An intrusive counted pointer: the count lives in the object, so a raw
// pointer can be taken into a new Ref at any time.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(T* object) : m_object(object) {  // NOLINT: taking a new object is the point
    if (m_object) m_object->addRef();
  }
  Ref(const Ref& other) : Ref(other.m_object) {}
  template <class U>
  Ref(const Ref<U>& other) : Ref(other.get()) {}  // NOLINT: derived to base
  Ref(Ref&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
  ~Ref() {
    if (m_object) m_object->release();
  }
  Ref& operator=(Ref other) noexcept {
    std::swap(m_object, other.m_object);
    return *this;
  }
  T* get() const { return m_object; }
  T* operator->() const { return m_object; }
  T& operator*() const { return *m_object; }
  explicit operator bool() const { return m_object != nullptr; }

 private:
  T* m_object = nullptr;
};

class Row {
 public:
  Row() = default;
  Row(const Row&) = delete;
  Row& operator=(const Row&) = delete;

  // Slot order: paint, selection background, height, activate, activate-if,
  // context menu, destructor.
  virtual void paint(HDC dc, const RECT& rect) = 0;
  // Fills the row shrunk by one pixel with the selection colour when
  // `selected` (the selected row of a list that has the focus).
  virtual void paintSelectionBackground(HDC dc, const RECT& rect, bool selected);
  virtual int height(int width) = 0;
  virtual void activate();
  // Activates when `flag` is set (the list passes the double-tap flag; a row
  // may choose to activate on any tap).
  virtual void activateIf(bool flag);
  // Screen coordinates.
  virtual void contextMenu(int x, int y);
  virtual ~Row() = default;

  // Whether this is the list's selected row; set before each paint.
  bool isSelected() const { return m_selected; }
  void setSelected(bool selected) { m_selected = selected; }

  void addRef() { ++m_refs; }
  void release() {
    if (--m_refs == 0) delete this;
  }
  long refCount() const { return m_refs; }

 private:
  long m_refs = 0;
  bool m_selected = false;
};

// The selection colour.
constexpr COLORREF kSelectionColor = 0x00E1CDBB;  // RGB(187, 205, 225)

// A row of an icon on the left and two single lines beside it: the title in
// bold black, the text in small grey below.
class TwoLineRow : public Row {
 public:
  // `iconSize` 0 picks 16 or 32 pixels by the screen's DPI.
  TwoLineRow(std::u16string title, std::u16string text, HICON icon = nullptr, int iconSize = 0);

  void paint(HDC dc, const RECT& rect) override;
  int height(int width) override;

  const std::u16string& title() const { return m_title; }
  const std::u16string& text() const { return m_text; }
  HICON icon() const { return m_icon; }
  void setTitle(std::u16string title) { m_title = std::move(title); }
  void setText(std::u16string text) { m_text = std::move(text); }
  void setIcon(HICON icon, int iconSize = 0) {
    m_icon = icon;
    m_iconSize = iconSize;
  }
  // The size the icon is drawn at.
  int iconSize() const;

 private:
  std::u16string m_title;
  std::u16string m_text;
  HICON m_icon;
  int m_iconSize;
};

// The colour of a TwoLineRow's second line.
constexpr COLORREF kTwoLineTextColor = 0x007F7D7C;  // RGB(124, 125, 127)

}  // namespace fwk
