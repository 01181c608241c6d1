// The contact list and presence: "CONTACT DETAIL" from the server turns into
// hub contacts and membership of the contact list (group 0); the user's own
// identity goes out; contacts are added and removed on request.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "olvaro/registrations.h"
#include "protocol_area.h"

namespace olvaro::conn {



class Contacts : public ProtocolArea {
 public:
  explicit Contacts(Session& session);
  ~Contacts() override;

  // The contact with this id, created when new; the caller releases the
  // reference it is given.
  HContact* getContact(int64_t id);
  size_t size() const { return contacts_.size(); }
  // The user's own contact (+1 reference).
  HContact* getMyHandle() { return getContact(session_.mySubId()); }

  // 1 when sent, 0 when not signed in.
  int setIdentity(const IdentityRequest& request);
  int addContact(const AddContactRequest& request);
  int deleteContact(HContact* contact);
  // The named functions' forms, taking a cell that holds or receives the handle.
  int deleteContactIn(HContact* const& cell);
  bool getMyHandleInto(HContact*& cell);

  void onLoggedOn(const Packet& logon) override;
  void onLinkClosed() override;

 private:
  // The own contact carries the user's address and nickname, so rows and
  // messages that show it have a name: when it is made, and when the
  // nickname is learnt or changed.
  void nameMyself();
  void nameMyself(HContact* me);
  bool onContactDetail(Packet& packet);

  std::map<int64_t, HContact*> contacts_;  // one reference each
  std::string myNickname_;
  FunctionRegistration setIdentity_, addContact_, deleteContact_, getMyHandle_;
};

}  // namespace olvaro::conn
