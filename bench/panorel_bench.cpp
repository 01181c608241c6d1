// The contact list with a roster of 10,000 and 200 groups of 50: building
// and sorting the member view, painting one frame of it at 240x320 and
// 480x640, a "groups.changed" in both tab layouts, and a sign-in against
// the real server with the Contacts tab shown in either layout, next to the
// same sign-in without the contact list. The server runs in a child
// process so the client's figures are its own.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "contact_list.h"
#include "group_view.h"
#include "olvaro/api.h"
#include "olvaro/connection_state.h"
#include "olvaro_server/server.h"
#include "server_process.h"
#include "peer.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "server_list.h"
#include "session.h"
#include "testkit/testkit.h"
#include "ui_fixture.h"

namespace {

constexpr int kRoster = 10000;
constexpr int kGroups = 200;
constexpr int kGroupMembers = 50;

// 10,000 contacts in the own list, a quarter of them online, with names
// in no order.
void fillRoster() {
  std::mt19937 random(7);
  HService* primary = KS_GetPrimaryService();
  HGroup* list = KS_GetGroup(0);
  for (int i = 0; i < kRoster; ++i) {
    std::string nickname = (random() % 2 ? "Contact " : "contact ") + std::to_string(random() % 100000);
    ContactData d{};
    d.size = sizeof d;
    d.mask = CONTACT_ID | CONTACT_SERVICE | CONTACT_NICKNAME | CONTACT_ONLINESTATUS | CONTACT_STATUS;
    d.id = 1000 + i;
    d.service = primary;
    d.nickname = nickname.c_str();
    d.status = i % 3 ? "" : "out and about";
    d.onlineStatus = i % 4 == 0 ? 1 : 0;
    HContact* c = KS_CreateContact(&d);
    KS_AddGroupMember(list, c);
    KS_ReleaseContact(c);
  }
  KS_ReleaseGroup(list);
  KS_ReleaseService(primary);
}

// 200 groups of 50 members from the roster, as the connection makes them.
void fillGroups() {
  HService* primary = KS_GetPrimaryService();
  HGroup* list = KS_GetGroup(0);
  uint32_t count = 0;
  KS_GetGroupMembers(list, nullptr, nullptr, &count);
  std::vector<HContact*> roster(count);
  KS_GetGroupMembers(list, roster.data(), nullptr, &count);
  KS_ReleaseGroup(list);
  for (int g = 1; g <= kGroups && count; ++g) {
    std::string name = "Group " + std::to_string(g);
    GroupData d{};
    d.size = sizeof d;
    d.mask = GROUP_NAME | GROUP_SERVICE;
    d.name = name.c_str();
    d.service = primary;
    HGroup* group = KS_GetGroup(g);
    KS_SetGroupData(group, &d);
    for (int k = 0; k < kGroupMembers; ++k) {
      KS_AddGroupMember(group, roster[size_t(g * kGroupMembers + k) % count]);
    }
    KS_ReleaseGroup(group);
  }
  KS_ReleaseService(primary);
}

// The host's main window and a member view of the roster inside it.
struct RosterScreen {
  explicit RosterScreen(int width, int height) : session(options(width, height)) {
    KS_API_Cleanup();
    platform::registryReset();
    fillRoster();
    main = std::make_unique<conntest::MainWindowStandIn>();
    MoveWindow(main->hwnd(), 0, 0, width, height, TRUE);
  }
  ~RosterScreen() {
    view.reset();
    main.reset();
    KS_API_Cleanup();
  }
  static testkit::Options options(int width, int height) {
    testkit::Options o;
    o.width = width;
    o.height = height;
    return o;
  }
  void makeView() {
    HGroup* list = KS_GetGroup(0);
    auto* layout = static_cast<fwk::BoxLayout*>(KS_GetVariantPtr("core.window.layout"));
    view = std::make_unique<panorel::GroupView>(layout->hwnd(), list);
    KS_ReleaseGroup(list);
    layout->addStretching(view->hwnd());
  }
  testkit::Session session;
  std::unique_ptr<conntest::MainWindowStandIn> main;
  std::unique_ptr<panorel::GroupView> view;
};

void BM_BuildAndSortView(benchmark::State& state) {
  RosterScreen screen(240, 320);
  for (auto _ : state) {
    screen.view.reset();
    screen.makeView();  // reads the members, sorts, lays out
  }
  state.counters["rows"] = screen.view->rowCount();
}

void BM_RebuildView(benchmark::State& state) {
  RosterScreen screen(240, 320);
  screen.makeView();
  for (auto _ : state) {
    screen.view->markDirty();
    screen.view->rebuild();
  }
}

void BM_PaintFrame(benchmark::State& state) {
  RosterScreen screen(int(state.range(0)), int(state.range(1)));
  screen.makeView();
  testkit::pump();
  // Half way down, where rows of both sections can be seen.
  screen.view->setSelectedIndex(screen.view->rowCount() / 2);
  testkit::pump();
  for (auto _ : state) {
    InvalidateRect(screen.view->hwnd(), nullptr, FALSE);
    UpdateWindow(screen.view->hwnd());
  }
  state.counters["rows_painted"] = screen.view->rowsPainted();
}

// ---- groups.changed ----------------------------------------------------

// The contact list over the roster and its groups, the tab at `shown`
// showing (in tab-per-group mode tab 100 is a group half way along).
struct GroupsScreen {
  GroupsScreen(bool tabPerGroup, int shown) : screen(240, 320) {
    fillGroups();
    KS_SetSettingLong("Panorel/TabPerGroup", tabPerGroup ? 1 : 0);
    list = std::make_unique<panorel::ContactList>();
    list->tabs().setSelectedIndex(shown);
    testkit::pump();
  }
  ~GroupsScreen() { list.reset(); }
  RosterScreen screen;
  std::unique_ptr<panorel::ContactList> list;
};

// A "groups.changed" that leaves the shown group where it is (a reconnect,
// a bridged chat joined elsewhere), up to the repaint it causes.
void BM_GroupsChangedShownKept(benchmark::State& state) {
  bool tabPerGroup = state.range(0) != 0;
  GroupsScreen s(tabPerGroup, tabPerGroup ? 100 : 1);
  panorel::GroupView* view = s.list->groupView();
  for (auto _ : state) {
    KS_EventRaise("groups.changed", nullptr);
    testkit::pump();
  }
  if (s.list->groupView() != view) state.SkipWithError("the shown view was made again");
  state.counters["tabs"] = s.list->tabs().tabCount();
}

// A group that goes and comes back: two events, each changing the tabs.
void BM_GroupGoesAndComes(benchmark::State& state) {
  bool tabPerGroup = state.range(0) != 0;
  GroupsScreen s(tabPerGroup, tabPerGroup ? 100 : 1);
  HService* primary = KS_GetPrimaryService();
  for (auto _ : state) {
    KS_DeleteGroup(kGroups / 4);
    testkit::pump();
    GroupData d{};
    d.size = sizeof d;
    d.mask = GROUP_NAME | GROUP_SERVICE;
    d.name = "Back again";
    d.service = primary;
    HGroup* group = KS_GetGroup(kGroups / 4);
    KS_SetGroupData(group, &d);
    KS_ReleaseGroup(group);
    KS_EventRaise("groups.changed", nullptr);
    testkit::pump();
  }
  KS_ReleaseService(primary);
  state.counters["tabs"] = s.list->tabs().tabCount();
}

// ---- sign-in -----------------------------------------------------------

bench::ServerProcess& server() {
  static bench::ServerProcess* s = [] {
    auto* p = new bench::ServerProcess;
    bool started = p->start([](olvaro::server::Server& server, std::string*) {
      int64_t owner = server.create_account({"owner@bench", "pw", "Owner", "", 0});
      return owner && server.seed_bulk(owner, kRoster, kGroups, kGroupMembers);
    });
    if (!started) fprintf(stderr, "the server did not start\n");
    return p;
  }();
  return *s;
}

enum class ListMode { kNone, kDefault, kTabPerGroup };

// The UI thread's processor time: what the connection and the list cost it,
// without the waits for the server.
double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Signs in as the owner of 10,000 contacts in 200 groups; with the contact
// list (in either tab layout), its Contacts tab is shown from the start and
// the time runs to its first full paint.
bool signInOnce(ListMode mode, double* toSignedIn, double* toPainted, double* cpuToPainted) {
  bool withList = mode != ListMode::kNone;
  KS_API_Cleanup();
  platform::registryReset();
  platform::setCommandLine(u"olvaro");
  KS_SetSettingString("connection.user", "owner@bench");
  KS_SetSettingString("connection.pass", "pw");
  KS_SetSettingString("Connection/Servers/List", ("127.0.0.1:" + std::to_string(server().port)).c_str());
  KS_SetSettingLong("Panorel/TabPerGroup", mode == ListMode::kTabPerGroup ? 1 : 0);
  olvaro::conn::ServerList::instance().reset();
  auto main = std::make_unique<conntest::MainWindowStandIn>();
  std::unique_ptr<panorel::ContactList> list;
  if (withList) {
    list = std::make_unique<panorel::ContactList>();
    list->tabs().setSelectedIndex(1);
  }
  testkit::pump();
  auto began = std::chrono::steady_clock::now();
  double cpuBegan = threadCpuMs();
  auto connection = std::make_unique<olvaro::conn::Connection>();
  bool ok = conntest::waitFor(
      [] { return KS_GetVariantLong(olvaro::kConnectionStateVariant) == olvaro::kSignedIn; }, 60000);
  auto signedIn = std::chrono::steady_clock::now();
  if (ok && withList) {
    testkit::pump();
    ok = !list->groupView()->dirty() && list->groupView()->rowCount() >= kRoster &&
         panorel::ContactList::groupIds().size() == size_t(kGroups);
  }
  auto painted = std::chrono::steady_clock::now();
  *cpuToPainted = threadCpuMs() - cpuBegan;
  *toSignedIn = std::chrono::duration<double, std::milli>(signedIn - began).count();
  *toPainted = std::chrono::duration<double, std::milli>(painted - began).count();
  list.reset();
  connection.reset();
  main.reset();
  KS_API_Cleanup();
  return ok;
}

void signIn(benchmark::State& state, ListMode mode) {
  server();
  testkit::Session session;
  double toSignedIn = 0, toPainted = 0, cpu = 0;
  // The server's first answer of the roster warms its caches; not counted.
  static bool warmed = false;
  if (!warmed) warmed = signInOnce(ListMode::kNone, &toSignedIn, &toPainted, &cpu);
  toSignedIn = toPainted = cpu = 0;
  for (auto _ : state) {
    double a = 0, b = 0, c = 0;
    if (!signInOnce(mode, &a, &b, &c)) {
      state.SkipWithError(mode != ListMode::kNone ? "the Contacts tab did not show the roster" : "no sign-in");
      break;
    }
    toSignedIn += a;
    toPainted += b;
    cpu += c;
  }
  state.counters["ms_to_signed_in"] = toSignedIn / double(state.iterations());
  state.counters["ms_to_first_paint"] = toPainted / double(state.iterations());
  // Next to the same counter without the list: the list's own cost.
  state.counters["ui_cpu_ms_to_first_paint"] = cpu / double(state.iterations());
}

void BM_SignInWithContactsTab(benchmark::State& state) { signIn(state, ListMode::kDefault); }
void BM_SignInTabPerGroup(benchmark::State& state) { signIn(state, ListMode::kTabPerGroup); }
void BM_SignInWithoutContactList(benchmark::State& state) { signIn(state, ListMode::kNone); }

}  // namespace

BENCHMARK(BM_BuildAndSortView)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RebuildView)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintFrame)->Args({240, 320})->Args({480, 640})->Unit(benchmark::kMicrosecond);
// Argument 0: the default tabs; 1: a tab per group.
BENCHMARK(BM_GroupsChangedShownKept)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GroupGoesAndComes)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
// The timed part of a sign-in is the counters' (the set-up of each round
// is in the iteration time too).
BENCHMARK(BM_SignInWithoutContactList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SignInWithContactsTab)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SignInTabPerGroup)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SignInWithoutContactList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_MAIN();
