// An in-process lock and condition that hold no kernel object. On Windows they are a slim
// reader/writer lock and a condition variable: winpthreads, under std::mutex, makes an event
// the first time a mutex is contended, so a long-lived lock gains a handle at some random
// moment of a process's life (and a std::mutex never frees it). Elsewhere the standard ones.
#pragma once

#include <cstdint>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#include <condition_variable>
#endif

namespace platform {

#ifdef _WIN32

class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void lock() { AcquireSRWLockExclusive(&lock_); }
  bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }

 private:
  friend class Condition;
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class Condition {
 public:
  Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  void NotifyAll() { WakeAllConditionVariable(&cv_); }
  // Waits, with `held` locked, until `done()` or `timeoutMs` has passed; the last `done()`.
  template <class Done>
  bool WaitFor(std::unique_lock<Lock>& held, uint32_t timeoutMs, Done done) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
      const ULONGLONG now = GetTickCount64();
      if (now >= end) return done();
      SleepConditionVariableSRW(&cv_, &held.mutex()->lock_, static_cast<DWORD>(end - now), 0);
    }
    return true;
  }

 private:
  CONDITION_VARIABLE cv_ = CONDITION_VARIABLE_INIT;
};

#else

class Lock : public std::mutex {};

class Condition {
 public:
  void NotifyAll() { cv_.notify_all(); }
  template <class Done>
  bool WaitFor(std::unique_lock<Lock>& held, uint32_t timeoutMs, Done done) {
    return cv_.wait_for(held, std::chrono::milliseconds(timeoutMs), done);
  }

 private:
  std::condition_variable_any cv_;
};

#endif

}  // namespace platform
