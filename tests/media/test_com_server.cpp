// A minimal in-process COM server for the activation tests: one class whose objects answer
// IPersist with their class identifier, DllCanUnloadNow while none is alive.
#include <atomic>

#include "media/dshow.h"

namespace {

// {C0FFEE01-5A5A-4B4B-8C8C-0123456789AB}
constexpr CLSID kTestClass = {0xC0FFEE01, 0x5A5A, 0x4B4B, {0x8C, 0x8C, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};

std::atomic<long> gObjects{0};

class Persist final : public IPersist {
 public:
  Persist() { ++gObjects; }
  ~Persist() { --gObjects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPersist) {
      *ppv = static_cast<IPersist*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = kTestClass;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    ++gObjects;
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    --gObjects;
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* object = new Persist;
    const HRESULT hr = object->QueryInterface(iid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory gFactory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != kTestClass) return CLASS_E_CLASSNOTAVAILABLE;
  return gFactory.QueryInterface(iid, ppv);
}

STDAPI DllCanUnloadNow() { return gObjects.load() == 0 ? S_OK : S_FALSE; }
