// Every hub test starts on a fresh hub over a fresh platform session (a
// configuration folder of its own, the headless screen, the hand-run
// clock), and tears the hub down afterwards so leaks show under the
// sanitizers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "olvaro/api.h"
#include "platform/registry.h"
#include "testkit/testkit.h"

namespace hubtest {

class HubTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    testkit::PlatformTest::SetUp();
    KS_API_Cleanup();
    // Nothing the last hub wrote out is read back by this one.
    platform::registryReset();
  }
  void TearDown() override {
    KS_API_Cleanup();
    testkit::PlatformTest::TearDown();
  }
  // The test's configuration folder.
  const std::string& home() { return session().home(); }
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

}  // namespace hubtest
