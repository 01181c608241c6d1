// The record the "Add a Service" dialog hands to "ServiceType/%p/Register".
// Its layout is shared with the protocol plug-in, so it stays plain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "olvaro/api.h"
#include "olvaro/connection_calls.h"

namespace host {

using olvaro::ServiceRegistration;
using olvaro::ServiceRegistrationField;

// Copies UTF-8 text into a fixed slot, cut at a character boundary so the
// slot always ends in a NUL and never holds half a character.
void copyToSlot(char* slot, size_t size, std::string_view utf8);

// Appends one field (when there is room); false when the record is full.
bool addRegistrationField(ServiceRegistration* record, std::string_view name, std::string_view value);

}  // namespace host
