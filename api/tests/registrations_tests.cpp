// Owning handles for subscriptions and named functions, and handle names.
#include <cstdio>
#include <memory>

#include "entities.h"  // white-box checks of the hub's insides
#include "hubtest/hub_test.h"
#include "hubtest/records.h"
#include "olvaro/registrations.h"

using hubtest::Recorder;
using hubtest::makeContact;

using RegistrationsTest = hubtest::HubTest;
using namespace olvaro;

TEST_F(RegistrationsTest, SubscriptionGoesWithItsOwnerAndMovesWithIt) {
  Recorder r, other;
  {
    EventSubscription s = subscribeEvent("e", Recorder::callback, &r);
    EXPECT_EQ(KS_EventRaise("e", nullptr), 1);
  }
  EXPECT_EQ(KS_EventRaise("e", nullptr), 0);

  EventSubscription a = subscribeEvent("e", Recorder::callback, &r);
  EventSubscription b = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_EQ(KS_EventRaise("e", nullptr), 1);
  a.reset();  // empty: must not touch b's subscription
  EXPECT_EQ(KS_EventRaise("e", nullptr), 1);

  // Assigning over a held subscription gives the old one back.
  VariantSubscription v = subscribeVariant("v", Recorder::callback, &r);
  v = subscribeVariant("v", Recorder::callback, &other);
  KS_SetVariantLong("v", 1);
  EXPECT_EQ(other.count(), 1u);
  EXPECT_EQ(r.count(), 3u);  // the event raises only

  b.reset(b.get());  // holding the same one again keeps it
  EXPECT_EQ(KS_EventRaise("e", nullptr), 1);
  Subscription* loose = b.release();
  EXPECT_EQ(KS_EventRaise("e", nullptr), 1);
  KS_EventUnsubscribe(loose);
  EXPECT_EQ(KS_EventRaise("e", nullptr), 0);
}

TEST_F(RegistrationsTest, EntitySubscriptionOutlivesItsEntity) {
  Recorder r;
  HContact* c = makeContact(1);
  ContactSubscription s = subscribeContact(c, Recorder::callback, &r);
  EXPECT_TRUE(s.attached());
  KS_ReleaseContact(c);
  EXPECT_TRUE(s);
  EXPECT_FALSE(s.attached());  // freed by the owner, without the dead signal
}

TEST_F(RegistrationsTest, FunctionGoesWithItsOwnerOnlyWhileItIsStillItsOwn) {
  Recorder r, other;
  {
    FunctionRegistration f("f", Recorder::callback, &r);
    EXPECT_TRUE(f.bound());
    EXPECT_EQ(KS_CallFunction("f", nullptr), 7u);
  }
  EXPECT_EQ(KS_GetFunctionProcAddress("f", nullptr, nullptr), 0);

  // Someone else's later binding of the name survives the first owner, even
  // with the very same function and user pointer.
  auto first = std::make_unique<FunctionRegistration>("f", Recorder::callback, &r);
  FunctionRegistration second("f", Recorder::callback, &r);
  EXPECT_FALSE(first->bound());
  first.reset();
  EXPECT_EQ(KS_GetFunctionProcAddress("f", nullptr, nullptr), 1);
  KS_RegisterFunction("f", Recorder::callback, &other);
  second.reset();
  void* user = nullptr;
  ASSERT_EQ(KS_GetFunctionProcAddress("f", nullptr, &user), 1);
  EXPECT_EQ(user, &other);
  KS_UnregisterFunction("f");

  // Moving hands the binding over; reset to a new name lets the old one go.
  FunctionRegistration g("g", Recorder::callback, &r);
  FunctionRegistration h = std::move(g);
  EXPECT_FALSE(g);
  g = FunctionRegistration();
  EXPECT_EQ(KS_GetFunctionProcAddress("g", nullptr, nullptr), 1);
  h.reset("h", Recorder::callback, &r);
  EXPECT_EQ(KS_GetFunctionProcAddress("g", nullptr, nullptr), 0);
  EXPECT_EQ(h.name(), "h");
  EXPECT_EQ(KS_CallFunction("h", nullptr), 7u);

  // An owner that outlives the hub does not bring up a new one.
  KS_API_Cleanup();
  h.reset();
  EXPECT_FALSE(fwk::Singleton<kestrum::Data>::hasInstance());
}

TEST_F(RegistrationsTest, HandleNamesPrintThePointerAsSnprintfDoes) {
  int object = 0;
  for (const void* handle : {static_cast<const void*>(&object), static_cast<const void*>(nullptr),
                             reinterpret_cast<const void*>(uintptr_t(0xfff0))}) {
    char expected[96];
    std::snprintf(expected, sizeof expected, "Service/%p/AddContact", handle);
    EXPECT_EQ(handleName("Service/%p/AddContact", handle), expected);
    std::snprintf(expected, sizeof expected, "KS_CON_SINK_WINDOW_%p", handle);
    EXPECT_EQ(handleName("KS_CON_SINK_WINDOW_%p", handle), expected);
    std::u16string wide = handleName(u"KS_CTRL_%p", handle);
    EXPECT_EQ(std::string(wide.begin(), wide.end()), handleName("KS_CTRL_%p", handle));
  }
  // Only the first "%p" is replaced; other conversions stay as text.
  char printed[32];
  std::snprintf(printed, sizeof printed, "%p", static_cast<void*>(&object));
  EXPECT_EQ(handleName("%s%n/%p/%p%", &object), std::string("%s%n/") + printed + "/%p%");
  EXPECT_EQ(handleName("no handle", &object), "no handle");
  EXPECT_EQ(handleName(static_cast<const char*>(nullptr), &object), "");
  EXPECT_EQ(handleName(u"plain", &object), u"plain");
}
