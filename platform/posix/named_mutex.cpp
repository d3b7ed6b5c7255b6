// Named mutex on Linux: a robust, recursive, process-shared pthread mutex in a named object
// file, so the kernel hands it on with EOWNERDEAD when its owner dies.
#include "platform/named_mutex.h"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <new>

#include "platform/posix/fault_guard.h"
#include "platform/posix/named_file.h"
#include "platform/posix/posix_common.h"

namespace platform {

namespace {

struct SharedMutex {
  pthread_mutex_t mutex;
};

bool InitMutex(int fd, void*) {
  void* p = ::mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return false;
  auto* shared = static_cast<SharedMutex*>(p);
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  const bool ok = pthread_mutex_init(&shared->mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  ::munmap(p, sizeof(SharedMutex));
  return ok;
}

}  // namespace

struct MutexObject {
  posix::NamedFile file;
  SharedMutex* shared = nullptr;
  int guard = -1;  // fault-guard slot of the mapping
};

namespace {

MutexObject* OpenMutex(const char16_t* name, bool create) {
  if (name == nullptr) return nullptr;
  auto* m = new (std::nothrow) MutexObject;
  if (m == nullptr) return nullptr;
  bool created = false;
  if (!posix::OpenNamedFile(posix::NamedObjectPath(name), create ? sizeof(SharedMutex) : 0, InitMutex, nullptr,
                            &m->file, &created)) {
    delete m;
    return nullptr;
  }
  // Any local user may have cut the file short: map only a file that holds the mutex, and
  // guard the mapping against a cut made later.
  struct stat st{};
  void* p = MAP_FAILED;
  if (::fstat(m->file.fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(SharedMutex)))
    p = ::mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, m->file.fd, 0);
  if (p == MAP_FAILED) {
    posix::CloseNamedFile(&m->file);
    delete m;
    return nullptr;
  }
  m->shared = static_cast<SharedMutex*>(p);
  m->guard = posix::GuardView(p, sizeof(SharedMutex));
  return m;
}

}  // namespace

NamedMutex NamedMutex::CreateNamed(const char16_t* name) { return NamedMutex(OpenMutex(name, true)); }
NamedMutex NamedMutex::OpenNamed(const char16_t* name) { return NamedMutex(OpenMutex(name, false)); }

void NamedMutex::reset(MutexObject* adopt) {
  MutexObject* old = obj_;
  obj_ = adopt;
  if (old == nullptr) return;
  posix::UnguardView(old->guard);
  ::munmap(old->shared, sizeof(SharedMutex));
  posix::CloseNamedFile(&old->file);
  delete old;
}

uint32_t NamedMutex::Wait(uint32_t timeoutMs) const {
  if (obj_ == nullptr) return kWaitFailed;
  // A mutex whose file was cut under us is gone for good; the zero pages standing in for
  // it would lock only within this process.
  if (posix::ViewBroken(obj_->guard)) return kWaitFailed;
  pthread_mutex_t* m = &obj_->shared->mutex;
  int rc;
  if (timeoutMs == kInfinite) {
    rc = pthread_mutex_lock(m);
  } else if (timeoutMs == 0) {
    rc = pthread_mutex_trylock(m);
    if (rc == EBUSY) rc = ETIMEDOUT;
  } else {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    rc = pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &deadline);
  }
  if ((rc == 0 || rc == EOWNERDEAD) && posix::ViewBroken(obj_->guard)) {
    pthread_mutex_unlock(m);
    return kWaitFailed;
  }
  switch (rc) {
    case 0: return kWaitObject0;
    case EOWNERDEAD:
      pthread_mutex_consistent(m);
      return kWaitAbandoned0;
    case ETIMEDOUT: return kWaitTimeout;
    default: return kWaitFailed;
  }
}

bool NamedMutex::broken() const { return obj_ != nullptr && posix::ViewBroken(obj_->guard); }

bool NamedMutex::Release() const {
  if (obj_ == nullptr) return false;
  const bool ok = pthread_mutex_unlock(&obj_->shared->mutex) == 0;
  return ok && !posix::ViewBroken(obj_->guard);
}

}  // namespace platform
