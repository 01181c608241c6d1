#include "framework/control.h"

#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/fonts.h"
#include "framework/list_control.h"
#include "framework/tab_strip.h"
#include "framework_fixture.h"
#include "platform/module.h"

namespace {

using fwktest::Host;

class ControlTest : public testkit::PlatformTest {};

// Records each handler call as text.
class Probe : public fwk::Control {
 public:
  explicit Probe(HWND parent)
      : Control(nullptr, u"probe", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 20, 100, 50, parent, nullptr) {}
  std::vector<std::string> calls;
  bool swallowKeys = false;

 protected:
  void log(const char* fmt, long a = 0, long b = 0, long c = 0) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    calls.push_back(text);
  }
  LRESULT onCommand(UINT id, UINT code, HWND) override {
    log("command %ld %ld", long(id), long(code));
    return 0;
  }
  LRESULT onContextMenu(int x, int y) override {
    log("menu %ld %ld", x, y);
    return 0;
  }
  LRESULT onKey(UINT key, bool down, LPARAM data) override {
    log("key %ld %ld %ld", long(key), down ? 1 : 0, long(data & 0xFFFF));
    return swallowKeys ? 0 : Control::onKey(key, down, data);
  }
  LRESULT onStylusDown(bool dbl, int x, int y) override {
    log("down %ld %ld %ld", dbl ? 1 : 0, x, y);
    return Control::onStylusDown(dbl, x, y);
  }
  LRESULT onStylusUp(int x, int y) override {
    log("up %ld %ld", x, y);
    return 0;
  }
  LRESULT onNextDlgCtl(bool previous) override {
    log("next %ld", previous ? 1 : 0);
    return 0;
  }
  LRESULT onSize(UINT, int w, int h) override {
    log("size %ld %ld", w, h);
    return 0;
  }
  LRESULT onTimer(UINT_PTR id) override {
    log("timer %ld", long(id));
    return 0;
  }
  LRESULT onVScroll(UINT code, int pos, HWND) override {
    log("vscroll %ld %ld", long(code), pos);
    return 0;
  }
  LRESULT onMouseWheel(int delta, int, int) override {
    log("wheel %ld", delta);
    return 0;
  }
  LRESULT onDestroy() override {
    log("destroy");
    return Control::onDestroy();
  }
};

TEST_F(ControlTest, MessagesReachTheirHandlersWithTheirArguments) {
  Host host;
  Probe probe(host.hwnd());
  ASSERT_TRUE(probe.hwnd());
  EXPECT_EQ(fwk::controlFromWindow(probe.hwnd()), &probe);
  HWND h = probe.hwnd();

  SendMessage(h, WM_COMMAND, MAKEWPARAM(7, 3), 0);
  SendMessage(h, WM_CONTEXTMENU, WPARAM(h), MAKELPARAM(30, 40));
  SendMessage(h, WM_KEYDOWN, VK_DOWN, 2);
  SendMessage(h, WM_KEYUP, VK_DOWN, 1);
  SendMessage(h, WM_NEXTDLGCTL, 1, 0);
  SendMessage(h, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 40000), 0);
  SendMessage(h, WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-120)), 0);
  SetTimer(h, 42, 100, nullptr);
  testkit::runClock(100);
  KillTimer(h, 42);
  MoveWindow(h, 10, 20, 80, 30, TRUE);
  testkit::tap(15, 25);
  testkit::runClock(2000);  // far apart: not a double tap
  testkit::doubleTap(16, 26);

  std::vector<std::string> expected = {"command 7 3", "menu 30 40", "key 40 1 2", "key 40 0 1", "next 1",
                                       "vscroll 5 40000", "wheel -120", "timer 42", "size 80 30",
                                       "down 0 5 5",  "up 5 5", "down 0 6 6", "up 6 6", "down 1 6 6", "up 6 6"};
  EXPECT_EQ(probe.calls, expected);
}

TEST_F(ControlTest, ClassFontAndDefaults) {
  Host host;
  Probe probe(host.hwnd());
  WCHAR name[64] = {};
  GetClassName(probe.hwnd(), name, 64);
  EXPECT_EQ(std::u16string(name), std::u16string(fwk::Control::moduleClassName()));

  // The class is named after this module's base address.
  Dl_info info{};
  ASSERT_TRUE(dladdr(reinterpret_cast<void*>(&fwk::smallFont), &info));
  char expected[64];
  std::snprintf(expected, sizeof expected, "KS_CTRL_%p", info.dli_fbase);
  EXPECT_EQ(testkit::narrow(name), expected);

  WNDCLASS wc{};
  ASSERT_TRUE(GetClassInfo(fwk::Control::moduleInstance(), name, &wc));
  EXPECT_EQ(wc.style & (CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS), UINT(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
  EXPECT_EQ(wc.lpfnWndProc, &fwk::controlWindowProc);
  ASSERT_NE(LoadCursor(nullptr, IDC_ARROW), nullptr);
  EXPECT_EQ(wc.hCursor, LoadCursor(nullptr, IDC_ARROW));
  EXPECT_NE(LoadCursor(nullptr, IDC_IBEAM), LoadCursor(nullptr, IDC_ARROW));
  EXPECT_EQ(LoadCursor(nullptr, MAKEINTRESOURCE(7)), nullptr);

  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessage(probe.hwnd(), WM_GETFONT, 0, 0)), fwk::smallFont());

  // Unhandled messages reach the platform's default: text is kept.
  SetWindowText(probe.hwnd(), u"hello");
  EXPECT_EQ(testkit::windowText(probe.hwnd()), "hello");
}

TEST_F(ControlTest, CloseDestroysAndTheObjectOutlivesItsWindow) {
  Host host;
  auto probe = std::make_unique<Probe>(host.hwnd());
  HWND h = probe->hwnd();
  SendMessage(h, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(probe->hwnd(), nullptr);
  EXPECT_EQ(probe->calls.back(), "destroy");
  probe.reset();  // must not touch the old handle

  // Destroying the parent's window takes the child's window along.
  auto child = std::make_unique<Probe>(host.hwnd());
  HWND c = child->hwnd();
  DestroyWindow(host.hwnd());
  EXPECT_FALSE(IsWindow(c));
  EXPECT_EQ(child->hwnd(), nullptr);
}

TEST_F(ControlTest, DeletingTheObjectDestroysItsWindow) {
  Host host;
  auto probe = std::make_unique<Probe>(host.hwnd());
  HWND h = probe->hwnd();
  probe.reset();
  EXPECT_FALSE(IsWindow(h));
  EXPECT_TRUE(IsWindow(host.hwnd()));
}

// A stand-in for a platform control: keeps what it is typed.
int g_plainKeys = 0;
LRESULT CALLBACK plainProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_KEYDOWN) {
    ++g_plainKeys;
    return 0;
  }
  return DefWindowProc(h, msg, w, l);
}

class Sub : public fwk::Control {
 public:
  explicit Sub(HWND parent) : Control(u"FWTEST_PLAIN", u"start", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, parent, nullptr) {}
  int keys = 0;

 protected:
  LRESULT onKey(UINT key, bool down, LPARAM data) override {
    ++keys;
    if (key == VK_LEFT) return 0;  // kept from the control
    return Control::onKey(key, down, data);
  }
};

TEST_F(ControlTest, SubclassedControlPassesOnWhatItLeaves) {
  WNDCLASS wc{};
  wc.lpfnWndProc = plainProc;
  wc.lpszClassName = u"FWTEST_PLAIN";
  ASSERT_TRUE(RegisterClass(&wc) || GetClassInfo(nullptr, u"FWTEST_PLAIN", &wc));
  Host host;
  g_plainKeys = 0;
  auto sub = std::make_unique<Sub>(host.hwnd());
  HWND h = sub->hwnd();
  ASSERT_TRUE(h);
  EXPECT_EQ(testkit::className(h), "FWTEST_PLAIN");
  EXPECT_EQ(fwk::controlFromWindow(h), sub.get());
  EXPECT_EQ(testkit::windowText(h), "start");
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessage(h, WM_GETFONT, 0, 0)), fwk::smallFont());

  SendMessage(h, WM_KEYDOWN, VK_RIGHT, 1);
  SendMessage(h, WM_KEYDOWN, VK_LEFT, 1);
  EXPECT_EQ(sub->keys, 2);
  EXPECT_EQ(g_plainKeys, 1);

  // Gone with its object, the control's own procedure back in place.
  sub.reset();
  EXPECT_FALSE(IsWindow(h));
  SendMessage(h, WM_KEYDOWN, VK_RIGHT, 1);
  EXPECT_EQ(g_plainKeys, 1);
}

}  // namespace

namespace {

TEST_F(ControlTest, EveryModuleRegistersItsOwnClass) {
  Host host;
  std::vector<std::string> names{testkit::narrow(fwk::Control::moduleClassName())};
  std::vector<HMODULE> modules;
  for (const char* path : {FWMOD_A, FWMOD_B}) {
    HMODULE m = LoadLibrary(testkit::wide(path).c_str());
    ASSERT_TRUE(m) << path;
    modules.push_back(m);
    auto create = reinterpret_cast<HWND (*)(HWND)>(GetProcAddress(m, "fwmod_create"));
    ASSERT_TRUE(create);
    HWND h = create(host.hwnd());
    ASSERT_TRUE(h) << path;
    std::string name = testkit::className(h);
    EXPECT_EQ(name.rfind("KS_CTRL_0x", 0), 0u) << name;
    // The module's own object answers, through its own class.
    auto answer = reinterpret_cast<LPCWSTR>(SendMessage(h, WM_USER, 0, 0));
    ASSERT_TRUE(answer);
    EXPECT_EQ(testkit::narrow(answer), name);
    names.push_back(name);
  }
  EXPECT_NE(names[0], names[1]);
  EXPECT_NE(names[0], names[2]);
  EXPECT_NE(names[1], names[2]);
  // Kept loaded, as plug-ins are: their classes stay registered.
  for (HMODULE m : modules) reinterpret_cast<void (*)()>(GetProcAddress(m, "fwmod_destroy"))();
}

}  // namespace

namespace {

// A stand-in platform control that records what reaches its own procedure.
struct Seen {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Seen&) const = default;
};
std::vector<Seen> g_seen;
LRESULT CALLBACK recordingProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_KEYDOWN:
    case WM_MOUSEWHEEL:
    case WM_CONTEXTMENU:
    case WM_LBUTTONDOWN:
    case WM_HSCROLL:
      g_seen.push_back(Seen{msg, w, l});
      return 0;
  }
  return DefWindowProc(h, msg, w, l);
}

// Hands keys on with arguments of its own, after a message of another kind
// has been dispatched to it meanwhile.
class Passer : public fwk::Control {
 public:
  explicit Passer(HWND parent)
      : Control(u"FWTEST_RECORD", u"", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, parent, nullptr) {}

 protected:
  LRESULT onKey(UINT key, bool down, LPARAM) override {
    SendMessage(hwnd(), WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, 120), MAKELPARAM(1, 2));
    return Control::onKey(key, down, 0);
  }
};

TEST_F(ControlTest, DefaultsPassTheMessageOnAsItCame) {
  WNDCLASS wc{};
  wc.lpfnWndProc = recordingProc;
  wc.lpszClassName = u"FWTEST_RECORD";
  ASSERT_TRUE(RegisterClass(&wc) || GetClassInfo(nullptr, u"FWTEST_RECORD", &wc));
  Host host;
  Passer passer(host.hwnd());
  HWND h = passer.hwnd();
  ASSERT_TRUE(h);
  g_seen.clear();

  const LPARAM keyFlags = LPARAM(0x01480001);  // extended key, scan code 0x48, once
  const WPARAM wheel = MAKEWPARAM(MK_CONTROL | MK_SHIFT, WORD(-240));
  const WPARAM clicked = reinterpret_cast<WPARAM>(host.hwnd());  // the window the menu was asked in
  SendMessage(h, WM_KEYDOWN, VK_UP, keyFlags);
  SendMessage(h, WM_MOUSEWHEEL, wheel, MAKELPARAM(30, 40));
  SendMessage(h, WM_CONTEXTMENU, clicked, MAKELPARAM(0xFFFF, 0xFFFF));
  SendMessage(h, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(3, 4));
  SendMessage(h, WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 0xFFF0), 0);

  std::vector<Seen> expected = {
      {WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, 120), MAKELPARAM(1, 2)},  // the one sent inside the key's handler
      {WM_KEYDOWN, VK_UP, keyFlags},
      {WM_MOUSEWHEEL, wheel, MAKELPARAM(30, 40)},
      {WM_CONTEXTMENU, clicked, MAKELPARAM(0xFFFF, 0xFFFF)},
      {WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(3, 4)},
      {WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 0xFFF0), 0},
  };
  EXPECT_EQ(g_seen, expected);
}

// Counts focus changes and whether the focus was already there when the
// tap reached the handler.
template <class Base>
class FocusWatch : public Base {
 public:
  using Base::Base;
  int focuses = 0;
  int downs = 0;
  int downsFocused = 0;

 protected:
  LRESULT onSetFocus(HWND previous) override {
    ++focuses;
    return Base::onSetFocus(previous);
  }
  LRESULT onStylusDown(bool dbl, int x, int y) override {
    ++downs;
    if (GetFocus() == this->hwnd()) ++downsFocused;
    return Base::onStylusDown(dbl, x, y);
  }
};

TEST_F(ControlTest, ATapGivesTheFocusOnceBeforeTheHandlerSeesIt) {
  Host host;
  // List and tab strip take the focus whatever their style.
  FocusWatch<fwk::ListControl> list(host.hwnd(), WS_CHILD | WS_VISIBLE, 0, 0, 240, 60);
  FocusWatch<fwk::TabStrip> strip(host.hwnd(), WS_CHILD | WS_VISIBLE, 0, 60, 240, 30);
  strip.addTab(std::make_unique<fwk::TabItem>(u"One"));
  FocusWatch<fwk::Control> stop(nullptr, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 100, 240, 40, host.hwnd(),
                                nullptr);
  FocusWatch<fwk::Control> plain(nullptr, u"", WS_CHILD | WS_VISIBLE, 0, 150, 240, 40, host.hwnd(), nullptr);
  testkit::pump();

  testkit::tap(50, 30);
  EXPECT_EQ(GetFocus(), list.hwnd());
  testkit::runClock(2000);
  testkit::doubleTap(50, 30);
  EXPECT_EQ(list.focuses, 1);
  EXPECT_EQ(list.downs, 3);
  EXPECT_EQ(list.downsFocused, 3);

  testkit::runClock(2000);
  testkit::tap(5, 75);
  EXPECT_EQ(GetFocus(), strip.hwnd());
  EXPECT_EQ(strip.focuses, 1);
  EXPECT_EQ(strip.downsFocused, 1);

  testkit::runClock(2000);
  testkit::tap(50, 120);
  EXPECT_EQ(GetFocus(), stop.hwnd());
  EXPECT_EQ(stop.focuses, 1);
  EXPECT_EQ(stop.downsFocused, 1);

  // Not in the keyboard order: the tap is handled, the focus stays put.
  testkit::runClock(2000);
  testkit::tap(50, 170);
  EXPECT_EQ(plain.downs, 1);
  EXPECT_EQ(plain.focuses, 0);
  EXPECT_EQ(GetFocus(), stop.hwnd());
}

}  // namespace
