// Plug-in list, process-unique numbers, the audio lock, teardown and the one
// hub shared by every module of the process.
#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "hub_fixture.h"

using PluginsTest = HubTest;

namespace {

struct TestPlugin : kestrum::Plugin {
  TestPlugin(std::vector<std::string>* log, std::string name, bool starts)
      : log(log), name(std::move(name)), starts(starts) {}
  void Start() override {
    log->push_back("start " + name);
    if (starts) state = 1;
  }
  void Stop() override {
    log->push_back("stop " + name);
    state = 0;
  }
  const char* Name() override { return name.c_str(); }
  std::vector<std::string>* log;
  std::string name;
  bool starts;
};

}  // namespace

TEST_F(PluginsTest, StartAllInOrderStopOnlyStartedInTheSameOrder) {
  std::vector<std::string> log;
  TestPlugin a(&log, "a", true), b(&log, "b", false), c(&log, "c", true);
  KS_PluginAdd(&a);
  KS_PluginAdd(&b);
  KS_PluginAdd(&c);
  KS_PluginAdd(nullptr);
  KS_PluginStartAll();
  KS_PluginStopAll();
  EXPECT_EQ(log, (std::vector<std::string>{"start a", "start b", "start c", "stop a", "stop c"}));
}

TEST_F(PluginsTest, LuidStartsAt32768AndRestartsWithAFreshHub) {
  EXPECT_EQ(KS_GetLUID(), 32768u);
  EXPECT_EQ(KS_GetLUID(), 32769u);
  EXPECT_EQ(fwk::Singleton<kestrum::Data>::getInstance()->getLUID(), 32770u);
  KS_API_Cleanup();
  EXPECT_EQ(KS_GetLUID(), 32768u);
}

TEST_F(PluginsTest, AudioLockNestsPerThreadAndExcludesOthers) {
  KS_AudioLock();
  EXPECT_EQ(KS_AudioTryLock(), 1);  // the holder may enter again
  std::atomic<int> otherGot{-1};
  std::thread([&] { otherGot = KS_AudioTryLock(); }).join();
  EXPECT_EQ(otherGot, 0);
  KS_AudioUnlock();
  std::thread([&] { otherGot = KS_AudioTryLock(); }).join();
  EXPECT_EQ(otherGot, 0);  // still held once
  KS_AudioUnlock();
  std::thread([&] {
    otherGot = KS_AudioTryLock();
    if (otherGot) KS_AudioUnlock();
  }).join();
  EXPECT_EQ(otherGot, 1);
}

TEST_F(PluginsTest, MessageCountsSurviveTwoThreads) {
  // The voice player duplicates and releases the message it plays while the
  // UI thread does the same with its own references.
  MessageData d{};
  d.size = sizeof d;
  HMessage* m = KS_CreateMessage(&d);
  auto churn = [m] {
    for (int i = 0; i < 20000; ++i) KS_ReleaseMessage(KS_DuplicateMessageHandle(m));
  };
  std::thread player(churn);
  churn();
  player.join();
  EXPECT_EQ(KS_GetHandleReferenceCount(m), 1);
  KS_ReleaseMessage(m);
}

TEST_F(PluginsTest, CleanupEmptiesTablesButLeavesHeldHandlesValid) {
  HContact* c = makeContact(1);
  HGroup* g = KS_GetGroup(3);
  KS_AddGroupMember(g, c);
  Recorder r;
  Subscription* s = KS_EventSubscribe(Recorder::callback, "groups.changed", &r);
  KS_RegisterFunction("f", Recorder::callback, &r);
  KS_SetVariantLong("v", 9);
  KS_API_Cleanup();
  EXPECT_EQ(s->signal(), nullptr);
  EXPECT_EQ(KS_GetHandleReferenceCount(g), 1);  // ours only
  EXPECT_EQ(KS_GroupContainsMember(g, c), 1);
  int64_t id = 0;
  EXPECT_EQ(KS_EnumGroupsBegin(&id), 0);
  EXPECT_EQ(KS_CallFunction("f", nullptr), 0u);
  EXPECT_EQ(KS_GetVariantLong("v"), 0);
  KS_EventUnsubscribe(s);
  KS_ReleaseGroup(g);
  EXPECT_EQ(KS_GetHandleReferenceCount(c), 1);
  KS_ReleaseContact(c);
  KS_ReportBug();
}

TEST_F(PluginsTest, TwoLibrariesSeeTheSameHub) {
  // The probes are built beside this test program.
  std::string folder = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  void* a = dlopen((folder + "/libhub_probe_a.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  void* b = dlopen((folder + "/libhub_probe_b.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(a, nullptr) << dlerror();
  ASSERT_NE(b, nullptr) << dlerror();
  using Instance = void* (*)();
  using Set = void (*)(const char*, long);
  using Get = long (*)(const char*);
  auto instanceA = reinterpret_cast<Instance>(dlsym(a, "probe_a_instance"));
  auto instanceB = reinterpret_cast<Instance>(dlsym(b, "probe_b_instance"));
  auto setA = reinterpret_cast<Set>(dlsym(a, "probe_a_set"));
  auto getB = reinterpret_cast<Get>(dlsym(b, "probe_b_get"));
  ASSERT_TRUE(instanceA && instanceB && setA && getB);
  EXPECT_EQ(instanceA(), instanceB());
  EXPECT_EQ(instanceA(), fwk::Singleton<kestrum::Data>::getInstance());
  setA("shared.value", 31);
  EXPECT_EQ(getB("shared.value"), 31);
  EXPECT_EQ(KS_GetVariantLong("shared.value"), 31);
  dlclose(a);
  dlclose(b);
}
