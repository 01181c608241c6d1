// The protocol session: decides when to connect, signs in with the account
// of the primary service, follows the server's sign-in replies, keeps the
// link alive, notices a dead link, reconnects after a delay, and publishes
// its progress in "connection.state". One instance lives from plug-in start
// to plug-in stop.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "olvaro/api.h"
#include "packet_connection.h"
#include "pending_requests.h"
#include "timestamp.h"
#include "transport/timer_client.h"

namespace olvaro::conn {

// Values of "connection.state".
enum State : long {
  kSignedOut = 0,
  kCheckingNetwork = 10,
  kConnecting = 30,
  kWaitingForProxy = 35,
  kLoggingOn = 40,
  kReceivingContacts = 50,
  kReceivingGroups = 60,
  kFetchingStored = 70,
  kSignedIn = 100,
  kWaitingToReconnect = 130,
};

// Why the link last ended. Only the first two bring a reconnect.
enum DisconnectReason : int32_t {
  kReasonNone = 0,
  kReasonKeepAlive = 1,
  kReasonLost = 2,
  kReasonGhosted = 3,
  kReasonRefused = 4,
  kReasonSignedOff = 5,
};

class Connection : public PacketConnection, public net::TimerClient {
 public:
  using Handler = bool (Connection::*)(Packet&);

  Connection();
  ~Connection() override;

  static Connection* instance() { return s_instance; }

  void connect();
  void setState(long value);
  long state() const { return KS_GetVariantLong("connection.state"); }

  // "Connection/SetPresenceStatus": 1 done, 0 when credentials are missing.
  int setPresenceStatus(int32_t status);
  // "Connection/SendPacket": raw, already formatted bytes.
  int sendRaw(const char* data, int32_t length);

  void registerPendingRequest(fwk::counted_ptr<PendingRequest> request) { pendingRequests_.add(std::move(request)); }
  void failAllPendingRequests() { pendingRequests_.failAll(); }
  const PendingRequests& pendingRequests() const { return pendingRequests_; }

  // Session hooks.
  void onConnected() override;
  void onClosed() override;
  void onNetworkReady(bool linkMade) override;
  bool onPacket(Packet& packet) override;
  void onTimer() override;

  int32_t disconnectReason() const { return disconnectReason_; }
  int32_t keepAliveInterval() const { return keepAliveInterval_; }
  int32_t reconnectBackoff() const { return reconnectBackoff_; }
  int32_t wordSize() const { return wordSize_; }
  int64_t mySubId() const { return mySubId_; }
  Timestamp clockOffset() const { return clockOffset_; }
  bool reconnecting() const { return reconnecting_; }
  bool pingPending() const { return pingDue_.isSet(); }
  void clearReconnecting() { reconnecting_ = false; }
  HService* service() const { return service_; }

 private:
  // Command handlers.
  bool onPing(Packet& packet);
  bool onAuth(Packet& packet);
  bool onLogonSuccessful(Packet& packet);
  bool onLogonFailed(Packet& packet);
  bool onGhosted(Packet& packet);
  bool onContactDetail(Packet& packet);
  bool onGroupDetail(Packet& packet);
  bool onResponsePacket(Packet& packet);
  bool onSettingPacket(Packet& packet);

  void sendLogon();
  void sendPing();
  // The proxy's status line while waiting for it; true when it was one.
  bool checkProxyReply(const Packet& packet);
  void sendProxyConnect();
  void dropLink();
  void noteTraffic();
  void scheduleReconnect();

  ServiceData serviceData() const;
  void updateService(uint32_t mask, const ServiceData& data);
  long proxyType() const;

  // Pocket PC power handling: unattended mode while fast keep-alives run,
  // otherwise a timed wake-up at the next deadline.
  void powerStep(const Timestamp& wakeAt);
  void setUnattended(bool on);

  static Connection* s_instance;

  HService* service_ = nullptr;
  std::map<std::string, Handler> commandHandlers_;
  PendingRequests pendingRequests_;
  int32_t disconnectReason_ = kReasonNone;
  int32_t wordSize_ = 0;
  int64_t mySubId_ = 0;
  Timestamp clockOffset_;
  bool reconnecting_ = false;
  Timestamp pingDue_, deadline_, connectedAt_, reconnectAt_;
  int32_t keepAliveInterval_ = 30;
  int32_t reconnectBackoff_ = 5;
  bool isPocketPC_ = false;
  bool unattended_ = false;
};

// The plug-in's named functions.
void registerConnectionFunctions(Connection* connection);
void unregisterConnectionFunctions();

}  // namespace olvaro::conn
