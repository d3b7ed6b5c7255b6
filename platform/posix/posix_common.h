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

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf8(const char16_t* s);
// The directory of named objects: $KESTREL_OBJECT_DIR, else /dev/shm.
std::string ObjectDirectory();
// The file that stands for the named object `name` ('/' is replaced, '\' kept).
std::string NamedObjectPath(const char16_t* name);

// Holds an exclusive flock on the object directory's lock file while it lives, so opening,
// creating and removing named objects is one step for every process.
class DirectoryLock {
 public:
  DirectoryLock();
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int fd_ = -1;
};

// Monotonic milliseconds, for deadlines.
uint64_t NowMs();
// Milliseconds left until `deadline` for poll: -1 for an infinite wait, else >= 0.
int RemainingMs(uint32_t timeoutMs, uint64_t deadline);

}  // namespace posix
}  // namespace platform
