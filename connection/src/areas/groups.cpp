#include "groups.h"

#include <limits>
#include <string_view>

#include "contacts.h"
#include "incoming_messages.h"
#include "olvaro/connection_state.h"
#include "olvaro/group_roles.h"
#include "olvaro/hub_records.h"

namespace olvaro::conn {
namespace {

constexpr int32_t kPresenceUnknown = 100;
constexpr int32_t kGroupCurrent = 0;
constexpr int32_t kGroupLeaving = 1;

// Group 0 is the contact list, never a chat group: packets naming it (or
// lacking the id) must not rename, empty or delete it.
constexpr int64_t kContactList = 0;

void setGroupState(HGroup* group, int32_t state) {
  GroupData d{};
  d.size = sizeof d;
  d.mask = GROUP_STATE;
  d.state = state;
  KS_SetGroupData(group, &d);
}

// A decimal id as atoi reads it (white space, sign, digits) but 64 bits wide,
// so ids past 2^31 name the same contact as in the member list.
int64_t parseSignedId(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr uint64_t kLimit = uint64_t(std::numeric_limits<int64_t>::max()) + 1;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + uint64_t(text[i] - '0');
    if (value > kLimit) value = kLimit;  // saturate on absurd input
  }
  if (negative) return value == kLimit ? std::numeric_limits<int64_t>::min() : -int64_t(value);
  return value >= kLimit ? std::numeric_limits<int64_t>::max() : int64_t(value);
}

// A group the user asked to leave; it goes from the hub once the server agrees.
class GroupLeavePendingRequest : public PendingRequest {
 public:
  GroupLeavePendingRequest(uint64_t id, HGroup* group) : PendingRequest(id), group_(KS_DuplicateGroupHandle(group)) {}
  ~GroupLeavePendingRequest() override { KS_ReleaseGroup(group_); }
  bool onResponse(int64_t code, const std::string&) override {
    if (code == kResponseOk) KS_DeleteGroup(KS_GetGroupID(group_));
    return true;
  }

 private:
  HGroup* group_;
};

// Sends the request and, only once it is on its way, lets it wait for the
// answer: a failed send reports 0 to the caller and nothing else.
int sendRequest(Session& session, Packet& packet, fwk::counted_ptr<PendingRequest> waiting) {
  if (!session.send(packet)) return 0;
  if (waiting) session.registerPendingRequest(std::move(waiting));
  return 1;
}

fwk::counted_ptr<PendingRequest> callbackRequest(uint64_t id, ResponseCallback callback, void* context) {
  if (!callback) return {};
  return fwk::counted_ptr<PendingRequest>(new CallbackPendingRequest(id, callback, context));
}

}  // namespace

HGroup* Groups::findChatGroup(int64_t id) { return id == kContactList ? nullptr : KS_FindGroup(id); }

Groups::Groups(Session& session) : ProtocolArea(session) {
  handle<&Groups::onGroupDetail>("GROUP DETAIL", this);
  handle<&Groups::onGroupUpdate>("GROUP UPDATE", this);
  handle<&Groups::onGroupAdmin>("GROUP ADMIN", this);
  adminContact_ = FunctionRegistration::bind<&Groups::adminContact>(handleName("Service/%p/AdminContact", session.service()), this);
}

void Groups::onLoggedOn(const Packet&) {
  unsubscribe_ = FunctionRegistration::bind<&Groups::leaveGroup>("orvaloGroupUnsub", this);
  subscribe_ = FunctionRegistration::bind<&Groups::joinGroup>("orvaloGroupSubscribe", this);
  create_ = FunctionRegistration::bind<&Groups::createGroup>("orvaloGroupCreate", this);
}

void Groups::onLinkClosed() {
  unsubscribe_.reset();
  subscribe_.reset();
  create_.reset();
}

bool Groups::onGroupDetail(Packet& packet) {
  long s = session_.state();
  if (s == kLoggingOn || s == kReceivingContacts) {
    // The first group of a sign-in: contacts the new list did not mention
    // are gone.
    KS_PruneContacts(1, session_.service(), 1, kPresenceUnknown);
    session_.setState(kReceivingGroups);
  }
  int64_t id = int64_t(packet.getHeaderId("Group-ID"));
  if (id == kContactList) return true;
  HGroup* group = KS_GetGroup(id);
  if (!group) return true;

  std::string name = packet.getHeader("Name");
  std::string description = packet.getHeader("Desc");
  GroupData d{};
  d.size = sizeof d;
  d.mask = GROUP_NAME | GROUP_SERVICE | GROUP_DESCRIPTION;
  d.name = name.c_str();
  d.service = session_.service();
  d.description = description.c_str();
  KS_SetGroupData(group, &d);

  addMembers(group, packet.body);
  setRoles(group, packet.getHeader("Admin"));

  setGroupState(group, kGroupCurrent);
  KS_ReleaseGroup(group);
  KS_EventRaise("groups.changed", nullptr);
  return true;
}

void Groups::addMembers(HGroup* group, const std::string& body) {
  const int32_t width = session_.wordSize();
  // Without a known id width the list cannot be read at all.
  if (width != 4 && width != 8) return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
  const size_t step = size_t(width);
  // A trailing part shorter than one id is not an id.
  for (size_t at = 0; body.size() - at >= step; at += step) {
    uint64_t id = 0;
    for (size_t i = 0; i < step; ++i) id = id << 8 | bytes[at + i];
    HContact* contact = session_.contacts().getContact(int64_t(id));
    if (!contact) continue;
    KS_AddGroupMember(group, contact);
    KS_ReleaseContact(contact);
  }
}

void Groups::setRoles(HGroup* group, const std::string& admin) {
  std::string_view rest(admin);
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    size_t bar = item.find('|');
    if (bar == std::string_view::npos || bar == 0 || bar + 1 == item.size()) continue;  // needs both
    int64_t id = parseSignedId(item.substr(0, bar));
    int32_t role = parseInt(std::string(item.substr(bar + 1)));
    HContact* contact = session_.contacts().getContact(id);
    if (!contact) continue;
    KS_SetGroupMember(group, contact, &role);
    KS_ReleaseContact(contact);
  }
}

bool Groups::onGroupUpdate(Packet& packet) {
  int64_t groupId = int64_t(packet.getHeaderId("Group-ID"));
  int64_t contactId = int64_t(packet.getHeaderId("Contact-Id"));
  if (groupId == kContactList) return true;
  if (contactId == session_.mySubId()) {
    KS_DeleteGroup(groupId);  // the user is no longer in the group
    return true;
  }
  HGroup* group = findChatGroup(groupId);
  if (!group) return true;  // before any contact is looked up (which could make one)
  HContact* contact = session_.contacts().getContact(contactId);
  if (contact) {
    if (packet.getHeaderInt("Type") == 0) {
      KS_AddGroupMember(group, contact);
    } else {
      // Banned members stay visible.
      int32_t role = 0;
      KS_GetGroupMember(group, contact, &role);
      if (!(role & kRoleBanned)) KS_RemoveGroupMember(group, contact);
    }
  }
  if (contact) KS_ReleaseContact(contact);
  KS_ReleaseGroup(group);
  return true;
}

bool Groups::onGroupAdmin(Packet& packet) {
  int64_t groupId = int64_t(packet.getHeaderId("Group-ID"));
  int64_t targetId = int64_t(packet.getHeaderId("Target-ID"));
  int64_t sourceId = int64_t(packet.getHeaderId("Source-ID"));
  int32_t action = packet.getHeaderInt("Action");
  HGroup* group = findChatGroup(groupId);
  if (!group) return true;
  HContact* target = session_.contacts().getContact(targetId);
  HContact* source = session_.contacts().getContact(sourceId);
  if (target && source) {
    KS_SetGroupMember(group, target, &action);

    ContactData c = olvaro::contactData(target);
    RoleChange change{action, targetId, c.nickname ? c.nickname : ""};
    std::string payload = change.encode();

    MessageData m{};
    m.size = sizeof m;
    m.mask = MESSAGE_ID | MESSAGE_CONTACT | MESSAGE_TARGET | MESSAGE_ISGROUP | MESSAGE_CONTENTTYPE | MESSAGE_PAYLOAD |
             MESSAGE_COMPLETE;
    m.id = KS_GetLUID();
    m.contact = source;
    m.target = group;
    m.isGroup = 1;
    m.complete = 1;
    m.contentType = kRoleChangeType;
    m.payload = reinterpret_cast<const uint8_t*>(payload.data());
    m.payloadLength = int32_t(payload.size());
    if (HMessage* message = IncomingMessages::deliver(m)) KS_ReleaseMessage(message);
  }
  if (source) KS_ReleaseContact(source);
  if (target) KS_ReleaseContact(target);
  KS_ReleaseGroup(group);
  return true;
}

int Groups::createGroup(const GroupCreateRequest& request) {
  if (!fullRecord(request)) return 0;
  uint64_t id = KS_GetLUID();
  Packet create("GROUP CREATE");
  create.setHeaderId("Mesg-Id", id);
  create.setHeader("Name", request.name ? request.name : "");
  create.setHeader("Desc", "Chat group");
  // Written although there is no body.
  create.setHeaderInt("Content-Length", 0);
  return sendRequest(session_, create, callbackRequest(id, request.callback, request.context));
}

int Groups::joinGroup(const GroupJoinRequest& request) {
  if (!fullRecord(request)) return 0;
  uint64_t id = KS_GetLUID();
  Packet subscribe("GROUP SUBSCRIBE");
  subscribe.setHeaderId("Mesg-Id", id);
  subscribe.setHeader("Name", request.name ? request.name : "");
  if (request.password) subscribe.body = request.password;
  return sendRequest(session_, subscribe, callbackRequest(id, request.callback, request.context));
}

int Groups::leaveGroup(HGroup* group) {
  if (!group) return 0;
  int64_t groupId = KS_GetGroupID(group);
  if (groupId == kContactList) return 0;
  uint64_t id = KS_GetLUID();
  Packet unsubscribe("GROUP UNSUB");
  unsubscribe.setHeaderId("Mesg-Id", id);
  unsubscribe.setHeaderId("Group-Id", uint64_t(groupId));
  fwk::counted_ptr<PendingRequest> waiting(new GroupLeavePendingRequest(id, group));
  setGroupState(group, kGroupLeaving);
  return sendRequest(session_, unsubscribe, std::move(waiting));
}

int Groups::adminContact(const AdminContactRequest& request) {
  if (!request.contact || !request.group) return 0;
  Packet admin("GROUP ADMIN");
  admin.setHeaderId("Mesg-Id", KS_GetLUID());
  admin.setHeaderId("Group-Id", uint64_t(KS_GetGroupID(request.group)));
  admin.setHeaderId("Target-Id", uint64_t(KS_GetContactID(request.contact)));
  admin.setHeaderInt("Action", request.action);
  return session_.send(admin) ? 1 : 0;
}

}  // namespace olvaro::conn
