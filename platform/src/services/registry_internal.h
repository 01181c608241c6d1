// Test hooks of the registry.
#pragma once

#include <string>

namespace platform {

// The hive file of HKEY_CURRENT_USER (0) or HKEY_LOCAL_MACHINE (1).
std::string registryHiveFile(int hive);
// Makes the process end (exit code 3) after the next hive write has
// reached its temporary file and before the rename: a crash in the middle.
void registryCrashBeforeRename(bool on);

}  // namespace platform
