// Stop requests to a console program: Ctrl-C, Ctrl-Break, console close and (on Linux) SIGINT,
// SIGTERM and SIGHUP set an event instead of ending the process, so it can clean up.
#pragma once

#include "platform/event.h"

namespace platform {

// From now on a stop request sets `event`, which must stay alive and valid until the process
// ends. False when the handler cannot be installed or the event is invalid.
bool SetStopRequestEvent(const Event& event);

}  // namespace platform
