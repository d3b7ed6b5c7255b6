// Events: auto- or manual-reset, local to the process or named across processes, and a wait
// on one or on any of several with a time-out.
#pragma once

#include <cstdint>

#include "platform/wait.h"

namespace platform {

struct EventObject;  // opaque; a HANDLE on Windows

class Event {
 public:
  Event() = default;
  explicit Event(EventObject* adopt) : obj_(adopt) {}
  ~Event() { reset(); }
  Event(Event&& other) noexcept : obj_(other.release()) {}
  Event& operator=(Event&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // An unnamed event. Invalid on failure.
  static Event CreateLocal(bool manualReset, bool initiallySet);
  // CreateEvent with a name: opens the event when one of that name exists (its reset mode and
  // state are kept, the arguments are ignored), else creates it. Every local user may open it.
  // Invalid on failure, e.g. when the name belongs to an object of another kind.
  static Event CreateNamed(const char16_t* name, bool manualReset, bool initiallySet);
  // OpenEvent: an existing named event only. Invalid when there is none.
  static Event OpenNamed(const char16_t* name);

  bool valid() const { return obj_ != nullptr; }
  EventObject* get() const { return obj_; }
  EventObject* release() {
    EventObject* o = obj_;
    obj_ = nullptr;
    return o;
  }
  void reset(EventObject* adopt = nullptr);

  // False on an invalid event or an OS failure.
  bool Set() const;
  bool Reset() const;
  // kWaitObject0, kWaitTimeout or kWaitFailed. An auto-reset event is reset by the wait that
  // it releases.
  uint32_t Wait(uint32_t timeoutMs) const;

 private:
  EventObject* obj_ = nullptr;
};

// Waits until any of `count` events (1..kMaxWaitObjects, none invalid) is signalled:
// kWaitObject0 + the lowest signalled index, kWaitTimeout, or kWaitFailed (also for a bad
// argument). Only the reported auto-reset event is reset.
uint32_t WaitForAnyEvent(const Event* const* events, uint32_t count, uint32_t timeoutMs);

}  // namespace platform
