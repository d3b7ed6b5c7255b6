// Device signals on Windows: a console host has no window to receive WM_DEVICECHANGE, so
// nothing is watched and nothing is ever counted.
#include "platform/device_signals.h"

namespace platform {

bool WatchDeviceSignals(const Event&) { return false; }

void TakeDeviceSignals(uint32_t* arrivals, uint32_t* removals) {
  if (arrivals) *arrivals = 0;
  if (removals) *removals = 0;
}

}  // namespace platform
