// The frame every full-screen dialog of the phone shares: sized to the
// screen with a "Done" button, the soft-key bar from a module's resources,
// and Back handed to the dialog (an edit field deletes with it) instead of
// leaving it.
#pragma once

#include "platform/types.h"

namespace fwk {

// Returns the soft-key bar made from menu bar resource `menuBarId` in
// `resources`; null when it could not be made.
HWND initPhoneDialog(HWND dialog, UINT menuBarId, HINSTANCE resources);

}  // namespace fwk
