#include "contacts.h"

#include <string>

#include "bridges.h"
#include "incoming_messages.h"
#include "olvaro/hub_records.h"
#include "olvaro/connection_state.h"

namespace olvaro::conn {
namespace {

constexpr int32_t kPresenceUnknown = 100;

bool digitsOnly(const char* text) {
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

// Takes the contact list's (group 0) membership of a contact.
void setListed(HContact* contact, bool listed) {
  HGroup* list = KS_GetGroup(0);
  if (!list) return;
  if (listed)
    KS_AddGroupMember(list, contact);
  else
    KS_RemoveGroupMember(list, contact);
  KS_ReleaseGroup(list);
}

// The server's answer to a removal: the contact leaves the list only then.
class ContactRemovePendingRequest : public PendingRequest {
 public:
  ContactRemovePendingRequest(uint64_t id, HContact* contact)
      : PendingRequest(id), contact_(KS_DuplicateContactHandle(contact)) {}
  ~ContactRemovePendingRequest() override { KS_ReleaseContact(contact_); }
  bool onResponse(int64_t code, const std::string&) override {
    if (code == kResponseOk) setListed(contact_, false);
    return true;
  }

 private:
  HContact* contact_;
};

}  // namespace

Contacts::Contacts(Session& session) : ProtocolArea(session) {
  handle<&Contacts::onContactDetail>("CONTACT DETAIL", this);
  handle<&Contacts::onContactDetail>("BRIDGE CONTACT", this);
  HService* service = session.service();
  setIdentity_ = FunctionRegistration::bind<&Contacts::setIdentity>("Connection/SetIdentity", this);
  addContact_ = FunctionRegistration::bind<&Contacts::addContact>(handleName("Service/%p/AddContact", service), this);
  deleteContact_ = FunctionRegistration::bind<&Contacts::deleteContactIn>(handleName("Service/%p/DeleteContact", service), this);
  getMyHandle_ = FunctionRegistration::bind<&Contacts::getMyHandleInto>(handleName("Service/%p/GetMyHandle", service), this);
}

Contacts::~Contacts() {
  for (auto& [id, contact] : contacts_) KS_ReleaseContact(contact);
  contacts_.clear();
}

HContact* Contacts::getContact(int64_t id) {
  auto it = contacts_.find(id);
  if (it == contacts_.end()) {
    ContactData d{};
    d.size = sizeof d;
    d.mask = CONTACT_ID | CONTACT_SERVICE;
    d.service = session_.service();
    d.id = id;
    HContact* created = KS_CreateContact(&d);
    if (!created) return nullptr;
    it = contacts_.emplace(id, created).first;
    if (id != 0 && id == session_.mySubId()) nameMyself(created);
  }
  return KS_DuplicateContactHandle(it->second);
}

bool Contacts::onContactDetail(Packet& packet) {
  int64_t id = int64_t(packet.getHeaderId("Contact-Id"));
  uint64_t bridge = packet.getHeaderId("Bridge-Id");
  auto find = [&](const std::string& name) {
    if (!bridge) return getContact(id);
    Bridges* bridges = session_.bridges();
    return bridges ? bridges->bridgedContact(bridge, id, name) : nullptr;
  };
  if (packet.headers.size() <= (bridge ? 2u : 1u)) {  // only the ids: a removal
    if (HContact* contact = find(std::string())) {
      setListed(contact, false);
      session_.incomingMessages().abandonPartialMessagesFrom(contact);
      KS_ReleaseContact(contact);
    }
    return true;
  }
  if (session_.state() == kLoggingOn) session_.setState(kReceivingContacts);
  std::string name = packet.getHeader("Name");
  HContact* contact = find(name);
  if (!contact) return true;

  std::string nickname = packet.getHeader("Nickname");
  if (nickname.empty()) nickname = name;
  std::string status = packet.getHeader("Status");
  ContactData d{};
  d.size = sizeof d;
  if (!name.empty()) {
    d.mask |= CONTACT_NAME;
    d.name = name.c_str();
  }
  if (!nickname.empty()) {
    d.mask |= CONTACT_NICKNAME;
    d.nickname = nickname.c_str();
  }
  if (packet.hasHeader("Status")) {
    d.mask |= CONTACT_STATUS;
    d.status = status.c_str();
  }
  if (packet.hasHeader("Online-Status")) {
    d.mask |= CONTACT_ONLINESTATUS;
    d.onlineStatus = packet.getHeaderInt("Online-Status");
  } else if (contactData(contact).onlineStatus == kPresenceUnknown) {
    // Re-reported after a reconnect without presence: offline.
    d.mask |= CONTACT_ONLINESTATUS;
    d.onlineStatus = 0;
  }
  bool listedBit = false;
  if (packet.hasHeader("State")) {
    d.mask |= CONTACT_STATE;
    d.state = packet.getHeaderInt("State");
    listedBit = (d.state & 1) != 0;
  }
  if (packet.hasHeader("Device-Type")) {
    d.mask |= CONTACT_DEVICETYPE;
    d.deviceType = packet.getHeaderInt("Device-Type");
  }
  // Only a sender that went offline cannot finish its messages; any other
  // change (a new presence in the middle of a voice message) keeps them.
  bool wentOffline = (d.mask & CONTACT_ONLINESTATUS) && d.onlineStatus == 0 && contactData(contact).onlineStatus != 0;
  KS_SetContactData(contact, &d);
  if (listedBit || session_.state() == kReceivingContacts || bridge) setListed(contact, true);
  if (wentOffline) session_.incomingMessages().abandonPartialMessagesFrom(contact);
  KS_ReleaseContact(contact);
  return true;
}

void Contacts::onLoggedOn(const Packet& logon) {
  myNickname_ = logon.getHeader("Nickname");
  nameMyself();
}

void Contacts::nameMyself() {
  auto it = contacts_.find(session_.mySubId());
  if (it != contacts_.end()) nameMyself(it->second);
}

void Contacts::nameMyself(HContact* me) {
  ServiceData s{};
  s.size = sizeof s;
  KS_GetServiceData(session_.service(), &s);
  ContactData d{};
  d.size = sizeof d;
  if (s.userName && *s.userName) {
    d.mask |= CONTACT_NAME;
    d.name = s.userName;
  }
  const char* shown = !myNickname_.empty() ? myNickname_.c_str() : d.name;
  if (shown) {
    d.mask |= CONTACT_NICKNAME;
    d.nickname = shown;
  }
  if (d.mask) KS_SetContactData(me, &d);
}

int Contacts::setIdentity(const IdentityRequest& request) {
  if (session_.state() != kSignedIn) return 0;
  Packet identity("CONTACT DETAIL");
  identity.setHeaderInt("Mesg-Id", int32_t(KS_GetLUID()));
  if (request.nickname) identity.setHeader("Nickname", request.nickname);
  if (request.status) identity.setHeader("Status", request.status);
  session_.send(identity);
  ServiceData d{};
  d.size = sizeof d;
  if (request.nickname) {
    d.mask |= SERVICE_DISPLAYNAME;
    d.displayName = request.nickname;
  }
  if (request.status) {
    d.mask |= SERVICE_TEXT24;
    d.text24 = request.status;
  }
  if (d.mask && session_.service()) KS_SetServiceData(session_.service(), &d);
  if (request.nickname) {
    myNickname_ = request.nickname;
    nameMyself();
  }
  return 1;
}

int Contacts::addContact(const AddContactRequest& request) {
  if (!fullRecord(request)) return 0;
  uint64_t id = KS_GetLUID();
  Packet add("CONTACT ADD");
  add.setHeaderId("Mesg-Id", id);
  const char* userName = request.userName ? request.userName : "";
  if (digitsOnly(userName))
    add.setHeader("Target-Id", userName);
  else
    add.setHeader("Name", userName);
  add.body = request.message ? request.message : "";
  if (request.callback)
    session_.registerPendingRequest(fwk::counted_ptr<PendingRequest>(
        new CallbackPendingRequest(id, request.callback, request.context)));
  return session_.send(add) ? 1 : 0;
}

int Contacts::deleteContactIn(HContact* const& cell) { return cell ? deleteContact(cell) : 0; }

// A handle does not fit the 32-bit result of a named function on a 64-bit
// system, so the user's own contact (one reference) is written to the cell
// the argument points to; the result says whether it was.
bool Contacts::getMyHandleInto(HContact*& cell) {
  cell = getMyHandle();
  return cell != nullptr;
}

int Contacts::deleteContact(HContact* contact) {
  uint64_t id = KS_GetLUID();
  Packet update("CONTACT UPDATE");
  update.setHeaderId("Mesg-Id", id);
  update.setHeaderId("Contact-Id", uint64_t(KS_GetContactID(contact)));
  update.setHeaderInt("Remove", 1);
  session_.registerPendingRequest(fwk::counted_ptr<PendingRequest>(new ContactRemovePendingRequest(id, contact)));
  return session_.send(update) ? 1 : 0;
}

void Contacts::onLinkClosed() {
  // Presence is unknown until the next contact list says otherwise.
  ContactData d{};
  d.size = sizeof d;
  d.mask = CONTACT_ONLINESTATUS;
  d.onlineStatus = kPresenceUnknown;
  for (auto& [id, contact] : contacts_) KS_SetContactData(contact, &d);
}

}  // namespace olvaro::conn
