// The few file operations the installer and its start-up recovery share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "update_manifest.h"

namespace updates {

// A file mapped read-only; unmapped when it goes.
struct Mapping {
  const uint8_t* data = nullptr;
  size_t size = 0;
  void* base = nullptr;
  Mapping() = default;
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping();
};

// False when it is not a regular file or cannot be mapped; an empty file
// maps to no bytes.
bool mapReadOnly(const std::string& path, Mapping* m);
// The digest of a file's bytes; false when it cannot be read.
bool digestFile(const std::string& path, Digest* out);
bool writeAll(int fd, const uint8_t* data, size_t size);
// Makes the renames and links in a folder durable.
void syncFolder(const std::string& folder);
// Whether anything (a link included) has that name.
bool exists(const std::string& path);

}  // namespace updates
