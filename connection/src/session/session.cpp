#include "session.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "alerts.h"
#include "bridges.h"
#include "contact_requests.h"
#include "contacts.h"
#include "device.h"
#include "groups.h"
#include "history.h"
#include "incoming_messages.h"
#include "responses.h"
#include "transfers.h"
#include "platform/module.h"
#include "platform/power.h"
#include "platform/systime.h"
#include "server_list.h"
#include "texts.h"

namespace olvaro::conn {

Connection* Connection::s_instance = nullptr;

namespace {

std::string settingString(const char* name, int size) {
  std::vector<char> buffer(size_t(size) + 1, '\0');
  KS_GetSettingString(name, "", buffer.data(), size + 1);
  return buffer.data();
}

long powerSave() { return KS_GetSettingLong("advanced.powersave", 0); }

// Asks the system to start the host program at `at` (local time); a zero
// time cancels the wake-up.
void scheduleWakeUp(const Timestamp& at) {
  WCHAR path[260] = {};
  GetModuleFileName(nullptr, path, 260);
  if (!at.isSet()) {
    CeRunAppAtTime(path, nullptr);
    return;
  }
  FILETIME utc = platform::unixMsToFileTime(int64_t(at.sec) * 1000 + at.usec / 1000), local{};
  SYSTEMTIME when{};
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &when);
  CeRunAppAtTime(path, &when);
}

}  // namespace

Connection::Connection() {
  s_instance = this;
  service_ = KS_GetPrimaryService();
  keepAliveInterval_ = 30;
  reconnectBackoff_ = 5;
  clockOffset_ = Timestamp{};
  Timestamp now = Timestamp::now();
  deadline_ = connectedAt_ = reconnectAt_ = now;
  isPocketPC_ = platformName() == "PocketPC";
  // A start after a stop reads the list again, like a fresh process.
  ServerList::instance().reset();

  commands_.enter<&Connection::onPing>("P", this);
  commands_.enter<&Connection::onAuth>("AUTH", this);
  commands_.enter<&Connection::onLogonSuccessful>("LOGON SUCCESSFUL", this);
  commands_.enter<&Connection::onLogonFailed>("LOGON FAILED", this);
  commands_.enter<&Connection::onGhosted>("GHOSTED", this);
  auto contacts = std::make_unique<Contacts>(*this);
  contacts_ = contacts.get();
  areas_.push_back(std::move(contacts));
  areas_.push_back(std::make_unique<ContactRequests>(*this));
  areas_.push_back(std::make_unique<Groups>(*this));
  auto incoming = std::make_unique<IncomingMessages>(*this);
  incoming_ = incoming.get();
  areas_.push_back(std::move(incoming));
  auto history = std::make_unique<History>(*this);
  history_ = history.get();
  areas_.push_back(std::move(history));
  areas_.push_back(std::make_unique<Responses>(*this));
  auto bridges = std::make_unique<Bridges>(*this);
  bridges_ = bridges.get();
  areas_.push_back(std::move(bridges));
  OutgoingTransfers::attach(*this);

  bool hidden = startedHidden();
  std::string user = settingString("connection.user", 255);
  std::string pass = settingString("connection.pass", 255);
  if (!user.empty() && !pass.empty()) {
    ServiceData d{};
    d.userName = user.c_str();
    d.password = pass.c_str();
    updateService(SERVICE_USERNAME | SERVICE_PASSWORD, d);
    if (KS_GetSettingLong("Connection/AutoSignIn", 1) != 0 || hidden) {
      ServiceData s{};
      s.signInRequested = 1;
      updateService(SERVICE_SIGNINREQUESTED, s);
      connect();
    }
  }
}

Connection::~Connection() {
  // No reconnect may follow the plug-in's stop, whatever ended the last link.
  disconnectReason_ = kReasonSignedOff;
  stopTimer();
  closeSocket();
  onClosed();
  KS_PruneContacts(1, service_, 0, 0);
  if (isPocketPC_) {
    scheduleWakeUp(Timestamp{});
    if (unattended_) PowerPolicyNotify(PPN_UNATTENDEDMODE, FALSE);
  }
  OutgoingTransfers::detach();
  bridges_ = nullptr;
  areas_.clear();
  if (service_) KS_ReleaseService(service_);
  service_ = nullptr;
  if (s_instance == this) s_instance = nullptr;
}

ServiceData Connection::serviceData() const {
  ServiceData d{};
  d.size = sizeof d;
  if (service_) KS_GetServiceData(service_, &d);
  return d;
}

void Connection::updateService(uint32_t mask, const ServiceData& data) {
  if (!service_) return;
  ServiceData d = data;
  d.size = sizeof d;
  d.mask = mask;
  KS_SetServiceData(service_, &d);
}

long Connection::proxyType() const { return KS_GetSettingLong("Connection/Proxy/Type", 0); }

void Connection::setState(long value) {
  KS_SetVariantLong(kConnectionStateVariant, value);
  if (isPocketPC_) {
    setUnattended(value != kSignedOut);
    if (unattended_) SystemIdleTimerReset();
  }
}

void Connection::setUnattended(bool on) {
  if (on == unattended_) return;
  unattended_ = on;
  PowerPolicyNotify(PPN_UNATTENDEDMODE, on ? TRUE : FALSE);
}

void Connection::powerStep(const Timestamp& wakeAt) {
  if (!isPocketPC_) return;
  setUnattended(keepAliveInterval_ < 61);
  if (unattended_)
    SystemIdleTimerReset();
  else
    scheduleWakeUp(wakeAt);
  SystemIdleTimerReset();
}

void Connection::connect() {
  disconnectReason_ = kReasonNone;
  long s = state();
  if (s == kSignedOut || s == kWaitingToReconnect) {
    setState(kCheckingNetwork);
    checkNetwork();
    return;
  }
  if (refusePlainEntry(ServerList::instance().current())) return;
  setState(kConnecting);
  if (proxyType() == 0) {
    const ServerEntry& server = ServerList::instance().current();
    startConnect(server.host, server.port);
  } else {
    long port = KS_GetSettingLong("Connection/Proxy/Port", 0);
    // A proxy port no socket can have fails like a proxy that cannot be
    // reached, instead of wrapping to some other port.
    if (!isValidPort(port)) {
      onError(EINVAL);
      return;
    }
    startConnect(settingString("Connection/Proxy/Host", 127), int(port));
  }
}

void Connection::onNetworkReady(bool) {
  // The user may have signed off while the check ran: then it leads nowhere.
  if (state() != kCheckingNetwork || serviceData().signInRequested == 0) return;
  connect();
}

bool Connection::send(Packet& packet) {
  if (connected_ && signedInLink_) return sendPacket(packet);
  // A send without a link must not run the link's end again (state, back-off,
  // contacts, waiting requests); the caller's request hears what a lost link
  // would tell it.
  uint64_t id = packet.getHeaderId("Mesg-Id");
  // Some carry their 32-bit id as a signed number.
  if (id == 0) id = uint64_t(uint32_t(packet.getHeaderInt("Mesg-Id")));
  if (id != 0) pendingRequests_.answer(id, kResponseLost, std::string());
  return false;
}

void Connection::onConnected() {
  PacketConnection::onConnected();
  signedInLink_ = false;
  reconnectBackoff_ = 5;
  keepAliveInterval_ = 30;
  pingDue_ = Timestamp{};
  connectedAt_ = Timestamp::now();
  deadline_ = connectedAt_.plusSeconds(keepAliveInterval_ + 30);
  startTimer(10000);
  if (proxyType() == 0) {
    setState(kLoggingOn);
    if (beginSecureLink()) sendLogon();
  } else {
    setState(kWaitingForProxy);
    sendProxyConnect();
  }
}

void Connection::sendLogon() {
  Packet logon("LOGON");
  // This packet alone keeps the case of its header names.
  logon.headers["Protocol-Version"] = "1.0";
  logon.headers["App-Type"] = platformName();
  std::string op;
  logon.headers["Operator"] = operatorName(&op) ? op : "PC_CLIENT";
  sendPacket(logon);
}

bool Connection::onPacket(Packet& packet) {
  if (state() == kWaitingForProxy && checkProxyReply(packet)) return true;
  noteTraffic();
  return commands_.dispatch(packet);
}

void Connection::noteTraffic() {
  pingDue_ = Timestamp{};
  deadline_ = Timestamp::now().plusSeconds(keepAliveInterval_ + 30);
  powerStep(deadline_);
}

bool Connection::onPing(Packet&) {
  // Answered only if nothing else arrives before it falls due.
  pingDue_ = Timestamp::now().plusSeconds(keepAliveInterval_);
  powerStep(pingDue_);
  return true;
}

bool Connection::onAuth(Packet& packet) {
  if (packet.getHeaderInt("Auth-Target") != 0) return true;
  wordSize_ = packet.getHeaderInt("Word-Size");
  ServiceData d = serviceData();
  Packet auth("AUTH");
  auth.setHeaderInt("Encryption-Type", 0);
  auth.setHeaderInt("Auth-Target", 0);
  auth.setHeaderInt("Online-Status", d.signInRequested);
  auth.setHeader("Name", d.userName ? d.userName : "");
  auth.body = d.password ? d.password : "";
  sendPacket(auth);
  return true;
}

bool Connection::onLogonSuccessful(Packet& packet) {
  signedInLink_ = true;
  mySubId_ = int64_t(packet.getHeaderId("Sub-Id"));
  KS_SetVariantLong("Olvaro/Connection/Sub-Id", long(int32_t(uint32_t(uint64_t(mySubId_)))));

  std::string nickname = packet.getHeader("Nickname");
  std::string status = packet.getHeader("Status");
  ServiceData d{};
  d.displayName = nickname.c_str();
  d.text24 = status.c_str();
  d.state = serviceData().signInRequested;
  updateService(SERVICE_DISPLAYNAME | SERVICE_TEXT24 | SERVICE_STATE, d);

  if (HGroup* list = KS_GetGroup(0)) {
    GroupData g{};
    g.size = sizeof g;
    g.mask = GROUP_STATE;
    g.state = 0;
    KS_SetGroupData(list, &g);
    KS_ReleaseGroup(list);
  }
  fwk::Singleton<kestrum::Data>::getInstance()->RemoveUnknownGroups();

  Timestamp serverTime;
  if (Timestamp::parse(packet.getHeader("Timestamp"), &serverTime))
    clockOffset_ = Timestamp::difference(serverTime, Timestamp::now());

  for (auto& area : areas_) area->onLoggedOn(packet);

  // With "Last-Online" the messages stored while offline are fetched first
  // (state 70 until the server says it has sent them all).
  if (packet.hasHeader("Last-Online"))
    history_->requestStoredMessages(int64_t(packet.getHeaderId("Last-Online")));
  else
    setState(kSignedIn);
  return true;
}

bool Connection::onLogonFailed(Packet& packet) {
  std::string reason = packet.getHeader("reason");
  int32_t retry = packet.getHeaderInt("retry");
  ServiceData d{};
  d.text28 = reason.c_str();
  uint32_t mask = SERVICE_TEXT28;
  if (retry == 0) {
    d.password = "";
    d.signInRequested = 0;
    mask |= SERVICE_PASSWORD | SERVICE_SIGNINREQUESTED;
  }
  updateService(mask, d);
  disconnectReason_ = kReasonRefused;
  std::string text = loadText(kStrLoginRefused);
  if (!reason.empty()) text += std::string("\n\n") + kReasonGiven + "\n" + reason;
  showError(loadText(kStrLoginFailed), text);
  return true;
}

bool Connection::onGhosted(Packet&) {
  ServiceData d{};
  d.signInRequested = 0;
  updateService(SERVICE_SIGNINREQUESTED, d);
  disconnectReason_ = kReasonGhosted;
  return true;
}

void Connection::sendPing() {
  Packet ping("P");
  if (powerSave() > 0) ping.setHeaderInt("I", keepAliveInterval_);
  sendPacket(ping);
}

void Connection::onTimer() {
  Timestamp now = Timestamp::now();
  if (connected_) {
    if (usesTls() && !encrypted() && !(now < connectedAt_.plusSeconds(kTlsHandshakeSeconds))) {
      failTls(net::TlsFailure::kNoAnswer);
      return;
    }
    if (pingDue_.isSet() && pingDue_ < now) {
      if (powerSave() > 0)
        keepAliveInterval_ = std::clamp<int32_t>((now.sec - connectedAt_.sec) / 3, 30, 300);
      pingDue_ = Timestamp{};
      deadline_ = now.plusSeconds(keepAliveInterval_ + 30);
      sendPing();
      if (!connected_) return;  // the send failed and the link is gone
      powerStep(deadline_);
    }
    if (deadline_.isSet() && deadline_ < now) {
      disconnectReason_ = kReasonKeepAlive;
      if (state() == kSignedIn) noteSignedInLinkDropped();
      dropLink();
      return;
    }
    if (isPocketPC_ && unattended_) SystemIdleTimerReset();
    return;
  }
  if (state() == kWaitingToReconnect && !(now < reconnectAt_)) {
    stopTimer();
    connect();
  }
}

void Connection::dropLink() {
  stopTimer();
  closeSocket();
  onClosed();
}

void Connection::onClosed() {
  signedInLink_ = false;
  KS_SetVariantLong(kEncryptedVariant, 0);
  if (disconnectReason_ == kReasonNone) {
    disconnectReason_ = kReasonLost;
    long s = state();
    if (s == kSignedIn) noteSignedInLinkDropped();
    // The socket never connected: try the next server next time.
    if (s == kConnecting) ServerList::instance().advance();
  }
  setState(kSignedOut);
  ServiceData d{};
  d.state = 0;
  updateService(SERVICE_STATE, d);
  PacketConnection::onClosed();
  fwk::Singleton<kestrum::Data>::getInstance()->MarkAllGroupsUnknown();
  // The areas first (contacts go unknown, partly received messages are
  // dropped), then every request still waiting hears that the link is gone.
  for (auto& area : areas_) area->onLinkClosed();
  failAllPendingRequests();
  stopTimer();
  scheduleReconnect();
}

void Connection::noteSignedInLinkDropped() {
  reconnecting_ = true;
  droppedLinkKeepAlive_ = keepAliveInterval_;
}

void Connection::scheduleReconnect() {
  if (serviceData().signInRequested == 0) return;
  if (disconnectReason_ != kReasonKeepAlive && disconnectReason_ != kReasonLost) return;
  setState(kWaitingToReconnect);
  int32_t delay = 5;
  if (powerSave() != 0) {
    reconnectBackoff_ = std::min(reconnectBackoff_ * 2, 300);
    delay = reconnectBackoff_;
  }
  reconnectAt_ = Timestamp::now().plusSeconds(delay);
  startTimer(5000);
}

int Connection::setPresenceStatus(int32_t status) {
  if (status == 0) {
    ServiceData d{};
    d.signInRequested = 0;
    updateService(SERVICE_SIGNINREQUESTED, d);
    if (disconnectReason_ == kReasonNone) disconnectReason_ = kReasonSignedOff;
    dropLink();
    return 1;
  }
  long s = state();
  ServiceData stored{};
  stored.signInRequested = status;
  if (s == kSignedIn) {
    Packet presence("CONTACT DETAIL");
    presence.setHeaderInt("Mesg-Id", int32_t(KS_GetLUID()));
    presence.setHeaderInt("Online-Status", status);
    sendPacket(presence);
  } else if (s == kSignedOut) {
    ServiceData d = serviceData();
    if (!d.userName || !*d.userName || !d.password || !*d.password) {
      if (signInPrompt_) signInPrompt_();
      return 0;
    }
    connect();
  }
  updateService(SERVICE_SIGNINREQUESTED, stored);
  return 1;
}

int Connection::sendRaw(const char* data, int32_t length) {
  if (!connected_ || !signedInLink_ || !data || length < 0) return 0;
  outputBuffer.append(data, size_t(length));
  serviceSocket();
  return 1;
}

}  // namespace olvaro::conn
