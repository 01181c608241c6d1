// Bridges: the user's accounts on other networks that the server relays.
// Each bridge the server announces ("BRIDGE") is a hub service of its own
// with its own contacts, group chats, contact requests, status menu and
// per-service functions; it is switched on and off here, by the user and by
// the server, and disabled when the link ends.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "contact_requests.h"
#include "olvaro/menu_commands.h"
#include "olvaro/registrations.h"
#include "protocol_area.h"
#include "service_types.h"

namespace olvaro::conn {

class Bridges;

// The overview item of an enabled bridge; the screens make it (the session
// builds without them).
class BridgeItem {
 public:
  virtual ~BridgeItem() = default;
};
using BridgeItemMaker = std::function<std::unique_ptr<BridgeItem>(HService*)>;

// Online-Status values a bridge is switched to.
enum BridgeStatus : int32_t {
  kBridgeOffline = 0,
  kBridgeOnline = 1,
  kBridgeAway = 2,
  kBridgeInvisible = 3,
  kBridgeBusy = 5
};
// ServiceData.state of a bridge's service.
enum : int32_t { kBridgeOff = 0, kBridgeOn = 1, kBridgeDisabled = 101 };

class Bridge;

// The status menu of an enabled bridge, and its overview item.
class BridgeStatusMenu {
 public:
  explicit BridgeStatusMenu(Bridge& bridge);
  ~BridgeStatusMenu();
  BridgeStatusMenu(const BridgeStatusMenu&) = delete;
  BridgeStatusMenu& operator=(const BridgeStatusMenu&) = delete;

  // A new popup menu; the caller destroys it.
  HMENU create() const;
  // 1 when the command was one of this menu's.
  int handle(UINT command);

 private:
  uint32_t onCreate() const;
  int onHandle(void* argument);

  Bridge& bridge_;
  MenuCommands<6> commands_;  // the five statuses, then "Remove Service..."
  FunctionRegistration create_, handle_;
  EventSubscription commandWatch_;
  std::unique_ptr<BridgeItem> item_;
};

class Bridge final : public ContactRequestOwner {
 public:
  Bridge(Bridges& owner, uint64_t id, int32_t type, bool disabled, const std::string& userName,
         const std::string& nickname);
  ~Bridge();
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  uint64_t id() const { return id_; }
  int32_t type() const { return type_; }
  bool disabledFlag() const { return disabled_; }
  HService* service() const { return service_; }
  bool enabled() const { return statusMenu_ != nullptr; }
  ServiceData serviceData() const;

  void enable();
  void disable();
  // From the status menu or the announcement.
  void switchTo(int32_t status);
  // "Service/%p/Delete": asks the server to remove the bridge.
  int remove();

  // The server's packets for this bridge.
  void onServerOn();
  void onServerOff(const std::string& reason);
  void onContactAdd(const Packet& packet);
  void onChatContact(const Packet& packet);

  // The bridge's contact for the id (+1 reference), found or created.
  HContact* contact(int64_t id, const std::string& name);
  // The chat held under the id (+1 reference), or null.
  HGroup* chat(int64_t id) const;
  void dropContacts();
  void dropRequests() { contactRequests_.clear(); }
  void removeRequest(int64_t id, uint64_t serial) { removeAnsweredRequest(contactRequests_, id, serial); }
  size_t contactCount() const { return contacts_.size(); }
  size_t requestCount() const { return contactRequests_.size(); }

  // Per-service functions.
  int addContact(const AddContactRequest& request);
  int acceptContact(const AcceptContactRequest& request) override;
  fwk::counted_ptr<ContactRequest> findRequest(int64_t id) const override;
  void addBack(const std::string& name, const char* message) override;

 private:
  void setService(uint32_t mask, ServiceData data);

  Bridges& owner_;
  uint64_t id_;
  int32_t type_;
  bool disabled_;
  HService* service_ = nullptr;      // the bridge's own reference
  HService* heldService_ = nullptr;  // a second one while enabled
  std::map<int64_t, HContact*> contacts_;             // one reference each
  std::map<std::string, HContact*> contactsByName_;  // one reference each
  std::map<int64_t, HGroup*> chats_;                  // one reference each
  std::map<int64_t, fwk::counted_ptr<ContactRequest>> contactRequests_;
  std::unique_ptr<BridgeStatusMenu> statusMenu_;
  FunctionRegistration delete_, acceptContact_, addContact_, deleteContact_;
};

class Bridges : public ProtocolArea {
 public:
  explicit Bridges(Session& session);
  ~Bridges() override;

  // How enabled bridges get their overview item; none without screens.
  static void setItemMaker(BridgeItemMaker maker);
  static std::unique_ptr<BridgeItem> makeItem(HService* service);

  Session& session() { return session_; }
  ServiceTypes& types() { return types_; }

  // 0 when the service is no bridge's.
  uint64_t bridgeIdOfService(HService* service) const;
  Bridge* find(uint64_t id) const;
  size_t size() const { return bridges_.size(); }
  HContact* bridgedContact(uint64_t bridge, int64_t id, const std::string& name);
  HGroup* bridgedGroup(uint64_t bridge, int64_t id);

  // "Connection/Bridging/Create".
  int createBridge(const BridgeAccount& account);
  // Disables every bridge, then forgets those nobody else holds.
  void disableAll();
  void forgetUnreferenced();

 private:
  bool onBridge(Packet& packet);
  bool onBridgePacket(Packet& packet);
  void onState();

  ServiceTypes types_;
  std::map<uint64_t, fwk::counted_ptr<Bridge>> bridges_;
  VariantSubscription stateWatch_;
  FunctionRegistration create_;
};

}  // namespace olvaro::conn
