// The client under test signed in to the real server as ann, with bob as a
// second account spoken to at the protocol level, and every message the hub
// receives recorded.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "contacts.h"
#include "olvaro/registrations.h"
#include "server_fixture.h"
#include "wire_client.h"

namespace conntest {

// A message the hub holds, read when its last chunk came.
struct HubMessage {
  int64_t sender = 0;
  int64_t group = 0;  // 0 for a private message
  std::string contentType;
  std::string payload;
  int32_t origin = 0;
  bool interrupted = false;
};

class Inbox {
 public:
  Inbox() : complete_(olvaro::subscribeEvent("messages.new.complete", &Inbox::onComplete, this)) {}
  std::vector<HubMessage> messages;

 private:
  static uint32_t onComplete(void* user, void* argument) {
    auto* message = static_cast<HMessage*>(argument);
    MessageData d{};
    d.size = sizeof d;
    KS_GetMessageData(message, &d);
    HubMessage m;
    m.sender = d.contact ? KS_GetContactID(d.contact) : 0;
    m.group = d.isGroup && d.target ? KS_GetGroupID(static_cast<HGroup*>(d.target)) : 0;
    m.contentType = d.contentType ? d.contentType : "";
    if (d.payload && d.payloadLength > 0) m.payload.assign(reinterpret_cast<const char*>(d.payload), size_t(d.payloadLength));
    m.origin = d.origin;
    m.interrupted = d.interrupted != 0;
    static_cast<Inbox*>(user)->messages.push_back(std::move(m));
    return 0;
  }
  olvaro::EventSubscription complete_;
};

class MessengerTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    inbox = std::make_unique<Inbox>();
  }
  void TearDown() override {
    connection.reset();
    inbox.reset();
    ServerTest::TearDown();
    if (!database.empty())
      for (const char* end : {"", "-wal", "-shm", ".key"}) std::filesystem::remove(database + end);
  }
  // Moves the server onto a database file, with ann listing bob, so it can
  // stop and start again on the same port and data; gives its settings.
  srv::Config restartableServer(const std::string& name) {
    database = testing::TempDir() + name + "-" + std::to_string(getpid()) + ".db";
    std::filesystem::remove(database);
    srv::Config config;
    config.database = database;
    config.quick_password_hashes = true;
    server.reset();
    server = startServer(config);
    if (!server) return config;
    ann = server->create_account({"ann@example.org", "secret12", "Ann", "", 0});
    bob = server->create_account({"bob@example.org", "bobpass1", "Bob", "", 0});
    server->list_contact(ann, bob);
    config.ports = {uint16_t(port(*server))};
    return config;
  }
  // The name the messaging tests sign in by.
  void signInAnn() { signIn(); }
  // bob at the protocol level.
  std::unique_ptr<WireClient> signInBob(srv::Server& at) {
    auto client = std::make_unique<WireClient>(port(at));
    EXPECT_TRUE(client->signIn("bob@example.org", "bobpass1"));
    return client;
  }
  // The hub's contact for an account id (+1 reference, released by the holder).
  struct ContactRef {
    HContact* handle;
    ~ContactRef() { KS_ReleaseContact(handle); }
    ContactData data() const {
      ContactData d{};
      d.size = sizeof d;
      KS_GetContactData(handle, &d);
      return d;
    }
  };
  ContactRef contact(int64_t id) { return ContactRef{connection->contacts().getContact(id)}; }
  bool listed(int64_t id) {
    HGroup* list = KS_GetGroup(0);
    ContactRef c = contact(id);
    bool in = KS_GroupContainsMember(list, c.handle) != 0;
    KS_ReleaseGroup(list);
    return in;
  }
  // Whether the hub holds this group (KS_GetGroup would create it).
  static bool groupExists(int64_t id) {
    int64_t at = 0;
    for (int more = KS_EnumGroupsBegin(&at); more; at = KS_EnumGroupsNext(at), more = at != 0)
      if (at == id) return true;
    return false;
  }
  // Sends from the hub as a plug-in would; the message handle is released.
  void sendFromHub(int64_t to, const std::string& type, const std::string& payload) {
    ContactRef c = contact(to);
    HMessage* m = nullptr;
    KS_SendMessage(c.handle, 0, type.c_str(), payload.data(), int(payload.size()), 1, &m);
    if (m) KS_ReleaseMessage(m);
  }

  std::unique_ptr<Inbox> inbox;
  std::string database;  // the file of a restartable server
};

}  // namespace conntest
