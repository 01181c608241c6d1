// Menus as data, menus tracked by keys and stylus, and message boxes
// answered by each soft key, the action key, Back and the stylus.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "controls_fixture.h"
#include "platform/menu.h"
#include "platform/msgbox.h"
#include "platform/phoneshell.h"
#include "testkit/modal.h"

using namespace ctest;

namespace {

POINT centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

std::function<POINT()> menuItem(int position) {
  return [position] {
    RECT r{};
    platform::menuItemRect(platform::activeMenuWindow(), position, &r);
    return centre(r);
  };
}

// File: Open(1) | separator | Greyed(2, grayed) | More > [Deep(3), Deeper(4)] | Exit(5)
HMENU sampleMenu() {
  HMENU m = CreatePopupMenu();
  HMENU more = CreatePopupMenu();
  AppendMenu(more, MF_STRING, 3, u"Deep");
  AppendMenu(more, MF_STRING, 4, u"Deeper");
  AppendMenu(m, MF_STRING, 1, u"Open");
  AppendMenu(m, MF_SEPARATOR, 0, nullptr);
  AppendMenu(m, MF_STRING | MF_GRAYED, 2, u"Greyed");
  AppendMenu(m, MF_POPUP, UINT_PTR(more), u"More");
  AppendMenu(m, MF_STRING, 5, u"Exit");
  return m;
}

class MenuModel : public ControlTest {};
class MenuTrack : public ControlTest {};
class MessageBoxes : public ControlTest {};

TEST_F(MenuModel, ItemsBySubMenusPositionsAndCommands) {
  HMENU m = sampleMenu();
  EXPECT_EQ(GetMenuItemCount(m), 5);
  HMENU more = GetSubMenu(m, 3);
  ASSERT_NE(more, nullptr);
  EXPECT_EQ(GetSubMenu(m, 0), nullptr);
  EXPECT_EQ(GetMenuItemID(m, 4), 5u);
  EXPECT_EQ(GetMenuItemID(m, 3), UINT(-1));
  // By command, the search goes into sub-menus; the new item goes before.
  EXPECT_TRUE(InsertMenu(m, 4, MF_BYCOMMAND, 6, u"Before Deeper"));
  EXPECT_EQ(GetMenuItemCount(more), 3);
  EXPECT_EQ(GetMenuItemID(more, 1), 6u);
  EXPECT_TRUE(InsertMenu(m, 0, MF_BYPOSITION, 7, u"Top"));
  EXPECT_EQ(GetMenuItemID(m, 0), 7u);
  EXPECT_FALSE(InsertMenu(m, 999, MF_BYCOMMAND, 8, u"Nowhere"));
  WCHAR buf[32];
  EXPECT_EQ(GetMenuString(m, 6, buf, 32, MF_BYCOMMAND), 13);
  EXPECT_EQ(std::u16string(buf), u"Before Deeper");
  // Check and enable report the previous state, -1 for no such item.
  EXPECT_EQ(CheckMenuItem(m, 3, MF_BYCOMMAND | MF_CHECKED), DWORD(MF_UNCHECKED));
  EXPECT_EQ(CheckMenuItem(m, 3, MF_BYCOMMAND | MF_UNCHECKED), DWORD(MF_CHECKED));
  EXPECT_EQ(CheckMenuItem(m, 42, MF_BYCOMMAND | MF_CHECKED), DWORD(-1));
  EXPECT_EQ(EnableMenuItem(m, 2, MF_BYCOMMAND | MF_ENABLED), BOOL(MF_GRAYED));
  EXPECT_EQ(GetMenuState(m, 2, MF_BYCOMMAND) & MF_GRAYED, 0u);
  // A menu cannot go inside itself.
  EXPECT_FALSE(AppendMenu(more, MF_POPUP, UINT_PTR(m), u"Loop"));
  // RemoveMenu keeps the sub-menu, DeleteMenu destroys it.
  int morePos = 4;
  ASSERT_EQ(GetSubMenu(m, morePos), more);
  EXPECT_TRUE(RemoveMenu(m, UINT(morePos), MF_BYPOSITION));
  EXPECT_TRUE(IsMenu(more));
  EXPECT_TRUE(AppendMenu(m, MF_POPUP, UINT_PTR(more), u"More again"));
  EXPECT_TRUE(DeleteMenu(m, UINT(GetMenuItemCount(m) - 1), MF_BYPOSITION));
  EXPECT_FALSE(IsMenu(more));
  // Destroying a menu takes its sub-menus with it.
  HMENU inner = CreatePopupMenu();
  AppendMenu(m, MF_POPUP, UINT_PTR(inner), u"Inner");
  EXPECT_TRUE(DestroyMenu(m));
  EXPECT_FALSE(IsMenu(inner));
  EXPECT_EQ(GetMenuItemCount(m), -1);
  EXPECT_FALSE(DestroyMenu(m));
}

std::vector<UINT>& initPopups() {
  static std::vector<UINT> v;
  return v;
}

LRESULT CALLBACK ownerProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_INITMENUPOPUP) initPopups().push_back(UINT(GetMenuItemCount(reinterpret_cast<HMENU>(w))));
  return hostProc(h, m, w, l);
}

TEST_F(MenuTrack, KeysChooseSkipGreyedAndOpenSubMenus) {
  initPopups().clear();
  SetWindowLongPtr(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ownerProc));
  HMENU m = sampleMenu();
  {
    // Down from "Open" skips the separator and the greyed item.
    testkit::ModalAnswers s(testkit::keyPerWait({VK_DOWN, VK_RETURN}));
    EXPECT_EQ(TrackPopupMenuEx(m, TPM_RETURNCMD, 10, 10, host, nullptr), 0) << "More opens, chooses nothing yet";
  }
  {
    testkit::ModalAnswers s(testkit::keyPerWait({VK_DOWN, VK_RIGHT, VK_DOWN, VK_RETURN}));
    EXPECT_EQ(TrackPopupMenuEx(m, TPM_RETURNCMD, 10, 10, host, nullptr), 4);
  }
  ASSERT_GE(initPopups().size(), 3u);
  EXPECT_EQ(initPopups()[0], 5u);
  EXPECT_EQ(initPopups()[1], 2u) << "the sub-menu is announced when it opens";
  {
    // Up wraps to the last item; Back dismisses.
    testkit::ModalAnswers s(testkit::keyPerWait({VK_UP, VK_ESCAPE}));
    EXPECT_EQ(TrackPopupMenuEx(m, TPM_RETURNCMD, 10, 10, host, nullptr), 0);
  }
  {
    // Left closes only the sub-menu.
    testkit::ModalAnswers s(testkit::keyPerWait({VK_UP, VK_UP, VK_RIGHT, VK_LEFT, VK_DOWN, VK_RETURN}));
    EXPECT_EQ(TrackPopupMenuEx(m, TPM_RETURNCMD, 10, 10, host, nullptr), 5);
  }
  {
    // Without TPM_RETURNCMD the choice arrives as WM_COMMAND.
    testkit::ModalAnswers s(testkit::keyPerWait({VK_RETURN}));
    EXPECT_EQ(TrackPopupMenuEx(m, 0, 10, 10, host, nullptr), TRUE);
    testkit::pump();
    EXPECT_EQ(count(1, 0), 1);
  }
  DestroyMenu(m);
}

TEST_F(MenuTrack, StylusChoosesAndATapOutsideDismisses) {
  HMENU m = sampleMenu();
  HWND edit = make(WC_EDIT, "keep", WS_BORDER, RECT{10, 200, 200, 224});
  SetFocus(edit);
  {
    testkit::ModalAnswers s({testkit::tapping(menuItem(4))});
    EXPECT_EQ(TrackPopupMenuEx(m, TPM_RETURNCMD, 20, 20, host, nullptr), 5);
  }
  EXPECT_EQ(GetFocus(), edit) << "the focus is back where it was";
  {
    // The greyed item does nothing; a tap outside then dismisses.
    testkit::ModalAnswers s({testkit::tapping(menuItem(2)), testkit::tapping([] { return POINT{230, 310}; })});
    EXPECT_EQ(TrackPopupMenuEx(m, TPM_RETURNCMD, 20, 20, host, nullptr), 0);
  }
  EXPECT_EQ(text(edit), "keep") << "the dismissing tap went nowhere";
  {
    testkit::ModalAnswers s({testkit::tapping(menuItem(3)), testkit::tapping(menuItem(0))});
    EXPECT_EQ(TrackPopupMenuEx(m, TPM_RETURNCMD, 20, 20, host, nullptr), 3);
  }
  // The menu fits on the screen even when asked for at its corner.
  {
    RECT seen{};
    testkit::ModalAnswers s({[&](HWND w) {
      GetWindowRect(w, &seen);
      testkit::press(VK_ESCAPE);
    }});
    TrackPopupMenuEx(m, TPM_RETURNCMD, 239, 319, host, nullptr);
    EXPECT_LE(seen.right, 240);
    EXPECT_LE(seen.bottom, 320);
    EXPECT_GT(seen.right - seen.left, 20);
  }
  // Nothing answering on the headless screen dismisses instead of hanging.
  EXPECT_EQ(TrackPopupMenuEx(m, TPM_RETURNCMD, 20, 20, host, nullptr), 0);
  EXPECT_EQ(platform::activeMenuWindow(), nullptr);
  EXPECT_FALSE(TrackPopupMenuEx(nullptr, TPM_RETURNCMD, 0, 0, host, nullptr));
  DestroyMenu(m);
}

TEST_F(MessageBoxes, EachAnswerBySoftKeysActionBackAndStylus) {
  HWND edit = make(WC_EDIT, "", WS_BORDER, RECT{10, 200, 200, 224});
  SetFocus(edit);
  bool ownerDisabled = false;
  std::u16string shownText;
  {
    testkit::ModalAnswers s({[&](HWND box) {
      ownerDisabled = !IsWindowEnabled(host);
      shownText = platform::messageBoxText(box);
      testkit::press(VK_TSOFT1);
    }});
    EXPECT_EQ(MessageBox(host, u"Are you sure?", u"Exit Olvaro?", MB_YESNO | MB_ICONQUESTION), IDYES);
  }
  EXPECT_TRUE(ownerDisabled);
  EXPECT_EQ(shownText, u"Are you sure?");
  EXPECT_TRUE(IsWindowEnabled(host));
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_EQ(platform::activeMessageBox(), nullptr);
  {
    testkit::ModalAnswers s(testkit::keyPerWait({VK_TSOFT2}));
    EXPECT_EQ(MessageBox(host, u"q", u"c", MB_YESNO), IDNO);
  }
  {
    testkit::ModalAnswers s(testkit::keyPerWait({VK_ESCAPE}));
    EXPECT_EQ(MessageBox(host, u"q", u"c", MB_YESNO), IDNO);
  }
  {
    testkit::ModalAnswers s(testkit::keyPerWait({VK_RETURN}));
    EXPECT_EQ(MessageBox(host, u"q", u"c", MB_YESNO), IDYES);
  }
  {
    testkit::ModalAnswers s(testkit::keyPerWait({VK_RETURN}));
    EXPECT_EQ(MessageBox(host, u"q", u"c", MB_YESNO | MB_DEFBUTTON2), IDNO);
  }
  {
    testkit::ModalAnswers s(testkit::keyPerWait({VK_TSOFT1}));
    EXPECT_EQ(MessageBox(host, u"A required field is missing", u"Missing Field", MB_OK | MB_ICONEXCLAMATION), IDOK);
  }
  {
    // The right key of an OK box has nothing on it.
    testkit::ModalAnswers s(testkit::keyPerWait({VK_TSOFT2, VK_ESCAPE}));
    EXPECT_EQ(MessageBox(host, u"t", u"c", MB_OK), IDOK);
  }
  {
    auto key = [](int k) {
      return [k] {
        RECT r{};
        platform::shellSoftKeyRect(k, &r);
        return centre(r);
      };
    };
    testkit::ModalAnswers s({testkit::tapping(key(1))});
    EXPECT_EQ(MessageBox(host, u"q", u"c", MB_YESNO), IDNO);
    testkit::ModalAnswers t({testkit::tapping(key(0))});
    EXPECT_EQ(MessageBox(host, u"q", u"c", MB_OKCANCEL), IDOK);
  }
  // Unanswered on the headless screen: 0, and the owner works again.
  EXPECT_EQ(MessageBox(host, u"q", u"c", MB_YESNO), 0);
  EXPECT_TRUE(IsWindowEnabled(host));
  EXPECT_EQ(MessageBox(host, u"q", u"c", 0x7), 0) << "an unknown button set is refused";
}

TEST_F(MessageBoxes, ARecorderSeesEveryBoxAndAnswersIt) {
  std::vector<HWND> shownBoxes;
  {
    testkit::MessageBoxRecorder boxes(IDNO);
    EXPECT_EQ(MessageBox(host, u"Delete all history?", u"History", MB_YESNO | MB_ICONQUESTION), IDNO);
    ASSERT_EQ(boxes.count(), 1u);
    testkit::SeenMessageBox seen = boxes.last();
    EXPECT_EQ(seen.owner, host);
    EXPECT_EQ(seen.caption, "History");
    EXPECT_EQ(seen.text, "Delete all history?");
    EXPECT_EQ(seen.type, UINT(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(seen.answer, IDNO);
    EXPECT_TRUE(IsWindowEnabled(host));
    EXPECT_EQ(platform::activeMessageBox(), nullptr);

    // An answer the box does not offer leaves it unanswered.
    EXPECT_EQ(MessageBox(host, u"Signed out.", u"Olvaro", MB_OK), 0);
    boxes.setAnswer(platform::kMessageBoxDefaultAnswer);
    EXPECT_EQ(MessageBox(host, u"q", u"c", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    boxes.setAnswerer([&](const testkit::SeenMessageBox& b) {
      shownBoxes.push_back(platform::activeMessageBox());
      return b.text == "Retry?" ? IDYES : IDNO;
    });
    EXPECT_EQ(MessageBox(nullptr, u"Retry?", nullptr, MB_YESNO), IDYES);
    EXPECT_EQ(boxes.last().caption, "Error");  // the default caption, as shown
    {
      testkit::MessageBoxRecorder inner(IDOK);
      EXPECT_EQ(MessageBox(host, u"inner", u"c", MB_OK), IDOK);
      EXPECT_EQ(inner.count(), 1u);
    }
    EXPECT_EQ(boxes.count(), 4u);  // the inner recorder had that one
    // Boxes from another thread are seen too.
    // (Its box takes the activation from this thread's window, which this
    // thread must handle: pump while waiting.)
    std::atomic<int> fromThread{-1};
    std::thread t([&] { fromThread = MessageBox(nullptr, u"Far away", u"Worker", MB_YESNO); });
    for (int i = 0; i < 5000 && fromThread < 0; ++i) {
      testkit::pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    t.join();
    EXPECT_EQ(fromThread, IDNO);
    EXPECT_EQ(boxes.count(), 5u);
    EXPECT_EQ(boxes.last().text, "Far away");
  }
  // The answerer ran while the real box was up.
  ASSERT_EQ(shownBoxes.size(), 2u);
  EXPECT_NE(shownBoxes[0], nullptr);
  // Without a recorder the box is left to the user again.
  EXPECT_EQ(MessageBox(host, u"q", u"c", MB_YESNO), 0);
}

TEST_F(MessageBoxes, IconsAreDrawnInTheirColours) {
  struct Case {
    UINT type;
    COLORREF colour;
  } cases[] = {{MB_ICONERROR, RGB(200, 30, 30)},
               {MB_ICONEXCLAMATION, RGB(240, 190, 0)},
               {MB_ICONINFORMATION, RGB(30, 90, 200)},
               {MB_ICONQUESTION, RGB(30, 90, 200)}};
  for (const Case& c : cases) {
    int coloured = -1, black = -1;
    UINT kind = 0;
    std::string caption;
    testkit::ModalAnswers s({[&](HWND box) {
      kind = platform::messageBoxIcon(box);
      caption = testkit::windowText(box);
      coloured = testkit::countPixels(testkit::screenRect(box), c.colour);
      RECT body = testkit::screenRect(box);
      body.top += 30;  // below the caption band
      body.left += 44;  // right of the icon
      black = testkit::countPixels(body, RGB(0, 0, 0));
      testkit::press(VK_TSOFT1);
    }});
    EXPECT_EQ(MessageBox(host, u"You are not signed in.", u"Can't add service", MB_OK | c.type), IDOK);
    EXPECT_EQ(kind, c.type);
    EXPECT_EQ(caption, "Can't add service");
    EXPECT_GT(coloured, 20) << std::hex << c.type;
    EXPECT_GT(black, 40) << "the text is written in black beside the icon";
  }
}

}  // namespace
