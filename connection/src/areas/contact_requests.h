// Contact requests: "CONTACT ADD" from the server (someone wants to add the
// user) shown in the contact list's overview, accepted or declined there,
// and "Service/%p/AcceptContact".
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "olvaro/registrations.h"
#include "overview.h"
#include "protocol_area.h"

namespace olvaro::conn {


enum ContactRequestState : int32_t { kRequestWaiting = 0, kRequestAccepting = 1, kRequestDeclining = 2 };

class ContactRequest;

// Who keeps a table of requests: the own service's, or a bridge's. The
// request's item asks it for the menu's answers. An owner can go while the
// menu is up (a bridge goes with the link), so the menu holds its id and
// looks it up again after each modal loop.
class ContactRequestOwner {
 public:
  // The owner living under this id, or null once it is gone. Ids are never
  // used twice.
  static ContactRequestOwner* find(uint64_t ownerId);
  uint64_t ownerId() const { return ownerId_; }

  // The request waiting under this id, or none.
  virtual fwk::counted_ptr<ContactRequest> findRequest(int64_t id) const = 0;
  virtual int acceptContact(const AcceptContactRequest& request) = 0;
  // Adds the requester back (after the user agreed to).
  virtual void addBack(const std::string& name, const char* message) = 0;

 protected:
  ContactRequestOwner();
  ~ContactRequestOwner();
  ContactRequestOwner(const ContactRequestOwner&) = delete;
  ContactRequestOwner& operator=(const ContactRequestOwner&) = delete;

 private:
  uint64_t ownerId_;
};

// The Accept/Decline menu of a request's item at (x, y), and the answer; it
// does nothing once the owner or the request is gone.
void showContactRequestMenu(uint64_t ownerId, int64_t id, int x, int y);

// Enters a new request under `id`, taking over the item of the one it replaces.
void enterContactRequest(std::map<int64_t, fwk::counted_ptr<ContactRequest>>& table, int64_t id,
                         fwk::counted_ptr<ContactRequest> request);
// The server took the answer to the request with this serial: it goes,
// unless a newer request has replaced it under the same id meanwhile.
void removeAnsweredRequest(std::map<int64_t, fwk::counted_ptr<ContactRequest>>& table, int64_t id,
                           uint64_t serial);

// One person asking to add the user, and its overview item while shown.
class ContactRequest {
 public:
  ContactRequest(ContactRequestOwner& owner, HService* service, HContact* contact, int64_t sourceId, std::string name,
                 std::string message);
  // Deletes the item and drops the subscription.
  ~ContactRequest();
  ContactRequest(const ContactRequest&) = delete;
  ContactRequest& operator=(const ContactRequest&) = delete;

  int64_t sourceId() const { return sourceId_; }
  // Tells this request from any other, a newer one from the same person
  // too; never 0.
  uint64_t serial() const { return serial_; }
  const std::string& name() const { return name_; }
  const std::string& message() const { return message_; }
  int32_t requestState() const { return requestState_; }
  void setRequestState(int32_t state) { requestState_ = state; }
  HContact* contact() const { return contact_; }
  void* item() const { return holder_.item; }

  // Adds the item, or updates it when there is one; takes over the item of
  // the request this one replaces.
  void show(ContactRequest* replaced);

 private:
  bool onContextMenu(const OverviewContextMenuInfo* info);

  struct Holder {
    void* item = nullptr;
    EventSubscription contextMenu;
  };

  uint64_t ownerId_;
  uint64_t serial_;
  HService* service_;  // one reference
  HContact* contact_;  // one reference
  int64_t sourceId_;
  std::string name_;
  std::string message_;
  int32_t requestState_ = kRequestWaiting;
  Holder holder_;
};

class ContactRequests : public ProtocolArea, public ContactRequestOwner {
 public:
  explicit ContactRequests(Session& session);
  ~ContactRequests() override;

  // Sends "CONTACT ADD RESP"; always 1.
  int acceptContact(const AcceptContactRequest& request) override;
  fwk::counted_ptr<ContactRequest> findRequest(int64_t id) const override;
  void addBack(const std::string& name, const char* message) override;
  // The server took the answer to the request with this serial: it goes,
  // and its item with it.
  void remove(int64_t sourceId, uint64_t serial) { removeAnsweredRequest(requests_, sourceId, serial); }

  size_t size() const { return requests_.size(); }
  // Null when this id has no request waiting.
  ContactRequest* find(int64_t sourceId) const;

  void onLinkClosed() override { requests_.clear(); }

 private:
  bool onContactAdd(Packet& packet);

  std::map<int64_t, fwk::counted_ptr<ContactRequest>> requests_;
  FunctionRegistration acceptContact_;
};

}  // namespace olvaro::conn
