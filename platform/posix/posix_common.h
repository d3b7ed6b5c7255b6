// Helpers shared by the POSIX backend: the event object, fd waits, name mapping and the
// lock that serialises named-object creation across processes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/event.h"

namespace platform {

struct EventObject {
  int fd = -1;          // eventfd (local) or FIFO (named); readable while signalled
  bool manualReset = true;
  bool named = false;
  std::string path;     // named: the FIFO, removed by its last closer
};

namespace posix {

// Consumes the signal of an auto-reset event after poll reported it readable; false when
// another waiter took it first.
bool TryConsume(EventObject* e);
// The wait behind every event wait: `extra` (may be null) is one more event after the list.
uint32_t WaitForAny(EventObject* const* objs, uint32_t count, uint32_t timeoutMs);

// The directory of named objects: $KESTREL_OBJECT_DIR, else /dev/shm.
std::string ObjectDirectory();
// The file that stands for the named object `name` ('/' is replaced, '\' kept).
std::string NamedObjectPath(const char16_t* name);

// How long a named-object step waits for a file lock that any local user can hold.
inline constexpr uint32_t kObjectLockWaitMs = 500;

// flock(fd, op) given up after `timeoutMs`; false then or on failure. flock has no timed
// form, so a taken lock is retried with growing pauses (at most 20 ms apart).
bool FlockWithin(int fd, int op, uint32_t timeoutMs);

// Holds an exclusive flock on the object directory's lock file while it lives, so opening,
// creating and removing named objects is one step for every process. Every local user can
// take that lock, so it is waited for at most kObjectLockWaitMs: check held(). The lock file
// is never followed through a symbolic link, and only its creator sets its mode.
class DirectoryLock {
 public:
  DirectoryLock();
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// Monotonic milliseconds, for deadlines.
uint64_t NowMs();
// Milliseconds left until `deadline` for poll: -1 for an infinite wait, else >= 0.
int RemainingMs(uint32_t timeoutMs, uint64_t deadline);

}  // namespace posix
}  // namespace platform
