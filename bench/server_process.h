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
  // With `tls`: a TLS port on a self-made certificate, and its key's pin.
  bool tls = false;
  int tlsPort = 0;
  std::string pin;
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
      std::string error, pinText(64, '0');
      if (tls) {
        config.tls_ports = {0};
        olvaro::server::make_certificate({"127.0.0.1"}, "", "", false, &config.tls_cert_pem, &config.tls_key_pem, &error);
        pinText = olvaro::server::key_pin(config.tls_cert_pem);
      }
      olvaro::server::Server server{std::move(config)};
      int p[2] = {0, 0};
      if (server.start(&error) && fill(server, &error)) {
        p[0] = server.ports().at(0);
        if (tls) p[1] = server.tls_ports().at(0);
      }
      if (p[0] == 0) fprintf(stderr, "server: %s\n", error.c_str());
      (void)!write(up[1], p, sizeof p);
      (void)!write(up[1], pinText.data(), 64);
      char c;
      while (read(down[0], &c, 1) > 0) {
      }
      server.stop();
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    keepAlive = down[1];
    int p[2] = {0, 0};
    char pinText[64];
    bool ok = read(up[0], p, sizeof p) == sizeof p && p[0] != 0 && read(up[0], pinText, 64) == 64;
    port = p[0];
    tlsPort = p[1];
    if (tls) pin.assign(pinText, 64);
    close(up[0]);
    return ok;
  }
  ~ServerProcess() {
    if (keepAlive >= 0) close(keepAlive);
    if (pid > 0) waitpid(pid, nullptr, 0);
  }
};

}  // namespace bench
