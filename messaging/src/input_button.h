// How the Voice and Photo tabs' buttons look: a grey face, an edge two
// pixels in (sunken while pressed), the label centred in bold, and the
// focus rectangle four pixels in.
#pragma once

#include "platform/window.h"

namespace messaging {

// Paints the whole button inside a WM_PAINT; `textId` is the label's
// string resource.
void paintInputButton(HWND button, UINT textId, bool sunken, bool focused);

}  // namespace messaging
