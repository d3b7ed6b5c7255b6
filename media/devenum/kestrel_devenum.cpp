// KestrelDevEnum.dll: the device enumerator of media/device_enum.h as an in-process COM
// server, registered in place of the system's CLSID_SystemDeviceEnum in a test prefix.
#include <atomic>
#include <new>

#include "media/com_object.h"
#include "media/device_enum.h"
#include "platform/exception_guard.h"

namespace {

std::atomic<long> gLocks{0};

// The factory's references keep the module loaded like locks.
class FactoryLock {
 public:
  FactoryLock() { ++gLocks; }
  ~FactoryLock() { --gLocks; }
  FactoryLock(const FactoryLock&) = delete;
  FactoryLock& operator=(const FactoryLock&) = delete;
};

void LockModule(bool lock) {
  if (lock) {
    ++gLocks;
  } else {
    --gLocks;
  }
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
  return platform::Guarded(E_UNEXPECTED, [&]() -> HRESULT {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(clsid, CLSID_SystemDeviceEnum)) return CLASS_E_CLASSNOTAVAILABLE;
    return media::GetFactory<FactoryLock>(&CreateSystemDeviceEnum, &LockModule, iid, ppv);
  });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return gLocks.load() == 0 && media::LiveDeviceEnumObjects() == 0 ? S_OK : S_FALSE;
}
