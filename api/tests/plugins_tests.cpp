// Plug-in list and what a stopped plug-in leaves behind, process-unique
// numbers, the audio lock, teardown and the one hub shared by every module of
// the process.
#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "entities.h"  // white-box checks of the hub's insides
#include "hubtest/hub_test.h"
#include "hubtest/records.h"
#include "olvaro/menu_commands.h"
#include "olvaro/registrations.h"
#include "platform/module.h"

using hubtest::Recorder;
using hubtest::makeContact;

using PluginsTest = hubtest::HubTest;

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

namespace {

// Starts by running the forgetful probe library, which subscribes and
// registers and then never cleans up.
struct ForgetfulPlugin : kestrum::Plugin {
  using StartFunction = void (*)(int*, HContact*, HGroup*, HService*, HMessage*, Subscription**);
  void Start() override {
    reinterpret_cast<StartFunction>(GetProcAddress(module, "probe_forgetful_start"))(&calls, contact, group, service,
                                                                                      message, left);
    state = 1;
  }
  void Stop() override { state = 0; }
  const char* Name() override { return "forgetful"; }
  int calls = 0;
  HContact* contact = nullptr;
  HGroup* group = nullptr;
  HService* service = nullptr;
  HMessage* message = nullptr;
  Subscription* left[6] = {};
};

// Raises everything the probe subscribed to and calls its function.
void touchEverything(ForgetfulPlugin& p, long value) {
  KS_EventRaise("probe.event", nullptr);
  KS_SetVariantLong("probe.variant", value);
  ContactData cd{};
  cd.size = sizeof cd;
  KS_SetContactData(p.contact, &cd);
  GroupData gd{};
  gd.size = sizeof gd;
  KS_SetGroupData(p.group, &gd);
  ServiceData sd{};
  sd.size = sizeof sd;
  KS_SetServiceData(p.service, &sd);
  MessageData md{};
  md.size = sizeof md;
  KS_SetMessageData(p.message, &md);
  KS_CallFunction("probe.function", nullptr);
}

}  // namespace

TEST_F(PluginsTest, StopAllDropsWhatAStoppedPluginLeftBehind) {
  ForgetfulPlugin p;
  std::string folder = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  std::u16string path;
  for (char ch : folder + "/libhub_probe_forgetful.so") path += char16_t(ch);
  p.module = LoadLibrary(path.c_str());
  ASSERT_NE(p.module, nullptr);
  ASSERT_NE(GetProcAddress(p.module, "probe_forgetful_start"), nullptr);

  // Reached through the tables: the service list, group 4 and its member,
  // and an unread message from that member.
  ServiceData sd{};
  sd.size = sizeof sd;
  p.service = KS_CreateService(&sd);
  p.contact = makeContact(9, 1, p.service);
  p.group = KS_GetGroup(4);
  KS_AddGroupMember(p.group, p.contact);
  p.message = hubtest::MessageRecord().contact(p.contact).target(p.contact).create();
  KS_UnreadMessageAdd(p.message);

  // The host's own callbacks on the same names stay.
  Recorder mine;
  olvaro::EventSubscription event = olvaro::subscribeEvent("probe.event", Recorder::callback, &mine);
  olvaro::VariantSubscription variant = olvaro::subscribeVariant("probe.variant", Recorder::callback, &mine);
  olvaro::FunctionRegistration function("host.function", Recorder::callback, &mine);

  KS_PluginAdd(&p);
  KS_PluginStartAll();
  touchEverything(p, 1);
  EXPECT_EQ(p.calls, 7);  // every one of its callbacks is live before the stop
  EXPECT_EQ(platform::moduleOfAddress(reinterpret_cast<const void*>(p.left[0]->callback())), p.module);

  KS_PluginStopAll();
  touchEverything(p, 2);
  EXPECT_EQ(p.calls, 7);
  EXPECT_EQ(KS_GetFunctionProcAddress("probe.function", nullptr, nullptr), 0);
  EXPECT_EQ(mine.count(), 4u);  // two event raises, two variant changes
  EXPECT_EQ(KS_CallFunction("host.function", nullptr), 7u);
  EXPECT_TRUE(event.attached());
  EXPECT_TRUE(variant.attached());

  // The plug-in may still unsubscribe late: its subscriptions are detached, not freed.
  for (Subscription* s : p.left) {
    EXPECT_EQ(s->signal(), nullptr);
    KS_EventUnsubscribe(s);
  }
  KS_ReleaseMessage(p.message);
  KS_ReleaseGroup(p.group);
  KS_ReleaseContact(p.contact);
  KS_ReleaseService(p.service);
}

TEST_F(PluginsTest, LuidStartsAt32768AndRestartsWithAFreshHub) {
  EXPECT_EQ(KS_GetLUID(), 32768u);
  EXPECT_EQ(KS_GetLUID(), 32769u);
  EXPECT_EQ(fwk::Singleton<kestrum::Data>::getInstance()->getLUID(), 32770u);
  KS_API_Cleanup();
  EXPECT_EQ(KS_GetLUID(), 32768u);
}

TEST_F(PluginsTest, MenuCommandsComeFromAPoolOfSixteenBitIdsFreeOfHostCommands) {
  for (int i = 0; i < 70000; ++i) KS_GetLUID();  // message ids do not move the pool
  uint32_t first = KS_NewMenuCommand();
  EXPECT_EQ(first, olvaro::kFirstPluginCommand);
  {
    olvaro::MenuCommands<3> held;
    EXPECT_EQ(held[0], first + 1);
    EXPECT_EQ(held.find(held[2]), 2u);
    EXPECT_EQ(held.find(0), 3u);
  }
  // Every id once round the pool: the freed ones come back after the
  // search wraps, the held one never does, and then the pool is empty.
  std::set<uint32_t> ids;
  for (uint32_t id; (id = KS_NewMenuCommand()) != 0;) {
    ASSERT_TRUE(id >= olvaro::kFirstPluginCommand && id <= olvaro::kLastPluginCommand) << id;
    ASSERT_TRUE(ids.insert(id).second) << id;
  }
  EXPECT_EQ(ids.size(), olvaro::kLastPluginCommand - olvaro::kFirstPluginCommand);
  EXPECT_FALSE(ids.contains(first));
  KS_FreeMenuCommand(first + 2);
  EXPECT_EQ(KS_NewMenuCommand(), first + 2);
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
  HMessage* m = hubtest::MessageRecord().create();
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
