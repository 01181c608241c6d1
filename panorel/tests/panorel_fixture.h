// A fresh platform and hub for every test, the host's main window stood in
// for with its soft-key menu, and helpers to fill the hub as the
// connection would.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "contact_list.h"
#include "olvaro/api.h"
#include "olvaro/connection_state.h"
#include "olvaro/registrations.h"
#include "platform/menu.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "testkit/testkit.h"
#include "ui_fixture.h"

namespace panoreltest {

// The host's main window: the layout, and a soft-key bar whose right key
// opens a menu like the host's.
class HostStandIn : public conntest::MainWindowStandIn {
 public:
  HostStandIn() {
    SHMENUBARINFO mb{};
    mb.cbSize = sizeof mb;
    mb.hwndParent = hwnd();
    mb.nToolBarId = 102;
    mb.hInstRes = platform::currentModule();
    SHCreateMenuBar(&mb);
    bar_ = mb.hwndMB;
  }
  // The right key's menu.
  HMENU menu() const { return GetSubMenu(reinterpret_cast<HMENU>(SendMessage(bar_, SHCMBM_GETMENU, 0, 0)), 1); }
  HWND bar() const { return bar_; }

 private:
  HWND bar_ = nullptr;
};

class PanorelTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    testkit::PlatformTest::SetUp();
    KS_API_Cleanup();
    platform::registryReset();
    boxes = std::make_unique<testkit::MessageBoxRecorder>(IDOK);
    host = std::make_unique<HostStandIn>();
  }
  void TearDown() override {
    list.reset();
    host.reset();
    boxes.reset();
    for (HContact* c : contacts_) KS_ReleaseContact(c);
    contacts_.clear();
    KS_API_Cleanup();
    testkit::PlatformTest::TearDown();
  }

  void start() {
    list = std::make_unique<panorel::ContactList>();
    testkit::pump();
  }
  // A contact of the primary service (the hub keeps it; the test holds one
  // reference until the end).
  HContact* makeContact(int64_t id, const std::string& nickname, int32_t presence, const std::string& status = "",
                        int32_t state = 0) {
    HService* primary = KS_GetPrimaryService();
    ContactData d{};
    d.size = sizeof d;
    d.mask = CONTACT_ID | CONTACT_SERVICE | CONTACT_NICKNAME | CONTACT_STATUS | CONTACT_ONLINESTATUS | CONTACT_STATE;
    d.id = id;
    d.service = primary;
    d.nickname = nickname.c_str();
    d.status = status.c_str();
    d.onlineStatus = presence;
    d.state = state;
    HContact* c = KS_CreateContact(&d);
    KS_ReleaseService(primary);
    contacts_.push_back(c);
    return c;
  }
  void setPresence(HContact* c, int32_t presence) {
    ContactData d{};
    d.size = sizeof d;
    d.mask = CONTACT_ONLINESTATUS;
    d.onlineStatus = presence;
    KS_SetContactData(c, &d);
  }
  void addMember(int64_t group, HContact* c, int32_t value = 0) {
    HGroup* g = KS_GetGroup(group);
    KS_AddGroupMember(g, c);
    if (value) KS_SetGroupMember(g, c, &value);
    KS_ReleaseGroup(g);
  }
  // A real group as the connection makes one; "groups.changed" is raised.
  void makeGroup(int64_t id, const std::string& name, const std::string& description = "") {
    HService* primary = KS_GetPrimaryService();
    HGroup* g = KS_GetGroup(id);
    GroupData d{};
    d.size = sizeof d;
    d.mask = GROUP_NAME | GROUP_DESCRIPTION | GROUP_SERVICE;
    d.name = name.c_str();
    d.description = description.c_str();
    d.service = primary;
    KS_SetGroupData(g, &d);
    KS_ReleaseGroup(g);
    KS_ReleaseService(primary);
    KS_EventRaise("groups.changed", nullptr);
  }
  void setState(long state) { KS_SetVariantLong(olvaro::kConnectionStateVariant, state); }
  // Queues an unread private message from `from` (or a group message).
  void unread(void* target, bool group, HContact* from) {
    MessageData d{};
    d.size = sizeof d;
    d.mask = 0xffffffff;
    d.id = KS_GetLUID();
    d.contact = from;
    d.target = target;
    d.isGroup = group ? 1 : 0;
    d.complete = 1;
    d.contentType = "text/plain";
    d.payload = reinterpret_cast<const uint8_t*>("hi");
    d.payloadLength = 2;
    d.origin = 1;
    HMessage* m = KS_CreateMessage(&d);
    KS_UnreadMessageAdd(m);
    KS_ReleaseMessage(m);
  }
  // The rows' first lines as the list holds them; "[header]" for a section
  // header.
  static std::vector<std::string> rowNames(panorel::SectionView* view) {
    std::vector<std::string> names;
    for (int i = 0; i < view->rowCount(); ++i) {
      fwk::Row* row = view->row(i);
      if (auto* two = dynamic_cast<fwk::TwoLineRow*>(row)) {
        names.push_back(testkit::narrow(two->title()));
      } else if (auto* contact = dynamic_cast<panorel::ContactRow*>(row)) {
        names.push_back(contact->nickname());
      } else if (dynamic_cast<panorel::GroupChatRow*>(row)) {
        names.push_back("<group chat>");
      } else {
        names.push_back("[header]");
      }
    }
    return names;
  }

  std::unique_ptr<testkit::MessageBoxRecorder> boxes;
  std::unique_ptr<HostStandIn> host;
  std::unique_ptr<panorel::ContactList> list;

 private:
  std::vector<HContact*> contacts_;
};

}  // namespace panoreltest
