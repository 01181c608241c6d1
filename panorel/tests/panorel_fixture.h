// A fresh platform and hub for every test, the host's main window stood in
// for with its soft-key menu, and helpers to fill the hub as the
// connection would.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "contact_list.h"
#include "hubtest/hub_test.h"
#include "hubtest/records.h"
#include "olvaro/api.h"
#include "olvaro/connection_state.h"
#include "olvaro/registrations.h"
#include "platform/menu.h"
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

class PanorelTest : public hubtest::HubTest {
 protected:
  void SetUp() override {
    hubtest::HubTest::SetUp();
    boxes = std::make_unique<testkit::MessageBoxRecorder>(IDOK);
    host = std::make_unique<HostStandIn>();
  }
  void TearDown() override {
    list.reset();
    host.reset();
    boxes.reset();
    for (HContact* c : contacts_) KS_ReleaseContact(c);
    contacts_.clear();
    hubtest::HubTest::TearDown();
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
    HContact* c = hubtest::ContactRecord()
                      .id(id)
                      .service(primary)
                      .nickname(nickname)
                      .status(status)
                      .onlineStatus(presence)
                      .state(state)
                      .create();
    KS_ReleaseService(primary);
    contacts_.push_back(c);
    return c;
  }
  void setPresence(HContact* c, int32_t presence) { hubtest::ContactRecord().onlineStatus(presence).applyTo(c); }
  void addMember(int64_t group, HContact* c, int32_t value = 0) {
    HGroup* g = KS_GetGroup(group);
    KS_AddGroupMember(g, c);
    if (value) KS_SetGroupMember(g, c, &value);
    KS_ReleaseGroup(g);
  }
  // A real group as the connection makes one; "groups.changed" is raised.
  void makeGroup(int64_t id, const std::string& name, const std::string& description = "") {
    HService* primary = KS_GetPrimaryService();
    hubtest::GroupRecord().name(name).description(description).service(primary).applyTo(id);
    KS_ReleaseService(primary);
    KS_EventRaise("groups.changed", nullptr);
  }
  void setState(long state) { KS_SetVariantLong(olvaro::kConnectionStateVariant, state); }
  // Queues an unread private message from `from` (or a group message).
  void unread(void* target, bool group, HContact* from) {
    HMessage* m = hubtest::MessageRecord()
                      .id(int64_t(KS_GetLUID()))
                      .contact(from)
                      .target(target, group)
                      .complete()
                      .contentType("text/plain")
                      .payload("hi")
                      .origin(1)
                      .create();
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
