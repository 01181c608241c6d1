// Chat groups: "GROUP DETAIL", "GROUP UPDATE" and "GROUP ADMIN" from the
// server keep the hub's groups, members and roles; joining, creating and
// leaving groups and changing a member's role go out on request.
#pragma once

#include <cstdint>
#include <string>

#include "olvaro/registrations.h"
#include "protocol_area.h"

namespace olvaro::conn {

class Groups : public ProtocolArea {
 public:
  explicit Groups(Session& session);

  // The chat group a packet names (+1 reference), or null when the user is
  // not in it. Ids from the network never make a group (once the sign-in's
  // list has come, only the groups it named are kept), and group 0 is the
  // contact list, never a chat group.
  static HGroup* findChatGroup(int64_t id);

  // Each returns 1 when the request was sent, 0 when not.
  int createGroup(const GroupCreateRequest& request);
  int joinGroup(const GroupJoinRequest& request);
  int leaveGroup(HGroup* group);
  int adminContact(const AdminContactRequest& request);

  void onLoggedOn(const Packet& logon) override;
  void onLinkClosed() override;

 private:
  bool onGroupDetail(Packet& packet);
  bool onGroupUpdate(Packet& packet);
  bool onGroupAdmin(Packet& packet);

  void addMembers(HGroup* group, const std::string& body);
  void setRoles(HGroup* group, const std::string& admin);

  // Only while signed in.
  FunctionRegistration create_, subscribe_, unsubscribe_;
  FunctionRegistration adminContact_;
};

}  // namespace olvaro::conn
