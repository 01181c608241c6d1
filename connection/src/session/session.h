// The protocol session: decides when to connect, signs in with the account
// of the primary service, follows the server's sign-in replies, keeps the
// link alive, notices a dead link, reconnects after a delay, and publishes
// its progress in "connection.state". One instance lives from plug-in start
// to plug-in stop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command_table.h"
#include "olvaro/api.h"
#include "olvaro/connection_state.h"
#include "olvaro/registrations.h"
#include "packet_connection.h"
#include "pending_requests.h"
#include "protocol_area.h"
#include "timestamp.h"
#include "transport/timer_client.h"

namespace olvaro::conn {

class Contacts;
class IncomingMessages;
class History;
class Bridges;
struct ServerEntry;

// Why the link last ended. Only the first two bring a reconnect.
enum DisconnectReason : int32_t {
  kReasonNone = 0,
  kReasonKeepAlive = 1,
  kReasonLost = 2,
  kReasonGhosted = 3,
  kReasonRefused = 4,
  kReasonSignedOff = 5,
};

// A TLS handshake not done by then counts as a server that does not speak it.
inline constexpr int32_t kTlsHandshakeSeconds = 15;

class Connection : public PacketConnection, public net::TimerClient, public Session {
 public:
  Connection();
  ~Connection() override;

  static Connection* instance() { return s_instance; }

  void connect();

  // Session.
  bool send(Packet& packet) override;
  void registerPendingRequest(fwk::counted_ptr<PendingRequest> request) override {
    pendingRequests_.add(std::move(request));
  }
  PendingRequests& pendingRequests() override { return pendingRequests_; }
  long state() const override { return KS_GetVariantLong(kConnectionStateVariant); }
  void setState(long value) override;
  HService* service() const override { return service_; }
  CommandTable& commands() override { return commands_; }

  // "Connection/SetPresenceStatus": 1 done, 0 when credentials are missing.
  int setPresenceStatus(int32_t status);
  // Asks the user for an account when going online finds none.
  void setSignInPrompt(std::function<void()> prompt) { signInPrompt_ = std::move(prompt); }
  // "Connection/SendPacket": raw, already formatted bytes.
  int sendRaw(const char* data, int32_t length);

  void failAllPendingRequests() { pendingRequests_.failAll(); }
  // The contacts of this service, for the areas that name contacts.
  Contacts& contacts() override { return *contacts_; }
  IncomingMessages& incomingMessages() override { return *incoming_; }
  Bridges* bridges() override { return bridges_; }

  // Session hooks.
  void onConnected() override;
  void onClosed() override;
  void onNetworkReady(bool linkMade) override;
  bool onPacket(Packet& packet) override;
  void onTimer() override;
  void onTlsReady() override;
  void onTlsFailed(net::TlsFailure failure, const std::string& subject) override;

  int32_t disconnectReason() const { return disconnectReason_; }
  int32_t keepAliveInterval() const override { return keepAliveInterval_; }
  int32_t droppedLinkKeepAliveInterval() const override { return droppedLinkKeepAlive_; }
  int32_t reconnectBackoff() const { return reconnectBackoff_; }
  int32_t wordSize() const override { return wordSize_; }
  int64_t mySubId() const override { return mySubId_; }
  Timestamp clockOffset() const override { return clockOffset_; }
  bool reconnecting() const override { return reconnecting_; }
  bool pingPending() const { return pingDue_.isSet(); }
  void clearReconnecting() override { reconnecting_ = false; }
  void noteIncomingMessage() override { lastIncomingMessage_ = Timestamp::now(); }
  Timestamp lastIncomingMessage() const { return lastIncomingMessage_; }

 private:
  // Command handlers.
  bool onPing(Packet& packet);
  bool onAuth(Packet& packet);
  bool onLogonSuccessful(Packet& packet);
  bool onLogonFailed(Packet& packet);
  bool onGhosted(Packet& packet);

  void sendLogon();
  // Starts TLS on a link to a "tls:" entry; false when the link is gone.
  bool beginSecureLink();
  // "Connection/TLS/Required" and a plain entry: refused before connecting.
  bool refusePlainEntry(const ServerEntry& server);
  void sendPing();
  // The proxy's status line while waiting for it; true when it was one.
  bool checkProxyReply(const Packet& packet);
  void sendProxyConnect();
  void dropLink();
  void noteTraffic();
  void scheduleReconnect();
  // A signed-in link ended: the next sign-in looks back over its keep-alive.
  void noteSignedInLinkDropped();

  ServiceData serviceData() const;
  void updateService(uint32_t mask, const ServiceData& data);
  long proxyType() const;

  // Pocket PC power handling: unattended mode while fast keep-alives run,
  // otherwise a timed wake-up at the next deadline.
  void powerStep(const Timestamp& wakeAt);
  void setUnattended(bool on);

  static Connection* s_instance;

  HService* service_ = nullptr;
  CommandTable commands_;
  PendingRequests pendingRequests_;
  // Created after the session's own handlers, destroyed before the table.
  std::vector<std::unique_ptr<ProtocolArea>> areas_;
  // The areas others call into; each is one of areas_.
  Contacts* contacts_ = nullptr;
  IncomingMessages* incoming_ = nullptr;
  History* history_ = nullptr;
  Bridges* bridges_ = nullptr;
  int32_t disconnectReason_ = kReasonNone;
  int32_t wordSize_ = 0;
  int64_t mySubId_ = 0;
  Timestamp clockOffset_;
  Timestamp lastIncomingMessage_;
  bool reconnecting_ = false;
  // "LOGON SUCCESSFUL" came on this link: until then only the sign-in's own
  // packets go out.
  bool signedInLink_ = false;
  Timestamp pingDue_, deadline_, connectedAt_, reconnectAt_;
  int32_t keepAliveInterval_ = 30;
  int32_t droppedLinkKeepAlive_ = 30;
  int32_t reconnectBackoff_ = 5;
  bool isPocketPC_ = false;
  bool unattended_ = false;
  std::function<void()> signInPrompt_;
};

struct RawPacket;

// The plug-in's named functions, registered while this object lives.
class ConnectionFunctions {
 public:
  explicit ConnectionFunctions(Connection* connection);

 private:
  int sendPacket(const RawPacket& raw);
  int setPresenceStatus(const int32_t& status);

  Connection* connection_;
  FunctionRegistration sendPacket_;
  FunctionRegistration setPresenceStatus_;
};

}  // namespace olvaro::conn
