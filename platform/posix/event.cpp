// Events on Linux: a local event is an eventfd, a named one a FIFO in the object directory;
// either is readable exactly while the event is signalled, so every wait is a poll.
#include "platform/event.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <cstdlib>
#include <new>

#include "platform/posix/posix_common.h"
#include "platform/text.h"

// ThreadSanitizer cannot see that a wait which found an event readable follows the Set that
// made it so (the kernel orders them, through poll): the pair is told to it, keyed by the
// local event's object or the named event's file.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
namespace {
char g_namedSync[1024];
void* SyncKey(platform::EventObject* e) {
  return e->named ? &g_namedSync[std::hash<std::string>{}(e->path) % sizeof g_namedSync] : static_cast<void*>(e);
}
}  // namespace
#define KESTREL_EVENT_RELEASE(e) __tsan_release(SyncKey(e))
#define KESTREL_EVENT_ACQUIRE(e) __tsan_acquire(SyncKey(e))
#else
#define KESTREL_EVENT_RELEASE(e) ((void)0)
#define KESTREL_EVENT_ACQUIRE(e) ((void)0)
#endif

namespace platform {
namespace posix {

std::string ObjectDirectory() {
  const char* dir = std::getenv("KESTREL_OBJECT_DIR");
  return (dir != nullptr && *dir != '\0') ? std::string(dir) : std::string("/dev/shm");
}

std::string NamedObjectPath(const char16_t* name) {
  std::string file = Utf16ToUtf8(name);
  for (char& c : file)
    if (c == '/') c = '_';
  return ObjectDirectory() + "/kestrel." + file;
}

bool FlockWithin(int fd, int op, uint32_t timeoutMs) {
  const uint64_t deadline = NowMs() + timeoutMs;
  uint32_t pauseMs = 1;
  for (;;) {
    if (::flock(fd, op | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    const uint64_t now = NowMs();
    if (now >= deadline) return false;
    const uint64_t left = deadline - now;
    const timespec pause{0, static_cast<long>(left < pauseMs ? left : pauseMs) * 1000000L};
    ::nanosleep(&pause, nullptr);
    if (pauseMs < 20) pauseMs *= 2;
  }
}

DirectoryLock::DirectoryLock() {
  const std::string path = ObjectDirectory() + "/kestrel..lock";
  // Made here, or opened as it is: never through a link, and read access is all flock needs.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd_ >= 0) {
    ::fchmod(fd_, 0666);  // past the umask: every local user takes this lock
  } else if (errno == EEXIST) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd_ < 0) return;
  struct stat st{};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
  held_ = FlockWithin(fd_, LOCK_EX, kObjectLockWaitMs);
}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);
}

uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

int RemainingMs(uint32_t timeoutMs, uint64_t deadline) {
  if (timeoutMs == kInfinite) return -1;
  const uint64_t now = NowMs();
  if (now >= deadline) return 0;
  const uint64_t left = deadline - now;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

bool TryConsume(EventObject* e) {
  if (e->named) {
    char b;
    return ::read(e->fd, &b, 1) == 1;
  }
  uint64_t v;
  return ::read(e->fd, &v, sizeof v) == static_cast<ssize_t>(sizeof v);
}

uint32_t WaitForAny(EventObject* const* objs, uint32_t count, uint32_t timeoutMs) {
  if (count == 0 || count > kMaxWaitObjects) return kWaitFailed;
  pollfd fds[kMaxWaitObjects];
  for (uint32_t i = 0; i < count; ++i) {
    if (objs[i] == nullptr) return kWaitFailed;
    fds[i] = pollfd{objs[i]->fd, POLLIN, 0};
  }
  const uint64_t deadline = timeoutMs == kInfinite ? 0 : NowMs() + timeoutMs;
  for (;;) {
    const int n = ::poll(fds, count, RemainingMs(timeoutMs, deadline));
    if (n < 0) {
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    if (n == 0) return kWaitTimeout;
    for (uint32_t i = 0; i < count; ++i) {
      if (fds[i].revents & (POLLERR | POLLNVAL)) return kWaitFailed;
      if (!(fds[i].revents & POLLIN)) continue;
      if (objs[i]->manualReset || TryConsume(objs[i])) {
        KESTREL_EVENT_ACQUIRE(objs[i]);
        return kWaitObject0 + i;
      }
    }
    // Every readable auto-reset event went to another waiter: wait again.
  }
}

namespace {

void DrainFifo(int fd) {
  char buf[256];
  while (::read(fd, buf, sizeof buf) > 0) {
  }
}

}  // namespace
}  // namespace posix

Event Event::CreateLocal(bool manualReset, bool initiallySet) {
  const int fd = ::eventfd(initiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return Event();
  auto* e = new (std::nothrow) EventObject;
  if (e == nullptr) {
    ::close(fd);
    return Event();
  }
  e->fd = fd;
  e->manualReset = manualReset;
  return Event(e);
}

namespace {

// Opens (and with `create`, first makes) the FIFO of a named event; mode bit S_IXUSR marks an
// auto-reset event so that openers learn its kind.
Event OpenFifo(const char16_t* name, bool create, bool manualReset, bool initiallySet) {
  if (name == nullptr) return Event();
  const std::string path = posix::NamedObjectPath(name);
  posix::DirectoryLock dirLock;
  if (!dirLock.held()) return Event();
  bool created = false;
  if (create) {
    if (::mkfifo(path.c_str(), 0600) == 0) {
      created = true;
    } else if (errno != EEXIST) {
      return Event();
    }
  }
  // Never through a link planted in the node's place.
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return Event();
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
    ::close(fd);
    return Event();
  }
  // Only the node made here gets its mode set (past the umask, for every local user).
  if (created) ::fchmod(fd, manualReset ? 0666 : 0766);
  // Held while open, so the last closer can remove the node; any local user can hold it
  // exclusively, so it is not waited for without limit.
  if (!posix::FlockWithin(fd, LOCK_SH, posix::kObjectLockWaitMs)) {
    ::close(fd);
    return Event();
  }
  auto* e = new (std::nothrow) EventObject;
  if (e == nullptr) {
    ::close(fd);
    return Event();
  }
  e->fd = fd;
  e->named = true;
  e->manualReset = (st.st_mode & S_IXUSR) == 0;
  e->path = path;
  Event ev(e);
  if (created && initiallySet) ev.Set();
  return ev;
}

}  // namespace

Event Event::CreateNamed(const char16_t* name, bool manualReset, bool initiallySet) {
  return OpenFifo(name, true, manualReset, initiallySet);
}

Event Event::OpenNamed(const char16_t* name) { return OpenFifo(name, false, true, false); }

void Event::reset(EventObject* adopt) {
  EventObject* old = obj_;
  obj_ = adopt;
  if (old == nullptr) return;
  if (old->named) {
    posix::DirectoryLock dirLock;
    // Without the directory lock the node stays; the next creator reuses it.
    if (dirLock.held() && ::flock(old->fd, LOCK_EX | LOCK_NB) == 0) ::unlink(old->path.c_str());
    ::close(old->fd);
  } else {
    ::close(old->fd);
  }
  delete old;
}

bool Event::Set() const {
  if (obj_ == nullptr) return false;
  KESTREL_EVENT_RELEASE(obj_);
  if (obj_->named) {
    if (!obj_->manualReset) {
      int queued = 0;
      if (::ioctl(obj_->fd, FIONREAD, &queued) == 0 && queued > 0) return true;
    }
    const char b = 1;
    // A full FIFO (EAGAIN) is signalled already.
    return ::write(obj_->fd, &b, 1) == 1 || errno == EAGAIN;
  }
  const uint64_t one = 1;
  return ::write(obj_->fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one) || errno == EAGAIN;
}

bool Event::Reset() const {
  if (obj_ == nullptr) return false;
  if (obj_->named) {
    posix::DrainFifo(obj_->fd);
  } else {
    uint64_t v;
    (void)::read(obj_->fd, &v, sizeof v);
  }
  return true;
}

uint32_t Event::Wait(uint32_t timeoutMs) const {
  EventObject* o = obj_;
  return posix::WaitForAny(&o, 1, timeoutMs);
}

uint32_t WaitForAnyEvent(const Event* const* events, uint32_t count, uint32_t timeoutMs) {
  if (events == nullptr || count == 0 || count > kMaxWaitObjects) return kWaitFailed;
  EventObject* objs[kMaxWaitObjects];
  for (uint32_t i = 0; i < count; ++i) {
    if (events[i] == nullptr) return kWaitFailed;
    objs[i] = events[i]->get();
  }
  return posix::WaitForAny(objs, count, timeoutMs);
}

}  // namespace platform
