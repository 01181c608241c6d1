// A module's build stamp: seconds since 1970 of its link, 0 when unknown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace updates {

// An executable image ("MZ") gives its link time stamp; an ELF file the
// "Olvaro" note of type 1 found through its program headers. Anything short,
// truncated or lying gives 0.
uint32_t buildStampOf(const uint8_t* data, size_t size);
// Reads the file (at most what the stamp needs) and closes it in every case.
uint32_t readBuildStamp(const std::string& path);

}  // namespace updates
