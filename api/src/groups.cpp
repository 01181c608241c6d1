#include "hub.h"

namespace kestrum {

void Group::removeAllMembers() {
  auto old = std::move(members);
  members.clear();
  for (auto& [contact, value] : old) releaseHandle(contact);
}

Group::~Group() {
  // Subscribers see one last change with the members gone.
  removeAllMembers();
  signal.raise(nullptr);
  HService* s = service;
  service = nullptr;
  releaseHandle(s);
}

HGroup* Data::getGroup(int64_t id) {
  auto& groups = m_impl->groups;
  auto it = groups.find(id);
  if (it != groups.end()) return it->second;
  auto* g = new Group;
  g->id = id;
  return groups.emplace(id, newHandle(g)).first->second;
}

void Data::MarkAllGroupsUnknown() {
  // Collect first: a callback may change the table.
  std::vector<HGroup*> changed;
  for (auto& [id, g] : m_impl->groups)
    if (g->entity->state != 100) changed.push_back(duplicateHandle(g));
  for (HGroup* g : changed) {
    g->entity->state = 100;
    g->entity->signal.raise(nullptr);
    releaseHandle(g);
  }
}

void Data::RemoveUnknownGroups() {
  std::vector<HGroup*> removed;
  auto& groups = m_impl->groups;
  for (auto it = groups.begin(); it != groups.end();) {
    if (it->second->entity->state == 100) {
      removed.push_back(it->second);
      it = groups.erase(it);
    } else {
      ++it;
    }
  }
  for (HGroup* g : removed) releaseHandle(g);
  if (!removed.empty()) KS_EventRaise("groups.changed", nullptr);
}

}  // namespace kestrum

using namespace kestrum;

KS_API HGroup* KS_CreateGroup(const GroupData* data) {
  HGroup* h = newHandle(new Group);
  KS_SetGroupData(h, data);
  return h;
}

KS_API HGroup* KS_GetGroup(int64_t id) { return duplicateHandle(hub().getGroup(id)); }

KS_API HGroup* KS_FindGroup(int64_t id) {
  auto& groups = tables().groups;
  auto it = groups.find(id);
  return it == groups.end() ? nullptr : duplicateHandle(it->second);
}

KS_API void KS_SetGroupData(HGroup* h, const GroupData* d) {
  if (!h || !d) return;
  HandleGuard<Group> guard(h);
  Group& g = *h->entity;
  if (d->mask & GROUP_NAME) g.name = copyText(d->name);
  if (d->mask & GROUP_STATE) g.state = d->state;
  if (d->mask & GROUP_SERVICE) replaceHandle(g.service, d->service);
  if (d->mask & GROUP_ID) g.id = d->id;
  if (d->mask & GROUP_DESCRIPTION) g.description = copyText(d->description);
  g.signal.raise(h);
}

KS_API void KS_GetGroupData(HGroup* h, GroupData* out) {
  if (!h || !out) return;
  const Group& g = *h->entity;
  out->service = g.service;
  out->id = g.id;
  out->name = g.name.c_str();
  out->state = g.state;
  out->description = g.description.c_str();
}

KS_API int64_t KS_GetGroupID(HGroup* h) { return h ? h->entity->id : 0; }
KS_API HGroup* KS_DuplicateGroupHandle(HGroup* h) { return duplicateHandle(h); }
KS_API void KS_ReleaseGroup(HGroup* h) { releaseHandle(h); }

KS_API void KS_DeleteGroup(int64_t id) {
  auto& groups = tables().groups;
  auto it = groups.find(id);
  if (it == groups.end()) return;
  HGroup* g = it->second;
  groups.erase(it);
  releaseHandle(g);
  KS_EventRaise("groups.changed", nullptr);
}

KS_API int KS_EnumGroupsBegin(int64_t* outId) {
  auto& groups = tables().groups;
  if (groups.empty()) return 0;
  if (outId) *outId = groups.begin()->first;
  return 1;
}

KS_API int64_t KS_EnumGroupsNext(int64_t id) {
  auto& groups = tables().groups;
  auto it = groups.find(id);
  if (it == groups.end() || ++it == groups.end()) return 0;
  return it->first;
}

KS_API Subscription* KS_GroupSubscribe(HubCallback callback, HGroup* h, void* user) {
  return h ? subscribe(h->entity->signal, callback, user) : nullptr;
}

// ---- members -----------------------------------------------------------------

KS_API void KS_AddGroupMember(HGroup* g, HContact* c) {
  const int32_t zero = 0;
  KS_SetGroupMember(g, c, &zero);
}

KS_API void KS_SetGroupMember(HGroup* g, HContact* c, const int32_t* value) {
  if (!g || !c) return;
  HandleGuard<Group> guard(g);
  auto& members = g->entity->members;
  auto it = members.find(c);
  if (it == members.end()) it = members.emplace(duplicateHandle(c), 0).first;
  it->second = value ? *value : 0;
  g->entity->signal.raise(nullptr);
}

KS_API int KS_GetGroupMember(HGroup* g, HContact* c, int32_t* outValue) {
  if (!g) return 0;
  auto& members = g->entity->members;
  auto it = members.find(c);
  if (it == members.end()) return 0;
  if (outValue) *outValue = it->second;
  return 1;
}

KS_API int KS_GroupContainsMember(HGroup* g, HContact* c) { return KS_GetGroupMember(g, c, nullptr); }

KS_API void KS_RemoveGroupMember(HGroup* g, HContact* c) {
  if (!g) return;
  auto& members = g->entity->members;
  auto it = members.find(c);
  // Removing a contact that is not a member changes nothing; releasing a
  // reference the group never took would destroy someone else's contact.
  if (it == members.end()) return;
  HandleGuard<Group> guard(g);
  members.erase(it);
  releaseHandle(c);
  g->entity->signal.raise(nullptr);
}

KS_API void KS_RemoveAllGroupMembers(HGroup* g) {
  if (!g) return;
  HandleGuard<Group> guard(g);
  g->entity->removeAllMembers();
  g->entity->signal.raise(nullptr);
}

KS_API void KS_GetGroupMembers(HGroup* g, HContact** outHandles, int32_t* outValues, uint32_t* inoutCount) {
  if (!inoutCount) return;
  if (!g) {
    *inoutCount = 0;
    return;
  }
  const auto& members = g->entity->members;
  if (*inoutCount == 0) {
    *inoutCount = static_cast<uint32_t>(members.size());
    return;
  }
  uint32_t written = 0;
  for (auto it = members.begin(); it != members.end() && written < *inoutCount; ++it, ++written) {
    if (outHandles) outHandles[written] = it->first;
    if (outValues) outValues[written] = it->second;
  }
  *inoutCount = written;
}

KS_API void KS_PruneContacts(int matchService, HService* service, int matchStatus, int32_t onlineStatus) {
  // Snapshot the groups: a group's signal may change the table.
  std::vector<HGroup*> groups;
  for (auto& [id, g] : tables().groups) groups.push_back(duplicateHandle(g));
  for (HGroup* g : groups) {
    std::vector<HContact*> doomed;
    for (auto& [c, value] : g->entity->members) {
      const Contact& contact = *c->entity;
      if ((!matchService || contact.service == service) && (!matchStatus || contact.onlineStatus == onlineStatus))
        doomed.push_back(c);
    }
    for (HContact* c : doomed) KS_RemoveGroupMember(g, c);
    releaseHandle(g);
  }
}
