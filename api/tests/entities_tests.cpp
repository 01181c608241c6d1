// Contacts, groups with their members, services and service types.
#include <cstring>

#include "entities.h"  // white-box checks of the hub's insides
#include "hubtest/hub_test.h"
#include "hubtest/records.h"

using hubtest::Recorder;
using hubtest::makeContact;

using EntitiesTest = hubtest::HubTest;

TEST_F(EntitiesTest, ContactSetAppliesOnlyMaskedFieldsAndNotifies) {
  Recorder global, own;
  Subscription* g = KS_EventSubscribe(Recorder::callback, "contact.changed", &global);
  ContactData d{};
  d.size = sizeof d;
  d.mask = CONTACT_ID | CONTACT_NAME | CONTACT_NICKNAME | CONTACT_DEVICETYPE;
  d.id = 0x100000001LL;
  d.name = "ann@example.org";
  d.nickname = nullptr;  // stored as ""
  d.deviceType = 3;
  d.onlineStatus = 2;  // not in the mask
  HContact* c = KS_CreateContact(&d);
  ASSERT_EQ(global.count(), 1u);
  EXPECT_EQ(global.arguments[0], c);
  EXPECT_EQ(KS_GetHandleReferenceCount(c), 1);

  Subscription* o = KS_ContactSubscribe(Recorder::callback, c, &own);
  ContactData out{};
  out.size = sizeof out;
  out.mask = 0xdead;
  KS_GetContactData(c, &out);
  EXPECT_EQ(out.mask, 0xdeadu);  // Get never writes size or mask
  EXPECT_EQ(out.id, 0x100000001LL);
  EXPECT_STREQ(out.name, "ann@example.org");
  EXPECT_STREQ(out.nickname, "");
  EXPECT_EQ(out.onlineStatus, 0);
  EXPECT_EQ(out.deviceType, 3);
  EXPECT_EQ(KS_GetContactID(c), 0x100000001LL);
  EXPECT_EQ(KS_GetContactID(nullptr), 0);

  ContactData change{};
  change.size = sizeof change;
  change.mask = CONTACT_STATUS;
  change.status = "at lunch";
  KS_SetContactData(c, &change);
  KS_GetContactData(c, &out);
  EXPECT_STREQ(out.status, "at lunch");
  EXPECT_STREQ(out.name, "ann@example.org");
  ASSERT_EQ(own.count(), 1u);
  EXPECT_EQ(own.arguments[0], c);
  EXPECT_EQ(global.count(), 2u);

  EXPECT_EQ(KS_DuplicateContactHandle(nullptr), nullptr);
  KS_ReleaseContact(nullptr);
  KS_ContactUnsubscribe(o);
  KS_EventUnsubscribe(g);
  KS_ReleaseContact(c);
}

TEST_F(EntitiesTest, ContactHoldsItsServiceAndReplacesItSafely) {
  HService* s1 = KS_GetPrimaryService();  // table + ours
  ServiceData sd{};
  sd.size = sizeof sd;
  HService* s2 = KS_CreateService(&sd);
  HContact* c = makeContact(1, 1, s1);
  EXPECT_EQ(KS_GetHandleReferenceCount(s1), 3);

  ContactData same{};
  same.size = sizeof same;
  same.mask = CONTACT_SERVICE;
  same.service = s1;
  KS_SetContactData(c, &same);
  EXPECT_EQ(KS_GetHandleReferenceCount(s1), 3);

  same.service = s2;
  KS_SetContactData(c, &same);
  EXPECT_EQ(KS_GetHandleReferenceCount(s1), 2);
  EXPECT_EQ(KS_GetHandleReferenceCount(s2), 2);
  KS_ReleaseContact(c);
  EXPECT_EQ(KS_GetHandleReferenceCount(s2), 1);
  KS_ReleaseService(s2);
  KS_ReleaseService(s1);
}

TEST_F(EntitiesTest, GroupTableLookupOrCreateAndEnumeration) {
  Recorder changed;
  Subscription* s = KS_EventSubscribe(Recorder::callback, "groups.changed", &changed);
  int64_t first = 0;
  EXPECT_EQ(KS_EnumGroupsBegin(&first), 0);

  HGroup* a = KS_GetGroup(42);
  HGroup* b = KS_GetGroup(42);
  EXPECT_EQ(a, b);
  EXPECT_EQ(KS_GetHandleReferenceCount(a), 3);
  EXPECT_EQ(changed.count(), 0u);  // creation by lookup raises nothing
  GroupData gd{};
  gd.size = sizeof gd;
  KS_GetGroupData(a, &gd);
  EXPECT_EQ(gd.id, 42);
  EXPECT_EQ(gd.state, 0);
  EXPECT_STREQ(gd.name, "");

  for (int64_t id : {0x7fffffffffffLL, 7LL, 0LL}) KS_ReleaseGroup(KS_GetGroup(id));
  // Group 0, the contact list, comes first; 0 from Next means the end.
  std::vector<int64_t> order;
  int64_t id = -1;
  ASSERT_EQ(KS_EnumGroupsBegin(&id), 1);
  for (; order.empty() || id != 0; id = KS_EnumGroupsNext(id)) order.push_back(id);
  EXPECT_EQ(order, (std::vector<int64_t>{0, 7, 42, 0x7fffffffffffLL}));
  EXPECT_EQ(KS_EnumGroupsNext(0x7fffffffffffLL), 0);
  EXPECT_EQ(KS_EnumGroupsNext(1234), 0);

  // A free-standing group is not in the table.
  HGroup* standalone = hubtest::GroupRecord().id(999).create();
  EXPECT_EQ(KS_EnumGroupsNext(42), 0x7fffffffffffLL);
  KS_ReleaseGroup(standalone);

  KS_DeleteGroup(42);
  EXPECT_EQ(changed.count(), 1u);
  EXPECT_EQ(KS_GetHandleReferenceCount(a), 2);  // the table let go
  KS_DeleteGroup(42);
  EXPECT_EQ(changed.count(), 1u);
  EXPECT_EQ(KS_EnumGroupsNext(7), 0x7fffffffffffLL);
  KS_ReleaseGroup(a);
  KS_ReleaseGroup(b);
  KS_EventUnsubscribe(s);
}

TEST_F(EntitiesTest, GroupSetOrderAndSignal) {
  HGroup* g = KS_GetGroup(5);
  Recorder r;
  Subscription* s = KS_GroupSubscribe(Recorder::callback, g, &r);
  HService* service = KS_GetPrimaryService();
  GroupData d{};
  d.size = sizeof d;
  d.mask = GROUP_NAME | GROUP_STATE | GROUP_SERVICE | GROUP_DESCRIPTION;
  d.name = "climbers";
  d.state = 1;
  d.service = service;
  d.description = "weekend trips";
  KS_SetGroupData(g, &d);
  ASSERT_EQ(r.count(), 1u);
  EXPECT_EQ(r.arguments[0], g);
  GroupData out{};
  out.size = sizeof out;
  KS_GetGroupData(g, &out);
  EXPECT_STREQ(out.name, "climbers");
  EXPECT_STREQ(out.description, "weekend trips");
  EXPECT_EQ(out.state, 1);
  EXPECT_EQ(out.service, service);
  EXPECT_EQ(KS_GetHandleReferenceCount(service), 3);
  KS_GroupUnsubscribe(s);
  KS_ReleaseGroup(g);
  KS_ReleaseService(service);
}

TEST_F(EntitiesTest, MembersHoldReferencesAndListInHandleOrder) {
  HGroup* g = KS_GetGroup(1);
  Recorder r;
  Subscription* s = KS_GroupSubscribe(Recorder::callback, g, &r);
  std::vector<HContact*> contacts;
  for (int i = 0; i < 5; ++i) contacts.push_back(makeContact(100 + i));
  for (HContact* c : contacts) KS_AddGroupMember(g, c);
  const int32_t admin = 1;
  KS_SetGroupMember(g, contacts[2], &admin);
  EXPECT_EQ(r.count(), 6u);
  EXPECT_EQ(r.arguments.back(), nullptr);
  EXPECT_EQ(KS_GetHandleReferenceCount(contacts[2]), 2);  // re-setting takes no second reference

  int32_t value = -1;
  EXPECT_EQ(KS_GetGroupMember(g, contacts[2], &value), 1);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(KS_GetGroupMember(g, contacts[2], nullptr), 1);
  HContact* stranger = makeContact(9);
  EXPECT_EQ(KS_GroupContainsMember(g, stranger), 0);

  uint32_t count = 0;
  KS_GetGroupMembers(g, nullptr, nullptr, &count);
  EXPECT_EQ(count, 5u);
  HContact* handles[5] = {};
  int32_t values[5] = {};
  count = 3;
  KS_GetGroupMembers(g, handles, values, &count);
  EXPECT_EQ(count, 3u);
  std::vector<HContact*> sorted = contacts;
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(handles[i], sorted[size_t(i)]);
  count = 10;
  HContact* more[10] = {};
  KS_GetGroupMembers(g, more, nullptr, &count);
  EXPECT_EQ(count, 5u);

  // Removing a stranger changes nothing and must not release its reference.
  size_t before = r.count();
  KS_RemoveGroupMember(g, stranger);
  EXPECT_EQ(r.count(), before);
  EXPECT_EQ(KS_GetHandleReferenceCount(stranger), 1);

  KS_RemoveGroupMember(g, contacts[0]);
  EXPECT_EQ(KS_GetHandleReferenceCount(contacts[0]), 1);
  KS_RemoveAllGroupMembers(g);
  EXPECT_EQ(r.count(), before + 2);
  for (HContact* c : contacts) EXPECT_EQ(KS_GetHandleReferenceCount(c), 1);

  for (HContact* c : contacts) KS_ReleaseContact(c);
  KS_ReleaseContact(stranger);
  KS_GroupUnsubscribe(s);
  KS_ReleaseGroup(g);
}

TEST_F(EntitiesTest, DestroyedGroupReleasesMembersAndSignalsOnceMore) {
  HGroup* g = hubtest::GroupRecord().create();
  HContact* c = makeContact(3);
  KS_AddGroupMember(g, c);
  Recorder r;
  Subscription* s = KS_GroupSubscribe(Recorder::callback, g, &r);
  KS_ReleaseGroup(g);
  ASSERT_EQ(r.count(), 1u);
  EXPECT_EQ(r.arguments[0], nullptr);
  EXPECT_EQ(KS_GetHandleReferenceCount(c), 1);
  EXPECT_EQ(s->signal(), nullptr);
  KS_GroupUnsubscribe(s);  // after the group died: frees without touching it
  KS_ReleaseContact(c);
}

TEST_F(EntitiesTest, PruneRemovesMatchingMembersFromEveryGroup) {
  HService* mine = KS_GetPrimaryService();
  ServiceData sd{};
  sd.size = sizeof sd;
  HService* bridged = KS_CreateService(&sd);
  HGroup* list = KS_GetGroup(0);
  HGroup* chat = KS_GetGroup(77);
  HContact* unknownMine = makeContact(1, 100, mine);
  HContact* onlineMine = makeContact(2, 1, mine);
  HContact* unknownBridged = makeContact(3, 100, bridged);
  for (HGroup* g : {list, chat})
    for (HContact* c : {unknownMine, onlineMine, unknownBridged}) KS_AddGroupMember(g, c);

  KS_PruneContacts(1, mine, 1, 100);
  for (HGroup* g : {list, chat}) {
    EXPECT_EQ(KS_GroupContainsMember(g, unknownMine), 0);
    EXPECT_EQ(KS_GroupContainsMember(g, onlineMine), 1);
    EXPECT_EQ(KS_GroupContainsMember(g, unknownBridged), 1);
  }
  KS_PruneContacts(0, nullptr, 1, 100);
  EXPECT_EQ(KS_GroupContainsMember(chat, unknownBridged), 0);
  KS_PruneContacts(0, nullptr, 0, 0);  // everything
  EXPECT_EQ(KS_GroupContainsMember(list, onlineMine), 0);
  EXPECT_EQ(KS_GetHandleReferenceCount(onlineMine), 1);

  for (HContact* c : {unknownMine, onlineMine, unknownBridged}) KS_ReleaseContact(c);
  KS_ReleaseGroup(list);
  KS_ReleaseGroup(chat);
  KS_ReleaseService(bridged);
  KS_ReleaseService(mine);
}

TEST_F(EntitiesTest, UnknownGroupsAreMarkedThenRemovedUnlessReportedAgain) {
  kestrum::Data* hub = fwk::Singleton<kestrum::Data>::getInstance();
  HGroup* kept = KS_GetGroup(1);
  HGroup* gone = KS_GetGroup(2);
  Recorder keptSignal, changed;
  Subscription* s1 = KS_GroupSubscribe(Recorder::callback, kept, &keptSignal);
  Subscription* s2 = KS_EventSubscribe(Recorder::callback, "groups.changed", &changed);
  hub->MarkAllGroupsUnknown();
  hub->MarkAllGroupsUnknown();  // already unknown: no second signal
  EXPECT_EQ(keptSignal.count(), 1u);

  GroupData d{};
  d.size = sizeof d;
  d.mask = GROUP_STATE;
  d.state = 0;
  KS_SetGroupData(kept, &d);  // reported again by the server
  hub->RemoveUnknownGroups();
  EXPECT_EQ(changed.count(), 1u);
  EXPECT_EQ(KS_EnumGroupsNext(1), 0);
  EXPECT_EQ(KS_GetHandleReferenceCount(gone), 1);
  hub->RemoveUnknownGroups();
  EXPECT_EQ(changed.count(), 1u);  // nothing removed, nothing raised

  KS_GroupUnsubscribe(s1);
  KS_EventUnsubscribe(s2);
  KS_ReleaseGroup(kept);
  KS_ReleaseGroup(gone);
}

TEST_F(EntitiesTest, ServicesListAndReleaseOrder) {
  Recorder r;
  ServiceData d{};
  d.size = sizeof d;
  d.mask = SERVICE_USERNAME | SERVICE_PASSWORD | SERVICE_STATE | SERVICE_ICON;
  d.userName = "me@example.org";
  d.password = "secret";
  d.state = 1;
  d.iconModule = reinterpret_cast<HMODULE>(0x1000);
  d.iconResource = MAKEINTRESOURCE(12);
  HService* a = KS_CreateService(&d);
  Subscription* s = KS_ServiceSubscribe(Recorder::callback, a, &r);
  ServiceData change{};
  change.size = sizeof change;
  change.mask = SERVICE_TEXT24 | SERVICE_SIGNINREQUESTED;
  change.text24 = "busy";
  change.signInRequested = 1;
  KS_SetServiceData(a, &change);
  ASSERT_EQ(r.count(), 1u);
  EXPECT_EQ(r.arguments[0], a);
  ServiceData out{};
  out.size = sizeof out;
  KS_GetServiceData(a, &out);
  EXPECT_STREQ(out.userName, "me@example.org");
  EXPECT_STREQ(out.password, "secret");
  EXPECT_STREQ(out.text24, "busy");
  EXPECT_EQ(out.signInRequested, 1);
  EXPECT_EQ(out.iconResource, MAKEINTRESOURCE(12));

  HService* b = KS_CreateService(&d);
  HService* primary = KS_GetPrimaryService();
  EXPECT_EQ(KS_GetPrimaryService(), primary);
  KS_ReleaseService(primary);

  int count = 0;
  KS_GetServices(nullptr, &count);
  EXPECT_EQ(count, 3);
  HService* list[2] = {};
  count = 2;  // capacity: never written past
  KS_GetServices(list, &count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(list[0], a);
  EXPECT_EQ(list[1], b);
  EXPECT_EQ(KS_GetHandleReferenceCount(a), 2);
  KS_ReleaseService(list[0]);
  KS_ReleaseService(list[1]);

  KS_ServiceUnsubscribe(s);
  KS_ReleaseService(a);  // last reference: leaves the list
  HService* rest[4] = {};
  count = 4;
  KS_GetServices(rest, &count);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(rest[0], b);
  EXPECT_EQ(rest[1], primary);
  for (int i = 0; i < count; ++i) KS_ReleaseService(rest[i]);
  KS_ReleaseService(b);
  KS_ReleaseService(primary);
}

namespace {
std::vector<HService*> listedServices() {
  int count = 0;
  KS_GetServices(nullptr, &count);
  std::vector<HService*> list(size_t(count) + 1);
  count = int(list.size());
  KS_GetServices(list.data(), &count);  // reads every listed cell
  list.resize(size_t(count));
  for (HService* s : list) KS_ReleaseService(s);
  return list;
}
}  // namespace

TEST_F(EntitiesTest, ServiceLeavesTheListWhoeverDropsItsLastReference) {
  ServiceData d{};
  d.size = sizeof d;
  HService* kept = KS_CreateService(&d);

  HService* byContact = KS_CreateService(&d);
  HContact* c = makeContact(1, 1, byContact);
  KS_ReleaseService(byContact);  // the contact holds the last reference
  EXPECT_EQ(listedServices(), (std::vector<HService*>{kept, byContact}));
  KS_ReleaseContact(c);
  EXPECT_EQ(listedServices(), (std::vector<HService*>{kept}));

  HService* byGroup = KS_CreateService(&d);
  HGroup* g = hubtest::GroupRecord().service(byGroup).create();
  KS_ReleaseService(byGroup);
  KS_ReleaseGroup(g);
  EXPECT_EQ(listedServices(), (std::vector<HService*>{kept}));

  HService* replaced = KS_CreateService(&d);
  c = makeContact(2, 1, replaced);
  KS_ReleaseService(replaced);
  hubtest::ContactRecord().service(kept).applyTo(c);  // drops the old service's last reference
  EXPECT_EQ(listedServices(), (std::vector<HService*>{kept}));
  KS_ReleaseContact(c);

  // A service that outlives the hub is released without touching any list.
  KS_API_Cleanup();
  EXPECT_EQ(KS_GetHandleReferenceCount(kept), 1);
  KS_ReleaseService(kept);
  EXPECT_TRUE(listedServices().empty());
}

TEST_F(EntitiesTest, ServiceTypesStoreKindAlwaysAndStayListed) {
  ServiceTypeData d{};
  d.size = sizeof d;
  d.mask = SERVICETYPE_LONGNAME | SERVICETYPE_SHORTNAME;
  d.longName = "Windows Live Messenger";
  d.shortName = "MSN";
  d.kind = 3;
  HServiceType* msn = KS_CreateServiceType(&d);
  ServiceTypeData kindOnly{};
  kindOnly.size = sizeof kindOnly;
  kindOnly.mask = 0;
  kindOnly.kind = 9;
  kindOnly.longName = "ignored";
  KS_SetServiceTypeData(msn, &kindOnly);
  EXPECT_EQ(msn->entity->kind, 9);
  ServiceTypeData out{};
  out.size = sizeof out;
  out.kind = -1;
  KS_GetServiceTypeData(msn, &out);
  EXPECT_STREQ(out.longName, "Windows Live Messenger");
  EXPECT_EQ(out.kind, -1);  // kind is never returned

  HServiceType* icq = KS_CreateServiceType(&d);
  KS_ReleaseServiceType(icq);
  HServiceType* types[1] = {};
  int count = 1;
  KS_GetServiceTypes(types, &count);
  EXPECT_EQ(count, 1);
  count = 0;
  KS_GetServiceTypes(nullptr, &count);
  EXPECT_EQ(count, 2);  // a released type stays listed
  HServiceType* all[2] = {};
  count = 2;
  KS_GetServiceTypes(all, &count);
  EXPECT_EQ(all[1], icq);
  EXPECT_EQ(KS_GetHandleReferenceCount(msn), 1);  // listing adds no reference
  KS_ReleaseServiceType(msn);
}
