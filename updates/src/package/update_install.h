// Installing a package into the program folder.
//
// Nothing is written until the package is known to fit this folder: its body
// is the one the signed manifest names, every source is the file the manifest
// expects, every result is newer than what it replaces and within the size
// bounds. Every target is then written as "<name>.new", flushed and checked
// against its digest and stamp before anything is renamed; the swap itself
// goes through the install journal (install_journal.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "update_manifest.h"

namespace updates {

enum class InstallResult {
  Installed,
  BadPackage,     // malformed, a copy outside its source, or not the body the manifest names
  MapFailed,      // a source could not be mapped
  OutputFailed,   // a ".new" file could not be made or written
  InstallFailed,  // a link, the journal or a rename failed; what was done is undone
  WrongSources,   // made for other files than the ones installed
  NotNewer,       // would put back a build as old as the installed one, or older
  WrongResult,    // rebuilt something other than what the manifest names
  TooLarge,       // results past the bounds below
  NoSpace,        // the folder's file system cannot hold the results
};

// A package of short copies can make far more than it carries.
inline constexpr uint64_t kMaxResultFile = uint64_t(64) << 20;
inline constexpr uint64_t kMaxResultTotal = uint64_t(256) << 20;

struct InstallOptions {
  // False skips flushing to disk (only to measure the rest against tools
  // that do not flush).
  bool durable = true;
  // For tests: runs before each step that changes the folder, numbered from
  // 0; false makes that step fail.
  std::function<bool(int)> beforeStep;
};

// Installs the package into `folder`. On any failure the folder holds what
// it held before. `manifest` must already have been checked against the
// built-in key.
InstallResult installPackage(const std::string& folder, const Manifest& manifest, const uint8_t* data, size_t size,
                             const InstallOptions& options = {});

}  // namespace updates
