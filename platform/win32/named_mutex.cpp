// Named mutex on Windows: a thin wrapper over the kernel's mutex.
#include "platform/named_mutex.h"

#include <windows.h>

#include "platform/win32/world_access.h"

namespace platform {
namespace {

HANDLE H(MutexObject* m) { return reinterpret_cast<HANDLE>(m); }
MutexObject* M(HANDLE h) { return reinterpret_cast<MutexObject*>(win32::NullIfInvalid(h)); }

}  // namespace

NamedMutex NamedMutex::CreateNamed(const char16_t* name) {
  if (name == nullptr) return NamedMutex();
  return NamedMutex(M(CreateMutexW(win32::WorldAccessAttributes(), FALSE, reinterpret_cast<const wchar_t*>(name))));
}

NamedMutex NamedMutex::OpenNamed(const char16_t* name) {
  if (name == nullptr) return NamedMutex();
  return NamedMutex(M(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, reinterpret_cast<const wchar_t*>(name))));
}

void NamedMutex::reset(MutexObject* adopt) {
  MutexObject* old = obj_;
  obj_ = adopt;
  if (old != nullptr) CloseHandle(H(old));
}

uint32_t NamedMutex::Wait(uint32_t timeoutMs) const {
  if (obj_ == nullptr) return kWaitFailed;
  return WaitForSingleObject(H(obj_), timeoutMs);
}

bool NamedMutex::Release() const { return obj_ != nullptr && ReleaseMutex(H(obj_)); }

bool NamedMutex::broken() const { return false; }

}  // namespace platform
