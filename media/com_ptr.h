// Owners for COM references and COM task memory. No implicit conversion to the raw pointer
// and no overloaded operator&: an out-parameter is passed as put() or putVoid(), which
// release what was held first.
#pragma once

#include <cstddef>
#include <utility>

#include "media/dshow.h"

namespace media {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference on `p`.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(const ComPtr& o) {
    if (this != &o) ComPtr(o).swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) ComPtr(std::move(o)).swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }
  ~ComPtr() { reset(); }

  // Adopts a reference the caller owns (no AddRef).
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Hands the reference to the caller.
  T* detach() { return std::exchange(p_, nullptr); }
  void reset() {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  void swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  // Out-parameter slots: whatever was held is released first.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  // A new reference for an out-parameter; E_POINTER for a null slot.
  HRESULT copyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  // QueryInterface for `iid` into `out`; E_POINTER when nothing is held.
  template <typename U>
  HRESULT as(REFIID iid, ComPtr<U>* out) const {
    if (!out) return E_POINTER;
    if (!p_) {
      out->reset();
      return E_POINTER;
    }
    return p_->QueryInterface(iid, out->putVoid());
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

// Memory from CoTaskMemAlloc (display names, pin ids, media-type arrays).
template <typename T>
class UniqueTaskMem {
 public:
  UniqueTaskMem() = default;
  explicit UniqueTaskMem(T* p) : p_(p) {}
  UniqueTaskMem(UniqueTaskMem&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  UniqueTaskMem& operator=(UniqueTaskMem&& o) noexcept {
    if (this != &o) reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  UniqueTaskMem(const UniqueTaskMem&) = delete;
  UniqueTaskMem& operator=(const UniqueTaskMem&) = delete;
  ~UniqueTaskMem() { reset(); }

  T* get() const { return p_; }
  T* release() { return std::exchange(p_, nullptr); }
  void reset(T* p = nullptr) {
    if (T* old = std::exchange(p_, p)) CoTaskMemFree(old);
  }
  T** put() {
    reset();
    return &p_;
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A VARIANT that is cleared when it goes (a string or interface inside is freed).
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&v_); }
  ~ScopedVariant() { VariantClear(&v_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  void clear() { VariantClear(&v_); }

 private:
  VARIANT v_;
};

}  // namespace media
