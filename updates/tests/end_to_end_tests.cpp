// A real update from the real update server: a program folder copied from
// the build, a release folder holding a rebuilt plug-in with a newer stamp
// (and the build the program has, kept from an earlier release) and a change
// log.
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>

#include "build_stamp.h"
#include "updates_fixture.h"

using namespace updatestest;
namespace fs = std::filesystem;

namespace {

// olvaro-server with its update port on; the port read from what it prints.
class UpdateServerProcess {
 public:
  explicit UpdateServerProcess(const fs::path& releases) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      execl(OLVARO_SERVER_PROGRAM, OLVARO_SERVER_PROGRAM, "--demo", "-p", "0", "-b", "127.0.0.1", "--update-port", "0",
            "--update-releases", releases.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char line[256];
    while (lines && fgets(line, sizeof line, lines))
      if (std::sscanf(line, "update server on port %d", &port_) == 1) break;
    if (lines) fclose(lines);
  }
  ~UpdateServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// The answer to the request the client would send now, read whole.
std::string askServer(int port, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return {};
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string out;
  char buf[65536];
  for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) out.append(buf, size_t(n));
  close(fd);
  return out;
}

class EndToEndTest : public UpdatesTest {};

TEST_F(EndToEndTest, CheckDownloadInstallRestart) {
  for (const auto& entry : fs::directory_iterator(OLVARO_PROGRAM_FOLDER))
    if (entry.is_regular_file() && updates::isModuleName(entry.path().filename().string()))
      fs::copy_file(entry.path(), folder / entry.path().filename());
  ASSERT_TRUE(fs::exists(folder / "updates.so"));
  fs::path releases = freshFolder("releases");
  fs::create_directory(releases / "previous");
  fs::copy_file(folder / "updates.so", releases / "previous" / "updates.so");
  fs::copy_file(OLVARO_RELEASE_PLUGIN, releases / "updates.so");
  writeFile(releases / "changelog.txt", "Updates now come signed.\n");
  uint32_t installed = updates::readBuildStamp((folder / "updates.so").string());
  uint32_t released = updates::readBuildStamp((releases / "updates.so").string());
  ASSERT_NE(installed, 0u);
  ASSERT_GT(released, installed);

  UpdateServerProcess server(releases);
  ASSERT_NE(server.port(), 0);
  KS_SetSettingString("Updates/ServerHost", "127.0.0.1");
  KS_SetSettingLong("Updates/ServerPort", server.port());

  // What the client is about to get: a package far smaller than the module.
  std::string preview = askServer(server.port(), updates::buildRequest("127.0.0.1", folder.string()));
  size_t length = preview.find("Content-Length: ");
  ASSERT_NE(length, std::string::npos) << preview.substr(0, 200);
  size_t packageSize = std::stoul(preview.substr(length + 16));
  size_t moduleSize = fs::file_size(releases / "updates.so");
  EXPECT_LT(packageSize * 50, moduleSize) << packageSize << " of " << moduleSize;

  start();
  testkit::runClock(updates::Updater::kTickMs);
  ASSERT_TRUE(testkit::pumpUntil([&] { return state() == updates::kCheckInstalled || state() == updates::kCheckFailed; }));
  ASSERT_EQ(state(), updates::kCheckInstalled) << overview->last().first << ": " << overview->last().second;
  bool sawProgress = false;
  for (const auto& [title, text] : overview->reports) sawProgress |= title == "Downloading Updates";
  EXPECT_TRUE(sawProgress);
  EXPECT_EQ(overview->last(),
            std::make_pair(std::string("New Updates Installed"), std::string("Restart Olvaro when Convenient")));
  EXPECT_EQ(readFile(folder / "updates.so"), readFile(releases / "updates.so"));
  EXPECT_EQ(readFile(folder / "updates.so.old"), readFile(releases / "previous" / "updates.so"));
  EXPECT_EQ(readFile(folder / "changelog.txt"), "Updates now come signed.\n");

  // The next start: the old file goes, the change log shows once.
  updater.reset();
  start();
  EXPECT_FALSE(fs::exists(folder / "updates.so.old"));
  ASSERT_TRUE(updater->notice().changeLogWindow());
  EXPECT_EQ(testkit::windowText(testkit::findWindow("EDIT", "", updater->notice().changeLogWindow())),
            "Updates now come signed.\r\n");
  updater.reset();
  start();
  EXPECT_FALSE(updater->notice().changeLogWindow());
  // Now current: the server has nothing more.
  EXPECT_EQ(askServer(server.port(), updates::buildRequest("127.0.0.1", folder.string())),
            "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
  fs::remove_all(releases);
}

}  // namespace
