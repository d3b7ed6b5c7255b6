// Events on Windows: thin wrappers over the kernel's events.
#include "platform/event.h"

#include <windows.h>

#include "platform/win32/world_access.h"

namespace platform {
namespace {

HANDLE H(EventObject* e) { return reinterpret_cast<HANDLE>(e); }
EventObject* E(HANDLE h) { return reinterpret_cast<EventObject*>(h); }

}  // namespace

Event Event::CreateLocal(bool manualReset, bool initiallySet) {
  return Event(E(CreateEventW(nullptr, manualReset, initiallySet, nullptr)));
}

Event Event::CreateNamed(const char16_t* name, bool manualReset, bool initiallySet) {
  if (name == nullptr) return Event();
  return Event(E(CreateEventW(win32::WorldAccessAttributes(), manualReset, initiallySet,
                              reinterpret_cast<const wchar_t*>(name))));
}

Event Event::OpenNamed(const char16_t* name) {
  if (name == nullptr) return Event();
  return Event(E(OpenEventW(EVENT_ALL_ACCESS, FALSE, reinterpret_cast<const wchar_t*>(name))));
}

void Event::reset(EventObject* adopt) {
  EventObject* old = obj_;
  obj_ = adopt;
  if (old != nullptr) CloseHandle(H(old));
}

bool Event::Set() const { return obj_ != nullptr && SetEvent(H(obj_)); }
bool Event::Reset() const { return obj_ != nullptr && ResetEvent(H(obj_)); }

uint32_t Event::Wait(uint32_t timeoutMs) const {
  if (obj_ == nullptr) return kWaitFailed;
  return WaitForSingleObject(H(obj_), timeoutMs);
}

uint32_t WaitForAnyEvent(const Event* const* events, uint32_t count, uint32_t timeoutMs) {
  if (events == nullptr || count == 0 || count > kMaxWaitObjects) return kWaitFailed;
  HANDLE handles[kMaxWaitObjects];
  for (uint32_t i = 0; i < count; ++i) {
    if (events[i] == nullptr || !events[i]->valid()) return kWaitFailed;
    handles[i] = H(events[i]->get());
  }
  return WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
}

}  // namespace platform
