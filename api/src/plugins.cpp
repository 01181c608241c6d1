#include "hub.h"

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
  auto& plugins = tables().plugins;
  for (size_t i = 0; i < plugins.size(); ++i)
    if (plugins[i]->state == 1) plugins[i]->Stop();
}

KS_API uint32_t KS_GetLUID() { return hub().getLUID(); }

KS_API void KS_AudioLock() { tables().audioLock.lock(); }
KS_API int KS_AudioTryLock() { return tables().audioLock.try_lock() ? 1 : 0; }
KS_API void KS_AudioUnlock() { tables().audioLock.unlock(); }

KS_API void KS_ReportBug() {}

KS_API void KS_API_Cleanup() {
  if (fwk::Singleton<Data>::hasInstance()) fwk::Singleton<Data>::deleteInstance();
}
