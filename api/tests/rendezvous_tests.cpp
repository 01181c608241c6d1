// Events, variants and named functions, including delivery while
// subscribers come and go.
#include <algorithm>
#include <climits>
#include <cstring>

#include "entities.h"  // white-box checks of the hub's insides
#include "hubtest/hub_test.h"
#include "hubtest/records.h"

using hubtest::Recorder;
using hubtest::makeContact;

using RendezvousTest = hubtest::HubTest;

TEST_F(RendezvousTest, EventsReachSubscribersAndCountThem) {
  Recorder a, b;
  EXPECT_EQ(KS_EventRaise("nobody.listens", nullptr), 0);
  Subscription* sa = KS_EventSubscribe(Recorder::callback, "messages.new", &a);
  Subscription* sb = KS_EventSubscribe(Recorder::callback, "messages.new", &b);
  int argument = 0;
  EXPECT_EQ(KS_EventRaise("messages.new", &argument), 2);
  EXPECT_EQ(KS_EventRaise("messages.new.complete", &argument), 0);  // a prefix is not the same name
  ASSERT_EQ(a.count(), 1u);
  EXPECT_EQ(a.arguments[0], &argument);
  KS_EventUnsubscribe(sa);
  EXPECT_EQ(KS_EventRaise("messages.new", nullptr), 1);
  EXPECT_EQ(a.count(), 1u);
  EXPECT_EQ(b.count(), 2u);
  KS_EventUnsubscribe(sb);
  KS_EventUnsubscribe(nullptr);
}

TEST_F(RendezvousTest, VariantTextAndNumberConversions) {
  char buffer[64];
  EXPECT_EQ(KS_GetVariantLong("never.set"), 0);
  EXPECT_EQ(KS_GetVariantPtr("never.set"), nullptr);
  EXPECT_EQ(KS_GetVariantString("never.set", buffer), 0);
  EXPECT_STREQ(buffer, "");

  KS_SetVariantLong("v", -5);
  EXPECT_EQ(KS_GetVariantString("v", nullptr), 2);
  EXPECT_EQ(KS_GetVariantString("v", buffer), 2);
  EXPECT_STREQ(buffer, "-5");

  KS_SetVariantString("v", "42abc");
  EXPECT_EQ(KS_GetVariantLong("v"), 42);
  KS_SetVariantString("v", "abc42");
  EXPECT_EQ(KS_GetVariantLong("v"), 0);
  KS_SetVariantString("v", "-");
  EXPECT_EQ(KS_GetVariantLong("v"), 0);
  KS_SetVariantString("v", "99999999999999999999999");
  EXPECT_EQ(KS_GetVariantLong("v"), LONG_MAX);
  KS_SetVariantString("v", nullptr);
  EXPECT_EQ(KS_GetVariantString("v", buffer), 0);

  // A pointer survives whole, also above 4 GiB.
  void* p = reinterpret_cast<void*>(uintptr_t(0x7f12345678a0));
  KS_SetVariantPtr("core.window.hwnd", p);
  EXPECT_EQ(KS_GetVariantPtr("core.window.hwnd"), p);
}

TEST_F(RendezvousTest, VariantSignalsOnlyRealChanges) {
  Recorder r;
  Subscription* s = KS_VariantSubscribe(Recorder::callback, "connection.state", &r);
  KS_SetVariantLong("connection.state", 0);  // "" -> "0" is a change
  KS_SetVariantLong("connection.state", 0);
  KS_SetVariantString("connection.state", "0");
  EXPECT_EQ(r.count(), 1u);
  KS_SetVariantLong("connection.state", 100);
  ASSERT_EQ(r.count(), 2u);
  EXPECT_EQ(r.arguments[1], nullptr);
  KS_VariantUnsubscribe(s);
}

TEST_F(RendezvousTest, NamedFunctions) {
  Recorder first, second;
  EXPECT_EQ(KS_CallFunction("Overview/CreateSection", nullptr), 0u);
  EXPECT_EQ(KS_GetFunctionProcAddress("Overview/CreateSection", nullptr, nullptr), 0);

  KS_RegisterFunction("Overview/CreateSection", Recorder::callback, &first);
  KS_RegisterFunction("Overview/CreateSection", Recorder::callback, &second);
  int argument = 0;
  EXPECT_EQ(KS_CallFunction("Overview/CreateSection", &argument), 7u);
  EXPECT_EQ(first.count(), 0u);
  ASSERT_EQ(second.count(), 1u);
  EXPECT_EQ(second.arguments[0], &argument);

  HubCallback fn = nullptr;
  void* user = nullptr;
  EXPECT_EQ(KS_GetFunctionProcAddress("Overview/CreateSection", &fn, &user), 1);
  EXPECT_EQ(fn, &Recorder::callback);
  EXPECT_EQ(user, &second);
  EXPECT_EQ(KS_GetFunctionProcAddress("Overview/CreateSection", nullptr, nullptr), 1);

  KS_UnregisterFunction("Overview/CreateSection");
  KS_UnregisterFunction("unknown/name");
  EXPECT_EQ(KS_CallFunction("Overview/CreateSection", nullptr), 0u);
  EXPECT_EQ(second.count(), 1u);
}

// ---- delivery while subscribers come and go ----------------------------------

namespace {

struct Churn {
  std::vector<Subscription*>* subs = nullptr;
  std::vector<int> calls;  // index of each subscriber called, in order
  int unsubscribeOnCall = -1;
  int unsubscribeTarget = -1;
  bool subscribeNew = false;
  bool raiseAgain = false;
  const char* event = "churn";
};

struct ChurnSlot {
  Churn* churn;
  int index;
  static uint32_t callback(void* user, void* argument) {
    auto* slot = static_cast<ChurnSlot*>(user);
    Churn& c = *slot->churn;
    c.calls.push_back(slot->index);
    if (slot->index == c.unsubscribeOnCall && c.unsubscribeTarget >= 0) {
      Subscription*& target = (*c.subs)[size_t(c.unsubscribeTarget)];
      KS_EventUnsubscribe(target);
      target = nullptr;
      c.unsubscribeOnCall = -1;
    }
    if (c.subscribeNew) {
      c.subscribeNew = false;
      static ChurnSlot late{nullptr, 99};
      late.churn = &c;
      c.subs->push_back(KS_EventSubscribe(ChurnSlot::callback, c.event, &late));
    }
    if (c.raiseAgain && argument) {
      c.raiseAgain = false;
      KS_EventRaise(c.event, nullptr);  // nested delivery completes first
    }
    return 0;
  }
};

// Subscribes n slots and returns them ordered as the signal will call them.
std::vector<ChurnSlot> subscribeSlots(Churn& churn, std::vector<Subscription*>& subs, int n) {
  std::vector<ChurnSlot> slots;
  slots.reserve(size_t(n));
  for (int i = 0; i < n; ++i) slots.push_back({&churn, i});
  for (int i = 0; i < n; ++i) subs.push_back(KS_EventSubscribe(ChurnSlot::callback, churn.event, &slots[size_t(i)]));
  churn.subs = &subs;
  return slots;
}

int positionOf(const std::vector<Subscription*>& subs, int index) {
  // Delivery order is by subscription address.
  int position = 0;
  for (Subscription* s : subs)
    if (s && s < subs[size_t(index)]) ++position;
  return position;
}

}  // namespace

TEST_F(RendezvousTest, CallbackRemovingAnotherSubscriptionNeverCallsIt) {
  Churn churn;
  std::vector<Subscription*> subs;
  auto slots = subscribeSlots(churn, subs, 6);
  // The first subscriber called removes the one that would be called last.
  int firstIndex = 0, lastIndex = 0;
  for (int i = 0; i < 6; ++i) {
    if (positionOf(subs, i) == 0) firstIndex = i;
    if (positionOf(subs, i) == 5) lastIndex = i;
  }
  churn.unsubscribeOnCall = firstIndex;
  churn.unsubscribeTarget = lastIndex;
  EXPECT_EQ(KS_EventRaise("churn", nullptr), 5);
  EXPECT_EQ(churn.calls.size(), 5u);
  EXPECT_EQ(std::count(churn.calls.begin(), churn.calls.end(), lastIndex), 0);
  for (Subscription* s : subs) KS_EventUnsubscribe(s);
}

TEST_F(RendezvousTest, CallbackRemovingItselfKeepsThePlaceInTheWalk) {
  Churn churn;
  std::vector<Subscription*> subs;
  auto slots = subscribeSlots(churn, subs, 5);
  int middle = 0;
  for (int i = 0; i < 5; ++i)
    if (positionOf(subs, i) == 2) middle = i;
  churn.unsubscribeOnCall = middle;
  churn.unsubscribeTarget = middle;
  KS_EventRaise("churn", nullptr);
  // Everyone is called exactly once, the self-remover included.
  std::vector<int> sorted = churn.calls;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<int>{0, 1, 2, 3, 4}));
  churn.calls.clear();
  KS_EventRaise("churn", nullptr);
  EXPECT_EQ(churn.calls.size(), 4u);
  for (Subscription* s : subs) KS_EventUnsubscribe(s);
}

TEST_F(RendezvousTest, SubscriptionAddedDuringRaiseWaitsForTheNextOne) {
  Churn churn;
  std::vector<Subscription*> subs;
  auto slots = subscribeSlots(churn, subs, 3);
  churn.subscribeNew = true;
  EXPECT_EQ(KS_EventRaise("churn", nullptr), 3);
  EXPECT_EQ(std::count(churn.calls.begin(), churn.calls.end(), 99), 0);
  churn.calls.clear();
  EXPECT_EQ(KS_EventRaise("churn", nullptr), 4);
  EXPECT_EQ(std::count(churn.calls.begin(), churn.calls.end(), 99), 1);
  for (Subscription* s : subs) KS_EventUnsubscribe(s);
}

TEST_F(RendezvousTest, NestedRaiseCompletesBeforeTheOuterContinues) {
  Churn churn;
  std::vector<Subscription*> subs;
  auto slots = subscribeSlots(churn, subs, 3);
  churn.raiseAgain = true;
  int marker = 0;
  KS_EventRaise("churn", &marker);
  // 3 outer calls plus 3 nested ones, each subscriber called twice overall.
  ASSERT_EQ(churn.calls.size(), 6u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::count(churn.calls.begin(), churn.calls.end(), i), 2);
  for (Subscription* s : subs) KS_EventUnsubscribe(s);
}

namespace {
uint32_t releaseContactCallback(void* user, void*) {
  KS_ReleaseContact(*static_cast<HContact**>(user));
  *static_cast<HContact**>(user) = nullptr;
  return 0;
}
}  // namespace

TEST_F(RendezvousTest, EntityReleasedByItsOwnSubscriberLivesUntilEveryoneHeardTheChange) {
  for (int round = 0; round < 8; ++round) {  // vary the address order of the two
    HContact* contact = makeContact(5);
    HContact* victim = contact;
    Recorder other;
    Subscription* killer = KS_ContactSubscribe(releaseContactCallback, contact, &victim);
    Subscription* watcher = KS_ContactSubscribe(Recorder::callback, contact, &other);
    Recorder global;
    Subscription* changed = KS_EventSubscribe(Recorder::callback, "contact.changed", &global);
    hubtest::ContactRecord().nickname("bye").applyTo(contact);  // the killer drops the last reference
    EXPECT_EQ(victim, nullptr);
    // Whatever the order, everyone hears of the change before it dies.
    EXPECT_EQ(other.count(), 1u);
    EXPECT_EQ(global.count(), 1u);
    KS_EventUnsubscribe(changed);
    EXPECT_EQ(killer->signal(), nullptr);
    EXPECT_EQ(watcher->signal(), nullptr);
    KS_ContactUnsubscribe(killer);
    KS_ContactUnsubscribe(watcher);
  }
}

namespace {
uint32_t cleanupCallback(void*, void*) {
  KS_API_Cleanup();
  return 0;
}
}  // namespace

TEST_F(RendezvousTest, HubTornDownInsideARaiseDoesNotCrash) {
  Recorder r;
  Subscription* a = KS_EventSubscribe(cleanupCallback, "core.exit", nullptr);
  Subscription* b = KS_EventSubscribe(Recorder::callback, "core.exit", &r);
  // The raise keeps the event's signal alive while the hub goes away; the
  // teardown itself leaves the subscriptions attached to that signal.
  KS_EventRaise("core.exit", nullptr);
  EXPECT_EQ(r.count(), 1u);
  EXPECT_EQ(KS_EventRaise("core.exit", nullptr), 0);  // a fresh hub
  // Both were detached when the old signal died and free cleanly now.
  EXPECT_EQ(a->signal(), nullptr);
  EXPECT_EQ(b->signal(), nullptr);
  KS_EventUnsubscribe(a);
  KS_EventUnsubscribe(b);
}
