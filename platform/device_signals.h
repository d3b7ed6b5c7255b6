// Device arrivals and removals told to a service program from outside. Linux gives a console
// program no device notification: SIGUSR1 stands for an arrival and SIGUSR2 for a removal (a
// person or a udev rule sends them). Windows delivers WM_DEVICECHANGE only to a window, which
// a console host does not have: there nothing is watched.
#pragma once

#include <cstdint>

#include "platform/event.h"

namespace platform {

// From now on each arrival or removal is counted and sets `event`, which must stay valid until
// the process ends. False when the platform offers nothing to watch or the handler cannot be
// installed.
bool WatchDeviceSignals(const Event& event);

// The arrivals and removals counted since the last call.
void TakeDeviceSignals(uint32_t* arrivals, uint32_t* removals);

}  // namespace platform
