// Ending the real program from outside: termination signals end it as
// Exit does, so what changed during the run is saved.
#include "process_fixture.h"

#ifdef HOST_TEST_SERVER
#include "olvaro_server/server.h"

namespace {

class EndSignalTest : public ProcessTest {
 protected:
  void SetUp() override {
    ProcessTest::SetUp();
    olvaro::server::Config config;
    config.demo = true;  // an unknown address gets an account at its first sign-in
    server_ = std::make_unique<olvaro::server::Server>(config);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
  }
  void TearDown() override {
    if (server_) server_->stop();
    ProcessTest::TearDown();
  }

  // A configuration folder that signs in to the test's server as `user`.
  std::string configFor(const std::string& name, const std::string& user) {
    std::string folder = home() + "/" + name;
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/HKCU.reg") << "; olvaro registry 1\n\n[SOFTWARE\\\\Orvalo\\\\Settings]\n"
                                      << "\"Connection/Servers/List\"=sz:\"127.0.0.1:" << server_->ports().at(0)
                                      << "\"\n\"connection.user\"=sz:\"" << user << "\"\n"
                                      << "\"connection.pass\"=sz:\"secret12\"\n";
    return folder;
  }

  // Starts the program with the connection states traced to a file and
  // waits until it has signed in.
  pid_t startSignedIn(const std::string& home) {
    HostRun run;
    run.home = home;
    run.env = {"OLVARO_TRACE_STATES=1"};
    run.output = home + "/states.txt";
    pid_t pid = spawnHost(run);
    if (pid <= 0) return pid;
    if (!waitUntil([&] { return readFile(run.output).find("connection.state 100") != std::string::npos; })) {
      ADD_FAILURE() << "not signed in; states:\n" << readFile(run.output);
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      return -1;
    }
    return pid;
  }

  std::unique_ptr<olvaro::server::Server> server_;
};

}  // namespace

TEST_F(EndSignalTest, TerminationSignalsEndTheRunAsExitDoesAndKeepTheSettings) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    std::string name = "signal" + std::to_string(sig);
    std::string user = name + "@example.org";
    std::string home = configFor(name, user);
    pid_t pid = startSignedIn(home);
    ASSERT_GT(pid, 0);

    // The server pushes a setting and then drops the link: once the program
    // reports the drop it has taken the setting, which is then only in memory.
    std::string states = home + "/states.txt";
    size_t seen = readFile(states).size();
    olvaro::server::Faults drop;
    drop.drop_after_packets = 1;
    server_->set_faults(drop);
    ASSERT_TRUE(server_->push_setting(server_->account_id(user), "hosttest.pushed", "kept " + name));
    EXPECT_TRUE(waitUntil([&] { return readFile(states).find("connection.state", seen) != std::string::npos; }));
    server_->set_faults({});
    EXPECT_EQ(readFile(home + "/HKCU.reg").find("hosttest.pushed"), std::string::npos);

    ASSERT_EQ(kill(pid, sig), 0);
    EXPECT_EQ(waitExit(pid, std::chrono::seconds(10)), 0);
    std::string saved = readFile(home + "/HKCU.reg");
    EXPECT_NE(saved.find("\"hosttest.pushed\"=sz:\"kept " + name + "\""), std::string::npos) << saved;
    // Settings read with their defaults during the run are written too.
    EXPECT_NE(saved.find("\"Connection/AutoSignIn\""), std::string::npos) << saved;
  }
}

TEST_F(EndSignalTest, ASecondSignalWhileEndingEndsAtOnce) {
  std::string home = configFor("twice", "twice@example.org");
  pid_t pid = startSignedIn(home);
  ASSERT_GT(pid, 0);
  // Both arrive together when the program goes on again: whichever comes
  // second ends it at once with 128 + its number.
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  ASSERT_TRUE(waitUntil([&] {
    int status = 0;
    return waitpid(pid, &status, WUNTRACED | WNOHANG) == pid && WIFSTOPPED(status);
  }));
  kill(pid, SIGTERM);
  kill(pid, SIGINT);
  kill(pid, SIGCONT);
  int code = waitExit(pid, std::chrono::seconds(10));
  EXPECT_TRUE(code == 128 + SIGTERM || code == 128 + SIGINT) << code;
}

#endif  // HOST_TEST_SERVER
