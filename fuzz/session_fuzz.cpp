// A whole session fed arbitrary packets, in process: the socket layer is
// the in-memory one (support/memory_transport.cpp) and the platform clock
// is moved by hand, so there is no socket, no thread and no real wait. The
// client connects, optionally gets as far as signed in, and then takes
// packets built from the input (known commands with arbitrary headers and
// bodies, and raw garbage) with the clock moving in between. It must never
// crash or hang, and must keep nothing buffered or waiting without bound.
// Each input has a session and hub of its own, the settings (kept in memory)
// and the clock as the first input had them.
//
// Input: byte 0 chooses how far the scripted sign-in goes (0 raw, 1 after
// the challenge, 2 signed in). The rest is chunks separated by "\0\0"; a
// chunk's first byte names a command from the table below (anything larger
// sends the chunk as raw bytes), the bytes up to a \x01 are header lines and
// the bytes after it the body.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "contacts.h"
#include "memory_transport.h"
#include "olvaro/api.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "server_list.h"
#include "session.h"
#include "testkit/testkit.h"

using namespace olvaro::conn;

namespace {

const char* const kCommands[] = {
    "P",          "AUTH",          "LOGON SUCCESSFUL", "LOGON FAILED", "GHOSTED",
    "CONTACT DETAIL", "CONTACT ADD", "GROUP DETAIL",   "GROUP UPDATE", "GROUP ADMIN",
    "MESG",       "RESPONSE",      "SETTING",          "BRIDGE",       "BRIDGE CONTACT ADD",
    "BRIDGE ON",  "BRIDGE OFF",    "BRIDGE CHAT CONTACT", "BRIDGE CONTACT", "BRIDGE MESG",
};
constexpr size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

namespace link = olvaro::net::memory_transport;

// The hives stay in memory: a hub saves every setting when it ends, and as
// files that would be the larger part of an input's time.
testkit::Options inMemory() {
  testkit::Options o;
  o.settingsInMemory = true;
  if (access("/dev/shm", W_OK) == 0) o.homeParent = "/dev/shm";
  return o;
}

struct World {
  testkit::Session platform{inMemory()};
  testkit::MessageBoxRecorder boxes{IDOK};
};

World& world() {
  static World* w = new World();  // lives as long as the process
  return *w;
}

const int64_t kStartClock = testkit::Options().wallClockMs;

// Every input starts at the same time with the same settings.
void configure() {
  platform::clockSetManual(kStartClock);
  platform::setCommandLine(u"olvaro");
  KS_SetSettingString("connection.user", "ann@example.org");
  KS_SetSettingString("connection.pass", "secret12");
  KS_SetSettingString("Connection/Servers/List", "127.0.0.1:4000");
  ServerList::instance().reset();
}

// Frees, before the input ends, everything it made: the hub with what the
// session left in it, the stored settings, the boxes and transport reports.
// Nothing then carries into the next input, and libFuzzer's leak check
// (which re-runs an input whose allocations outnumber its frees) sees a
// balanced input.
void forgetInput(World& w) {
  KS_API_Cleanup();
  platform::registryReset();
  w.boxes.clear();
  link::reset();
}

std::string packetFromChunk(const std::string& chunk) {
  size_t command = size_t(uint8_t(chunk[0]));
  if (command >= kCommandCount) return chunk.substr(1);
  std::string rest = chunk.substr(1);
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

void feed(Connection& connection, const std::string& bytes) {
  if (!connection.connected()) return;
  connection.inputBuffer += bytes;
  connection.onDataReceived();
  // Every byte was parsed or dispatched; nothing waits in the buffer.
  if (connection.connected() && !connection.inputBuffer.empty()) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  World& w = world();
  configure();

  auto connection = std::make_unique<Connection>();
  // The network check, then the connect.
  while (link::settle()) testkit::pump();
  if (connection->state() != olvaro::kLoggingOn) abort();

  int depth = data[0] % 3;
  if (depth >= 1) feed(*connection, "AUTH\nAuth-Target: 0\nWord-Size: 4\n\n");
  if (depth >= 2) {
    feed(*connection, "LOGON SUCCESSFUL\nSub-Id: 77\nNickname: Ann\nStatus: here\nTimestamp: 1767225700.5\n\n");
    if (connection->state() != olvaro::kSignedIn) abort();
    // A message on its way, so responses can acknowledge or lose its chunks.
    HContact* to = connection->contacts().getContact(7);
    std::string payload(1500, 'x');
    HMessage* message = nullptr;
    KS_SendMessage(to, 0, "text/plain", payload.data(), int(payload.size()), 1, &message);
    if (message) KS_ReleaseMessage(message);
    KS_ReleaseContact(to);
  }

  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t start = 0;
  size_t sent = 0;
  while (start < input.size()) {
    size_t end = input.find(std::string("\0\0", 2), start);
    if (end == std::string::npos) end = input.size();
    std::string chunk = input.substr(start, end - start);
    start = end + 2;
    if (chunk.empty()) continue;
    std::string bytes = packetFromChunk(chunk);
    feed(*connection, bytes);
    ++sent;
    // Let timers run now and then: keep-alive answers, the dead-link check,
    // a reconnect after a drop; now and then the server hangs up.
    if (chunk.size() % 4 == 0) testkit::runClock(15000);
    if (chunk.size() % 29 == 28) link::peerClosed(*connection);
    testkit::pump();
    while (link::settle()) testkit::pump();
    link::takeSent();  // what the client sent is read and dropped
  }
  // Requests wait for answers only from what this input made the client
  // send: a packet adds at most one, or restarts the three-chunk message.
  if (connection->pendingRequests().size() > 3 * (sent + 2)) abort();
  connection.reset();
  testkit::pump();
  forgetInput(w);
  return 0;
}
