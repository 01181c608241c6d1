#include "bridges.h"

#include <cstring>
#include <vector>

#include "olvaro/connection_state.h"
#include "platform/menu.h"
#include "platform/resources.h"
#include "texts.h"

namespace olvaro::conn {
namespace {

BridgeItemMaker& itemMaker() {
  static BridgeItemMaker maker;
  return maker;
}

constexpr const char* kGroupChatName = "Group Chat";

// The status menu's rows: statuses in menu order, then the removal.
constexpr int32_t kMenuStatus[] = {kBridgeOnline, kBridgeAway, kBridgeBusy, kBridgeInvisible, kBridgeOffline};
constexpr unsigned kMenuText[] = {kStrOnline, kStrAway, kStrBusy, kStrInvisible, kStrOffline};
constexpr int kMenuRemove = 5;

// A bridge's switch: after "BRIDGE OFF" the server's yes turns it off here.
class BridgeSwitchRequest : public PendingRequest {
 public:
  BridgeSwitchRequest(uint64_t id, Bridges& bridges, uint64_t bridge, int32_t status)
      : PendingRequest(id), bridges_(bridges), bridge_(bridge), status_(status) {}
  bool onResponse(int64_t code, const std::string&) override {
    if (code != kResponseOk || status_ != kBridgeOffline) return true;
    if (Bridge* bridge = bridges_.find(bridge_)) {
      ServiceData d{};
      d.size = sizeof d;
      d.mask = SERVICE_STATE;
      d.state = kBridgeOff;
      KS_SetServiceData(bridge->service(), &d);
      bridge->dropRequests();
      bridge->dropContacts();
    }
    return true;
  }

 private:
  Bridges& bridges_;  // the table of waiting requests is emptied before the areas go
  uint64_t bridge_;
  int32_t status_;
};

class BridgeRemoveRequest : public PendingRequest {
 public:
  BridgeRemoveRequest(uint64_t id, Bridges& bridges, uint64_t bridge)
      : PendingRequest(id), bridges_(bridges), bridge_(bridge) {}
  bool onResponse(int64_t code, const std::string&) override {
    if (code != kResponseOk) return true;
    if (Bridge* bridge = bridges_.find(bridge_)) {
      bridge->disable();
      // Gone on the server too: it will not be announced again.
      bridges_.forgetUnreferenced();
    }
    return true;
  }

 private:
  Bridges& bridges_;
  uint64_t bridge_;
};

// The answer to a bridged contact request; taken, the request goes.
class BridgeContactAcceptRequest : public PendingRequest {
 public:
  BridgeContactAcceptRequest(uint64_t id, Bridges& bridges, int64_t request, uint64_t bridge,
                             uint64_t answered)
      : PendingRequest(id), bridges_(bridges), request_(request), bridge_(bridge), answered_(answered) {}
  bool onResponse(int64_t code, const std::string&) override {
    if (code == kResponseOk)
      if (Bridge* bridge = bridges_.find(bridge_)) bridge->removeRequest(request_, answered_);
    return true;
  }

 private:
  Bridges& bridges_;
  int64_t request_;
  uint64_t bridge_;
  uint64_t answered_;  // the serial of the request answered: only it goes
};

// Bridged networks cannot drop a contact through here.
uint32_t deleteContactFunction(void*, void*) { return 0; }

template <class Key>
void releaseContacts(std::map<Key, HContact*>& contacts) {
  for (auto& [id, contact] : contacts) KS_ReleaseContact(contact);
  contacts.clear();
}

}  // namespace

// ---- status menu ---------------------------------------------------------

BridgeStatusMenu::BridgeStatusMenu(Bridge& bridge) : bridge_(bridge) {
  create_ = FunctionRegistration::bind<&BridgeStatusMenu::onCreate>(
      handleName("Service/%p/CreatePopupMenu", bridge.service()), this);
  handle_ = FunctionRegistration::bind<&BridgeStatusMenu::onHandle>(
      handleName("Service/%p/HandlePopupMenu", bridge.service()), this);
  commandWatch_ = subscribeEvent<&BridgeStatusMenu::onHandle>("core.window.OnCommand", this);
  item_ = Bridges::makeItem(bridge.service());
}

BridgeStatusMenu::~BridgeStatusMenu() {
  item_.reset();
  commandWatch_.reset();
  handle_.reset();
  create_.reset();
}

HMENU BridgeStatusMenu::create() const {
  HMENU menu = CreatePopupMenu();
  if (!menu) return nullptr;
  int32_t state = bridge_.serviceData().state;
  HMODULE module = platform::currentModule();
  auto item = [&](int row) {
    UINT flags = MF_STRING;
    if (kMenuStatus[row] == state) flags |= MF_CHECKED;
    AppendMenu(menu, flags, commands_[row], platform::loadStringWide(module, kMenuText[row]).c_str());
  };
  item(0);
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  item(1);
  item(2);
  item(3);
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  item(4);
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenu(menu, MF_STRING, commands_[kMenuRemove], platform::loadStringWide(module, kStrRemoveService).c_str());
  return menu;
}

int BridgeStatusMenu::handle(UINT command) {
  if (command == 0) return 0;
  // What is chosen may end the link, which disables the bridge and takes
  // this menu with it: nothing of it is touched after the call.
  Bridge& bridge = bridge_;
  if (command == commands_[kMenuRemove]) {
    std::string name = handleName("Service/%p/Delete", bridge.service());
    KS_CallFunction(name.c_str(), nullptr);
    return 1;
  }
  for (int row = 0; row < kMenuRemove; ++row) {
    if (command == commands_[row]) {
      bridge.switchTo(kMenuStatus[row]);
      return 1;
    }
  }
  return 0;
}

uint32_t BridgeStatusMenu::onCreate() const { return uint32_t(reinterpret_cast<uintptr_t>(create())); }

// Both "HandlePopupMenu" and the main window's commands carry the command id.
int BridgeStatusMenu::onHandle(void* argument) { return handle(UINT(reinterpret_cast<uintptr_t>(argument))); }

// ---- one bridge ----------------------------------------------------------

Bridge::Bridge(Bridges& owner, uint64_t id, int32_t type, bool disabled, const std::string& userName,
               const std::string& nickname)
    : owner_(owner), id_(id), type_(type), disabled_(disabled) {
  HServiceType* serviceType = owner.types().typeOf(type);
  ServiceTypeData t{};
  t.size = sizeof t;
  if (serviceType) KS_GetServiceTypeData(serviceType, &t);
  ServiceData d{};
  d.size = sizeof d;
  d.mask = SERVICE_TYPE | SERVICE_USERNAME | SERVICE_DISPLAYNAME | SERVICE_STATE | SERVICE_SIGNINREQUESTED |
           SERVICE_ICON;
  d.type = serviceType;
  d.userName = userName.c_str();
  d.displayName = nickname.c_str();
  d.iconModule = t.iconModule;
  d.iconResource = t.iconResource;
  service_ = KS_CreateService(&d);
  delete_ = FunctionRegistration::bind<&Bridge::remove>(handleName("Service/%p/Delete", service_), this);
  acceptContact_ = FunctionRegistration::bind<&Bridge::acceptContact>(handleName("Service/%p/AcceptContact", service_), this);
  addContact_ = FunctionRegistration::bind<&Bridge::addContact>(handleName("Service/%p/AddContact", service_), this);
  deleteContact_.reset(handleName("Service/%p/DeleteContact", service_), deleteContactFunction, this);
  enable();
}

Bridge::~Bridge() {
  statusMenu_.reset();
  contactRequests_.clear();
  delete_.reset();
  acceptContact_.reset();
  addContact_.reset();
  deleteContact_.reset();
  releaseContacts(contacts_);
  releaseContacts(contactsByName_);
  for (auto& [id, group] : chats_) KS_ReleaseGroup(group);
  chats_.clear();
  if (heldService_) KS_ReleaseService(heldService_);
  heldService_ = nullptr;
  if (service_) KS_ReleaseService(service_);
  service_ = nullptr;
}

ServiceData Bridge::serviceData() const {
  ServiceData d{};
  d.size = sizeof d;
  if (service_) KS_GetServiceData(service_, &d);
  return d;
}

void Bridge::setService(uint32_t mask, ServiceData data) {
  data.size = sizeof data;
  data.mask = mask;
  if (service_) KS_SetServiceData(service_, &data);
}

void Bridge::enable() {
  if (!service_) return;
  if (!heldService_) heldService_ = KS_DuplicateServiceHandle(service_);
  ServiceData d{};
  d.state = kBridgeOff;
  setService(SERVICE_STATE, d);
  if (!statusMenu_) statusMenu_ = std::make_unique<BridgeStatusMenu>(*this);
}

void Bridge::disable() {
  statusMenu_.reset();
  dropContacts();
  contactRequests_.clear();
  if (heldService_) KS_ReleaseService(heldService_);
  heldService_ = nullptr;
  ServiceData d{};
  d.state = kBridgeDisabled;
  d.signInRequested = 0;
  d.text28 = "";
  setService(SERVICE_STATE | SERVICE_SIGNINREQUESTED | SERVICE_TEXT28, d);
}

void Bridge::switchTo(int32_t status) {
  int32_t state = serviceData().state;
  // The wish is kept, so the item says "Logging In" until the server's
  // "BRIDGE ON" and then names the status.
  ServiceData d{};
  d.signInRequested = status;
  d.text28 = "";
  setService(SERVICE_SIGNINREQUESTED | SERVICE_TEXT28, d);

  Session& session = owner_.session();
  uint64_t mesgId = KS_GetLUID();
  // A bridge already on only changes its status; nothing waits for that.
  bool update = state != kBridgeOff && status != kBridgeOffline;
  Packet change(update ? "BRIDGE UPDATE" : status != kBridgeOffline ? "BRIDGE ON" : "BRIDGE OFF");
  change.setHeaderId("Bridge-Id", id_);
  change.setHeaderId("Mesg-Id", mesgId);
  change.setHeaderInt("Online-Status", status);
  if (!update)
    session.registerPendingRequest(
        fwk::counted_ptr<PendingRequest>(new BridgeSwitchRequest(mesgId, owner_, id_, status)));
  session.send(change);
}

int Bridge::remove() {
  uint64_t mesgId = KS_GetLUID();
  Packet update("BRIDGE UPDATE");
  update.setHeaderId("Bridge-Id", id_);
  update.setHeaderId("Mesg-Id", mesgId);
  Session& session = owner_.session();
  session.registerPendingRequest(fwk::counted_ptr<PendingRequest>(new BridgeRemoveRequest(mesgId, owner_, id_)));
  session.send(update);
  return 1;
}

void Bridge::onServerOn() {
  ServiceData d{};
  d.state = kBridgeOn;
  setService(SERVICE_STATE, d);
}

void Bridge::onServerOff(const std::string& reason) {
  ServiceData d{};
  d.state = kBridgeOff;
  d.signInRequested = 0;
  d.text28 = reason.c_str();
  setService(SERVICE_STATE | SERVICE_SIGNINREQUESTED | SERVICE_TEXT28, d);
  contactRequests_.clear();
  dropContacts();
}

void Bridge::dropContacts() {
  if (service_) KS_PruneContacts(1, service_, 0, 0);
  // The chats are the bridge's own, outside the hub's table of groups: their
  // members go here (the chats themselves stay).
  for (auto& [id, group] : chats_) KS_RemoveAllGroupMembers(group);
  releaseContacts(contacts_);
  // Contacts met by name stay while someone else (a chat, a window) holds them.
  for (auto it = contactsByName_.begin(); it != contactsByName_.end();) {
    if (it->second->count.load() == 1) {
      KS_ReleaseContact(it->second);
      it = contactsByName_.erase(it);
    } else {
      ++it;
    }
  }
}

HContact* Bridge::contact(int64_t id, const std::string& name) {
  if (!name.empty()) {
    auto named = contactsByName_.find(name);
    if (named != contactsByName_.end()) {
      HContact* known = named->second;
      ContactData d{};
      d.size = sizeof d;
      d.mask = CONTACT_ID;
      d.id = id;
      KS_SetContactData(known, &d);
      auto& slot = contacts_[id];
      if (slot != known) {
        if (slot) KS_ReleaseContact(slot);
        slot = KS_DuplicateContactHandle(known);
      }
      return KS_DuplicateContactHandle(known);
    }
  }
  auto it = contacts_.find(id);
  if (it == contacts_.end()) {
    ContactData d{};
    d.size = sizeof d;
    d.mask = CONTACT_ID | CONTACT_SERVICE;
    d.service = service_;
    d.id = id;
    HContact* created = KS_CreateContact(&d);
    if (!created) return nullptr;
    it = contacts_.emplace(id, created).first;
  }
  if (!name.empty()) contactsByName_.emplace(name, KS_DuplicateContactHandle(it->second));
  return KS_DuplicateContactHandle(it->second);
}

HGroup* Bridge::chat(int64_t id) const {
  auto it = chats_.find(id);
  return it == chats_.end() ? nullptr : KS_DuplicateGroupHandle(it->second);
}

void Bridge::onContactAdd(const Packet& packet) {
  int64_t requestId = int64_t(packet.getHeaderId("Request-Id"));
  HContact* requester = contact(int64_t(packet.getHeaderId("Id")), std::string());
  if (!requester) return;
  std::string message = packet.body.empty() ? packet.getHeader("Nickname") : packet.body;
  fwk::counted_ptr<ContactRequest> request(
      new ContactRequest(*this, service_, requester, requestId, packet.getHeader("Name"), std::move(message)));
  KS_ReleaseContact(requester);
  enterContactRequest(contactRequests_, requestId, std::move(request));
}

void Bridge::onChatContact(const Packet& packet) {
  bool member = !packet.body.empty() && packet.body.back() != '\0';
  int64_t chatId = int64_t(packet.getHeaderId("Chat-Id"));
  auto it = chats_.find(chatId);
  if (it == chats_.end()) {
    GroupData g{};
    g.size = sizeof g;
    g.mask = GROUP_NAME | GROUP_SERVICE | GROUP_ID;
    g.service = service_;
    g.id = chatId;
    g.name = kGroupChatName;
    HGroup* created = KS_CreateGroup(&g);
    if (!created) return;
    it = chats_.emplace(chatId, created).first;
  }
  HContact* who = contact(int64_t(packet.getHeaderId("Contact-Id")), std::string());
  if (who) {
    if (member)
      KS_AddGroupMember(it->second, who);
    else
      KS_RemoveGroupMember(it->second, who);
    KS_ReleaseContact(who);
  }
  KS_EventRaise("groups.changed", nullptr);
}

int Bridge::addContact(const AddContactRequest& request) {
  if (!fullRecord(request)) return 0;
  uint64_t mesgId = KS_GetLUID();
  Packet add("BRIDGE CONTACT ADD");
  add.setHeaderId("Mesg-Id", mesgId);
  add.setHeaderId("Bridge-Id", id_);
  add.setHeader("Name", request.userName ? request.userName : "");
  add.body = request.message ? request.message : "";
  Session& session = owner_.session();
  if (request.callback)
    session.registerPendingRequest(
        fwk::counted_ptr<PendingRequest>(new CallbackPendingRequest(mesgId, request.callback, request.context)));
  return session.send(add) ? 1 : 0;
}

int Bridge::acceptContact(const AcceptContactRequest& request) {
  uint32_t mesgId = KS_GetLUID();
  Packet answer("BRIDGE CONTACT ADD RESP");
  answer.setHeaderInt("Mesg-Id", int32_t(mesgId));
  answer.setHeaderId("Response-Id", uint64_t(request.sourceId));
  answer.setHeaderId("Bridge-Id", id_);
  if (request.accepted) answer.setHeaderInt("Accepted", 1);
  fwk::counted_ptr<ContactRequest> answered = findRequest(request.sourceId);
  Session& session = owner_.session();
  session.registerPendingRequest(fwk::counted_ptr<PendingRequest>(
      new BridgeContactAcceptRequest(mesgId, owner_, request.sourceId, id_, answered ? answered->serial() : 0)));
  session.send(answer);
  return 1;
}

fwk::counted_ptr<ContactRequest> Bridge::findRequest(int64_t id) const {
  auto it = contactRequests_.find(id);
  return it == contactRequests_.end() ? fwk::counted_ptr<ContactRequest>() : it->second;
}

void Bridge::addBack(const std::string& name, const char* message) {
  AddContactRequest add{sizeof add, name.c_str(), message, nullptr, nullptr};
  addContact(add);
}

// ---- the table -----------------------------------------------------------

Bridges::Bridges(Session& session) : ProtocolArea(session), types_(session) {
  handle<&Bridges::onBridge>("BRIDGE", this);
  for (const char* command : {"BRIDGE ON", "BRIDGE OFF", "BRIDGE CONTACT ADD", "BRIDGE CHAT CONTACT"})
    handle<&Bridges::onBridgePacket>(command, this);
  stateWatch_ = subscribeVariant<&Bridges::onState>(kConnectionStateVariant, this);
  create_ = FunctionRegistration::bind<&Bridges::createBridge>("Connection/Bridging/Create", this);
}

Bridges::~Bridges() {
  stateWatch_.reset();
  create_.reset();
  // Each bridge goes with its functions; what a bridge's end sets off may
  // look the table up, so it is emptied one by one.
  while (!bridges_.empty()) {
    fwk::counted_ptr<Bridge> bridge = bridges_.begin()->second;
    bridges_.erase(bridges_.begin());
  }
}

void Bridges::setItemMaker(BridgeItemMaker maker) { itemMaker() = std::move(maker); }

std::unique_ptr<BridgeItem> Bridges::makeItem(HService* service) {
  return itemMaker() ? itemMaker()(service) : nullptr;
}

uint64_t Bridges::bridgeIdOfService(HService* service) const {
  if (!service) return 0;
  for (auto& [id, bridge] : bridges_)
    if (bridge->service() == service) return id;
  return 0;
}

Bridge* Bridges::find(uint64_t id) const {
  auto it = bridges_.find(id);
  return it == bridges_.end() ? nullptr : it->second.get();
}

HContact* Bridges::bridgedContact(uint64_t bridge, int64_t id, const std::string& name) {
  Bridge* b = find(bridge);
  return b ? b->contact(id, name) : nullptr;
}

HGroup* Bridges::bridgedGroup(uint64_t bridge, int64_t id) {
  Bridge* b = find(bridge);
  return b ? b->chat(id) : nullptr;
}

int Bridges::createBridge(const BridgeAccount& account) {
  Packet fields("BRIDGE REGISTER FIELDS");
  fields.setHeaderInt("Mesg-Id", int32_t(KS_GetLUID()));
  if (account.userName) fields.setHeader("Username", account.userName);
  if (account.nickname) fields.setHeader("Nickname", account.nickname);
  if (account.password) fields.setHeader("Password", account.password);
  session_.send(fields);
  return 1;
}

bool Bridges::onBridge(Packet& packet) {
  uint64_t id = packet.getHeaderId("Bridge-Id");
  bool disabled = packet.hasHeader("Disabled");
  fwk::counted_ptr<Bridge> bridge;
  auto it = bridges_.find(id);
  if (it == bridges_.end()) {
    bridge = fwk::counted_ptr<Bridge>(new Bridge(*this, id, packet.getHeaderInt("Bridge-Type"), disabled,
                                                 packet.getHeader("Username"), packet.getHeader("Nickname")));
    bridges_[id] = bridge;
  } else {
    bridge = it->second;
    bridge->enable();
  }
  // Held here: a send that ends the link disables and forgets bridges.
  if (!disabled) bridge->switchTo(kBridgeOnline);
  return true;
}

bool Bridges::onBridgePacket(Packet& packet) {
  auto it = bridges_.find(packet.getHeaderId("Bridge-Id"));
  if (it == bridges_.end()) return true;
  fwk::counted_ptr<Bridge> bridge = it->second;
  if (packet.command == "BRIDGE ON")
    bridge->onServerOn();
  else if (packet.command == "BRIDGE OFF")
    bridge->onServerOff(packet.getHeader("Reason"));
  else if (packet.command == "BRIDGE CONTACT ADD")
    bridge->onContactAdd(packet);
  else if (packet.command == "BRIDGE CHAT CONTACT")
    bridge->onChatContact(packet);
  return true;
}

void Bridges::disableAll() {
  std::vector<fwk::counted_ptr<Bridge>> all;
  for (auto& [id, bridge] : bridges_) all.push_back(bridge);
  for (auto& bridge : all) bridge->disable();
  forgetUnreferenced();
}

void Bridges::forgetUnreferenced() {
  for (auto it = bridges_.begin(); it != bridges_.end();) {
    HService* service = it->second->service();
    if (!service || service->count.load() == 1) {
      fwk::counted_ptr<Bridge> gone = it->second;
      it = bridges_.erase(it);
    } else {
      ++it;
    }
  }
}

void Bridges::onState() {
  if (KS_GetVariantLong(kConnectionStateVariant) == kSignedOut) disableAll();
}

}  // namespace olvaro::conn
