// The reference server's whole session, in process: the real core and the
// real store (SQLite in memory), driven by hand without the loop's thread,
// with three clients on local socket pairs sending packets built from the
// input, and the server's clock moved by hand between them. The server must
// never crash or hang, and everything it writes must be well-framed packets.
//
// Input: byte 0's low three bits choose which clients sign in first (ann,
// bob, carl). The rest is chunks separated by "\0\0". A chunk's first byte
// names the client (byte % 3) and what it does (byte / 3): a command from
// the table below, with the bytes up to a \x01 as header lines and the rest
// as the body; or raw bytes, the clock moved on 20 s, or a hang-up.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "core.h"

using namespace olvaro::server;

namespace {

const char* const kCommands[] = {
    "P",           "LOGON",          "AUTH",          "CONTACT DETAIL", "CONTACT ADD",
    "CONTACT ADD RESP", "CONTACT UPDATE", "GROUP CREATE", "GROUP SUBSCRIBE", "GROUP UNSUB",
    "GROUP ADMIN", "MESG",           "MESG STORED",   "MESG HIST",      "BRIDGE REGISTER",
    "BRIDGE UPDATE", "BRIDGE ON",    "BRIDGE OFF",    "BRIDGE CONTACT ADD", "BRIDGE MESG",
    "BRIDGE REGISTER FIELDS", "BRIDGE CONTACT ADD RESP",
};
constexpr size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];
constexpr size_t kClock = kCommandCount + 1, kHangUp = kCommandCount + 2;  // kCommandCount: raw
const char* const kNames[] = {"ann@example.org", "bob@example.org", "carl@example.org"};

struct Client {
  int peer = -1;  // the client's end of the pair
  uint64_t id = 0;
  std::string unread;  // sent while the server did not read
  PacketReader replies{ReaderLimits{1 << 20, 4096, 64 << 20}};
  bool signedIn = false;
  bool open = true;
};

Config smallConfig() {
  Config c;
  c.database = ":memory:";
  c.quick_password_hashes = true;
  c.demo = true;  // bridges to the simulated networks, accounts at first sign-in
  c.max_line = 1024;
  c.max_headers = 32;
  c.max_body = 16384;
  c.max_message = 65536;
  c.max_output = 1 << 20;
  c.max_groups_per_account = 8;
  c.max_bridges_per_account = 4;
  c.max_waiting_bytes_per_sender = 1 << 20;
  return c;
}

std::string packetFromChunk(size_t command, const std::string& rest) {
  size_t split = rest.find('\x01');
  std::string headers = rest.substr(0, split);
  std::string body = split == std::string::npos ? std::string() : rest.substr(split + 1);
  std::string out = std::string(kCommands[command]) + "\n";
  size_t start = 0;
  while (start < headers.size()) {
    size_t end = headers.find('\n', start);
    if (end == std::string::npos) end = headers.size();
    std::string line = headers.substr(start, end - start);
    if (!line.empty()) out += line + "\n";  // an empty line would end the headers early
    start = end + 1;
  }
  if (!body.empty()) out += "Content-Length: " + std::to_string(body.size()) + "\n";
  return out + "\n" + body;
}

class Run {
 public:
  Run() : core_(smallConfig()) {
    std::string error;
    if (!core_.open_by_hand(&error)) abort();
    int64_t ann = core_.create_account({kNames[0], "secret12", "Ann", "here", 0});
    int64_t bob = core_.create_account({kNames[1], "secret12", "Bob", "", 0});
    int64_t carl = core_.create_account({kNames[2], "secret12", "Carl", "", 0});
    core_.list_contact(ann, bob);
    core_.list_contact(bob, ann);
    int64_t friends = core_.create_group("Friends", "", "", ann);
    core_.set_member(friends, bob, 0);
    core_.create_group("Locked", "", "door", carl);
    for (Client& c : clients_) {
      int pair[2];
      if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) abort();
      c.peer = pair[1];
      c.id = core_.adopt(pair[0], "192.0.2.1");
      if (!c.id) abort();
    }
  }
  ~Run() {
    core_.stop();
    for (Client& c : clients_) close(c.peer);
  }

  // Signs the client in as its account, through the real password check.
  void signIn(int who) {
    std::string name = kNames[who];
    send(who, "LOGON\nApp-Type: PC_CLIENT\n\n");
    send(who, "AUTH\nAuth-Target: 0\nName: " + name + "\nOnline-Status: 1\nContent-Length: 8\n\nsecret12");
    // The check runs on the server's checking thread.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!clients_[who].signedIn) {
      if (std::chrono::steady_clock::now() > until) abort();
      std::this_thread::sleep_for(std::chrono::microseconds(50));
      turn();
    }
  }

  void send(int who, const std::string& bytes) {
    Client& c = clients_[who];
    if (!c.open) return;
    c.unread += bytes;
    deliver(c);
    turn();
  }

  void hangUp(int who) {
    Client& c = clients_[who];
    if (!c.open) return;
    c.open = false;
    c.unread.clear();
    core_.receive(c.id, "", 0);
    turn();
  }

  void advance(std::chrono::seconds by) {
    offset_ += by;
    turn();
  }

  // One round of the loop, then what each client got is read and checked.
  void turn() {
    for (int round = 0; round < 4; ++round) {
      core_.turn(Clock::now() + offset_);
      bool more = false;
      for (Client& c : clients_) {
        read(c);
        if (!c.unread.empty()) {
          deliver(c);
          more = true;
        }
      }
      if (!more) break;
    }
  }

 private:
  void deliver(Client& c) {
    if (c.open && core_.receive(c.id, c.unread.data(), c.unread.size())) c.unread.clear();
  }

  void read(Client& c) {
    char buffer[65536];
    for (;;) {
      ssize_t n = ::recv(c.peer, buffer, sizeof buffer, 0);
      if (n <= 0) {
        if (n == 0) c.open = false;  // the server closed it
        return;
      }
      bool framed = c.replies.feed(buffer, size_t(n), [&](Packet& p) {
        if (p.command == "LOGON SUCCESSFUL") c.signedIn = true;
        return true;
      });
      if (!framed) abort();  // the server wrote something that is not a packet
    }
  }

  Core core_;
  Client clients_[3];
  std::chrono::seconds offset_{0};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  Run run;
  for (int who = 0; who < 3; ++who)
    if (data[0] & (1 << who)) run.signIn(who);

  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find(std::string("\0\0", 2), start);
    if (end == std::string::npos) end = input.size();
    std::string chunk = input.substr(start, end - start);
    start = end + 2;
    if (chunk.empty()) continue;
    uint8_t first = uint8_t(chunk[0]);
    int who = first % 3;
    size_t what = first / 3;
    std::string rest = chunk.substr(1);
    if (what < kCommandCount)
      run.send(who, packetFromChunk(what, rest));
    else if (what == kClock)
      run.advance(std::chrono::seconds(20));
    else if (what == kHangUp)
      run.hangUp(who);
    else
      run.send(who, rest);
  }
  return 0;
}
