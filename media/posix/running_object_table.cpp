// The process-wide running object table and item monikers on Linux. Entries hold a reference
// to their object until revoked, at most kRunningObjectTableLimit of them; monikers are
// compared by display name.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "media/com_ptr.h"
#include "media/posix/com_object.h"
#include "media/running_object_table.h"
#include "platform/exception_guard.h"

namespace media {
namespace {

constexpr CLSID kClsidItemMoniker = {0x00000304, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DWORD kMksysItemMoniker = 4;
constexpr HRESULT kMkSReducedToSelf = static_cast<HRESULT>(0x000401E2u);
constexpr HRESULT kMkSMonikerAlreadyRegistered = static_cast<HRESULT>(0x000401E7u);

std::u16string DisplayName(IMoniker* moniker) {
  UniqueTaskMem<OLECHAR> name;
  if (!moniker || FAILED(moniker->GetDisplayName(nullptr, nullptr, name.put())) || !name) return {};
  return std::u16string(name.get());
}

OLECHAR* TaskCopy(const std::u16string& text) {
  auto* out = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!out) return nullptr;
  std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
  return out;
}

class ItemMoniker final : public RuntimeComObject<IMoniker> {
 public:
  ItemMoniker(std::u16string delimiter, std::u16string item)
      : delimiter_(std::move(delimiter)), item_(std::move(item)) {}

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = kClsidItemMoniker;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

  // An item names something inside a container; alone there is nothing to bind to.
  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker* left, REFIID, void** out) override {
    if (out) *out = nullptr;
    return left ? E_NOTIMPL : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker* left, REFIID, void** out) override {
    if (out) *out = nullptr;
    return left ? E_NOTIMPL : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker** left, IMoniker** reduced) override {
    if (!reduced) return E_POINTER;
    if (left) *left = nullptr;
    AddRef();
    *reduced = this;
    return kMkSReducedToSelf;
  }
  HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker** composite) override {
    if (composite) *composite = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;  // not a composite
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsEqual(IMoniker* other) override {
    if (!other) return E_INVALIDARG;
    CLSID clsid{};
    if (FAILED(other->GetClassID(&clsid)) || clsid != kClsidItemMoniker) return S_FALSE;
    return DisplayName(other) == delimiter_ + item_ ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Hash(DWORD* hash) override {
    if (!hash) return E_POINTER;
    DWORD h = 0;
    for (char16_t c : item_) h = h * 37 + c;
    *hash = h;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override;
  HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Inverse(IMoniker** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
    if (!name) return E_POINTER;
    *name = TaskCopy(delimiter_ + item_);
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG* eaten, IMoniker** out) override {
    if (eaten) *eaten = 0;
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD* kind) override {
    if (!kind) return E_POINTER;
    *kind = kMksysItemMoniker;
    return S_OK;
  }

 private:
  void* InterfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IMoniker || iid == IID_IPersistStream || iid == IID_IPersist) {
      return static_cast<IMoniker*>(this);
    }
    return nullptr;
  }
  std::u16string delimiter_;
  std::u16string item_;
};


// A snapshot of registered names.
using MonikerEnum = RuntimeEnum<IEnumMoniker, ComPtr<IMoniker>>;

// One per process, never freed; not counted as a live object (only its entries are).
class RunningObjectTable final : public IRunningObjectTable {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IRunningObjectTable) {
      *ppv = static_cast<IRunningObjectTable*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) override {
    if (cookie) *cookie = 0;
    if (!object || !name || !cookie) return E_INVALIDARG;
    if (flags & ~(ROTFLAGS_REGISTRATIONKEEPSALIVE | ROTFLAGS_ALLOWANYCLIENT)) return E_INVALIDARG;
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      std::u16string key = DisplayName(name);
      std::lock_guard<std::mutex> hold(lock_);
      if (entries_.size() >= kRunningObjectTableLimit) return E_OUTOFMEMORY;
      bool duplicate = false;
      for (const Entry& e : entries_) duplicate = duplicate || e.name == key;
      Entry entry{nextCookie_++, std::move(key), ComPtr<IUnknown>(object), ComPtr<IMoniker>(name), FILETIME{}};
      if (nextCookie_ == 0) nextCookie_ = 1;
      *cookie = entry.cookie;
      entries_.push_back(std::move(entry));
      return duplicate ? kMkSMonikerAlreadyRegistered : S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Revoke(DWORD cookie) override {
    Entry gone;
    {
      std::lock_guard<std::mutex> hold(lock_);
      auto it = Find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      gone = std::move(*it);
      entries_.erase(it);
    }
    return S_OK;  // the references go here, outside the lock
  }

  HRESULT STDMETHODCALLTYPE IsRunning(IMoniker* name) override {
    if (!name) return E_INVALIDARG;
    const std::u16string key = DisplayName(name);
    std::lock_guard<std::mutex> hold(lock_);
    for (const Entry& e : entries_) {
      if (e.name == key) return S_OK;
    }
    return S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE GetObject(IMoniker* name, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!name) return E_INVALIDARG;
    const std::u16string key = DisplayName(name);
    std::lock_guard<std::mutex> hold(lock_);
    for (const Entry& e : entries_) {
      if (e.name == key) return e.object.copyTo(object);
    }
    return MK_E_UNAVAILABLE;
  }

  HRESULT STDMETHODCALLTYPE NoteChangeTime(DWORD cookie, FILETIME* time) override {
    if (!time) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(lock_);
    auto it = Find(cookie);
    if (it == entries_.end()) return E_INVALIDARG;
    it->changed = *time;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IMoniker* name, FILETIME* time) override {
    if (!name || !time) return E_INVALIDARG;
    const std::u16string key = DisplayName(name);
    std::lock_guard<std::mutex> hold(lock_);
    for (const Entry& e : entries_) {
      if (e.name == key) {
        *time = e.changed;
        return S_OK;
      }
    }
    return MK_E_UNAVAILABLE;
  }

  HRESULT STDMETHODCALLTYPE EnumRunning(IEnumMoniker** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return platform::Guarded(E_OUTOFMEMORY, [&] {
      std::vector<ComPtr<IMoniker>> names;
      {
        std::lock_guard<std::mutex> hold(lock_);
        for (const Entry& e : entries_) names.push_back(e.moniker);
      }
      return HandOut(new MonikerEnum({std::move(names), HandReferenced}), IID_IEnumMoniker,
                     reinterpret_cast<void**>(out));
    });
  }

 private:
  struct Entry {
    DWORD cookie = 0;
    std::u16string name;
    ComPtr<IUnknown> object;
    ComPtr<IMoniker> moniker;
    FILETIME changed{};
  };

  std::vector<Entry>::iterator Find(DWORD cookie) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->cookie == cookie) return it;
    }
    return entries_.end();
  }

  std::mutex lock_;
  std::vector<Entry> entries_;
  DWORD nextCookie_ = 1;
};

RunningObjectTable& Table() {
  static RunningObjectTable* table = new RunningObjectTable;  // outlives every static destructor
  return *table;
}

HRESULT STDMETHODCALLTYPE ItemMoniker::IsRunning(IBindCtx*, IMoniker* left, IMoniker* newlyRunning) {
  if (left) return E_NOTIMPL;
  if (newlyRunning) return IsEqual(newlyRunning);
  return Table().IsRunning(this);
}

}  // namespace
}  // namespace media

extern "C" {

HRESULT GetRunningObjectTable(DWORD, IRunningObjectTable** pprot) {
  if (!pprot) return E_INVALIDARG;
  *pprot = &media::Table();
  return S_OK;
}

HRESULT CreateItemMoniker(LPCOLESTR lpszDelim, LPCOLESTR lpszItem, IMoniker** ppmk) {
  if (!ppmk) return E_INVALIDARG;
  *ppmk = nullptr;
  if (!lpszItem) return E_INVALIDARG;
  return platform::Guarded(E_OUTOFMEMORY, [&] {
    return media::HandOut(new media::ItemMoniker(lpszDelim ? lpszDelim : u"", lpszItem), IID_IMoniker,
                          reinterpret_cast<void**>(ppmk));
  });
}

}  // extern "C"
