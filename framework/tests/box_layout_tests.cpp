#include "framework/box_layout.h"

#include "framework/list_control.h"
#include "framework/tab_strip.h"

#include <memory>

#include "framework_fixture.h"

namespace {

using fwktest::Host;
using fwktest::Stop;

class BoxLayoutTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    host = std::make_unique<Host>();
    layout = std::make_unique<fwk::BoxLayout>(host->hwnd(), WS_CHILD | WS_VISIBLE, 0, 0, 240, 300);
  }
  void TearDown() override {
    layout.reset();
    host.reset();
    PlatformTest::TearDown();
  }
  // The child's rectangle in the layout's client coordinates.
  RECT placed(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, layout->hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  std::unique_ptr<Host> host;
  std::unique_ptr<fwk::BoxLayout> layout;
};

#define EXPECT_RECT(r, l, t, rr, b)                                  \
  do {                                                               \
    RECT got = (r);                                                  \
    EXPECT_EQ(got.left, l);                                          \
    EXPECT_EQ(got.top, t);                                           \
    EXPECT_EQ(got.right, rr);                                        \
    EXPECT_EQ(got.bottom, b);                                        \
  } while (0)

TEST_F(BoxLayoutTest, FixedOverlappingAndStretchingChildren) {
  Stop a(layout->hwnd(), 0, 0, 1, 1), b(layout->hwnd(), 0, 0, 1, 1), c(layout->hwnd(), 0, 0, 1, 1);
  Stop d(layout->hwnd(), 0, 0, 1, 1), e(layout->hwnd(), 0, 0, 1, 1);
  layout->add(a.hwnd(), 20);
  layout->add(b.hwnd(), 30, true);  // c takes the same place
  layout->add(c.hwnd(), 30);
  layout->addStretching(d.hwnd());
  layout->add(e.hwnd(), 40);
  EXPECT_RECT(placed(a.hwnd()), 0, 0, 240, 20);
  EXPECT_RECT(placed(b.hwnd()), 0, 20, 240, 50);
  EXPECT_RECT(placed(c.hwnd()), 0, 20, 240, 50);
  EXPECT_RECT(placed(d.hwnd()), 0, 50, 240, 260);
  EXPECT_RECT(placed(e.hwnd()), 0, 260, 240, 300);

  // Resizing the layout gives the difference to the stretching child.
  MoveWindow(layout->hwnd(), 0, 0, 200, 250, TRUE);
  EXPECT_RECT(placed(d.hwnd()), 0, 50, 200, 210);
  EXPECT_RECT(placed(e.hwnd()), 0, 210, 200, 250);

  EXPECT_TRUE(layout->setHeight(a.hwnd(), 10));
  EXPECT_RECT(placed(c.hwnd()), 0, 10, 200, 40);
  EXPECT_RECT(placed(d.hwnd()), 0, 40, 200, 210);

  // A child that goes away leaves its place to the others.
  layout->remove(b.hwnd());
  layout->remove(c.hwnd());
  EXPECT_RECT(placed(d.hwnd()), 0, 10, 200, 210);
  EXPECT_FALSE(layout->setHeight(c.hwnd(), 10));
}

TEST_F(BoxLayoutTest, ChildrenTooTallForTheLayoutLeaveTheStretchingOneEmpty) {
  Stop a(layout->hwnd(), 0, 0, 1, 1), b(layout->hwnd(), 0, 0, 1, 1), c(layout->hwnd(), 0, 0, 1, 1);
  layout->add(a.hwnd(), 200);
  layout->addStretching(b.hwnd());
  layout->add(c.hwnd(), 200);
  EXPECT_RECT(placed(b.hwnd()), 0, 200, 240, 200);
  EXPECT_RECT(placed(c.hwnd()), 0, 200, 240, 400);
}

TEST_F(BoxLayoutTest, AWindowFromElsewhereMovesIntoTheLayout) {
  Stop outside(host->hwnd(), 0, 0, 10, 10);
  layout->addStretching(outside.hwnd());
  EXPECT_EQ(GetParent(outside.hwnd()), layout->hwnd());
  EXPECT_RECT(placed(outside.hwnd()), 0, 0, 240, 300);
}

TEST_F(BoxLayoutTest, FocusMovesByPositionNotByCreation) {
  // Made bottom first; the layout puts them top first.
  Stop low(layout->hwnd(), 0, 0, 1, 1), high(layout->hwnd(), 0, 0, 1, 1), mid(layout->hwnd(), 0, 0, 1, 1);
  Stop plain(layout->hwnd(), 0, 0, 1, 1, WS_CHILD | WS_VISIBLE);  // no tab stop
  layout->add(high.hwnd(), 30);
  layout->add(plain.hwnd(), 30);
  layout->add(mid.hwnd(), 30);
  layout->add(low.hwnd(), 30);
  std::vector<HWND> expected{high.hwnd(), mid.hwnd(), low.hwnd()};
  EXPECT_EQ(layout->focusOrder(), expected);

  SetFocus(high.hwnd());
  SendMessage(layout->hwnd(), WM_NEXTDLGCTL, 0, 0);
  EXPECT_EQ(GetFocus(), mid.hwnd());
  SendMessage(layout->hwnd(), WM_NEXTDLGCTL, 0, 0);
  EXPECT_EQ(GetFocus(), low.hwnd());
  SendMessage(layout->hwnd(), WM_NEXTDLGCTL, 0, 0);
  EXPECT_EQ(GetFocus(), high.hwnd());  // round again
  SendMessage(layout->hwnd(), WM_NEXTDLGCTL, 1, 0);
  EXPECT_EQ(GetFocus(), low.hwnd());

  // Side by side: the left one first. Hidden and disabled ones are passed by.
  MoveWindow(low.hwnd(), 120, 30, 120, 30, TRUE);
  MoveWindow(mid.hwnd(), 0, 30, 120, 30, TRUE);
  expected = {high.hwnd(), mid.hwnd(), low.hwnd()};
  EXPECT_EQ(layout->focusOrder(), expected);
  MoveWindow(low.hwnd(), 0, 30, 120, 30, TRUE);
  MoveWindow(mid.hwnd(), 120, 30, 120, 30, TRUE);
  expected = {high.hwnd(), low.hwnd(), mid.hwnd()};
  EXPECT_EQ(layout->focusOrder(), expected);
  ShowWindow(low.hwnd(), SW_HIDE);
  EnableWindow(high.hwnd(), FALSE);
  expected = {mid.hwnd()};
  EXPECT_EQ(layout->focusOrder(), expected);
}

TEST_F(BoxLayoutTest, AFocusedGrandchildCountsAsItsChild) {
  // A child's own child holding the focus counts as that child.
  class Panel : public fwk::Control {
   public:
    explicit Panel(HWND parent)
        : Control(nullptr, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 1, 1, parent, nullptr) {}
  };
  Panel top(layout->hwnd());
  Stop inner(top.hwnd(), 0, 0, 10, 10);
  Stop bottom(layout->hwnd(), 0, 0, 1, 1);
  layout->add(top.hwnd(), 50);
  layout->add(bottom.hwnd(), 50);
  SetFocus(inner.hwnd());
  SendMessage(layout->hwnd(), WM_NEXTDLGCTL, 0, 0);
  EXPECT_EQ(GetFocus(), bottom.hwnd());
}

TEST_F(BoxLayoutTest, AScreenOfTabsOverAListMovesTheFocusBetweenThem) {
  fwk::TabStrip tabs(layout->hwnd(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 1, 1);
  fwk::ListControl list(layout->hwnd(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 1, 1);
  tabs.addTab(std::make_unique<fwk::TabItem>(u"Contacts"));
  tabs.addTab(std::make_unique<fwk::TabItem>(u"Groups"));
  for (const char16_t* name : {u"Alice", u"Bob", u"Carol"})
    list.addRow(fwk::Ref<fwk::Row>(new fwk::TwoLineRow(name, u"online")));
  layout->add(tabs.hwnd(), 26);
  layout->addStretching(list.hwnd());
  EXPECT_RECT(placed(list.hwnd()), 0, 26, 240, 300);
  MoveWindow(layout->hwnd(), 0, 30, 240, 290, TRUE);  // below the shell's title bar, for the screenshot
  EXPECT_RECT(placed(list.hwnd()), 0, 26, 240, 290);

  SetFocus(list.hwnd());
  testkit::pump();
  testkit::key(VK_DOWN);
  testkit::saveScreenshot("layout_tabs_over_list");
  testkit::key(VK_UP);
  testkit::key(VK_UP);  // past the first row: the tabs above
  EXPECT_EQ(GetFocus(), tabs.hwnd());
  EXPECT_EQ(list.selectedIndex(), 0);
  testkit::key(VK_DOWN);
  EXPECT_EQ(GetFocus(), list.hwnd());
}

}  // namespace
