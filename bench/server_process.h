// The reference server in a child process, so its threads and its work stay
// out of the measured process. The port comes back through a pipe, and the
// child ends when the pipe to it closes. Fork before any thread starts.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "olvaro_server/server.h"

namespace bench {

struct ServerProcess {
  pid_t pid = -1;
  int port = 0;
  int keepAlive = -1;

  // `fill` seeds the started server; false or an error gives no port.
  bool start(const std::function<bool(olvaro::server::Server&, std::string*)>& fill,
             olvaro::server::Config config = {}) {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) return false;
    pid = fork();
    if (pid == 0) {
      close(up[0]);
      close(down[1]);
      olvaro::server::Server server{std::move(config)};
      std::string error;
      int p = 0;
      if (server.start(&error) && fill(server, &error)) p = server.ports().at(0);
      if (p == 0) fprintf(stderr, "server: %s\n", error.c_str());
      (void)!write(up[1], &p, sizeof p);
      char c;
      while (read(down[0], &c, 1) > 0) {
      }
      server.stop();
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    keepAlive = down[1];
    bool ok = read(up[0], &port, sizeof port) == sizeof port && port != 0;
    close(up[0]);
    return ok;
  }
  ~ServerProcess() {
    if (keepAlive >= 0) close(keepAlive);
    if (pid > 0) waitpid(pid, nullptr, 0);
  }
};

}  // namespace bench
