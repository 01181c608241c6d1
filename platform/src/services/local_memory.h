// What the services tell other layers about LocalAlloc blocks.
#pragma once

#include <cstddef>

#include "platform/shell.h"

namespace platform {

// The size a live LocalAlloc block was asked with; false for anything else.
bool localBlockSize(HLOCAL mem, size_t* size);

}  // namespace platform
