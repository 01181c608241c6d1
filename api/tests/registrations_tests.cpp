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

// Registrations made through the typed binders.
namespace {

struct Total {
  int32_t value = 0;
};

struct Counter {
  int calls = 0;
  int32_t last = 0;
  EventSubscription event;
  FunctionRegistration function;

  void onEvent() { ++calls; }
  uint32_t add(Total* total) {
    ++calls;
    if (total) total->value += last;
    return total ? uint32_t(total->value) : 99u;
  }
  bool take(const Total& total) {
    ++calls;
    last = total.value;
    return total.value > 0;
  }
  int32_t negative() const { return -2; }
};

// The bound method may live in a base class of the owner handed in.
struct DerivedCounter : Total, Counter {};

}  // namespace

TEST_F(RegistrationsTest, BoundMethodRunsOnItsOwnerWithTheArgument) {
  DerivedCounter a, b;
  EventSubscription ea = subscribeEvent<&Counter::onEvent>("e", &a);
  EventSubscription eb = subscribeEvent<&Counter::onEvent>("e", &b);
  EXPECT_EQ(KS_EventRaise("e", nullptr), 2);
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(b.calls, 1);

  // A pointer comes as it was passed, null included; the result is the call's.
  a.last = 5;
  FunctionRegistration add = FunctionRegistration::bind<&Counter::add>("add", &a);
  Total total{10};
  EXPECT_EQ(KS_CallFunction("add", &total), 15u);
  EXPECT_EQ(total.value, 15);
  EXPECT_EQ(KS_CallFunction("add", nullptr), 99u);
  EXPECT_EQ(a.calls, 3);
  EXPECT_EQ(b.calls, 1);

  // A reference is what the argument points to; a null one is not called.
  FunctionRegistration take = FunctionRegistration::bind<&Counter::take>("take", &b);
  Total seven{7}, zero{0};
  EXPECT_EQ(KS_CallFunction("take", &seven), 1u);
  EXPECT_EQ(b.last, 7);
  EXPECT_EQ(KS_CallFunction("take", &zero), 0u);
  EXPECT_EQ(b.last, 0);
  EXPECT_EQ(KS_CallFunction("take", nullptr), 0u);
  EXPECT_EQ(b.calls, 3);

  FunctionRegistration negative = FunctionRegistration::bind<&Counter::negative>("negative", &b);
  EXPECT_EQ(KS_CallFunction("negative", nullptr), uint32_t(-2));

  // Variant and entity watches call their owner too.
  VariantSubscription v = subscribeVariant<&Counter::onEvent>("v", &a);
  KS_SetVariantLong("v", 3);
  EXPECT_EQ(a.calls, 4);
  HContact* c = makeContact(1);
  ContactSubscription watch = subscribeContact<&Counter::onEvent>(c, &b);
  ContactData d{};
  d.size = sizeof d;
  d.mask = CONTACT_ONLINESTATUS;
  d.onlineStatus = 2;
  KS_SetContactData(c, &d);
  EXPECT_EQ(b.calls, 4);
  watch.reset();
  KS_ReleaseContact(c);
}

TEST_F(RegistrationsTest, BoundRegistrationGoesWithItsOwner) {
  auto owner = std::make_unique<Counter>();
  owner->event = subscribeEvent<&Counter::onEvent>("e", owner.get());
  owner->function = FunctionRegistration::bind<&Counter::add>("add", owner.get());
  EXPECT_EQ(KS_EventRaise("e", nullptr), 1);
  EXPECT_EQ(owner->function.name(), "add");
  EXPECT_TRUE(owner->function.bound());

  // Binding the name again elsewhere leaves the new binding to its owner.
  Counter other;
  FunctionRegistration later = FunctionRegistration::bind<&Counter::add>("add", &other);
  EXPECT_FALSE(owner->function.bound());
  owner.reset();
  EXPECT_EQ(KS_EventRaise("e", nullptr), 0);
  EXPECT_TRUE(later.bound());
  later.reset();
  EXPECT_EQ(KS_GetFunctionProcAddress("add", nullptr, nullptr), 0);
}
