// What the rows put on the screen, the edit box's hint, and the message
// menu: copying and the web addresses a text holds.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "chat_fixture.h"
#include "framework/fonts.h"
#include "platform/menu.h"
#include "platform/shell.h"
#include "testkit/modal.h"

namespace msgtest {
namespace {

using messaging::ChatWindow;

// A row's rectangle on the screen.
RECT rowOnScreen(ChatWindow* w, int i) {
  RECT r = w->list()->rowRect(i);
  POINT a{r.left, r.top}, b{r.right, r.bottom};
  ClientToScreen(w->list()->hwnd(), &a);
  ClientToScreen(w->list()->hwnd(), &b);
  return RECT{a.x, a.y, b.x, b.y};
}

TEST_F(ChatTest, RowsDrawTheirKindsColoursAndHeights) {
  ChatWindow* w = openChat(bob);
  int dpi = fwk::screenDpi();
  RECT more = rowOnScreen(w, 0);
  testkit::pump();
  EXPECT_EQ(more.bottom - more.top, dpi / 8 + 2);
  EXPECT_EQ(testkit::pixel(more.left + 3, more.top + 1), RGB(235, 235, 235));
  EXPECT_EQ(testkit::pixel(more.left + 3, more.bottom - 1), RGB(221, 221, 221));
  int middle = (more.left + more.right) / 2;
  // The chevron in the middle, nothing but the two tones elsewhere.
  auto ink = [&](int x0) {
    RECT r{x0, more.top, x0 + 20, more.bottom};
    return 20 * (more.bottom - more.top) - testkit::countPixels(r, RGB(235, 235, 235)) -
           testkit::countPixels(r, RGB(221, 221, 221));
  };
  EXPECT_GT(ink(middle - 10), 10);
  EXPECT_EQ(ink(more.left), 0);

  std::vector<HMessage*> held = {incoming(bob, "/me waves"), incoming(bob, "plain words"),
                                 incoming(bob, "a rather long text that has to wrap over more than one line here")};
  for (HMessage* m : held) deliver(m);
  HMessage* admin = incoming(bob, std::string("\x08\0\0\0", 4) + std::string(8, '\0') + "Carol", 0, 1767225600,
                             "olvaro/x-admin");
  deliver(admin);
  testkit::pump();
  RECT me = rowOnScreen(w, 1), plain = rowOnScreen(w, 2), wrapped = rowOnScreen(w, 3), line = rowOnScreen(w, 4);
  EXPECT_GT(testkit::countPixels(me, RGB(235, 0, 16)), 10);
  EXPECT_EQ(testkit::countPixels(plain, RGB(235, 0, 16)), 0);
  EXPECT_GT(wrapped.bottom - wrapped.top, plain.bottom - plain.top);
  EXPECT_GE(plain.bottom - plain.top, dpi / 4);
  EXPECT_EQ(line.bottom - line.top, dpi / 8 + 2);
  EXPECT_GT(testkit::countPixels(line, RGB(0, 0, 255)), 10);
  // Names and states in grey on the header line; the text icon at the left.
  EXPECT_GT(testkit::countPixels(plain, RGB(156, 157, 159)), 5);
  RECT iconArea{plain.left + 1, plain.top + 1, plain.left + dpi / 4, plain.top + dpi / 4};
  RECT icon = testkit::inkBox(iconArea, testkit::pixel(iconArea.left, iconArea.top));
  EXPECT_FALSE(IsRectEmpty(&icon));
  testkit::saveScreenshot("conversation_rows");
  for (HMessage* m : held) KS_ReleaseMessage(m);
  KS_ReleaseMessage(admin);
}

TEST_F(ChatTest, AnOutgoingTransferShowsItsProgress) {
  Outbox out;
  ChatWindow* w = openChat(bob);
  testkit::type("a message on its way to bob");
  testkit::key(VK_RETURN);
  ASSERT_EQ(out.sent.size(), 1u);
  hubtest::MessageRecord().progress(20).applyTo(out.sent[0]);
  testkit::pump();
  RECT row = rowOnScreen(w, w->list()->rowCount() - 1);
  RECT bar{row.right - 60, (row.top + row.bottom) / 2, row.right, row.bottom};
  int partly = testkit::countPixels(bar, RGB(156, 157, 159));
  hubtest::MessageRecord().progress(4).applyTo(out.sent[0]);
  testkit::pump();
  EXPECT_GT(partly, testkit::countPixels(bar, RGB(156, 157, 159)));
  hubtest::MessageRecord().progress(27).applyTo(out.sent[0]);
  testkit::pump();
  EXPECT_EQ(testkit::countPixels(bar, RGB(156, 157, 159)), 0)
      << "no bar once delivered";
}

TEST_F(ChatTest, TheEditBoxShowsItsHintOnlyWhileEmptyAndUnfocused) {
  ChatWindow* w = openChat(bob);
  RECT edit = testkit::screenRect(w->edit()->hwnd());
  constexpr COLORREF hint = RGB(224, 224, 224);
  EXPECT_EQ(testkit::countPixels(edit, hint), 0);  // focused
  SetFocus(w->list()->hwnd());
  testkit::pump();
  EXPECT_GT(testkit::countPixels(edit, hint), 10);
  testkit::saveScreenshot("conversation_hint");
  SetWindowText(w->edit()->hwnd(), u"words");
  InvalidateRect(w->edit()->hwnd(), nullptr, TRUE);
  testkit::pump();
  EXPECT_EQ(testkit::countPixels(edit, hint), 0);
}

class MenuTest : public ChatTest {
 protected:
  void SetUp() override {
    ChatTest::SetUp();
    std::string script = session().home() + "/opener.sh";
    std::ofstream(script) << "#!/bin/sh\nprintf '[%s]' \"$@\" >> \"" << session().home() << "/opened.txt\"\n";
    chmod(script.c_str(), 0700);
    setenv("OLVARO_OPEN_COMMAND", script.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("OLVARO_OPEN_COMMAND");
    ChatTest::TearDown();
  }
  std::string opened(size_t atLeast) {
    std::string path = session().home() + "/opened.txt", text;
    for (int i = 0; i < 500; ++i, usleep(10000)) {
      std::ifstream in(path);
      text.assign(std::istreambuf_iterator<char>(in), {});
      if (text.size() >= atLeast) break;
    }
    return text;
  }
};

TEST_F(MenuTest, TheMenuCopiesAndOpensEachWebAddress) {
  ChatWindow* w = openChat(bob);
  HMessage* m = incoming(bob, "look http://a.example/x and www.b.example");
  deliver(m);
  auto* row = messageRow(w, w->list()->rowCount() - 1);
  auto items = row->menuItems();
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0], std::make_pair(1, std::u16string(u"Copy to Clipboard")));
  EXPECT_EQ(items[1].first, -1);
  EXPECT_EQ(items[2], std::make_pair(0, std::u16string(u"Forward")));
  EXPECT_EQ(items[3], std::make_pair(100, std::u16string(u"http://a.example/x")));
  EXPECT_EQ(items[4], std::make_pair(101, std::u16string(u"www.b.example")));

  // From the keyboard: Enter on the row opens the menu, Enter takes the
  // first item.
  SetFocus(w->list()->hwnd());
  w->list()->setSelectedIndex(w->list()->rowCount() - 1);
  {
    testkit::ModalAnswers copy({testkit::pressing({VK_RETURN})}, testkit::Modal::Menu);
    testkit::key(VK_RETURN);
    EXPECT_EQ(copy.seen(), 1) << "the row's menu";
  }
  ASSERT_TRUE(OpenClipboard(nullptr));
  auto* text = static_cast<const char16_t*>(GetClipboardData(CF_UNICODETEXT));
  EXPECT_EQ(std::u16string(text ? text : u""), u"look http://a.example/x and www.b.example");
  CloseClipboard();

  row->runCommand(100);
  EXPECT_EQ(opened(20), "[http://a.example/x]");
  row->runCommand(101);
  EXPECT_EQ(opened(42), "[http://a.example/x][http://www.b.example]");
  KS_ReleaseMessage(m);
}

TEST_F(MenuTest, KindsChooseTheFirstItem) {
  ChatWindow* w = openChat(bob);
  HMessage* voice = incoming(bob, "\x02\x00xx", 1, 1767225600, "audio/x-speex");
  HMessage* photo = incoming(bob, "\xFF\xD8", 1, 1767225600, "image/jpeg");
  deliver(voice);
  deliver(photo);
  int n = w->list()->rowCount();
  EXPECT_EQ(messageRow(w, n - 2)->menuItems().front(), std::make_pair(2, std::u16string(u"Play")));
  EXPECT_EQ(messageRow(w, n - 1)->menuItems().front(), std::make_pair(3, std::u16string(u"View")));
  EXPECT_EQ(messageRow(w, n - 1)->menuItems().size(), 3u);  // no addresses in a photo
  KS_ReleaseMessage(voice);
  KS_ReleaseMessage(photo);
}

}  // namespace
}  // namespace msgtest
