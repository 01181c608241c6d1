// The two entry points the host looks up in a plug-in library. A plug-in
// names its class once, at namespace scope in one source file:
//
//   OLVARO_PLUGIN(messaging::MessagingPlugin)
//
// PluginLoad makes the one object (for the host's interface version only)
// and hands it out, again on a second call; PluginUnload deletes it.
#pragma once

#include "olvaro/api.h"

namespace olvaro {

// The interface version the host offers and the plug-ins accept.
inline constexpr int kPluginInterfaceVersion = 5;

template <class P>
struct PluginInstance {
  static inline P* object = nullptr;
};

template <class P>
int loadPlugin(int version, kestrum::Plugin** out) {
  if (out) *out = nullptr;
  if (version != kPluginInterfaceVersion || !out) return 0;
  if (!PluginInstance<P>::object) PluginInstance<P>::object = new P();
  *out = PluginInstance<P>::object;
  return 1;
}

template <class P>
int unloadPlugin() {
  delete PluginInstance<P>::object;
  PluginInstance<P>::object = nullptr;
  return 0;
}

}  // namespace olvaro

#define OLVARO_PLUGIN(Class)                                                                        \
  extern "C" __attribute__((visibility("default"))) int PluginLoad(int version, kestrum::Plugin** out) { \
    return ::olvaro::loadPlugin<Class>(version, out);                                               \
  }                                                                                                 \
  extern "C" __attribute__((visibility("default"))) int PluginUnload() { return ::olvaro::unloadPlugin<Class>(); }
