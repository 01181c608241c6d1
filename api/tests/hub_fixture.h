// Every hub test starts on a fresh hub and a fresh configuration folder, and
// tears the hub down afterwards so leaks show under the sanitizers.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "entities.h"  // white-box checks of capacity and stored kind
#include "olvaro/api.h"
#include "platform/registry.h"

class HubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KS_API_Cleanup();
    char pattern[] = "/tmp/olvaro-hub-XXXXXX";
    home_ = mkdtemp(pattern);
    setenv("OLVARO_HOME", home_.c_str(), 1);
    platform::registryReset();
  }
  void TearDown() override {
    KS_API_Cleanup();
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }
  std::string home_;
};

// Records every call of a hub callback.
struct Recorder {
  std::vector<void*> arguments;
  static uint32_t callback(void* user, void* argument) {
    static_cast<Recorder*>(user)->arguments.push_back(argument);
    return 7;
  }
  size_t count() const { return arguments.size(); }
};

inline HContact* makeContact(int64_t id, int32_t onlineStatus = 1, HService* service = nullptr) {
  ContactData d{};
  d.size = sizeof d;
  d.mask = CONTACT_ID | CONTACT_ONLINESTATUS | (service ? uint32_t(CONTACT_SERVICE) : 0u);
  d.id = id;
  d.onlineStatus = onlineStatus;
  d.service = service;
  return KS_CreateContact(&d);
}
