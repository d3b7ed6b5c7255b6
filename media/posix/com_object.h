// The shape of every object of the Linux COM runtime: a thread-safe reference count, one
// QueryInterface over the interfaces the object lists, and the runtime's live-object count.
#pragma once

#include <atomic>

#include "media/posix/runtime.h"

namespace media {

template <typename... Interfaces>
class ComObject : public RuntimeObject, public Interfaces... {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    void* found = FindInterface(iid);
    if (!found) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *ppv = found;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  // The interface pointer for `iid` (IID_IUnknown included), or null.
  virtual void* FindInterface(REFIID iid) = 0;

 private:
  std::atomic<ULONG> refs_{1};
};

// Hands a freshly made object (one reference) to an out-parameter as `iid`.
template <typename Object>
HRESULT HandOut(Object* object, REFIID iid, void** ppv) {
  if (!object) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(iid, ppv);
  object->Release();
  return hr;
}

}  // namespace media
