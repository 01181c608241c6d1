// A platform control wrapped by a framework control: typing still edits the
// text, and the wrapper sees the keys first.
#if __has_include("platform/controls.h")

#include <memory>

#include "framework/control.h"
#include "framework/fonts.h"
#include "framework_fixture.h"
#include "platform/controls.h"

namespace {

class EnterWatchingEdit : public fwk::Control {
 public:
  explicit EnterWatchingEdit(HWND parent)
      : Control(WC_CAPEDIT, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 40, 200, 24, parent, nullptr) {}
  int enters = 0;

 protected:
  LRESULT onKey(UINT key, bool down, LPARAM data) override {
    if (key == VK_RETURN) {
      if (down) ++enters;
      return 0;  // sends the message rather than breaking the line
    }
    return Control::onKey(key, down, data);
  }
};

class SubclassTest : public testkit::PlatformTest {};

TEST_F(SubclassTest, ACapEditKeepsEditingUnderTheWrapper) {
  fwktest::Host host;
  EnterWatchingEdit edit(host.hwnd());
  ASSERT_TRUE(edit.hwnd());
  EXPECT_EQ(testkit::className(edit.hwnd()), "CAPEDIT");
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessage(edit.hwnd(), WM_GETFONT, 0, 0)), fwk::smallFont());
  SetFocus(edit.hwnd());
  testkit::pump();
  testkit::type("hello");
  testkit::key(VK_RETURN);
  EXPECT_EQ(edit.enters, 1);
  // The text reached the control through its own procedure.
  std::string text = testkit::windowText(edit.hwnd());
  EXPECT_EQ(text.size(), 5u);
  EXPECT_TRUE(text == "hello" || text == "Hello") << text;
}

}  // namespace

#endif
