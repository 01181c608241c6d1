#include <set>
#include <unordered_map>

#include "hub.h"
#include "olvaro/menu_commands.h"
#include "platform/module.h"

namespace kestrum {

void Data::Impl::dropCallbacksInto(HMODULE module) {
  std::unordered_map<const void*, bool> inModule;  // one look-up per distinct callback
  auto lies = [&](HubCallback f) {
    if (!f) return false;
    const void* address = reinterpret_cast<const void*>(f);
    auto [it, fresh] = inModule.try_emplace(address, false);
    if (fresh) it->second = platform::moduleOfAddress(address) == module;
    return it->second;
  };
  auto drop = [&](fwk::SignalBase& signal) { signal.detachIf([&](Subscription* s) { return lies(s->callback()); }); };

  for (auto& [name, e] : events) drop(*e);
  for (auto& [name, v] : variants) drop(v->signal());
  for (auto& [name, s] : settings) drop(s->signal());
  for (HService* s : services) drop(s->entity->signal);

  // Entities reachable from the hub's tables: the groups, their members and
  // the queued messages with their senders and conversations.
  std::set<HGroup*> reachedGroups;
  std::set<HContact*> reachedContacts;
  for (auto& [id, g] : groups) reachedGroups.insert(g);
  for (auto* map : {&unreadGroups, &unreadContacts}) {
    for (auto& [key, queue] : *map) {
      for (HMessage* m : queue) {
        const Message& message = *m->entity;
        drop(m->entity->signal);
        if (message.contact) reachedContacts.insert(message.contact);
        if (!message.target) continue;
        if (message.targetHeldAsGroup)
          reachedGroups.insert(static_cast<HGroup*>(message.target));
        else
          reachedContacts.insert(static_cast<HContact*>(message.target));
      }
    }
  }
  for (HGroup* g : reachedGroups) {
    drop(g->entity->signal);
    for (auto& [c, value] : g->entity->members) reachedContacts.insert(c);
  }
  for (HContact* c : reachedContacts) drop(c->entity->signal);

  for (auto it = functions.begin(); it != functions.end();) {
    if (lies(it->second.function))
      it = functions.erase(it);
    else
      ++it;
  }
}

}  // namespace kestrum

using namespace kestrum;

KS_API void KS_PluginAdd(Plugin* plugin) {
  if (plugin) tables().plugins.push_back(plugin);
}

KS_API void KS_PluginStartAll() {
  // By index: a Start may add further plug-ins.
  auto& plugins = tables().plugins;
  for (size_t i = 0; i < plugins.size(); ++i) plugins[i]->Start();
}

KS_API void KS_PluginStopAll() {
  for (size_t i = 0; i < tables().plugins.size(); ++i) {
    Plugin* plugin = tables().plugins[i];
    if (plugin->state != 1) continue;
    plugin->Stop();
    // What a plug-in forgot to remove must not call into code that stopped.
    if (plugin->module && fwk::Singleton<Data>::hasInstance()) tables().dropCallbacksInto(plugin->module);
  }
}

KS_API uint32_t KS_GetLUID() { return hub().getLUID(); }

// Ids go round the pool so that one just freed is not handed out again at
// once (a late command for a menu that is gone then matches nothing).
KS_API uint32_t KS_NewMenuCommand() {
  constexpr uint32_t kSize = olvaro::kLastPluginCommand - olvaro::kFirstPluginCommand + 1;
  auto& held = tables().menuCommandsHeld;
  if (held.empty()) held.assign(kSize, false);
  for (uint32_t tried = 0; tried < kSize; ++tried) {
    uint32_t at = tables().nextMenuCommand;
    tables().nextMenuCommand = (at + 1) % kSize;
    if (held[at]) continue;
    held[at] = true;
    return olvaro::kFirstPluginCommand + at;
  }
  return 0;
}

KS_API void KS_FreeMenuCommand(uint32_t id) {
  if (!fwk::Singleton<Data>::hasInstance()) return;
  auto& held = tables().menuCommandsHeld;
  if (id < olvaro::kFirstPluginCommand || id > olvaro::kLastPluginCommand || held.empty()) return;
  held[id - olvaro::kFirstPluginCommand] = false;
}

KS_API void KS_AudioLock() { tables().audioLock.lock(); }
KS_API int KS_AudioTryLock() { return tables().audioLock.try_lock() ? 1 : 0; }
KS_API void KS_AudioUnlock() { tables().audioLock.unlock(); }

KS_API void KS_ReportBug() {}

KS_API void KS_API_Cleanup() {
  if (fwk::Singleton<Data>::hasInstance()) fwk::Singleton<Data>::deleteInstance();
}
