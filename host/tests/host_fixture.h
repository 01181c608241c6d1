// The helpers the host's tests share, over the hub test kit's fresh hub.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "hubtest/hub_test.h"
#include "olvaro/api.h"

// Records the names the test plug-ins report when they start and stop.
struct PluginLog {
  std::vector<std::string> entries;
  Subscription* start = nullptr;
  Subscription* stop = nullptr;
  PluginLog() {
    start = KS_EventSubscribe(&PluginLog::onStart, "hosttest.plugin.start", this);
    stop = KS_EventSubscribe(&PluginLog::onStop, "hosttest.plugin.stop", this);
  }
  ~PluginLog() {
    KS_EventUnsubscribe(start);
    KS_EventUnsubscribe(stop);
  }
  static uint32_t onStart(void* user, void* name) {
    static_cast<PluginLog*>(user)->entries.push_back(std::string("start ") + static_cast<const char*>(name));
    return 0;
  }
  static uint32_t onStop(void* user, void* name) {
    static_cast<PluginLog*>(user)->entries.push_back(std::string("stop ") + static_cast<const char*>(name));
    return 0;
  }
};

// A program folder of its own holding copies of chosen test plug-ins.
inline std::string makeProgramFolder(const std::string& home, const std::vector<std::string>& plugins) {
  std::string folder = home + "/program/";
  std::filesystem::create_directories(folder);
  for (const auto& name : plugins)
    std::filesystem::copy_file(std::string(HOST_TEST_PLUGIN_DIR) + name, folder + name,
                               std::filesystem::copy_options::overwrite_existing);
  return folder;
}
