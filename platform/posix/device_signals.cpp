// Device signals on Linux: SIGUSR1 (arrival) and SIGUSR2 (removal) are counted and set the
// event through its descriptor, as the stop request handler does.
#include "platform/device_signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/posix_common.h"

namespace platform {
namespace {

std::atomic<int> g_fd{-1};
std::atomic<bool> g_named{false};
std::atomic<uint32_t> g_arrivals{0};
std::atomic<uint32_t> g_removals{0};

void OnDeviceSignal(int sig) {
  const int saved = errno;
  (sig == SIGUSR1 ? g_arrivals : g_removals).fetch_add(1);
  const int fd = g_fd.load();
  if (fd >= 0) {
    if (g_named.load()) {
      const char b = 1;
      (void)::write(fd, &b, 1);
    } else {
      const uint64_t one = 1;
      (void)::write(fd, &one, sizeof one);
    }
  }
  errno = saved;
}

}  // namespace

bool WatchDeviceSignals(const Event& event) {
  if (!event.valid()) return false;
  g_named.store(event.get()->named);
  g_fd.store(event.get()->fd);
  struct sigaction sa {};
  sa.sa_handler = OnDeviceSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGUSR1, SIGUSR2})
    if (::sigaction(sig, &sa, nullptr) != 0) return false;
  return true;
}

void TakeDeviceSignals(uint32_t* arrivals, uint32_t* removals) {
  const uint32_t a = g_arrivals.exchange(0), r = g_removals.exchange(0);
  if (arrivals) *arrivals = a;
  if (removals) *removals = r;
}

}  // namespace platform
