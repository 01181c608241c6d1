// A fresh platform, hub and session for every test, with the state changes
// and the message boxes recorded; and the same against a scripted peer, with
// the one sign-in the unit tests share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "olvaro/api.h"
#include "olvaro/connection_state.h"
#include "peer.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "server_list.h"
#include "session.h"

namespace conntest {

using olvaro::conn::Connection;

class SessionTest : public testkit::PlatformTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  void credentials(const std::string& user, const std::string& pass);
  void servers(const std::string& list);
  void useServer(int port) { servers("127.0.0.1:" + std::to_string(port)); }
  void start() { connection = std::make_unique<Connection>(); }

  long state() const { return KS_GetVariantLong("connection.state"); }
  bool waitState(long s, int ms = 5000) {
    return waitFor([&] { return state() == s; }, ms);
  }
  ServiceData service();
  // Runs the platform clock by hand in steps, letting socket work finish
  // after each step.
  void runClock(int64_t ms, int64_t step = 1000);

  std::unique_ptr<Connection> connection;
  std::vector<long> states;
  // Every message box the session shows, answered at once.
  std::unique_ptr<testkit::MessageBoxRecorder> boxes;

 private:
  static uint32_t onState(void* user, void*);
  Subscription* stateWatch_ = nullptr;
};

// The challenge a server sends first, with 4-byte member ids.
inline const char kAuthChallenge[] = "AUTH\nAuth-Target: 0\nWord-Size: 4\n\n";
// ann's answer to it.
inline const char kAuthAnswer[] =
    "AUTH\nauth-target: 0\ncontent-length: 8\nencryption-type: 0\nname: ann@example.org\nonline-status: 1\n\nsecret12";
// The first packet of a sign-in, with the operator given.
std::string expectedLogon(const std::string& op = "PC_CLIENT");

std::string bigEndian(uint64_t value, int width);
std::string withBody(const std::string& head, const std::string& body);
// The server's "RESPONSE" to request `id`.
std::string response(uint64_t id, uint32_t code);

// What the scripted peer says through a sign-in as ann, in order; an empty
// text is not sent.
struct SignInScript {
  // The account and the peer are set and the session started first.
  bool fresh = true;
  std::string challenge = kAuthChallenge;
  // The "LOGON" and the answer to the challenge checked byte for byte (else
  // only the password is waited for).
  bool exact = true;
  // The contact list (bob, 7, online), then state 50.
  std::string contacts = "CONTACT DETAIL\nContact-Id: 7\nName: bob@example.org\nOnline-Status: 1\n\n";
  // The group list, then state 60.
  std::string groups = std::string();
  // The end of the sign-in; the state is then 100 (or 70 while stored
  // messages come).
  std::string logon = "LOGON SUCCESSFUL\nSub-Id: 4294967297\nNickname: Ann\n\n";
  // The sign-in stops once it reached this state (40 right after the answer).
  long upTo = olvaro::kSignedIn;
};

// A session against a scripted peer.
class ScriptedSessionTest : public SessionTest {
 protected:
  // Takes the link the client opens and its "LOGON", sends the challenge
  // and waits for the answer with the password; the peer is left empty.
  void openLink(const std::string& challenge = kAuthChallenge);
  // Signs in as ann as the script says.
  void signIn(const SignInScript& script = {});
  // Sends the bytes and waits until the client has handled them: a setting
  // pushed behind them arrives last. Large ones go in pieces, letting the
  // client read between them: the peer's send does not pump, so a large
  // packet at once could fill both socket buffers.
  void deliver(const std::string& bytes);
  // The server's answer to request `id`.
  void respond(uint64_t id, uint32_t code) { deliver(response(id, code)); }

  Peer peer;
  long marks_ = 0;
};

}  // namespace conntest
