#include "hub.h"

using namespace kestrum;

namespace {

Data::Impl::Queue* findQueue(void* key, int isGroup) {
  auto& map = isGroup ? tables().unreadGroups : tables().unreadContacts;
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

template <class H>
void listKeys(H** out, uint32_t* inoutCount, const std::map<void*, Data::Impl::Queue>& map) {
  if (!inoutCount) return;
  uint32_t capacity = out ? *inoutCount : 0;
  uint32_t written = 0;
  for (auto it = map.begin(); it != map.end() && written < capacity; ++it)
    if (!it->second.empty()) out[written++] = static_cast<H*>(it->first);
  *inoutCount = written;
}

}  // namespace

KS_API void KS_UnreadMessageAdd(HMessage* h) {
  if (!h) return;
  duplicateHandle(h);
  const Message& m = *h->entity;
  auto& t = tables();
  if (m.isGroup == 1)
    t.unreadGroups[m.target].push_back(h);
  else
    t.unreadContacts[m.contact].push_back(h);
  ++t.unreadTotal;
  t.publishUnreadTotal();
}

KS_API int KS_GetUnreadMessageCount(void* key, int isGroup) {
  const auto* queue = findQueue(key, isGroup);
  return queue ? static_cast<int>(queue->size()) : 0;
}

KS_API void KS_GetUnreadMessageHandles(void* key, int isGroup, HMessage** out, uint32_t* inoutCount) {
  if (!inoutCount) return;
  uint32_t capacity = out ? *inoutCount : 0;
  *inoutCount = 0;
  auto& t = tables();
  auto& map = isGroup ? t.unreadGroups : t.unreadContacts;
  auto it = map.find(key);
  if (it == map.end()) return;
  Data::Impl::Queue queue = std::move(it->second);
  map.erase(it);
  t.unreadTotal -= static_cast<int32_t>(queue.size());
  uint32_t written = 0;
  for (HMessage* m : queue) {
    if (written < capacity)
      out[written++] = m;  // the store's reference passes to the caller
    else
      releaseHandle(m);
  }
  *inoutCount = written;
  t.publishUnreadTotal();
}

KS_API void KS_GetUnreadGroups(HGroup** out, uint32_t* inoutCount) {
  listKeys(out, inoutCount, tables().unreadGroups);
}

KS_API void KS_GetUnreadContacts(HContact** out, uint32_t* inoutCount) {
  listKeys(out, inoutCount, tables().unreadContacts);
}
