// Edit boxes: typing, editing and selecting (with text beyond ASCII), the
// length limit, password masking, multi-line text, capitalisation and
// subclassing.
#include "controls_fixture.h"
#include "platform/shell.h"

using namespace ctest;

namespace {

class ControlsEdit : public ControlTest {};

DWORD selStart(HWND e) {
  DWORD a = 0, b = 0;
  SendMessage(e, EM_GETSEL, WPARAM(&a), LPARAM(&b));
  return a;
}
DWORD selEnd(HWND e) {
  DWORD a = 0, b = 0;
  SendMessage(e, EM_GETSEL, WPARAM(&a), LPARAM(&b));
  return b;
}

TEST_F(ControlsEdit, TypingNonAsciiTextKeepsCharactersWhole) {
  HWND e = make(WC_EDIT, "", WS_BORDER | ES_AUTOHSCROLL, RECT{10, 10, 230, 34});
  SetFocus(e);
  testkit::type("Zoë 日本 😀");
  EXPECT_EQ(text(e), "Zoë 日本 😀");
  // The emoji is two UTF-16 units: one Left steps over both, one Backspace
  // removes both.
  std::u16string w = testkit::wide("Zoë 日本 😀");
  EXPECT_EQ(selStart(e), w.size());
  testkit::key(VK_LEFT);
  EXPECT_EQ(selStart(e), w.size() - 2);
  testkit::key(VK_RIGHT);
  testkit::key(VK_BACK);
  EXPECT_EQ(text(e), "Zoë 日本 ");
  testkit::key(VK_BACK);
  testkit::key(VK_BACK);
  EXPECT_EQ(text(e), "Zoë 日");
  // Setting a selection inside a pair moves it to the pair's start.
  SetWindowText(e, u"a😀b");
  SendMessage(e, EM_SETSEL, 2, 2);
  EXPECT_EQ(selStart(e), 1u);
  EXPECT_GT(count(100, EN_CHANGE), 0);
}

TEST_F(ControlsEdit, SelectionByKeysStylusAndMessages) {
  HWND e = make(WC_EDIT, "hello world", WS_BORDER, RECT{10, 10, 230, 34});
  SetFocus(e);
  SendMessage(e, EM_SETSEL, 0, -1);
  EXPECT_EQ(selStart(e), 0u);
  EXPECT_EQ(selEnd(e), 11u);
  testkit::type("X");
  EXPECT_EQ(text(e), "X");
  SetWindowText(e, u"hello world");
  SendMessage(e, EM_SETSEL, 11, 11);
  testkit::keyDown(VK_SHIFT);
  for (int i = 0; i < 5; ++i) testkit::key(VK_LEFT);
  testkit::keyUp(VK_SHIFT);
  EXPECT_EQ(selStart(e), 6u);
  EXPECT_EQ(selEnd(e), 11u);
  SendMessage(e, EM_REPLACESEL, 0, LPARAM(u"there"));
  EXPECT_EQ(text(e), "hello there");
  // Left with a selection collapses it to its start.
  SendMessage(e, EM_SETSEL, 2, 4);
  testkit::key(VK_LEFT);
  EXPECT_EQ(selStart(e), 2u);
  EXPECT_EQ(selEnd(e), 2u);
  testkit::key(VK_DELETE);
  EXPECT_EQ(text(e), "helo there");
  // A tap at the left edge puts the caret at the start.
  RECT r = testkit::screenRect(e);
  testkit::tap(r.left + 2, (r.top + r.bottom) / 2);
  EXPECT_EQ(selStart(e), 0u);
  testkit::type("¡");
  EXPECT_EQ(text(e), "¡helo there");
  // (-1) removes the selection and leaves the caret.
  SendMessage(e, EM_SETSEL, WPARAM(-1), 0);
  EXPECT_EQ(selStart(e), selEnd(e));
}

TEST_F(ControlsEdit, LimitCutsTypedAndPastedTextAndTellsTheParent) {
  HWND e = make(WC_EDIT, "", WS_BORDER, RECT{10, 10, 230, 34});
  SetFocus(e);
  SendMessage(e, EM_LIMITTEXT, 5, 0);
  EXPECT_EQ(SendMessage(e, EM_GETLIMITTEXT, 0, 0), 5);
  testkit::type("abcdefg");
  EXPECT_EQ(text(e), "abcde");
  EXPECT_GE(count(100, EN_MAXTEXT), 1);
  // A pair that would not fit whole is not half inserted.
  SetWindowText(e, u"abcd");
  SendMessage(e, EM_SETSEL, 4, 4);
  SendMessage(e, EM_REPLACESEL, 0, LPARAM(u"😀"));
  EXPECT_EQ(text(e), "abcd");
  // Pasting is cut to fit.
  SetWindowText(e, u"ab");
  SendMessage(e, EM_SETSEL, 2, 2);
  ASSERT_TRUE(OpenClipboard(host));
  EmptyClipboard();
  std::u16string clip = u"123456";
  HLOCAL mem = LocalAlloc(LPTR, (clip.size() + 1) * sizeof(WCHAR));
  std::copy(clip.begin(), clip.end(), static_cast<WCHAR*>(mem));
  SetClipboardData(CF_UNICODETEXT, mem);
  CloseClipboard();
  SendMessage(e, WM_PASTE, 0, 0);
  EXPECT_EQ(text(e), "ab123");
}

TEST_F(ControlsEdit, PasswordIsMaskedOnScreenAndNeverCopied) {
  HWND pw = make(WC_EDIT, "", WS_BORDER | ES_PASSWORD, RECT{10, 10, 110, 34}, 101);
  make(WC_EDIT, "***", WS_BORDER, RECT{10, 50, 110, 74}, 102);
  SetFocus(pw);
  testkit::type("WiW");
  EXPECT_EQ(text(pw), "WiW");
  EXPECT_EQ(SendMessage(pw, EM_GETPASSWORDCHAR, 0, 0), '*');
  SetFocus(host);
  testkit::pump();
  // Both boxes, unfocused, show the same three stars.
  int differing = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 100; ++x)
      if (testkit::pixel(10 + x, 10 + y) != testkit::pixel(10 + x, 50 + y)) ++differing;
  EXPECT_EQ(differing, 0);
  RECT ink = testkit::inkBox(RECT{12, 12, 108, 32}, RGB(255, 255, 255));
  EXPECT_FALSE(IsRectEmpty(&ink)) << "the stars are drawn";
  // Copy and cut leave the clipboard alone.
  ASSERT_TRUE(OpenClipboard(host));
  EmptyClipboard();
  CloseClipboard();
  SetFocus(pw);
  SendMessage(pw, EM_SETSEL, 0, -1);
  SendMessage(pw, WM_COPY, 0, 0);
  SendMessage(pw, WM_CUT, 0, 0);
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_EQ(text(pw), "WiW");
}

TEST_F(ControlsEdit, MultiLineBreaksWrapsAndReadOnly) {
  HWND e = make(WC_EDIT, "", WS_BORDER | ES_MULTILINE | WS_VSCROLL, RECT{10, 10, 130, 90});
  SetFocus(e);
  testkit::type("one");
  testkit::key(VK_RETURN);
  testkit::type("two");
  EXPECT_EQ(text(e), "one\r\ntwo");
  EXPECT_EQ(SendMessage(e, EM_GETLINECOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessage(e, EM_LINEINDEX, 1, 0), 5);
  // Up goes to the line above, at about the same place.
  testkit::key(VK_UP);
  EXPECT_EQ(SendMessage(e, EM_LINEFROMCHAR, WPARAM(-1), 0), 0);
  testkit::key(VK_END);
  testkit::key(VK_DELETE);  // the line break goes as one
  EXPECT_EQ(text(e), "onetwo");
  SetWindowText(e, u"a fairly long sentence that cannot fit on one line of this narrow box");
  EXPECT_GT(SendMessage(e, EM_GETLINECOUNT, 0, 0), 2);
  // Text past the bottom scrolls into view as the caret goes there.
  SendMessage(e, EM_SETSEL, 0, 0);
  for (int i = 0; i < 6; ++i) {
    testkit::key(VK_RETURN);
  }
  testkit::type("end");
  EXPECT_GT(SendMessage(e, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  SendMessage(e, EM_SETREADONLY, TRUE, 0);
  std::string before = text(e);
  testkit::type("zzz");
  testkit::key(VK_BACK);
  EXPECT_EQ(text(e), before);
}

TEST_F(ControlsEdit, SingleLineDropsLineBreaksAndKeepsCaretVisible) {
  HWND e = make(WC_EDIT, "", WS_BORDER | ES_AUTOHSCROLL, RECT{10, 10, 70, 34});
  SetFocus(e);
  SetWindowText(e, u"first\r\nsecond");
  EXPECT_EQ(text(e), "first");
  testkit::key(VK_RETURN);
  EXPECT_EQ(text(e), "first");
  // A long line scrolls: the caret at its end is drawn inside the box.
  testkit::type("abcdefghijklmnopqrstuvwxyz");
  RECT box = testkit::screenRect(e);
  RECT inner{box.left + 1, box.top + 1, box.right - 1, box.bottom - 1};
  EXPECT_GT(testkit::countPixels(inner, RGB(0, 0, 0)), 0);
  testkit::key(VK_HOME);
  EXPECT_EQ(selStart(e), 0u);
}

TEST_F(ControlsEdit, CapEditCapitalisesSentenceStarts) {
  HWND e = make(WC_CAPEDIT, "", WS_BORDER, RECT{10, 10, 230, 34});
  SetFocus(e);
  testkit::type("hello there. how are you?  fine!ok");
  EXPECT_EQ(text(e), "Hello there. How are you?  Fine!Ok");
  // A plain edit leaves case alone.
  HWND p = make(WC_EDIT, "", WS_BORDER, RECT{10, 40, 230, 64}, 101);
  SetFocus(p);
  testkit::type("hello. there");
  EXPECT_EQ(text(p), "hello. there");
}

WNDPROC g_previous = nullptr;
LRESULT CALLBACK noX(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_CHAR && w == 'x') return 0;
  return CallWindowProc(g_previous, h, m, w, l);
}

TEST_F(ControlsEdit, SubclassedEditCallsThePreviousProcedure) {
  HWND e = make(WC_CAPEDIT, "", WS_BORDER, RECT{10, 10, 230, 34});
  g_previous = reinterpret_cast<WNDPROC>(SetWindowLongPtr(e, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(noX)));
  ASSERT_NE(g_previous, nullptr);
  // User data stays free for whoever subclasses.
  SetWindowLongPtr(e, GWLP_USERDATA, 1234);
  SetFocus(e);
  testkit::type("xaxb");
  EXPECT_EQ(text(e), "Ab");
  EXPECT_EQ(GetWindowLongPtr(e, GWLP_USERDATA), 1234);
}

}  // namespace
