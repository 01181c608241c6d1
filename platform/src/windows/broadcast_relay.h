// Broadcasts of registered messages reach the top-level windows of the
// user's other processes too, as they do on the phone (a second start of the
// program wakes the first this way).
#pragma once

#include <string>

#include "platform/window.h"

namespace platform::win {

// Starts, once per configuration folder, the thread that receives other
// processes' broadcasts and posts them to this process's top-level windows.
void startBroadcastListener();
// The name a registered message id was made from; empty for other ids.
std::u16string registeredName(UINT msg);
// Sends a registered message's broadcast to every other listening process.
void relayBroadcast(const std::u16string& name, WPARAM wParam, LPARAM lParam);
// Posts to this process's top-level windows only.
void postLocalBroadcast(UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace platform::win
