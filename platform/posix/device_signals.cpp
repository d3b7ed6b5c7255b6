// Device signals on Linux: SIGUSR1 (arrival) and SIGUSR2 (removal) are counted and set the
// event from the signal handler.
#include "platform/device_signals.h"

#include <atomic>

#include "platform/posix/signal_event.h"

namespace platform {
namespace {

SignalEventTarget g_device;
std::atomic<uint32_t> g_arrivals{0};
std::atomic<uint32_t> g_removals{0};

void OnDeviceSignal(int sig) {
  (sig == SIGUSR1 ? g_arrivals : g_removals).fetch_add(1);
  g_device.SetFromHandler();
}

}  // namespace

bool WatchDeviceSignals(const Event& event) {
  return g_device.Point(event) && InstallSignalHandler({SIGUSR1, SIGUSR2}, OnDeviceSignal);
}

void TakeDeviceSignals(uint32_t* arrivals, uint32_t* removals) {
  const uint32_t a = g_arrivals.exchange(0), r = g_removals.exchange(0);
  if (arrivals) *arrivals = a;
  if (removals) *removals = r;
}

}  // namespace platform
