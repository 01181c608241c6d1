// An orderly end asked for from outside the user-interface thread: the
// termination signals a desktop session or service manager sends, and the
// backend's window being closed. The request travels as one message posted
// to a window the program names, which then ends the way its own Exit does.
#pragma once

#include "platform/types.h"

namespace platform {

// Makes SIGTERM, SIGINT and SIGHUP request the end (see requestEnd). A
// second one of them once the first has come ends the process at once with
// status 128 + the signal's number, for an end that has got stuck. Safe to
// call more than once; call it from the main thread before the main window
// exists so a signal during start-up is kept, not lost.
void installEndSignals();

// Where requests go: `msg` posted to `target`. A request made before any
// target was named is delivered as soon as one is. nullptr stops delivery.
void setEndTarget(HWND target, UINT msg);

// Asks for the end; callable from any thread. The target gets one message
// however many requests come. False when no target is named yet (the
// request is then kept for the first one named).
bool requestEnd();

}  // namespace platform
