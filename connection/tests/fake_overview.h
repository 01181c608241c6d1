// The connection's tests use the hub test kit's overview stand-in.
#pragma once

#include "hubtest/fake_overview.h"

namespace conntest {
using Overview = hubtest::FakeOverview;
}  // namespace conntest
