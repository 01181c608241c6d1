// The reference server under load on loopback, in its own process: 10,000
// signed-in connections and the memory each idle one takes, the message
// rate 1,000 senders reach, and the delivery latency at a fixed 10,000
// messages a second. One program run prints the figures; it is a
// measurement, not a Google Benchmark loop, since each phase builds on the
// connections of the one before.
//
//   olvaro-server-load [--connections N] [--senders N] [--rate PER_SECOND]
//                      [--seconds S] [--database FILE]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "packet.h"
#include "server_process.h"

using namespace olvaro::server;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPerAddress = 200;  // callers per loopback address, under the server's cap of 256

long rss_kb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// Processor time the process has had (all its threads), in seconds.
double cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // utime and stime are the 12th and 13th fields after the ")" closing the name.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string f;
  double ticks = 0;
  for (int k = 1; k <= 13 && fields >> f; ++k)
    if (k >= 12) ticks += std::stod(f);
  return ticks / double(sysconf(_SC_CLK_TCK));
}

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct Conn {
  int fd = -1;
  enum State { Connecting, Authing, SignedIn, Failed } state = Connecting;
  PacketReader reader{PacketReader::Limits{8192, 64, 1 << 20}};
  std::string out;
  size_t out_sent = 0;
  uint64_t account = 0;
  uint64_t next_id = 32768;
  size_t unacked = 0;  // messages sent, not yet answered
};

struct Load {
  std::vector<Conn> conns;
  int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
  int signed_in = 0, failed = 0, signing = 0;
  // Counts of what arrived, and delivery latencies (ns) while `timing`.
  uint64_t delivered = 0, answered = 0, refused = 0;
  bool timing = false;
  std::vector<int64_t> latencies;

  void flush(size_t i) {
    Conn& c = conns[i];
    while (c.out_sent < c.out.size()) {
      ssize_t n = ::send(c.fd, c.out.data() + c.out_sent, c.out.size() - c.out_sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      c.out_sent += size_t(n);
    }
    if (c.out_sent == c.out.size()) {
      c.out.clear();
      c.out_sent = 0;
    }
    epoll_event ev{};
    ev.events = EPOLLIN | (c.out.empty() ? 0u : uint32_t(EPOLLOUT));
    ev.data.u64 = i;
    epoll_ctl(epoll_fd, EPOLL_CTL_MOD, c.fd, &ev);
  }

  void queue(size_t i, const Packet& p) {
    p.serialize_to(conns[i].out);
    flush(i);
  }

  void on_packet(size_t i, Packet& p) {
    Conn& c = conns[i];
    if (p.command == "MESG") {
      ++delivered;
      if (timing) latencies.push_back(now_ns() - std::strtoll(p.body.c_str(), nullptr, 10));
    } else if (p.command == "RESPONSE") {
      ++answered;
      if (p.body != std::string("\0\0\0\4", 4)) ++refused;  // 4: delivered
      if (c.unacked) --c.unacked;
    } else if (p.command == "P") {
      queue(i, Packet("P"));
    } else if (p.command == "AUTH" && c.state == Conn::Authing) {
      Packet a("AUTH");
      a.set_int("Encryption-Type", 0);
      a.set_int("Auth-Target", 0);
      a.set_int("Online-Status", 1);
      a.set("Name", "load" + std::to_string(i) + "@bench");
      a.body = "pw";
      queue(i, a);
    } else if (p.command == "LOGON SUCCESSFUL") {
      c.state = Conn::SignedIn;
      c.account = p.get_id("Sub-Id");
      ++signed_in;
      --signing;
    } else if (p.command == "LOGON FAILED") {
      c.state = Conn::Failed;
      ++failed;
      --signing;
    }
  }

  bool open(size_t i, uint16_t port) {
    Conn& c = conns[i];
    c.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (c.fd < 0) return false;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7f000101 + uint32_t(i / kPerAddress));  // 127.0.1.1 and on
    if (bind(c.fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) return false;
    int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(c.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = i;
    epoll_ctl(epoll_fd, EPOLL_CTL_ADD, c.fd, &ev);
    c.state = Conn::Authing;
    Packet logon("LOGON");
    logon.set("App-Type", "SmartPhone");
    logon.set("Operator", "PC_CLIENT");
    logon.set("Protocol-Version", "1.0");
    queue(i, logon);
    ++signing;
    return true;
  }

  // Handles what arrives within `timeout_ms`.
  void poll_once(int timeout_ms) {
    epoll_event events[256];
    int n = epoll_wait(epoll_fd, events, 256, timeout_ms);
    char buf[65536];
    for (int k = 0; k < n; ++k) {
      size_t i = events[k].data.u64;
      Conn& c = conns[i];
      if (events[k].events & EPOLLOUT) flush(i);
      if (!(events[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR))) continue;
      for (;;) {
        ssize_t got = recv(c.fd, buf, sizeof buf, 0);
        if (got <= 0) {
          if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            if (c.state != Conn::Failed) {
              if (c.state == Conn::SignedIn) --signed_in;
              else --signing;
              ++failed;
              c.state = Conn::Failed;
            }
            epoll_ctl(epoll_fd, EPOLL_CTL_DEL, c.fd, nullptr);
          }
          break;
        }
        c.reader.feed(buf, size_t(got), [&](Packet& p) {
          on_packet(i, p);
          return true;
        });
      }
    }
  }

  void send_message(size_t from, size_t to, const std::string& body) {
    Conn& c = conns[from];
    Packet p("MESG");
    p.set_id("Mesg-Id", c.next_id++);
    if (c.next_id > 0xfffff) c.next_id = 32768;
    p.set_int("Mesg-Target", 0);
    p.set_id("Target-Id", conns[to].account);
    p.set("Content-Type", "text/plain");
    p.set_int("Last", 1);
    p.body = body;
    ++c.unacked;
    queue(from, p);
  }
};

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A message body: the send time, padded to 100 bytes like a short chat line.
std::string stamped_body() {
  std::string b = std::to_string(now_ns());
  b.resize(100, ' ');
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  int connections = 10000, senders = 1000, rate = 10000, seconds = 10;
  std::string database;
  for (int k = 1; k + 1 < argc; k += 2) {
    std::string a = argv[k];
    if (a == "--connections") connections = std::atoi(argv[k + 1]);
    else if (a == "--senders") senders = std::atoi(argv[k + 1]);
    else if (a == "--rate") rate = std::atoi(argv[k + 1]);
    else if (a == "--seconds") seconds = std::atoi(argv[k + 1]);
    else if (a == "--database") database = argv[k + 1];
  }
  senders = std::clamp(senders, 1, connections / 2);

  // Both processes need a descriptor for each connection (the server
  // inherits the limit).
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = lim.rlim_max;
  setrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_cur < rlim_t(connections) + 100) {
    fprintf(stderr, "the descriptor limit (%lu) is too low for %d connections\n", (unsigned long)lim.rlim_cur,
            connections);
    return 1;
  }

  // The server as it runs, but for the password hashing: Argon2id at its
  // interactive cost takes about 0.1 s a sign-in on one thread, so the
  // accounts are made and checked at the least cost the library allows.
  Config config;
  config.quick_password_hashes = true;
  config.max_connections = size_t(connections) + 100;
  if (!database.empty()) config.database = database;
  bench::ServerProcess server;
  auto t0 = Clock::now();
  bool up = server.start(
      [&](Server& s, std::string* error) {
        for (int i = 0; i < connections; ++i)
          if (!s.create_account({"load" + std::to_string(i) + "@bench", "pw", "", "", 0})) {
            *error = "could not create the accounts";
            return false;
          }
        return true;
      },
      config);
  if (!up) return 1;
  printf("server: %d accounts in %.1f s (database %s)\n", connections, seconds_since(t0),
         database.empty() ? "in memory" : database.c_str());
  long rss_start = rss_kb(server.pid);
  printf("server process: %d\n", int(server.pid));

  // 1. Everyone signs in, a few dozen sign-ins at a time.
  Load load;
  load.conns.resize(size_t(connections));
  t0 = Clock::now();
  size_t next = 0;
  while (load.signed_in + load.failed < connections) {
    while (next < size_t(connections) && load.signing < 48)
      if (!load.open(next++, uint16_t(server.port))) {
        perror("connect");
        return 1;
      }
    load.poll_once(10);
    if (seconds_since(t0) > 300) break;
  }
  double sign_in_s = seconds_since(t0);
  // Let the server settle, then weigh it.
  for (auto settle = Clock::now(); seconds_since(settle) < 2;) load.poll_once(50);
  long rss_idle = rss_kb(server.pid);
  printf("sign-in: %d signed in, %d failed, in %.1f s (%.0f a second)\n", load.signed_in, load.failed, sign_in_s,
         load.signed_in / sign_in_s);
  printf("memory: server %ld KB before, %ld KB with %d idle connections: %.1f KB a connection\n", rss_start,
         rss_idle, load.signed_in, double(rss_idle - rss_start) / std::max(load.signed_in, 1));
  if (load.signed_in < connections) return 1;

  // 2. Throughput: each sender keeps a window of messages on their way to
  // its own receiver among the idle connections.
  const size_t window = 32;
  auto receiver = [&](size_t s) { return (s + size_t(connections) / 2) % size_t(connections); };
  std::string body(100, 'm');
  uint64_t delivered0 = load.delivered, answered0 = load.answered;
  double cpu0 = cpu_seconds(server.pid), own0 = cpu_seconds(getpid());
  t0 = Clock::now();
  while (seconds_since(t0) < seconds) {
    for (size_t s = 0; s < size_t(senders); ++s)
      while (load.conns[s].unacked < window && load.conns[s].out.size() < 65536) load.send_message(s, receiver(s), body);
    load.poll_once(1);
  }
  double spent = seconds_since(t0);
  double cpu = cpu_seconds(server.pid) - cpu0, own = cpu_seconds(getpid()) - own0;
  uint64_t delivered = load.delivered - delivered0, answered = load.answered - answered0;
  // Drain what is still on its way before the next phase.
  for (auto drain = Clock::now(); seconds_since(drain) < 3;) load.poll_once(10);
  printf("throughput: %d senders, %.0f messages delivered a second (%.0f answered a second, %lu refused)\n",
         senders, double(delivered) / spent, double(answered) / spent, (unsigned long)load.refused);
  // On a shared machine the wall-clock rate depends on what else runs; the
  // server's own processor time per message does not.
  printf("server processor time: %.1f us a message (%.0f messages a processor-second; %.0f%% of a core)\n",
         cpu * 1e6 / double(std::max<uint64_t>(delivered, 1)), double(delivered) / std::max(cpu, 1e-9),
         cpu / spent * 100);
  printf("the clients' processor time: %.0f%% of a core\n", own / spent * 100);

  // 3. Latency at a fixed rate, spread evenly over the senders.
  load.timing = true;
  load.latencies.reserve(size_t(rate) * size_t(seconds));
  uint64_t sent = 0;
  size_t turn = 0;
  t0 = Clock::now();
  while (seconds_since(t0) < seconds) {
    uint64_t due = uint64_t(seconds_since(t0) * rate);
    for (; sent < due; ++sent, turn = (turn + 1) % size_t(senders)) load.send_message(turn, receiver(turn), stamped_body());
    load.poll_once(1);  // not spinning: the server needs the processor more
  }
  for (auto drain = Clock::now(); load.latencies.size() < sent && seconds_since(drain) < 5;) load.poll_once(10);
  auto& l = load.latencies;
  std::sort(l.begin(), l.end());
  auto pct = [&](double q) { return l.empty() ? 0.0 : double(l[std::min(l.size() - 1, size_t(q * double(l.size())))]) / 1e6; };
  printf("latency at %d messages a second: %lu sent, %lu delivered; p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", rate,
         (unsigned long)sent, (unsigned long)l.size(), pct(0.5), pct(0.99), l.empty() ? 0.0 : double(l.back()) / 1e6);
  printf("server memory at the end: %ld KB\n", rss_kb(server.pid));
  return 0;
}
