// COM objects written once for both builds: QueryInterface over an interface lookup, an
// atomic reference count, and a class factory.
#pragma once

#include <atomic>
#include <initializer_list>

#include "media/dshow.h"
#include "platform/exception_guard.h"

namespace media {

// QueryInterface over a lookup: the interface pointer `found` for the asked IID (null when
// the object has none) goes out with a reference, or E_NOINTERFACE and null.
inline HRESULT AnswerQuery(void* found, void** ppv) {
  if (!ppv) return E_POINTER;
  if (!found) {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(found)->AddRef();
  *ppv = found;
  return S_OK;
}

// `self` when `iid` is one of `iids`, else null.
template <typename Interface>
void* InterfaceIf(Interface* self, REFIID iid, std::initializer_list<const IID*> iids) {
  for (const IID* known : iids)
    if (IsEqualGUID(iid, *known)) return self;
  return nullptr;
}

// A reference-counted object with the interfaces it lists; it goes with its last reference.
template <typename... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    return AnswerQuery(ppv ? FindInterface(iid) : nullptr, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
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

// Makes a new instance and hands it out as `iid`.
using CreateInstanceFn = HRESULT (*)(REFIID iid, void** ppv);
// Follows IClassFactory::LockServer.
using LockServerFn = void (*)(bool lock);

// A class factory over a create function; `Counted` counts it while it lives (the module's
// objects or locks).
template <typename Counted>
class ClassFactory final : public ComObject<IClassFactory>, private Counted {
 public:
  explicit ClassFactory(CreateInstanceFn create, LockServerFn lock = nullptr) : create_(create), lock_(lock) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return platform::Guarded(E_OUTOFMEMORY, [&] { return create_(iid, ppv); });
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock_) lock_(lock != FALSE);
    return S_OK;
  }

 private:
  void* FindInterface(REFIID iid) override {
    return InterfaceIf<IClassFactory>(this, iid, {&IID_IUnknown, &IID_IClassFactory});
  }
  const CreateInstanceFn create_;
  const LockServerFn lock_;
};

// Hands out a new factory of `create` as `iid`.
template <typename Counted>
HRESULT GetFactory(CreateInstanceFn create, LockServerFn lock, REFIID iid, void** ppv) {
  return platform::Guarded(E_OUTOFMEMORY, [&] { return HandOut(new ClassFactory<Counted>(create, lock), iid, ppv); });
}

}  // namespace media
