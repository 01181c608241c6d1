#pragma once
// A built plug-in loaded as the host loads it, for the plug-ins' own tests.
#include <gtest/gtest.h>

#include <string>

#include "olvaro/api.h"
#include "platform/module.h"
#include "testkit/testkit.h"

namespace hubtest {

// Loads the plug-in at `path` and checks the contract every plug-in keeps:
// it exports PluginLoad and PluginUnload, refuses interface version 4 with no
// plug-in, accepts version 5, and hands out the same plug-in when asked
// again. Returns it, or null after recording the failure. The library stays
// loaded; `library` receives it for reading its resources.
inline kestrum::Plugin* loadAsHost(const std::string& path, HMODULE* library = nullptr) {
  using LoadFn = int (*)(int, kestrum::Plugin**);
  HMODULE module = LoadLibrary(testkit::wide(path).c_str());
  if (library) *library = module;
  if (!module) {
    ADD_FAILURE() << "cannot load " << path;
    return nullptr;
  }
  auto load = reinterpret_cast<LoadFn>(GetProcAddress(module, "PluginLoad"));
  if (!load || !GetProcAddress(module, "PluginUnload")) {
    ADD_FAILURE() << path << " lacks PluginLoad or PluginUnload";
    return nullptr;
  }
  kestrum::Plugin* refused = reinterpret_cast<kestrum::Plugin*>(1);
  EXPECT_EQ(load(4, &refused), 0) << "interface version 4";
  EXPECT_EQ(refused, nullptr) << "a refusal gives no plug-in";
  kestrum::Plugin* plugin = nullptr;
  if (load(5, &plugin) != 1 || !plugin) {
    ADD_FAILURE() << path << " refuses interface version 5";
    return nullptr;
  }
  kestrum::Plugin* again = nullptr;
  EXPECT_EQ(load(5, &again), 1);
  EXPECT_EQ(again, plugin) << "one plug-in per library";
  return plugin;
}

}  // namespace hubtest
