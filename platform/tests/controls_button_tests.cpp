// Buttons, check boxes, drop-down lists and labels, by keys and stylus.
#include "controls_fixture.h"

using namespace ctest;

namespace {

class ControlsButton : public ControlTest {};
class ControlsCombo : public ControlTest {};
class ControlsStatic : public ControlTest {};

TEST_F(ControlsButton, AutoCheckBoxTogglesByTapAndKeys) {
  HWND cb = make(WC_BUTTON, "Remember me.", BS_AUTOCHECKBOX, RECT{10, 10, 200, 30});
  EXPECT_EQ(SendMessage(cb, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  testkit::tap(cb);
  EXPECT_EQ(SendMessage(cb, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(GetFocus(), cb);
  testkit::key(VK_SPACE);
  EXPECT_EQ(SendMessage(cb, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  // The action key, even through the dialog keys, presses the button.
  platform::inputKey(VK_RETURN, true);
  platform::inputKey(VK_RETURN, false);
  MSG m;
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) IsDialogMessage(host, &m);
  EXPECT_EQ(SendMessage(cb, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(count(100, BN_CLICKED), 3);
  // Checked and unchecked boxes look different.
  RECT r = testkit::screenRect(cb);
  RECT box{r.left, r.top, r.left + 24, r.bottom};
  int blackChecked = testkit::countPixels(box, RGB(0, 0, 0));
  SendMessage(cb, BM_SETCHECK, BST_UNCHECKED, 0);
  testkit::pump();
  EXPECT_GT(blackChecked, testkit::countPixels(box, RGB(0, 0, 0)));
}

TEST_F(ControlsButton, PlainCheckBoxAndPushButtonOnlyNotify) {
  HWND cb = make(WC_BUTTON, "Manual", BS_CHECKBOX, RECT{10, 10, 200, 30}, 1);
  HWND pb = make(WC_BUTTON, "Push", BS_PUSHBUTTON, RECT{10, 40, 100, 70}, 2);
  testkit::tap(cb);
  EXPECT_EQ(SendMessage(cb, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(count(1, BN_CLICKED), 1);
  SendMessage(cb, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(SendMessage(cb, BM_GETCHECK, 0, 0), BST_CHECKED);
  // Push buttons have no check state.
  SendMessage(pb, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(SendMessage(pb, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  // Sliding off a button before lifting the stylus does not click it.
  RECT r = testkit::screenRect(pb);
  testkit::stylusDown(r.left + 5, r.top + 5);
  EXPECT_TRUE(SendMessage(pb, BM_GETSTATE, 0, 0) & BST_PUSHED);
  testkit::stylusMove(200, 200);
  testkit::stylusUp(200, 200);
  EXPECT_EQ(count(2, BN_CLICKED), 0);
  testkit::tap(pb);
  EXPECT_EQ(count(2, BN_CLICKED), 1);
  // A disabled button takes no taps.
  EnableWindow(pb, FALSE);
  testkit::tap(pb);
  EXPECT_EQ(count(2, BN_CLICKED), 1);
}

TEST_F(ControlsButton, AutoRadioButtonsClearTheirNeighbours) {
  HWND a = make(WC_BUTTON, "A", BS_AUTORADIOBUTTON, RECT{10, 10, 100, 30}, 1);
  HWND b = make(WC_BUTTON, "B", BS_AUTORADIOBUTTON, RECT{10, 40, 100, 60}, 2);
  testkit::tap(a);
  testkit::tap(b);
  EXPECT_EQ(SendMessage(a, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessage(b, BM_GETCHECK, 0, 0), BST_CHECKED);
}

HWND makeCombo(ControlTest*, HWND c) {
  for (const char16_t* s : {u"Olvaro - anna", u"XMPP - bob", u"ICQ - 1234"}) SendMessage(c, CB_ADDSTRING, 0, LPARAM(s));
  return c;
}

TEST_F(ControlsCombo, ItemsAddSelectAndGet) {
  HWND c = make(WC_COMBOBOX, "", CBS_DROPDOWNLIST, RECT{10, 10, 200, 34});
  makeCombo(this, c);
  EXPECT_EQ(SendMessage(c, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessage(c, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(SendMessage(c, CB_SETCURSEL, 1, 0), 1);
  WCHAR buf[64];
  EXPECT_EQ(SendMessage(c, CB_GETLBTEXTLEN, 1, 0), 10);
  EXPECT_EQ(SendMessage(c, CB_GETLBTEXT, 1, LPARAM(buf)), 10);
  EXPECT_EQ(std::u16string(buf), u"XMPP - bob");
  EXPECT_EQ(text(c), "XMPP - bob");
  EXPECT_EQ(SendMessage(c, CB_GETLBTEXT, 7, LPARAM(buf)), CB_ERR);
  EXPECT_EQ(SendMessage(c, CB_SETCURSEL, 9, 0), CB_ERR);
  EXPECT_EQ(SendMessage(c, CB_GETCURSEL, 0, 0), CB_ERR);
  SendMessage(c, CB_SETITEMDATA, 2, 77);
  EXPECT_EQ(SendMessage(c, CB_GETITEMDATA, 2, 0), 77);
  EXPECT_EQ(SendMessage(c, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(u"icq - 1234")), 2);
  EXPECT_EQ(SendMessage(c, CB_INSERTSTRING, 0, LPARAM(u"First")), 0);
  EXPECT_EQ(SendMessage(c, CB_GETITEMDATA, 3, 0), 77);
  SendMessage(c, CB_SETCURSEL, 3, 0);
  EXPECT_EQ(SendMessage(c, CB_DELETESTRING, 0, 0), 3);
  EXPECT_EQ(SendMessage(c, CB_GETCURSEL, 0, 0), 2) << "the selection follows its item";
}

TEST_F(ControlsCombo, KeysStepOpenAndChoose) {
  HWND c = makeCombo(this, make(WC_COMBOBOX, "", CBS_DROPDOWNLIST, RECT{10, 10, 200, 34}));
  SendMessage(c, CB_SETCURSEL, 0, 0);
  SetFocus(c);
  testkit::key(VK_RIGHT);
  EXPECT_EQ(SendMessage(c, CB_GETCURSEL, 0, 0), 1);
  testkit::key(VK_RIGHT);
  testkit::key(VK_RIGHT);  // stays on the last
  EXPECT_EQ(SendMessage(c, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(count(100, CBN_SELCHANGE), 2);
  testkit::key(VK_RETURN);
  EXPECT_TRUE(SendMessage(c, CB_GETDROPPEDSTATE, 0, 0));
  testkit::key(VK_UP);
  testkit::key(VK_UP);
  testkit::key(VK_RETURN);
  EXPECT_FALSE(SendMessage(c, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessage(c, CB_GETCURSEL, 0, 0), 0);
  // Back closes the list without choosing.
  testkit::key(VK_RETURN);
  testkit::key(VK_DOWN);
  testkit::key(VK_ESCAPE);
  EXPECT_FALSE(SendMessage(c, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessage(c, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(count(100, CBN_DROPDOWN), 2);
  EXPECT_EQ(count(100, CBN_CLOSEUP), 2);
}

TEST_F(ControlsCombo, StylusOpensChoosesAndDismisses) {
  HWND c = makeCombo(this, make(WC_COMBOBOX, "", CBS_DROPDOWNLIST, RECT{10, 10, 200, 34}));
  SendMessage(c, CB_SETCURSEL, 0, 0);
  testkit::tap(c);
  ASSERT_TRUE(SendMessage(c, CB_GETDROPPEDSTATE, 0, 0));
  HWND list = testkit::findWindow("ComboLBox");
  ASSERT_NE(list, nullptr);
  RECT lr = testkit::screenRect(list);
  EXPECT_GE(lr.top, 34);
  // The third row: each row is a third of the list.
  int rowH = (lr.bottom - lr.top - 2) / 3;
  testkit::tap(lr.left + 10, lr.top + 1 + rowH * 2 + rowH / 2);
  EXPECT_FALSE(SendMessage(c, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessage(c, CB_GETCURSEL, 0, 0), 2);
  EXPECT_FALSE(IsWindow(list));
  // A tap outside closes it and changes nothing.
  testkit::tap(c);
  ASSERT_TRUE(SendMessage(c, CB_GETDROPPEDSTATE, 0, 0));
  testkit::tap(120, 300);
  EXPECT_FALSE(SendMessage(c, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessage(c, CB_GETCURSEL, 0, 0), 2);
  // Destroying the box with its list open takes the list too.
  testkit::tap(c);
  list = testkit::findWindow("ComboLBox");
  DestroyWindow(c);
  EXPECT_FALSE(IsWindow(list));
}

TEST_F(ControlsStatic, TextIsDrawnAlignedAndWithoutPrefixMarks) {
  HWND left = make(WC_STATIC, "Password:", SS_LEFT, RECT{0, 10, 240, 30}, 1);
  HWND centre = make(WC_STATIC, "Password:", SS_CENTER, RECT{0, 40, 240, 60}, 2);
  RECT l = testkit::inkBox(testkit::screenRect(left), RGB(255, 255, 255));
  RECT c = testkit::inkBox(testkit::screenRect(centre), RGB(255, 255, 255));
  ASSERT_FALSE(IsRectEmpty(&l));
  EXPECT_LT(l.left, 4);
  EXPECT_EQ(l.right - l.left, c.right - c.left);
  EXPECT_NEAR((c.left + c.right) / 2, 120, 2);
  // "&&" shows one ampersand: as wide as a label written with one.
  HWND amp = make(WC_STATIC, "A && B", SS_LEFT, RECT{0, 70, 240, 90}, 3);
  HWND one = make(WC_STATIC, "A & B", SS_LEFT | SS_NOPREFIX, RECT{0, 100, 240, 120}, 4);
  RECT a = testkit::inkBox(testkit::screenRect(amp), RGB(255, 255, 255));
  RECT o = testkit::inkBox(testkit::screenRect(one), RGB(255, 255, 255));
  EXPECT_EQ(a.right - a.left, o.right - o.left);
  SetWindowText(left, u"");
  testkit::pump();
  RECT e = testkit::inkBox(testkit::screenRect(left), RGB(255, 255, 255));
  EXPECT_TRUE(IsRectEmpty(&e));
  // An input-panel preference is accepted and shows nothing.
  HWND sip = make(WC_SIPPREF, "", 0, RECT{0, 0, 0, 0}, 5);
  EXPECT_NE(sip, nullptr);
}

}  // namespace
