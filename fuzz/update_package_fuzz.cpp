// Arbitrary update packages against three fixed sources: reading, checking
// and running the operations never touch memory outside the body, the
// sources or the output. The same bytes go through the stamp reader and the
// HTTP response reader, and as a manifest (base64 or not) through the
// manifest reader, which must give back exactly the bytes it read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "build_stamp.h"
#include "http_message.h"
#include "update_manifest.h"
#include "update_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact-size heap blocks, so a read one past a source's end is caught.
  static const std::vector<std::vector<uint8_t>> kSources = {
      std::vector<uint8_t>(1, 'a'), std::vector<uint8_t>(100, 'b'), std::vector<uint8_t>(4096, 'c')};
  std::vector<const uint8_t*> sources;
  std::vector<size_t> sizes;
  for (const auto& s : kSources) {
    sources.push_back(s.data());
    sizes.push_back(s.size());
  }
  std::vector<uint8_t> body(data, data + size);
  updates::PackageView package;
  if (updates::parsePackage(body.data(), body.size(), &package)) {
    for (const auto& entry : package.entries) {
      uint64_t expected = 0;
      if (!updates::checkOperations(entry, sizes, &expected) || expected > (1u << 20)) continue;
      std::vector<uint8_t> out;
      out.reserve(size_t(expected));
      updates::runOperations(entry, sources, [&](const uint8_t* p, size_t n) {
        out.insert(out.end(), p, p + n);
        return true;
      });
      if (out.size() != expected) __builtin_trap();
    }
  }
  updates::Manifest manifest;
  if (updates::readManifest(body.data(), body.size(), &manifest) &&
      updates::writeManifest(manifest) != std::string(body.begin(), body.end()))
    __builtin_trap();
  std::string decoded;
  if (updates::fromBase64(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()), &decoded))
    updates::readManifest(reinterpret_cast<const uint8_t*>(decoded.data()), decoded.size(), &manifest);
  updates::buildStampOf(body.data(), body.size());
  updates::ResponseReader reader;
  reader.feed(reinterpret_cast<const char*>(body.data()), body.size() / 2);
  reader.feed(reinterpret_cast<const char*>(body.data()) + body.size() / 2, body.size() - body.size() / 2);
  reader.close();
  return 0;
}
