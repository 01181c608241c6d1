// The package installer and the stamp reader on real files.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "build_stamp.h"
#include "http_message.h"
#include "package_builder.h"
#include "install_journal.h"
#include "package_signature.h"
#include "update_install.h"

using namespace updatestest;
using updates::InstallResult;
namespace fs = std::filesystem;

namespace {

InstallResult installWith(const fs::path& folder, const std::string& body, const updates::Manifest& manifest) {
  return updates::installPackage(folder.string(), manifest, reinterpret_cast<const uint8_t*>(body.data()),
                                 body.size());
}

// An honest manifest for the folder as it is now.
InstallResult install(const fs::path& folder, const std::string& body, const std::vector<Result>& results = {}) {
  return installWith(folder, body, manifestFor(folder, body, results));
}

// a.so is a module of build 1000; b.so a file without a stamp.
class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = freshFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    writeFile(folder / "a.so", a1000);
    writeFile(folder / "b.so", "0123456789");
  }
  void TearDown() override { fs::remove_all(folder); }
  fs::path folder;
  const std::string a1000 = module(1000, "AAAAABBBBBCCCCC");
  const uint32_t aPayload = uint32_t(kModuleHead);  // where its bytes begin
};

TEST_F(PackageTest, CopiesAndLiteralsRebuildFilesAndSwapThem) {
  // One whole-file copy reproduces the source; a literal of length 0 adds
  // nothing; ranges of two sources and literals mix.
  std::string a2000 = module(2000, "AAAAABBBBBCCCCC");
  std::string body =
      package("a.so,b.so", {{"a.so", Ops().literal(a2000.substr(0, kModuleHead)).copy(1, aPayload, 15).literal("")},
                            {"b.so", Ops().copy(2, 5, 5).literal("xy").copy(1, aPayload + 10, 5)},
                            {"c.txt", Ops().literal("new text")},
                            {"d.so", Ops().copy(1, 0, uint32_t(a1000.size()))}});
  ASSERT_EQ(install(folder, body, {{a2000, 2000}, {"56789xyCCCCC"}, {"new text"}, {a1000, 1000}}),
            InstallResult::Installed);
  EXPECT_EQ(readFile(folder / "a.so"), a2000);
  EXPECT_EQ(readFile(folder / "b.so"), "56789xyCCCCC");
  EXPECT_EQ(readFile(folder / "c.txt"), "new text");
  EXPECT_EQ(readFile(folder / "d.so"), a1000);
  EXPECT_EQ(readFile(folder / "b.so.old"), "0123456789");
  EXPECT_EQ(readFile(folder / "a.so.old"), a1000);
  EXPECT_FALSE(fs::exists(folder / "b.so.new"));
  EXPECT_FALSE(fs::exists(folder / "c.txt.old"));
  // A new file is a program only when it is a module.
  EXPECT_EQ(fs::status(folder / "d.so").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(fs::status(folder / "c.txt").permissions() & fs::perms::owner_exec, fs::perms::none);
}

// A signed package fits one starting point and moves one way. The first
// round makes a.so of build 2000 from build 1000 by copies; then the same
// signed package again, on that result and on another build, and a whole
// older build: each refused with the folder as it was.
TEST_F(PackageTest, ReplaysAndDowngradesAreRefused) {
  std::string a2000 = module(2000, "BBBBBnewAAAAA");
  std::string body = package("a.so", {{"a.so", Ops()
                                                   .literal(a2000.substr(0, kModuleHead))
                                                   .copy(1, aPayload + 5, 5)
                                                   .literal("new")
                                                   .copy(1, aPayload, 5)}});
  updates::Manifest manifest = manifestFor(folder, body, {{a2000, 2000}});
  ASSERT_EQ(installWith(folder, body, manifest), InstallResult::Installed);
  ASSERT_EQ(readFile(folder / "a.so"), a2000);
  fs::remove(folder / "a.so.old");

  auto before = snapshot(folder);
  EXPECT_EQ(installWith(folder, body, manifest), InstallResult::WrongSources);
  EXPECT_EQ(snapshot(folder), before);

  writeFile(folder / "a.so", module(1000, "ZZZZZYYYYYXXXXX"));  // the same stamp, other bytes
  before = snapshot(folder);
  EXPECT_EQ(installWith(folder, body, manifest), InstallResult::WrongSources);
  EXPECT_EQ(snapshot(folder), before);

  // Whole builds: an older one and the installed one again.
  writeFile(folder / "a.so", a2000);
  before = snapshot(folder);
  std::string whole1500 = package("", {{"a.so", Ops().literal(module(1500, "old"))}});
  EXPECT_EQ(install(folder, whole1500, {{module(1500, "old"), 1500}}), InstallResult::NotNewer);
  std::string whole2000 = package("", {{"a.so", Ops().literal(a2000)}});
  EXPECT_EQ(install(folder, whole2000, {{a2000, 2000}}), InstallResult::NotNewer);
  // A module put over by a file without a stamp is no update either.
  EXPECT_EQ(install(folder, package("", {{"a.so", Ops().literal("text")}}), {{"text"}}), InstallResult::NotNewer);
  EXPECT_EQ(snapshot(folder), before);
}

// The manifest is signed; the body and the results must be the ones it names.
TEST_F(PackageTest, BodyOrResultsOtherThanTheManifestNamesAreRefused) {
  std::string a2000 = module(2000, "new");
  std::string body = package("", {{"a.so", Ops().literal(a2000)}});
  auto before = snapshot(folder);
  struct Case {
    const char* what;
    std::string body;
    updates::Manifest manifest;
    InstallResult expected;
  } cases[] = {
      {"another body", package("", {{"a.so", Ops().literal(module(3000, "x"))}}),
       manifestFor(folder, body, {{a2000, 2000}}), InstallResult::BadPackage},
      {"result digest", body, manifestFor(folder, body, {{module(2000, "other"), 2000}}), InstallResult::WrongResult},
      {"result stamp", body, manifestFor(folder, body, {{a2000, 2500}}), InstallResult::WrongResult},
      {"no targets", body, manifestFor(folder, "", {}), InstallResult::BadPackage},
  };
  cases[3].manifest.package = digest(body);
  for (const Case& c : cases) {
    EXPECT_EQ(installWith(folder, c.body, c.manifest), c.expected) << c.what;
    EXPECT_EQ(snapshot(folder), before) << c.what;
  }
}

TEST_F(PackageTest, RejectedPackagesLeaveTheFolderAsItWas) {
  // Short copies of a big source make results far larger than the package.
  writeFile(folder / "big.dat", std::string(1 << 20, 'x'));
  Ops megabytes65, megabytes60;
  for (int i = 0; i < 65; ++i) megabytes65.copy(1, 0, 1 << 20);
  for (int i = 0; i < 60; ++i) megabytes60.copy(1, 0, 1 << 20);
  auto before = snapshot(folder);
  struct Case {
    const char* what;
    std::string body;
    InstallResult expected;
  } cases[] = {
      {"source number past the list", package("a.so", {{"a.so", Ops().copy(2, 0, 1)}}), InstallResult::BadPackage},
      {"range past the source", package("b.so", {{"b.so", Ops().copy(1, 5, 6)}}), InstallResult::BadPackage},
      {"offset wrapping round", package("a.so", {{"a.so", Ops().copy(1, 0xFFFFFFFFu, 2)}}), InstallResult::BadPackage},
      {"copy with no sources", package("", {{"a.so", Ops().copy(1, 0, 1)}}), InstallResult::BadPackage},
      {"target climbing out", package("a.so", {{"../evil.so", Ops().literal("x")}}), InstallResult::BadPackage},
      {"absolute target", package("a.so", {{"/tmp/evil.so", Ops().literal("x")}}), InstallResult::BadPackage},
      {"target in a subfolder", package("a.so", {{"sub\\evil.so", Ops().literal("x")}}), InstallResult::BadPackage},
      {"empty target", package("a.so", {{"", Ops().literal("x")}}), InstallResult::BadPackage},
      {"dot-dot target", package("a.so", {{"..", Ops().literal("x")}}), InstallResult::BadPackage},
      {"new-file target", package("", {{"a.so.new", Ops().literal("x")}}), InstallResult::BadPackage},
      {"old-file target", package("", {{"a.so.old", Ops().literal("x")}}), InstallResult::BadPackage},
      {"journal target", package("", {{"install.journal", Ops().literal("x")}}), InstallResult::BadPackage},
      {"source outside", package("../b.so", {{"a.so", Ops().copy(1, 0, 1)}}), InstallResult::BadPackage},
      {"empty source name", package("a.so,", {{"a.so", Ops().copy(1, 0, 1)}}), InstallResult::BadPackage},
      {"a target twice", package("", {{"x.so", Ops().literal("1")}, {"x.so", Ops().literal("2")}}),
       InstallResult::BadPackage},
      {"no end of sources", std::string("a.so"), InstallResult::BadPackage},
      {"length past the body", package("a.so", {{"a.so", Ops().literal("abc")}}).substr(0, 14),
       InstallResult::BadPackage},
      {"literal past its entry", package("", {{"x.so", Ops().literal("abcdef")}}).substr(0, 13) + "\x00\x00\x00\x03",
       InstallResult::BadPackage},
      {"missing source", package("gone.so", {{"a.so", Ops().copy(1, 0, 1)}}), InstallResult::MapFailed},
      {"a result past 64 MiB", package("big.dat", {{"x.so", megabytes65}}), InstallResult::TooLarge},
      {"results past 256 MiB in all",
       package("big.dat", {{"v.so", megabytes60}, {"w.so", megabytes60}, {"x.so", megabytes60}, {"y.so", megabytes60},
                           {"z.so", megabytes60}}),
       InstallResult::TooLarge},
      // A bad entry after a good one: nothing of the good one is written.
      {"bad second entry", package("b.so", {{"a.so", Ops().literal("x")}, {"b.so", Ops().copy(1, 0, 99)}}),
       InstallResult::BadPackage},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(install(folder, c.body), c.expected) << c.what;
    EXPECT_EQ(snapshot(folder), before) << c.what;
  }
  EXPECT_FALSE(fs::exists(folder.parent_path() / "evil.so"));
}

TEST_F(PackageTest, RenameFailingPartWayUndoesTheOnesDone) {
  // "b.so.old" is a folder holding a file, so moving b.so aside fails after
  // a.so has already been swapped.
  fs::create_directory(folder / "b.so.old");
  writeFile(folder / "b.so.old" / "keep", "k");
  auto before = snapshot(folder);
  std::string body =
      package("a.so,b.so", {{"a.so", Ops().literal(module(2000, "new a"))}, {"b.so", Ops().literal("new b")}});
  EXPECT_EQ(install(folder, body, {{module(2000, "new a"), 2000}, {"new b"}}), InstallResult::InstallFailed);
  EXPECT_EQ(snapshot(folder), before);
}

// An install stopped before each of its steps in turn, by a crash (a child
// process that dies there) and by that step failing: the next start leaves
// every file of the package all old or all new, none missing, nothing over.
TEST_F(PackageTest, CutAtEveryStepTheNextStartHasAllOldOrAllNew) {
  std::string a2000 = module(2000, "AAAAAnewCCCCC"), e3000 = module(3000, "a new module");
  std::string body = package("a.so", {{"a.so", Ops().literal(a2000.substr(0, kModuleHead + 5)).literal("new").copy(1, aPayload + 10, 5)},
                                      {"b.so", Ops().literal("new b")},
                                      {"e.so", Ops().literal(e3000)}});
  updates::Manifest manifest = manifestFor(folder, body, {{a2000, 2000}, {"new b"}, {e3000, 3000}});
  const auto before = snapshot(folder);
  const std::map<std::string, std::string> after = {{"a.so", a2000}, {"b.so", "new b"}, {"e.so", e3000}};
  auto reset = [&] {
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const auto& [name, bytes] : before) writeFile(folder / name, bytes);
  };
  auto stopAt = [&](int n, bool crash) {
    updates::InstallOptions options;
    options.beforeStep = [n, crash](int step) {
      if (step == n && crash) _exit(3);
      return step != n;
    };
    return updates::installPackage(folder.string(), manifest, reinterpret_cast<const uint8_t*>(body.data()),
                                   body.size(), options);
  };
  int steps = 0, endedOld = 0, endedNew = 0;
  bool damagedOne = false;
  for (;; ++steps) {
    pid_t child = fork();
    if (child == 0) _exit(stopAt(steps, true) == InstallResult::Installed ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 1) << "step " << steps;
    bool finished = WEXITSTATUS(status) == 0;
    // Once, a new file spoilt after the crash: the start puts the old ones back.
    bool damage = !damagedOne && fs::exists(folder / "install.journal") && fs::exists(folder / "e.so.new");
    if (damage) writeFile(folder / "e.so.new", "torn");
    updates::recoverInstall(folder.string());
    auto now = snapshot(folder);
    EXPECT_TRUE(now == before || now == after) << "crash at step " << steps;
    if (damage) {
      EXPECT_EQ(now, before) << "damaged at step " << steps;
    }
    damagedOne |= damage;
    (now == before ? endedOld : endedNew)++;
    reset();

    // The same step failing in the process: the folder is as it was, unless
    // only removing the journal failed, when the install stands.
    InstallResult r = stopAt(steps, false);
    if (r != InstallResult::Installed) {
      EXPECT_EQ(snapshot(folder), before) << "failure at step " << steps;
    }
    updates::recoverInstall(folder.string());
    EXPECT_EQ(snapshot(folder), r == InstallResult::Installed ? after : before) << "failure at step " << steps;
    reset();
    if (finished) break;
  }
  // Three files written, two old ones kept, the journal, three swaps, its removal.
  EXPECT_EQ(steps, 10);
  EXPECT_TRUE(damagedOne);
  EXPECT_GE(endedOld, 5);
  EXPECT_GE(endedNew, 4);
}

TEST_F(PackageTest, UnwritableOutputFailsAndWritesNothing) {
  fs::create_directory(folder / "x.so.new");  // cannot be opened as a file
  writeFile(folder / "x.so.new" / "keep", "k");
  auto before = snapshot(folder);
  std::string body = package("", {{"b.so", Ops().literal("1")}, {"x.so", Ops().literal("2")}});
  EXPECT_EQ(install(folder, body, {{"1"}, {"2"}}), InstallResult::OutputFailed);
  EXPECT_EQ(snapshot(folder), before);
  // A link left under the ".new" name is not written through.
  fs::path outside = folder.parent_path() / (folder.filename().string() + "-outside");
  writeFile(outside, "untouched");
  fs::create_symlink(outside, folder / "y.so.new");
  EXPECT_EQ(install(folder, package("", {{"y.so", Ops().literal("evil")}}), {{"evil"}}), InstallResult::OutputFailed);
  EXPECT_EQ(readFile(outside), "untouched");
  fs::remove(outside);
}

TEST(PackageSignature, OnlyTheBuiltInKeysSignatureVerifies) {
  std::string body = updates::writeManifest(updates::Manifest{});
  auto verify = [](const std::string& b, const std::string& s) {
    return updates::verifyUpdateSignature(reinterpret_cast<const uint8_t*>(b.data()), b.size(), s);
  };
  std::string good = sign(body);
  EXPECT_TRUE(verify(body, good));
  EXPECT_FALSE(verify(body + "!", good));
  EXPECT_FALSE(verify(body, ""));
  EXPECT_FALSE(verify(body, good.substr(0, 127)));
  EXPECT_FALSE(verify(body, std::string(128, 'z')));
  // Another key's signature of the same body.
  EXPECT_FALSE(verify(body, sign(body, "0000000000000000000000000000000000000000000000000000000000000001")));
}

TEST(BuildStamp, ElfNoteOfThisProgramAndImageRule) {
  // The test program is linked with a fixed stamp.
  EXPECT_EQ(updates::readBuildStamp("/proc/self/exe"), 1200000000u);
  std::string self = readFile("/proc/self/exe");
  auto stampOf = [](const std::string& s) {
    return updates::buildStampOf(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  EXPECT_EQ(stampOf(self.substr(0, 4096)), 1200000000u);  // the notes come early
  EXPECT_EQ(stampOf(self.substr(0, 40)), 0u);
  // Program headers said to lie past the end.
  std::string lying = self.substr(0, 4096);
  for (int i = 32; i < 40; ++i) lying[size_t(i)] = char(0x7F);
  EXPECT_EQ(stampOf(lying), 0u);

  std::string image(256, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[60] = char(0x80);  // the header at 128; the stamp at 128 + 8
  image[136] = char(0x00);
  image[137] = char(0x2F);
  image[138] = char(0x68);
  image[139] = char(0x59);
  EXPECT_EQ(stampOf(image), 0x59682F00u);
  EXPECT_EQ(stampOf(image.substr(0, 140)), 0u);
  image[60] = char(0xF0);
  EXPECT_EQ(stampOf(image), 0u);
  EXPECT_EQ(stampOf("not a module at all, just text that is long enough to be read past 64 bytes....."), 0u);
  EXPECT_EQ(updates::readBuildStamp("/nonexistent/file.so"), 0u);
}

TEST(HttpRequest, BytesOnTheWire) {
  updates::HttpMessage m;
  m.startLine = "POST /u.php HTTP/1.0";
  m.headers["Host"] = "up.example";
  m.body = updates::requestBody({{"olvaro", 7}, {"skip.so", 0}, {"api.dll", 1200000000}}, "PocketPC", 1033, 42);
  m.headers["Content-Length"] = std::to_string(m.body.size());
  m.headers["Content-Type"] = "text/xml";
  m.headers["Empty"] = "";
  EXPECT_EQ(updates::serializeRequest(m),
            "POST /u.php HTTP/1.0\ncontent-length: 238\ncontent-type: text/xml\nhost: up.example\n\n"
            "<?xml version='1.0'?>\n<root><file><name>olvaro</name><build>7</build></file>"
            "<file><name>api.dll</name><build>1200000000</build></file><platform><name>PocketPC</name>"
            "<language>1033</language></platform><user><subid>42</subid></user></root>");
}

}  // namespace
