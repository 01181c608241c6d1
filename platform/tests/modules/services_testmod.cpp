// A plug-in-like library for the module tests: one plain export and its own
// resources.
extern "C" __attribute__((visibility("default"))) int services_answer() { return 42; }

#include <string>

#include "platform/resources.h"

// Finds its own string table without being told its handle.
extern "C" __attribute__((visibility("default"))) const char* services_own_string() {
  static std::string text = platform::loadStringUtf8(platform::currentModule(), 200);
  return text.c_str();
}
