// The registry file reader: any bytes must parse without crashing, within
// bounds, and whatever was read must write out and read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "registry_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::RegHive hive;
  platform::parseHive(std::string_view(reinterpret_cast<const char*>(data), size), &hive);
  std::string text = platform::serializeHive(hive);
  platform::RegHive again;
  if (!platform::parseHive(text, &again)) std::abort();
  if (platform::serializeHive(again) != text) std::abort();
  return 0;
}
