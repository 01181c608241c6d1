// Shared set-up of the service tests: a fresh configuration folder per test
// and the clock run by hand.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/text.h"

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/olvaro-services-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    setenv("OLVARO_HOME", home_.c_str(), 1);
    platform::registryReset();
    platform::clockSetManual(1200000000000LL);
  }
  void TearDown() override {
    platform::clockSetReal();
    platform::registryReset();
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
    unsetenv("OLVARO_HOME");
  }
  std::u16string wide(const std::string& s) const { return platform::widen(s); }
  std::string home_;
};
