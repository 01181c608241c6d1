#include "service_registration.h"

#include <cstring>

namespace host {

void copyToSlot(char* slot, size_t size, std::string_view utf8) {
  if (size == 0) return;
  size_t n = utf8.size() < size - 1 ? utf8.size() : size - 1;
  // Step back over continuation bytes when the cut falls inside a character.
  if (n < utf8.size())
    while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) --n;
  std::memcpy(slot, utf8.data(), n);
  std::memset(slot + n, 0, size - n);
}

bool addRegistrationField(ServiceRegistration* record, std::string_view name, std::string_view value) {
  constexpr int kCapacity = sizeof(record->fields) / sizeof(record->fields[0]);
  if (record->fieldCount < 0 || record->fieldCount >= kCapacity) return false;
  ServiceRegistrationField& f = record->fields[record->fieldCount++];
  copyToSlot(f.name, sizeof(f.name), name);
  copyToSlot(f.value, sizeof(f.value), value);
  return true;
}

}  // namespace host
