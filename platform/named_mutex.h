// A mutex named across processes, with time-outs and abandoned-owner detection: when the
// owner ends while holding it, the next waiter gets it with kWaitAbandoned0.
#pragma once

#include <cstdint>

#include "platform/wait.h"

namespace platform {

struct MutexObject;  // opaque; a HANDLE on Windows

class NamedMutex {
 public:
  NamedMutex() = default;
  explicit NamedMutex(MutexObject* adopt) : obj_(adopt) {}
  ~NamedMutex() { reset(); }
  NamedMutex(NamedMutex&& o) noexcept : obj_(o.release()) {}
  NamedMutex& operator=(NamedMutex&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // CreateMutex, unowned: opens the mutex of that name or creates it. Every local user may
  // open it. Invalid on failure.
  static NamedMutex CreateNamed(const char16_t* name);
  // OpenMutex: an existing mutex only.
  static NamedMutex OpenNamed(const char16_t* name);

  bool valid() const { return obj_ != nullptr; }
  MutexObject* get() const { return obj_; }
  MutexObject* release() {
    MutexObject* o = obj_;
    obj_ = nullptr;
    return o;
  }
  void reset(MutexObject* adopt = nullptr);

  // kWaitObject0 (owned), kWaitAbandoned0 (owned, but the previous owner ended holding it;
  // the state it guards may be half-written), kWaitTimeout or kWaitFailed. The owning thread
  // may take it again; each take needs its release.
  uint32_t Wait(uint32_t timeoutMs) const;
  // False when the calling thread does not own it.
  bool Release() const;
  // True once the memory of the mutex vanished under us (Linux: another user cut its file
  // short); every wait fails from then on. Always false on Windows.
  bool broken() const;

 private:
  MutexObject* obj_ = nullptr;
};

}  // namespace platform
