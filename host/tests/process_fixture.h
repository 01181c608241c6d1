// The real program as a child process, with the test's configuration
// folder on the headless screen.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host_fixture.h"

extern char** environ;

struct HostRun {
  std::vector<std::string> args;
  std::string home;              // configuration folder; the test's own when empty
  std::vector<std::string> env;  // more NAME=value entries
  std::string output;            // file for the program's standard output, if any
};

class ProcessTest : public hubtest::HubTest {
 protected:
  pid_t spawnHost(const HostRun& run) {
    std::string folder = run.home.empty() ? home() : run.home;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string kv = *e;
      if (kv.rfind("OLVARO_", 0) != 0 && kv.rfind("LSAN_OPTIONS=", 0) != 0) env.push_back(kv);
    }
    env.push_back("OLVARO_HOME=" + folder);
    env.push_back("OLVARO_BACKEND=headless");
    // fontconfig's lifelong cache is not a leak of the program's.
    std::string suppressions = folder + "/lsan.supp";
    if (!exists(suppressions)) std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    env.push_back("LSAN_OPTIONS=suppressions=" + suppressions);
    env.insert(env.end(), run.env.begin(), run.env.end());
    std::vector<std::string> argv = {HOST_PROGRAM};
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    std::vector<char*> a, e;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : env) e.push_back(s.data());
    e.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!run.output.empty())
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, run.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, HOST_PROGRAM, &actions, nullptr, a.data(), e.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
  }

  // A started instance ends by itself after saving the screen to `snapshot`.
  pid_t spawnHost(const std::vector<std::string>& args, const std::string& snapshot = "", int snapshotMs = 0) {
    HostRun run;
    run.args = args;
    if (!snapshot.empty()) {
      run.env.push_back("OLVARO_SNAPSHOT=" + snapshot);
      run.env.push_back("OLVARO_SNAPSHOT_AFTER_MS=" + std::to_string(snapshotMs));
    }
    return spawnHost(run);
  }

  // The exit code (128 + the signal's number for a signal's death), or -1
  // when the process has not ended within the bound (it is then killed).
  int waitExit(pid_t pid, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    auto end = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

  // Polls until `ready` holds, for at most `bound`.
  static bool waitUntil(const std::function<bool()>& ready, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    auto end = std::chrono::steady_clock::now() + bound;
    while (!ready()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  static std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  bool exists(const std::string& path) { return std::filesystem::exists(path); }
};
