// Setting an event from a signal handler: the handler may only write to the event's
// descriptor (write is async-signal-safe), a byte into a named event's FIFO or a count into
// an eventfd, as Event::Set does.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <initializer_list>

#include "platform/posix/posix_common.h"

namespace platform {

class SignalEventTarget {
 public:
  // False for an invalid event.
  bool Point(const Event& event) {
    if (!event.valid()) return false;
    named_.store(event.get()->named);
    fd_.store(event.get()->fd);
    return true;
  }
  // Async-signal-safe; keeps errno.
  void SetFromHandler() const {
    const int saved = errno;
    const int fd = fd_.load();
    if (fd >= 0) {
      if (named_.load()) {
        const char b = 1;
        (void)::write(fd, &b, 1);
      } else {
        const uint64_t one = 1;
        (void)::write(fd, &one, sizeof one);
      }
    }
    errno = saved;
  }

 private:
  std::atomic<int> fd_{-1};
  std::atomic<bool> named_{false};
};

// Installs `handler` for every signal in `signals` (SA_RESTART); false when one fails.
inline bool InstallSignalHandler(std::initializer_list<int> signals, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : signals)
    if (::sigaction(sig, &sa, nullptr) != 0) return false;
  return true;
}

}  // namespace platform
