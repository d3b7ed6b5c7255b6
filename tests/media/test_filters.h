// Small filters for the runtime's tests: pins with a category, media types and extra
// interfaces they answer, filters that log their state changes, and an object count of
// their own (separate from the runtime's).
#pragma once

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "media/com_object.h"
#include "media/com_ptr.h"
#include "media/dshow.h"
#include "media/media_type.h"

namespace test {

inline std::atomic<long> gTestObjects{0};

// A COM object counted in gTestObjects.
template <typename... Interfaces>
class TestObject : public media::ComObject<Interfaces...> {
 public:
  TestObject() { ++gTestObjects; }
  ~TestObject() override { --gTestObjects; }
};

// An enumerator over a copy of `items`; each item handed out is made by `Copy`.
template <typename Enum, typename Item, typename Stored, typename Copy>
class VectorEnum final : public TestObject<Enum> {
 public:
  VectorEnum(const IID& iid, std::vector<Stored> items, Copy copy) : iid_(iid), items_(std::move(items)), copy_(copy) {}
  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    ULONG n = 0;
    while (n < count && pos_ < items_.size()) out[n++] = copy_(items_[pos_++]);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    pos_ = std::min(items_.size(), pos_ + count);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    pos_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Enum** out) override {
    *out = new VectorEnum(iid_, items_, copy_);
    return S_OK;
  }

 private:
  void* InterfaceFor(REFIID iid) override {
    return (iid == IID_IUnknown || iid == iid_) ? static_cast<Enum*>(this) : nullptr;
  }
  IID iid_;
  std::vector<Stored> items_;
  Copy copy_;
  size_t pos_ = 0;
};

class TestFilter;

struct PinSpec {
  PIN_DIRECTION dir = PINDIR_OUTPUT;
  GUID category = GUID_NULL;               // GUID_NULL: no IKsPropertySet answer
  std::vector<GUID> majorTypes{MEDIATYPE_Video};
  std::vector<IID> answers;                // extra interfaces the pin claims
};

class TestPin final : public TestObject<IPin, IKsPropertySet> {
 public:
  TestPin(TestFilter* owner, PinSpec spec, std::u16string id) : owner_(owner), spec_(std::move(spec)), id_(std::move(id)) {}

  HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override {
    if (!receiver) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    AM_MEDIA_TYPE proposed = mt ? *mt : TypeFor(spec_.majorTypes.empty() ? MEDIATYPE_Video : spec_.majorTypes[0]);
    const HRESULT hr = receiver->ReceiveConnection(this, &proposed);
    if (FAILED(hr)) return hr;
    peer_ = media::ComPtr<IPin>(receiver);
    connectedType_ = proposed;
    ++connects;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override {
    if (!connector || !mt) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (!Accepts(*mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    peer_ = media::ComPtr<IPin>(connector);
    connectedType_ = *mt;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override {
    std::lock_guard<std::mutex> hold(lock_);
    if (!peer_) return S_FALSE;
    peer_.reset();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *pin = nullptr;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    return peer_.copyTo(pin);
  }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override {
    if (!mt) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    if (!peer_) return VFW_E_NOT_CONNECTED;
    return CopyMediaType(mt, &connectedType_);
  }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override {
    *dir = spec_.dir;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
    *id = static_cast<LPWSTR>(CoTaskMemAlloc((id_.size() + 1) * 2));
    std::copy(id_.c_str(), id_.c_str() + id_.size() + 1, *id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override { return mt && Accepts(*mt) ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = new VectorEnum<IEnumMediaTypes, AM_MEDIA_TYPE*, AM_MEDIA_TYPE, MajorCopy>(
        IID_IEnumMediaTypes, MajorList(spec_.majorTypes), MajorCopy{});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) override {
    if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY || spec_.category == GUID_NULL) return E_NOTIMPL;
    if (!data || size < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = spec_.category;
    if (returned) *returned = sizeof(GUID);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID, DWORD, DWORD*) override { return E_NOTIMPL; }

  bool IsConnected() {
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<bool>(peer_);
  }
  int connects = 0;

 private:
  struct MajorCopy {
    AM_MEDIA_TYPE* operator()(const AM_MEDIA_TYPE& mt) const { return CreateMediaType(&mt); }
  };
  static std::vector<AM_MEDIA_TYPE> MajorList(const std::vector<GUID>& majors) {
    std::vector<AM_MEDIA_TYPE> out;
    for (const GUID& g : majors) out.push_back(TypeFor(g));
    return out;
  }
  static AM_MEDIA_TYPE TypeFor(const GUID& major) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = major;
    mt.subtype = MEDIASUBTYPE_YUY2;
    mt.formattype = GUID_NULL;
    return mt;
  }
  bool Accepts(const AM_MEDIA_TYPE& mt) const {
    for (const GUID& g : spec_.majorTypes) {
      if (g == mt.majortype) return true;
    }
    return false;
  }
  void* InterfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IPin) return static_cast<IPin*>(this);
    if (iid == IID_IKsPropertySet) return static_cast<IKsPropertySet*>(this);
    for (const IID& a : spec_.answers) {
      if (a == iid) return static_cast<IPin*>(this);
    }
    return nullptr;
  }

  TestFilter* owner_;
  PinSpec spec_;
  std::u16string id_;
  std::mutex lock_;
  media::ComPtr<IPin> peer_;
  AM_MEDIA_TYPE connectedType_{};
};

// Records "<name>:<call>" lines of every filter sharing one log.
struct CallLog {
  std::mutex lock;
  std::vector<std::string> lines;
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock);
    lines.push_back(line);
  }
};

class TestFilter final : public TestObject<IBaseFilter> {
 public:
  TestFilter(std::string tag, std::vector<PinSpec> pins, CallLog* log, std::vector<IID> answers = {})
      : tag_(std::move(tag)), log_(log), answers_(std::move(answers)) {
    int n = 0;
    for (PinSpec& p : pins) pins_.push_back(new TestPin(this, std::move(p), u"pin" + std::u16string(1, u'0' + n++)));
  }
  ~TestFilter() override {
    for (TestPin* p : pins_) p->Release();
  }

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    *clsid = GUID_NULL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override { return Change(State_Stopped, "Stop"); }
  HRESULT STDMETHODCALLTYPE Pause() override { return Change(State_Paused, "Pause"); }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override {
    if (failRun) {
      Log("Run failed");
      return failRun;
    }
    return Change(State_Running, "Run");
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
    *state = state_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override {
    clock_ = media::ComPtr<IReferenceClock>(clock);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override { return clock_.copyTo(clock); }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** out) override {
    std::vector<IPin*> pins(pins_.begin(), pins_.end());
    *out = new VectorEnum<IEnumPins, IPin*, IPin*, PinCopy>(IID_IEnumPins, pins, PinCopy{});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    std::fill(std::begin(info->achName), std::end(info->achName), u'\0');
    std::copy(name.begin(), name.end(), info->achName);
    info->pGraph = graph;
    if (graph) graph->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* g, LPCWSTR n) override {
    graph = g;
    name = n ? std::u16string(n) : std::u16string();
    Log(g ? "Join" : "Leave");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  TestPin* pin(size_t i) { return pins_[i]; }
  IReferenceClock* clock() { return clock_.get(); }

  IFilterGraph* graph = nullptr;  // not a reference, as in DirectShow
  std::u16string name;
  HRESULT failRun = S_OK;

 private:
  struct PinCopy {
    IPin* operator()(IPin* p) const {
      p->AddRef();
      return p;
    }
  };
  HRESULT Change(FILTER_STATE s, const char* what) {
    state_ = s;
    Log(what);
    return S_OK;
  }
  void Log(const char* what) {
    if (log_) log_->Add(tag_ + ":" + what);
  }
  void* InterfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist) {
      return static_cast<IBaseFilter*>(this);
    }
    for (const IID& a : answers_) {
      if (a == iid) return static_cast<IBaseFilter*>(this);
    }
    return nullptr;
  }

  std::string tag_;
  CallLog* log_;
  std::vector<IID> answers_;
  std::vector<TestPin*> pins_;
  FILTER_STATE state_ = State_Stopped;
  media::ComPtr<IReferenceClock> clock_;
};

inline HRESULT STDMETHODCALLTYPE TestPin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = owner_;
  owner_->AddRef();
  info->dir = spec_.dir;
  std::fill(std::begin(info->achName), std::end(info->achName), u'\0');
  std::copy(id_.begin(), id_.end(), info->achName);
  return S_OK;
}

}  // namespace test
