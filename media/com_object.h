// COM objects written once for both builds: QueryInterface over an interface lookup, an
// atomic reference count, an enumerator and a class factory.
#pragma once

#include <atomic>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

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
    return AnswerQuery(ppv ? InterfaceFor(iid) : nullptr, ppv);
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
  virtual void* InterfaceFor(REFIID iid) = 0;

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

// The item and IID of each enumerator interface.
template <typename Enum>
struct EnumOf;
template <>
struct EnumOf<IEnumPins> {
  using Item = IPin*;
  static const IID& Iid() { return IID_IEnumPins; }
};
template <>
struct EnumOf<IEnumMediaTypes> {
  using Item = AM_MEDIA_TYPE*;
  static const IID& Iid() { return IID_IEnumMediaTypes; }
};
template <>
struct EnumOf<IEnumMoniker> {
  using Item = IMoniker*;
  static const IID& Iid() { return IID_IEnumMoniker; }
};
template <>
struct EnumOf<IEnumFilters> {
  using Item = IBaseFilter*;
  static const IID& Iid() { return IID_IEnumFilters; }
};

// How an enumerator's Next treats its arguments and exceptions.
struct EnumRules {
  bool fetchedOnlyForOne;  // fetched may be missing for one item only (else for up to one)
  bool clearFetched;       // *fetched is cleared before the arguments are checked
  HRESULT failure;         // Next's result when making an item throws
};

// IEnumPins, IEnumMediaTypes, IEnumMoniker or IEnumFilters over a source of items:
// `source.Has(position)` tells whether a position holds one, `source.Hand(position, &item)`
// hands it out (false when there is none or it cannot be made), `source.Clone()` is the
// source of a clone. Calls are serialised.
template <typename Source, typename Counted, EnumRules kRules>
class Enumerator final : public ComObject<typename Source::Interface>, private Counted {
  using Enum = typename Source::Interface;
  using Item = typename EnumOf<Enum>::Item;

 public:
  explicit Enumerator(Source source, size_t position = 0) : source_(std::move(source)), position_(position) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    return platform::Guarded(kRules.failure, [&]() -> HRESULT {
      if (kRules.clearFetched && fetched) *fetched = 0;
      if (!out || (!fetched && (kRules.fetchedOnlyForOne ? count != 1 : count > 1))) return E_POINTER;
      std::lock_guard<std::mutex> hold(lock_);
      ULONG n = 0;
      while (n < count && source_.Hand(position_, &out[n])) {
        ++n;
        ++position_;
      }
      if (fetched) *fetched = n;
      return n == count ? S_OK : S_FALSE;
    });
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    return platform::Guarded(kRules.failure, [&]() -> HRESULT {
      std::lock_guard<std::mutex> hold(lock_);
      for (ULONG i = 0; i < count; ++i, ++position_)
        if (!source_.Has(position_)) return S_FALSE;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    std::lock_guard<std::mutex> hold(lock_);
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Enum** out) override {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      if (!out) return E_POINTER;
      std::lock_guard<std::mutex> hold(lock_);
      *out = new Enumerator(source_.Clone(), position_);
      return S_OK;
    });
  }

 private:
  void* InterfaceFor(REFIID iid) override {
    return InterfaceIf<Enum>(this, iid, {&IID_IUnknown, &EnumOf<Enum>::Iid()});
  }
  Source source_;
  std::mutex lock_;
  size_t position_;
};

// A source over a list that does not change, shared by clones; `hand` makes the item handed
// out (null: none).
template <typename Enum, typename Stored>
class Snapshot {
 public:
  using Interface = Enum;
  using Item = typename EnumOf<Enum>::Item;
  using HandFn = Item (*)(const Stored&);

  Snapshot(std::vector<Stored> items, HandFn hand)
      : items_(std::make_shared<const std::vector<Stored>>(std::move(items))), hand_(hand) {}

  bool Has(size_t position) const { return position < items_->size(); }
  bool Hand(size_t position, Item* out) const {
    if (!Has(position)) return false;
    Item item = hand_((*items_)[position]);
    if (!item) return false;
    *out = item;
    return true;
  }
  Snapshot Clone() const { return *this; }

 private:
  std::shared_ptr<const std::vector<Stored>> items_;
  HandFn hand_;
};

// Hands out an interface pointer kept in a list, with a reference.
template <typename Pointer>
auto HandReferenced(const Pointer& pointer) {
  pointer->AddRef();
  return pointer.get();
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
  void* InterfaceFor(REFIID iid) override {
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
