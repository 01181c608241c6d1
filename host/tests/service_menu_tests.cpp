// The label of a service's submenu.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "service_menu.h"

namespace {

std::string label(bool hasType, const char* longName, const char* user, const char* display = nullptr) {
  return platform::narrow(host::serviceMenuLabel(hasType, longName, user, display));
}

}  // namespace

TEST(ServiceMenuLabel, AccountTextFitsOrIsCutAtTheAtSignOrTo13AndDots) {
  // Exactly 16 characters: whole, even with an "@".
  EXPECT_EQ(label(true, "Jabber", "abcdefghij@x.org"), "Jabber (abcdefghij@x.org)");
  // 17 characters with "@": the part before it.
  EXPECT_EQ(label(true, "Jabber", "abcdefghijk@x.org"), "Jabber (abcdefghijk)");
  // The part before "@" is itself too long: 13 characters and "...".
  EXPECT_EQ(label(true, "ICQ", "abcdefghijklmnopq@example.com"), "ICQ (abcdefghijklm...)");
  // Too long without "@".
  EXPECT_EQ(label(true, "ICQ", "12345678901234567"), "ICQ (1234567890123...)");
  // The part before "@" is exactly 16: kept whole.
  EXPECT_EQ(label(true, "ICQ", "abcdefghijklmnop@example.com"), "ICQ (abcdefghijklmnop)");
}

TEST(ServiceMenuLabel, NameFallsBackToOlvaroAndAccountToDisplayName) {
  EXPECT_EQ(label(false, "ignored", "me@x.org"), "Olvaro (me@x.org)");
  EXPECT_EQ(label(true, "Yahoo!", "", "Display Name"), "Yahoo! (Display Name)");
  EXPECT_EQ(label(true, "Yahoo!", nullptr, nullptr), "Yahoo!");
  EXPECT_EQ(label(true, nullptr, "", ""), "");
}

TEST(ServiceMenuLabel, CountsCharactersNotBytes) {
  // 16 accented characters are 32 bytes of UTF-8 but fit.
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += "\xC3\xA9";
  EXPECT_EQ(label(true, "MSN", sixteen.c_str()), "MSN (" + sixteen + ")");
  std::string cut;
  for (int i = 0; i < 13; ++i) cut += "\xC3\xA9";
  EXPECT_EQ(label(true, "MSN", (sixteen + "\xC3\xA9").c_str()), "MSN (" + cut + "...)");
}

// ---- the menu itself ----------------------------------------------------------

#include <cstdio>

#include "host_window_fixture.h"
#include "platform/menu.h"
#include "platform/phoneshell.h"
#include "testkit/modal.h"

namespace {

// A service whose "CreatePopupMenu" hands out a new menu each time (or none).
struct OfferedMenus {
  bool offer = true;
  std::vector<HMENU> handedOut;
  static uint32_t create(void* user, void*) {
    auto* self = static_cast<OfferedMenus*>(user);
    if (!self->offer) return 0;
    HMENU m = CreatePopupMenu();
    AppendMenu(m, MF_STRING, 50001, u"Online");
    self->handedOut.push_back(m);
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m));
  }
};

// The caller releases the service and then its type (services keep their
// type without a reference).
HService* makeService(const char* typeName, const char* userName, OfferedMenus* menus, HServiceType** type) {
  ServiceTypeData t{};
  t.size = sizeof t;
  t.mask = SERVICETYPE_LONGNAME | SERVICETYPE_SHORTNAME;
  t.longName = typeName;
  t.shortName = typeName;
  ServiceData d{};
  d.size = sizeof d;
  d.mask = SERVICE_TYPE | SERVICE_USERNAME;
  d.type = *type = KS_CreateServiceType(&t);
  d.userName = userName;
  HService* s = KS_CreateService(&d);
  char name[64];
  std::snprintf(name, sizeof name, "Service/%p/CreatePopupMenu", static_cast<void*>(s));
  KS_RegisterFunction(name, &OfferedMenus::create, menus);
  return s;
}

struct MenuLook {
  int opened = 0;
  int items = -1;
  std::string first;
  std::string last;
};

}  // namespace

class ServiceMenuTest : public HostWindowTest {
 protected:
  // Opens "Menu" with the right soft key, looks, and dismisses it.
  MenuLook openMenu(const char* screenshot = nullptr) {
    MenuLook look;
    testkit::ModalAnswers answer({[&](HWND) {
      HMENU menu = reinterpret_cast<HMENU>(SendMessage(main().menuBar(), SHCMBM_GETSUBMENU, 0, host::kCommandMenu));
      look.items = GetMenuItemCount(menu);
      WCHAR text[128] = {};
      GetMenuString(menu, 0, text, 128, MF_BYPOSITION);
      look.first = testkit::narrow(text);
      GetMenuString(menu, look.items - 1, text, 128, MF_BYPOSITION);
      look.last = testkit::narrow(text);
      if (screenshot) testkit::saveScreenshot(screenshot);
      testkit::press(VK_ESCAPE);
    }});
    testkit::key(VK_TSOFT2);
    look.opened = answer.seen();
    return look;
  }
};

TEST_F(ServiceMenuTest, WithoutOfferingServicesOnlyTheHostItemsShow) {
  start();
  OfferedMenus none;
  none.offer = false;
  HServiceType* t = nullptr;
  HService* s = makeService("ICQ", "123456", &none, &t);
  MenuLook look = openMenu();
  EXPECT_GE(look.opened, 1);
  EXPECT_EQ(look.items, 4);
  EXPECT_EQ(look.first, "Add Service...");
  EXPECT_EQ(look.last, "Exit...");
  EXPECT_EQ(main().serviceSubmenus(), 0);
  KS_ReleaseService(s);
  KS_ReleaseServiceType(t);
}

TEST_F(ServiceMenuTest, OfferingServicesGetSubmenusRebuiltAndFreedEachTime) {
  start();
  OfferedMenus offered, silent;
  silent.offer = false;
  HServiceType *ta = nullptr, *tb = nullptr;
  HService* a = makeService("ICQ", "abcdefghijklmnopq@example.com", &offered, &ta);
  HService* b = makeService("AIM", "buddy", &silent, &tb);
  int32_t countA = KS_GetHandleReferenceCount(a), countB = KS_GetHandleReferenceCount(b);
  MenuLook look = openMenu("host_menu");
  EXPECT_EQ(look.items, 5);
  EXPECT_EQ(look.first, "ICQ (abcdefghijklm...)");
  EXPECT_EQ(main().serviceSubmenus(), 1);

  look = openMenu();
  EXPECT_EQ(look.items, 5);  // replaced, not added again
  ASSERT_EQ(offered.handedOut.size(), 2u);
  EXPECT_FALSE(IsMenu(offered.handedOut[0]));  // the old one was freed
  EXPECT_TRUE(IsMenu(offered.handedOut[1]));
  // The host gave back every service reference it took.
  EXPECT_EQ(KS_GetHandleReferenceCount(a), countA);
  EXPECT_EQ(KS_GetHandleReferenceCount(b), countB);
  KS_ReleaseService(a);
  KS_ReleaseService(b);
  KS_ReleaseServiceType(ta);
  KS_ReleaseServiceType(tb);
}
