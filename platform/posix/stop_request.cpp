// Stop requests on Linux: a signal handler that sets the event through its descriptor, the one
// thing a handler may safely do (write is async-signal-safe).
#include "platform/stop_request.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/posix/posix_common.h"

namespace platform {
namespace {

std::atomic<int> g_fd{-1};
std::atomic<bool> g_named{false};

void OnStopSignal(int) {
  const int saved = errno;
  const int fd = g_fd.load();
  if (fd >= 0) {
    // The same write as Event::Set: a byte into a named event's FIFO, a count into an eventfd.
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

bool SetStopRequestEvent(const Event& event) {
  if (!event.valid()) return false;
  g_named.store(event.get()->named);
  g_fd.store(event.get()->fd);
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    if (::sigaction(sig, &sa, nullptr) != 0) return false;
  return true;
}

}  // namespace platform
