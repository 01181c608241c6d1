// The record the "Add a Service" dialog hands to "ServiceType/%p/Register".
// Its layout is shared with the protocol plug-in, so it stays plain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "olvaro/api.h"

namespace host {

struct ServiceRegistrationField {
  char name[16];   // UTF-8, NUL-terminated
  char value[65];  // UTF-8, NUL-terminated
};

struct ServiceRegistration {
  HServiceType* serviceType;
  uint64_t mesgId;  // filled in by the register function
  int32_t fieldCount;
  ServiceRegistrationField fields[8];
};

// The protocol plug-in reads the record by this layout.
static_assert(offsetof(ServiceRegistration, mesgId) == 8);
static_assert(offsetof(ServiceRegistration, fieldCount) == 16);
static_assert(offsetof(ServiceRegistration, fields) == 20);
static_assert(sizeof(ServiceRegistrationField) == 81);

// Copies UTF-8 text into a fixed slot, cut at a character boundary so the
// slot always ends in a NUL and never holds half a character.
void copyToSlot(char* slot, size_t size, std::string_view utf8);

// Appends one field (when there is room); false when the record is full.
bool addRegistrationField(ServiceRegistration* record, std::string_view name, std::string_view value);

}  // namespace host
