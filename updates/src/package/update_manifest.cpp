#include "update_manifest.h"

#include <cstring>

#include "http_message.h"
#include "update_package.h"

namespace updates {

static_assert(sizeof kManifestHeader + 2 + (kMaxManifest + 2) / 3 * 4 < ResponseReader::kMaxLine,
              "a manifest must fit in one header line");

namespace {

constexpr char kMagic[] = "OLVM\x01";  // with the version byte, 5 bytes
constexpr size_t kMagicSize = sizeof kMagic - 1;

void putName(std::string* out, const std::string& name) {
  out->append(name);
  out->push_back('\0');
}

void putDigest(std::string* out, const Digest& d) { out->append(reinterpret_cast<const char*>(d.data()), d.size()); }

// Reads forward through the manifest; every read checks what is left.
struct Cursor {
  const uint8_t* p;
  const uint8_t* end;
  bool name(std::string* out) {
    const auto* nul = static_cast<const uint8_t*>(std::memchr(p, 0, size_t(end - p)));
    if (!nul) return false;
    out->assign(reinterpret_cast<const char*>(p), size_t(nul - p));
    p = nul + 1;
    return isPlainFileName(*out);
  }
  bool digest(Digest* out) {
    if (size_t(end - p) < out->size()) return false;
    std::memcpy(out->data(), p, out->size());
    p += out->size();
    return true;
  }
  bool number(int width, uint32_t* out) {
    if (end - p < width) return false;
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) v = v << 8 | *p++;
    *out = v;
    return true;
  }
};

}  // namespace

Digest digestOf(const uint8_t* data, size_t size) {
  DigestStream stream;
  stream.add(data, size);
  return stream.finish();
}

DigestStream::DigestStream() {
  // Picks the fastest BLAKE2b code; should it fail, the portable code runs.
  [[maybe_unused]] int ready = sodium_init();
  crypto_generichash_init(&state_, nullptr, 0, crypto_generichash_BYTES);
}

void DigestStream::add(const uint8_t* data, size_t size) {
  if (size) crypto_generichash_update(&state_, data, size);
}

Digest DigestStream::finish() {
  Digest out{};
  crypto_generichash_final(&state_, out.data(), out.size());
  return out;
}

std::string writeManifest(const Manifest& manifest) {
  std::string out(kMagic, kMagicSize);
  putDigest(&out, manifest.package);
  out.push_back(char(manifest.sources.size()));
  for (const ManifestSource& s : manifest.sources) {
    putName(&out, s.name);
    putDigest(&out, s.digest);
  }
  out.push_back(char(manifest.targets.size() >> 8));
  out.push_back(char(manifest.targets.size()));
  for (const ManifestTarget& t : manifest.targets) {
    putName(&out, t.name);
    putBigEndian32(&out, t.stamp);
    putDigest(&out, t.digest);
  }
  return out;
}

bool readManifest(const uint8_t* data, size_t size, Manifest* out) {
  *out = Manifest();
  if (!data || size < kMagicSize || std::memcmp(data, kMagic, kMagicSize) != 0) return false;
  Cursor c{data + kMagicSize, data + size};
  uint32_t count = 0;
  if (!c.digest(&out->package) || !c.number(1, &count)) return false;
  out->sources.resize(count);
  for (ManifestSource& s : out->sources)
    if (!c.name(&s.name) || !c.digest(&s.digest)) return false;
  if (!c.number(2, &count)) return false;
  // Each target takes at least 38 bytes: a count past what is left is a lie.
  if (count > size_t(c.end - c.p) / 38) return false;
  out->targets.resize(count);
  for (ManifestTarget& t : out->targets)
    if (!c.name(&t.name) || !c.number(4, &t.stamp) || !c.digest(&t.digest)) return false;
  return c.p == c.end;
}

std::string toBase64(std::string_view bytes) {
  std::string out(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  out.resize(out.size() - 1);  // the NUL
  return out;
}

bool fromBase64(std::string_view text, std::string* out) {
  out->assign(text.size() / 4 * 3 + 3, '\0');
  size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(out->data()), out->size(), text.data(), text.size(), nullptr,
                        &length, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size())
    return false;
  out->resize(length);
  return true;
}

}  // namespace updates
