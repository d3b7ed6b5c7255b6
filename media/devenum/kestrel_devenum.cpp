// KestrelDevEnum.dll: the device enumerator of media/device_enum.h as an in-process COM
// server, registered in place of the system's CLSID_SystemDeviceEnum in a test prefix.
#include <atomic>
#include <new>

#include "media/device_enum.h"
#include "platform/exception_guard.h"

namespace {

std::atomic<long> gLocks{0};

class DeviceEnumFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  // One static factory: its references keep the module loaded like locks.
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++gLocks + 1); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--gLocks + 1); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateSystemDeviceEnum(iid, ppv);
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++gLocks;
    } else {
      --gLocks;
    }
    return S_OK;
  }
};

DeviceEnumFactory gFactory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
  return platform::Guarded(E_UNEXPECTED, [&]() -> HRESULT {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(clsid, CLSID_SystemDeviceEnum)) return CLASS_E_CLASSNOTAVAILABLE;
    return gFactory.QueryInterface(iid, ppv);
  });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return gLocks.load() == 0 && media::LiveDeviceEnumObjects() == 0 ? S_OK : S_FALSE;
}
