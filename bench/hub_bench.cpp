// Hub hot paths: raising events, setting variants, group lookup, member
// listing and the unread store.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "olvaro/api.h"

namespace {

uint32_t countCalls(void* user, void*) {
  ++*static_cast<uint64_t*>(user);
  return 0;
}

void freshHub() {
  setenv("OLVARO_HOME", "/tmp/olvaro-bench-home", 1);
  KS_API_Cleanup();
}

void BM_RaiseEvent(benchmark::State& state) {
  freshHub();
  uint64_t calls = 0;
  std::vector<Subscription*> subs;
  for (int i = 0; i < state.range(0); ++i) subs.push_back(KS_EventSubscribe(countCalls, "messages.new", &calls));
  for (auto _ : state) benchmark::DoNotOptimize(KS_EventRaise("messages.new", nullptr));
  state.counters["calls"] = double(calls);
  for (Subscription* s : subs) KS_EventUnsubscribe(s);
  KS_API_Cleanup();
}
BENCHMARK(BM_RaiseEvent)->Arg(1)->Arg(10)->Arg(100);

void BM_SetVariant(benchmark::State& state) {
  freshHub();
  uint64_t calls = 0;
  Subscription* s = KS_VariantSubscribe(countCalls, "connection.state", &calls);
  long value = 0;
  for (auto _ : state) KS_SetVariantLong("connection.state", ++value & 1 ? 100 : 130);
  KS_EventUnsubscribe(s);
  KS_API_Cleanup();
}
BENCHMARK(BM_SetVariant);

void BM_GetGroupAmong10000(benchmark::State& state) {
  freshHub();
  for (int64_t id = 0; id < 10000; ++id) KS_ReleaseGroup(KS_GetGroup(id * 7));
  int64_t id = 0;
  for (auto _ : state) {
    HGroup* g = KS_GetGroup((id++ % 10000) * 7);
    benchmark::DoNotOptimize(g);
    KS_ReleaseGroup(g);
  }
  KS_API_Cleanup();
}
BENCHMARK(BM_GetGroupAmong10000);

void BM_GetGroupMembersOf5000(benchmark::State& state) {
  freshHub();
  HGroup* g = KS_GetGroup(1);
  for (int i = 0; i < 5000; ++i) {
    ContactData d{};
    d.size = sizeof d;
    d.mask = CONTACT_ID;
    d.id = i;
    HContact* c = KS_CreateContact(&d);
    KS_AddGroupMember(g, c);
    KS_ReleaseContact(c);
  }
  std::vector<HContact*> handles(5000);
  std::vector<int32_t> values(5000);
  for (auto _ : state) {
    uint32_t count = 0;
    KS_GetGroupMembers(g, nullptr, nullptr, &count);
    KS_GetGroupMembers(g, handles.data(), values.data(), &count);
    benchmark::DoNotOptimize(count);
  }
  KS_ReleaseGroup(g);
  KS_API_Cleanup();
}
BENCHMARK(BM_GetGroupMembersOf5000);

void BM_QueueAndTake10000Unread(benchmark::State& state) {
  freshHub();
  ContactData cd{};
  cd.size = sizeof cd;
  HContact* sender = KS_CreateContact(&cd);
  std::vector<HMessage*> messages;
  for (int i = 0; i < 10000; ++i) {
    MessageData d{};
    d.size = sizeof d;
    d.mask = MESSAGE_ID | MESSAGE_CONTACT | MESSAGE_TARGET;
    d.id = i;
    d.contact = sender;
    d.target = sender;
    messages.push_back(KS_CreateMessage(&d));
  }
  std::vector<HMessage*> taken(10000);
  for (auto _ : state) {
    for (HMessage* m : messages) KS_UnreadMessageAdd(m);
    uint32_t count = uint32_t(taken.size());
    KS_GetUnreadMessageHandles(sender, 0, taken.data(), &count);
    for (uint32_t i = 0; i < count; ++i) KS_ReleaseMessage(taken[i]);
  }
  for (HMessage* m : messages) KS_ReleaseMessage(m);
  KS_ReleaseContact(sender);
  KS_API_Cleanup();
}
BENCHMARK(BM_QueueAndTake10000Unread)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
