// The plug-in's start, its timer and a check against a scripted server.
#include <cstdio>
#include <cstdlib>

#include "build_stamp.h"
#include "platform/device.h"
#include "platform/shell.h"
#include "updates_fixture.h"

using namespace updatestest;
namespace fs = std::filesystem;

namespace {

TEST_F(UpdatesTest, StartTidiesTheFolderMovesSettingsOnAndShowsTheChangeLogOnce) {
  setenv("OLVARO_PLATFORM", "SmartPhone", 1);
  writeFile(folder / "api.so.old", "x");
  writeFile(folder / "api.so.new", "x");
  writeFile(folder / "api.so", "keep");
  // Cut between its two renames, an older install left only these: the old
  // module comes back rather than both going.
  writeFile(folder / "host.so.old", "old host");
  writeFile(folder / "host.so.new", "new host, never checked");
  writeFile(folder / "changelog.txt", "Faster photos\nFewer crashes\n");
  start();
  EXPECT_EQ(snapshot(folder), (std::map<std::string, std::string>{{"api.so", "keep"}, {"host.so", "old host"}}));
  EXPECT_EQ(KS_GetSettingLong("advanced.powersave", 0), 1);
  EXPECT_EQ(KS_GetSettingLong("updates.versionid", 0), 5);
  EXPECT_TRUE(fs::exists(fs::path(platform::startupFolderPath()) / "Olvaro.desktop"));
  HWND log = updater->notice().changeLogWindow();
  ASSERT_TRUE(log);
  EXPECT_EQ(testkit::windowText(log), "Olvaro Updated!");
  HWND edit = testkit::findWindow("EDIT", "", log);
  ASSERT_TRUE(edit);
  EXPECT_EQ(testkit::windowText(edit), "Faster photos\r\nFewer crashes\r\n");
  updater.reset();
  start();  // the next start shows nothing
  EXPECT_FALSE(updater->notice().changeLogWindow());
}

TEST_F(UpdatesTest, MigrationKeepsWhatALaterLevelOrThePocketPcHas) {
  setenv("OLVARO_PLATFORM", "SmartPhone", 1);
  KS_SetSettingLong("updates.versionid", 3);
  start();
  EXPECT_EQ(KS_GetSettingLong("advanced.powersave", 0), 0);
  EXPECT_FALSE(fs::exists(fs::path(platform::startupFolderPath()) / "Olvaro.desktop"));
  updater.reset();
  setenv("OLVARO_PLATFORM", "PocketPC", 1);
  KS_SetSettingLong("updates.versionid", 0);
  start();
  EXPECT_EQ(KS_GetSettingLong("advanced.powersave", 0), 0);
  EXPECT_TRUE(fs::exists(fs::path(platform::startupFolderPath()) / "Olvaro.desktop"));
}

// Sets a flag that a scripted server waits on when the test ends, however
// it ends, so the server's thread can always be joined.
template <class T>
struct SetOnExit {
  std::atomic<T>& flag;
  T value;
  ~SetOnExit() { flag = value; }
};

TEST_F(UpdatesTest, TicksStartOneCheckAnHourAndLeaveADownloadAlone) {
  // The last 1000 bytes come in seven pieces, each when the test says.
  std::atomic<int> released{0};
  std::string body = package("", {{"new.so", Ops().literal(std::string(5000, 'n'))}});
  ScriptedServer server([&](const std::string&, const std::function<void(const std::string&)>& send) {
    std::string all = response(body, signManifest(manifestFor(folder, body, {{std::string(5000, 'n')}})));
    send(all.substr(0, all.size() - 1000));
    for (int k = 1; k <= 7; ++k) {
      while (released < k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      send(all.substr(all.size() - 1000 + size_t(k - 1) * 100, k < 7 ? 100 : std::string::npos));
    }
  });
  SetOnExit<int> release{released, 7};
  useServer(server);
  start();
  EXPECT_FALSE(updater->check());
  testkit::runClock(updates::Updater::kTickMs);
  ASSERT_TRUE(updater->check());
  updates::UpdateCheck* first = updater->check();
  ASSERT_TRUE(testkit::pumpUntil([&] { return state() == updates::kCheckDownloading; }));
  ASSERT_EQ(overview->sections.size(), 1u);
  EXPECT_EQ(overview->sections[0]->key + "/" + overview->sections[0]->title, "UPDATES/Automatic Updates");
  EXPECT_EQ(overview->reports.at(0),
            std::make_pair(std::string("Automatic Updates"), std::string("Connecting to server...")));
  EXPECT_EQ(overview->reports.at(1),
            std::make_pair(std::string("Automatic Updates"), std::string("Checking for updates...")));
  // The report once all of the body but `missing` bytes is in. Each step
  // waits for its own, however the bytes happened to be cut on the way.
  auto progress = [&](size_t missing) {
    size_t got = body.size() - missing, all = body.size();
    char text[96];
    std::snprintf(text, sizeof text, "Downloading %d/%d KB (%d %%)", int(got / 1024), int(all / 1024),
                  int(uint64_t(got) * 100 / all));
    return std::make_pair(std::string("Downloading Updates"), std::string(text));
  };
  ASSERT_TRUE(testkit::pumpUntil([&] { return overview->last() == progress(1000); }));
  // Five minutes on, a little arriving every 50 seconds: the same check goes on.
  for (int k = 1; k <= 6; ++k) {
    testkit::runClock(updates::Updater::kTickMs / 6);
    released = k;
    ASSERT_TRUE(testkit::pumpUntil([&] { return overview->last() == progress(1000 - size_t(k) * 100); }))
        << k << ": " << overview->last().second << ", state " << state();
  }
  EXPECT_EQ(updater->check(), first);
  released = 7;
  ASSERT_TRUE(testkit::pumpUntil([&] { return state() == updates::kCheckInstalled; }));
  EXPECT_EQ(overview->last(),
            std::make_pair(std::string("New Updates Installed"), std::string("Restart Olvaro when Convenient")));
  EXPECT_EQ(readFile(folder / "new.so"), std::string(5000, 'n'));
  // After an installation no check runs again, however late it gets.
  platform::clockSetWallTime(platform::clockNowUnixMs() + 7200000);
  testkit::runClock(updates::Updater::kTickMs);
  EXPECT_EQ(server.accepted(), 1);
}

TEST_F(UpdatesTest, DownloadStalledForAMinuteFailsAndLaterChecksRun) {
  std::atomic<bool> release{false};
  std::string body = package("", {{"new.so", Ops().literal(std::string(5000, 'n'))}});
  ScriptedServer server([&](const std::string&, const std::function<void(const std::string&)>& send) {
    send(response(body, signManifest(manifestFor(folder, body, {{std::string(5000, 'n')}}))).substr(0, 3000));
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  SetOnExit<bool> letGo{release, true};
  useServer(server);
  start();
  testkit::runClock(updates::Updater::kTickMs);
  ASSERT_TRUE(testkit::pumpUntil([&] { return state() == updates::kCheckDownloading; }));
  testkit::runClock(updates::UpdateCheck::kStallMs - 1000);
  EXPECT_EQ(state(), updates::kCheckDownloading);
  testkit::runClock(1000);
  EXPECT_EQ(state(), updates::kCheckFailed);
  EXPECT_EQ(overview->items.size(), 0u);
  release = true;
  // Once the hour is up, the next tick checks again.
  KS_SetSettingLong("Updates/LastCheck", 0);
  testkit::runClock(updates::Updater::kTickMs);
  EXPECT_TRUE(testkit::pumpUntil([&] { return server.accepted() == 2; }));
  EXPECT_FALSE(fs::exists(folder / "new.so"));
}

TEST_F(UpdatesTest, NoUpdatesRemovesTheItemAndTheHourRuleGoesBothWays) {
  ScriptedServer server([](const std::string&, const std::function<void(const std::string&)>& send) {
    send("HTTP/1.0 200 OK\ncontent-length: 0\n\n");
  });
  useServer(server);
  writeFile(folder / "plain.dll", "not a module");
  fs::copy_file("/proc/self/exe", folder / "olvaro");
  start();
  testkit::runClock(updates::Updater::kTickMs);
  ASSERT_TRUE(testkit::pumpUntil([&] { return state() == updates::kCheckNoUpdates; }));
  EXPECT_EQ(overview->items.size(), 0u);
  EXPECT_GE(overview->deletes, 1);
  // The request as written: only modules with a stamp are listed.
  char platformName[64] = {};
  KS_GetPlatformName(platformName);
  std::string body = updates::requestBody({{"olvaro", 1200000000}}, platformName, long(GetUserDefaultUILanguage()), 0);
  EXPECT_EQ(server.request(), "POST /u.php HTTP/1.0\ncontent-length: " + std::to_string(body.size()) +
                                  "\ncontent-type: text/xml\nhost: 127.0.0.1\n\n" + body);
  // Five minutes later: within the hour, nothing.
  testkit::runClock(updates::Updater::kTickMs);
  EXPECT_FALSE(updater->check());
  // The clock set back by more than an hour: a check.
  platform::clockSetWallTime(platform::clockNowUnixMs() - 3601000 - 2 * updates::Updater::kTickMs);
  testkit::runClock(updates::Updater::kTickMs);
  ASSERT_TRUE(updater->check());
  ASSERT_TRUE(testkit::pumpUntil([&] { return state() == updates::kCheckNoUpdates; }));
  EXPECT_EQ(server.accepted(), 2);
}

// Each answer the check must not install from, and what it shows.
TEST_F(UpdatesTest, UnsignedHugeBrokenOrReplayedAnswersInstallNothing) {
  std::string a1000 = module(1000, "old module"), a2000 = module(2000, "new module");
  writeFile(folder / "a.so", a1000);
  std::string body = package("", {{"a.so", Ops().literal(a2000)}});
  updates::Manifest manifest = manifestFor(folder, body, {{a2000, 2000}});
  SignedManifest good = signManifest(manifest);
  std::string manifestBytes = updates::writeManifest(manifest);
  // A delta from build 1000 to 2000, and the same made for another build.
  std::string delta = package("a.so", {{"a.so", Ops().literal(a2000.substr(0, kModuleHead + 4)).copy(1, kModuleHead + 4, 6)}});
  updates::Manifest deltaManifest = manifestFor(folder, delta, {{a2000, 2000}});
  updates::Manifest otherBuild = deltaManifest;
  otherBuild.sources[0].digest = digest(module(900, "old module"));
  std::string older = package("", {{"a.so", Ops().literal(module(900, "older"))}});
  std::string outside = package("a.so", {{"a.so", Ops().copy(1, 150, 10)}});
  const char* kUnsigned = "The update is not signed by Olvaro.";
  struct Case {
    const char* what;
    std::string answer;
    int32_t state;
    std::string text;  // the failure shown; empty: the item is gone
  } cases[] = {
      {"no signature", response(body, {good.text, ""}), updates::kCheckFailed, kUnsigned},
      {"no manifest", response(body, {"", good.signature}), updates::kCheckFailed, kUnsigned},
      {"wrong signature", response(body, {good.text, sign(manifestBytes + "x")}), updates::kCheckFailed, kUnsigned},
      {"another key",
       response(body, signManifest(manifest, "0000000000000000000000000000000000000000000000000000000000000001")),
       updates::kCheckFailed, kUnsigned},
      {"manifest not base64", response(body, {"@@" + good.text, good.signature}), updates::kCheckFailed, kUnsigned},
      {"huge length", "HTTP/1.0 200 OK\ncontent-length: 4000000000\n\n", updates::kCheckFailed, ""},
      {"not 200", "HTTP/1.0 404 Not Found\ncontent-length: 3\n\nno!", updates::kCheckFailed, ""},
      {"cut short", "HTTP/1.0 200 OK\ncontent-length: 100\n\nabc", updates::kCheckFailed, ""},
      {"signed but out of range", response(outside, signManifest(manifestFor(folder, outside, {}))),
       updates::kCheckFailed, "The update package is damaged."},
      {"another body under the manifest", response(older, good), updates::kCheckFailed,
       "The update package is damaged."},
      {"made for another build", response(delta, signManifest(otherBuild)), updates::kCheckFailed,
       "The update was made for other versions of the installed files."},
      {"an older build whole", response(older, signManifest(manifestFor(folder, older, {{module(900, "older"), 900}}))),
       updates::kCheckFailed, "The update is not newer than the installed version."},
  };
  std::string answer;
  ScriptedServer server([&](const std::string&, const std::function<void(const std::string&)>& send) { send(answer); });
  useServer(server);
  start();
  auto check = [&](const std::string& what) {
    KS_SetSettingLong("Updates/LastCheck", 0);
    int accepted = server.accepted();
    testkit::runClock(updates::Updater::kTickMs);
    bool done = testkit::pumpUntil([&] {
      return server.accepted() > accepted && state() != updates::kCheckStarted &&
             state() != updates::kCheckDownloading && state() != updates::kCheckProcessing;
    });
    EXPECT_TRUE(done) << what;
    return done;
  };
  auto before = snapshot(folder);
  for (const Case& c : cases) {
    answer = c.answer;
    if (!check(c.what)) continue;
    EXPECT_EQ(state(), c.state) << c.what;
    if (c.text.empty()) {
      EXPECT_EQ(overview->items.size(), 0u) << c.what;
    } else {
      EXPECT_EQ(overview->items.size(), 1u) << c.what;
      EXPECT_EQ(overview->last(), std::make_pair(std::string("Automatic Updates Failed"), c.text)) << c.what;
    }
    EXPECT_EQ(snapshot(folder), before) << c.what;
  }

  // The delta installs once; sent again, it no longer fits.
  answer = response(delta, signManifest(deltaManifest));
  ASSERT_TRUE(check("delta"));
  ASSERT_EQ(state(), updates::kCheckInstalled);
  ASSERT_EQ(readFile(folder / "a.so"), a2000);
  updater.reset();
  start();
  before = snapshot(folder);
  ASSERT_TRUE(check("replay"));
  EXPECT_EQ(overview->last(), std::make_pair(std::string("Automatic Updates Failed"),
                                             std::string("The update was made for other versions of the installed files.")));
  EXPECT_EQ(snapshot(folder), before);
}

TEST_F(UpdatesTest, ProgressCountsKilobytesAndPercent) {
  struct Sink : updates::StatusSink {
    std::vector<std::string> texts;
    void reportStatus(const std::string&, const std::string& text) override { texts.push_back(text); }
    void removeStatus() override {}
  } sink;
  std::string body(300000, 'x');
  ScriptedServer server([&](const std::string&, const std::function<void(const std::string&)>& send) {
    send("HTTP/1.0 200 OK\ncontent-length: 300000\n\n");
    send(body.substr(0, 153600));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  });
  useServer(server);
  updates::UpdateCheck check(sink, folder.string());
  check.start();
  ASSERT_TRUE(testkit::pumpUntil([&] { return check.checkState() == updates::kCheckFailed; }));
  EXPECT_NE(std::find(sink.texts.begin(), sink.texts.end(), "Downloading 150/292 KB (51 %)"), sink.texts.end());
}

TEST_F(UpdatesTest, UnreachableServerRemovesTheItem) {
  KS_SetSettingString("Updates/ServerHost", "127.0.0.1");
  KS_SetSettingLong("Updates/ServerPort", 1);
  start();
  testkit::runClock(updates::Updater::kTickMs);
  ASSERT_TRUE(testkit::pumpUntil([&] { return overview->deletes == 1; }));
  EXPECT_EQ(state(), updates::kCheckStarted);
  EXPECT_EQ(overview->items.size(), 0u);
}

}  // namespace
