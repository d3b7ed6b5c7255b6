// The Smart Tee on Linux: one video input pin and two output pins, "Capture" and "Preview",
// each handed every sample the input receives, in the input's media type; the preview
// stream's samples carry no times. The capture graph builder puts it behind a capture pin
// when a preview is asked of a filter without one.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/posix/builtin_classes.h"
#include "media/posix/com_object.h"
#include "media/posix/pin_util.h"
#include "platform/exception_guard.h"

namespace media {
namespace {

// The tee's pins and a pin's types, over snapshots.
using PinEnum = RuntimeEnum<IEnumPins, ComPtr<IPin>>;
using TypeEnum = RuntimeEnum<IEnumMediaTypes, UniqueMediaType>;

AM_MEDIA_TYPE* HandType(const UniqueMediaType& type) { return CreateMediaType(type.get()); }

// A sample as the preview pin hands it on: the same buffer and properties, without times.
class UntimedSample final : public RuntimeComObject<IMediaSample> {
 public:
  explicit UntimedSample(IMediaSample* sample) : sample_(sample) {}

  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override { return sample_->GetPointer(buffer); }
  LONG STDMETHODCALLTYPE GetSize() override { return sample_->GetSize(); }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return VFW_E_SAMPLE_TIME_NOT_SET; }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return sample_->IsSyncPoint(); }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return sample_->IsPreroll(); }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return E_NOTIMPL; }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return sample_->GetActualDataLength(); }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override { return sample_->GetMediaType(type); }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return sample_->IsDiscontinuity(); }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

 private:
  void* InterfaceFor(REFIID iid) override {
    return (iid == IID_IUnknown || iid == IID_IMediaSample) ? static_cast<IMediaSample*>(this) : nullptr;
  }
  const ComPtr<IMediaSample> sample_;
};

class SmartTee;

// What the three pins share; a pin's references are the tee's.
class TeePin : public IPin {
 public:
  TeePin(SmartTee* tee, PIN_DIRECTION dir, const char16_t* name) : tee_(tee), dir_(dir), name_(name) {}
  virtual ~TeePin() = default;

  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override {
    if (!dir) return E_POINTER;
    *dir = dir_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc((name_.size() + 1) * sizeof(WCHAR)));
    if (!*id) return E_OUTOFMEMORY;
    std::char_traits<char16_t>::copy(*id, name_.c_str(), name_.size() + 1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }

  const std::u16string& name() const { return name_; }
  // The peer, or empty; under the tee's lock.
  ComPtr<IPin> peer() const;

 protected:
  SmartTee* const tee_;
  const PIN_DIRECTION dir_;
  const std::u16string name_;
  ComPtr<IPin> peer_;    // under the tee's lock
  UniqueMediaType type_;  // under the tee's lock
};

class TeeInputPin final : public TeePin, public IMemInputPin {
 public:
  explicit TeeInputPin(SmartTee* tee) : TeePin(tee, PINDIR_INPUT, u"Input") {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    void* found = InterfaceIf<IPin>(this, iid, {&IID_IUnknown, &IID_IPin});
    if (!found) found = InterfaceIf<IMemInputPin>(this, iid, {&IID_IMemInputPin});
    return AnswerQuery(found, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return TeePin::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return TeePin::Release(); }

  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override {
    return mt && mt->majortype == MEDIATYPE_Video ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** out) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count && (hr = Receive(samples[*processed])) == S_OK) ++*processed;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

  // The connection type (a copy), or empty when not connected; under the tee's lock.
  UniqueMediaType TypeCopy() const { return type_ ? UniqueMediaType::Copy(*type_.get()) : UniqueMediaType(); }
  ComPtr<IMemAllocator> allocator() const { return allocator_; }

 private:
  ComPtr<IMemAllocator> allocator_;  // under the tee's lock
};

class TeeOutputPin final : public TeePin {
 public:
  TeeOutputPin(SmartTee* tee, const char16_t* name) : TeePin(tee, PINDIR_OUTPUT, name) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    return AnswerQuery(InterfaceIf<IPin>(this, iid, {&IID_IUnknown, &IID_IPin}), ppv);
  }

  HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** out) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // The connected input's IMemInputPin, or empty; under the tee's lock.
  ComPtr<IMemInputPin> receiver() const { return receiver_; }

 private:
  ComPtr<IMemInputPin> receiver_;  // under the tee's lock
};

class SmartTee final : public RuntimeComObject<IBaseFilter> {
 public:
  SmartTee() : input_(this), capture_(this, u"Capture"), preview_(this, u"Preview") {}
  ~SmartTee() override = default;

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_SmartTee;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override { return SetState(State_Stopped); }
  HRESULT STDMETHODCALLTYPE Pause() override { return SetState(State_Paused); }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return SetState(State_Running); }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = state_.load();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    clock_ = ComPtr<IReferenceClock>(clock);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return clock_.copyTo(clock);
  }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return platform::Guarded(E_OUTOFMEMORY, [&] {
      std::vector<ComPtr<IPin>> pins;
      for (TeePin* pin : Pins()) pins.push_back(ComPtr<IPin>(pin));
      return HandOut(new PinEnum({std::move(pins), HandReferenced}), IID_IEnumPins,
                     reinterpret_cast<void**>(out));
    });
  }
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** out) override {
    if (!id || !out) return E_POINTER;
    for (TeePin* pin : Pins()) {
      if (pin->name() == id) {
        *out = pin;
        pin->AddRef();
        return S_OK;
      }
    }
    *out = nullptr;
    return VFW_E_NOT_FOUND;
  }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    if (!info) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    const size_t room = static_cast<size_t>(MAX_FILTER_NAME) - 1;
    const size_t n = name_.size() < room ? name_.size() : room;
    std::char_traits<char16_t>::copy(info->achName, name_.c_str(), n);
    info->achName[n] = 0;
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
  }
  // The graph holds the tee; holding it back would make a cycle.
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    return platform::Guarded(E_OUTOFMEMORY, [&] {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      graph_ = graph;
      name_ = graph && name ? std::u16string(name) : std::u16string();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  // On the upstream streaming thread: the sample to each connected output. The capture
  // stream's result is the tee's; the preview's is not.
  HRESULT Deliver(IMediaSample* sample) {
    if (state_.load() == State_Stopped) return VFW_E_WRONG_STATE;
    ComPtr<IMemInputPin> capture, preview;
    {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      capture = capture_.receiver();
      preview = preview_.receiver();
    }
    HRESULT hr = S_OK;
    if (capture) hr = capture->Receive(sample);
    if (preview) {
      ComPtr<IMediaSample> untimed = ComPtr<IMediaSample>::Attach(new UntimedSample(sample));
      preview->Receive(untimed.get());
    }
    return hr;
  }

  // Calls `fn` with the peer of each connected output pin.
  template <typename Fn>
  HRESULT ToEachPeer(Fn fn) {
    std::vector<ComPtr<IPin>> peers;
    {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      for (TeeOutputPin* out : {&capture_, &preview_}) {
        if (ComPtr<IPin> p = out->peer()) peers.push_back(std::move(p));
      }
    }
    for (const ComPtr<IPin>& p : peers) fn(p.get());
    return S_OK;
  }

  FILTER_STATE state() const { return state_.load(); }
  std::recursive_mutex& lock() { return lock_; }
  TeeInputPin& input() { return input_; }

 private:
  void* InterfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter) {
      return static_cast<IBaseFilter*>(this);
    }
    return nullptr;
  }
  std::vector<TeePin*> Pins() { return {&input_, &capture_, &preview_}; }
  HRESULT SetState(FILTER_STATE state) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    state_.store(state);
    return S_OK;
  }

  std::recursive_mutex lock_;
  std::atomic<FILTER_STATE> state_{State_Stopped};
  IFilterGraph* graph_ = nullptr;
  std::u16string name_;
  ComPtr<IReferenceClock> clock_;
  TeeInputPin input_;
  TeeOutputPin capture_;
  TeeOutputPin preview_;
};

// ---- pins ----

ULONG TeePin::AddRef() { return tee_->AddRef(); }
ULONG TeePin::Release() { return tee_->Release(); }

ComPtr<IPin> TeePin::peer() const { return peer_; }

HRESULT TeePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(tee_->lock());
  *pin = nullptr;
  if (!peer_) return VFW_E_NOT_CONNECTED;
  return peer_.copyTo(pin);
}

HRESULT TeePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(tee_->lock());
  if (!peer_ || !type_) {
    *mt = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(mt, type_.get());
}

HRESULT TeePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = tee_;
  tee_->AddRef();
  info->dir = dir_;
  std::char_traits<char16_t>::copy(info->achName, name_.c_str(), name_.size() + 1);
  return S_OK;
}

HRESULT TeeInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
  if (!connector || !mt) return E_POINTER;
  return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> hold(tee_->lock());
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (tee_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir{};
    if (!PinDirection(connector, &dir) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (mt->majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
    UniqueMediaType copy = UniqueMediaType::Copy(*mt);
    if (!copy) return E_OUTOFMEMORY;
    type_ = std::move(copy);
    peer_ = ComPtr<IPin>(connector);
    return S_OK;
  });
}

HRESULT TeeInputPin::Disconnect() {
  std::lock_guard<std::recursive_mutex> hold(tee_->lock());
  if (tee_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!peer_) return S_FALSE;
  peer_.reset();
  type_.reset();
  allocator_.reset();
  return S_OK;
}

HRESULT TeeInputPin::EnumMediaTypes(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return platform::Guarded(E_OUTOFMEMORY, [&] {
    return HandOut(new TypeEnum({{}, HandType}), IID_IEnumMediaTypes, reinterpret_cast<void**>(out));
  });
}

HRESULT TeeInputPin::EndOfStream() {
  return tee_->ToEachPeer([](IPin* p) { p->EndOfStream(); });
}
HRESULT TeeInputPin::BeginFlush() {
  return tee_->ToEachPeer([](IPin* p) { p->BeginFlush(); });
}
HRESULT TeeInputPin::EndFlush() {
  return tee_->ToEachPeer([](IPin* p) { p->EndFlush(); });
}
HRESULT TeeInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return tee_->ToEachPeer([&](IPin* p) { p->NewSegment(start, stop, rate); });
}

HRESULT TeeInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> hold(tee_->lock());
    if (!allocator_) {
      const HRESULT hr = CreateMemoryAllocator(IID_IMemAllocator, allocator_.putVoid());
      if (FAILED(hr)) return hr;
    }
    return allocator_.copyTo(allocator);
  });
}

HRESULT TeeInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (!allocator) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(tee_->lock());
  allocator_ = ComPtr<IMemAllocator>(allocator);
  return S_OK;
}

HRESULT TeeInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  return platform::Guarded(E_FAIL, [&] { return tee_->Deliver(sample); });
}

HRESULT TeeOutputPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) {
  if (!receiver) return E_POINTER;
  return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> hold(tee_->lock());
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (tee_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
    // The outputs carry what the input receives, so they connect only after it.
    UniqueMediaType type = tee_->input().TypeCopy();
    if (!type) return VFW_E_NOT_CONNECTED;
    if (mt && ((mt->majortype != GUID_NULL && mt->majortype != type->majortype) ||
               (mt->subtype != GUID_NULL && mt->subtype != type->subtype) ||
               (mt->formattype != GUID_NULL && mt->formattype != type->formattype))) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    PIN_DIRECTION dir{};
    if (!PinDirection(receiver, &dir) || dir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    ComPtr<IMemInputPin> memInput;
    if (FAILED(receiver->QueryInterface(IID_IMemInputPin, memInput.putVoid())) || !memInput) {
      return VFW_E_NO_TRANSPORT;
    }
    HRESULT hr = receiver->ReceiveConnection(this, type.get());
    if (FAILED(hr)) return hr;
    // Both outputs hand on the upstream allocator's samples, which they share: read-only.
    if (ComPtr<IMemAllocator> allocator = tee_->input().allocator()) {
      hr = memInput->NotifyAllocator(allocator.get(), TRUE);
      if (FAILED(hr)) {
        receiver->Disconnect();
        return hr;
      }
    }
    peer_ = ComPtr<IPin>(receiver);
    type_ = std::move(type);
    receiver_ = std::move(memInput);
    return S_OK;
  });
}

HRESULT TeeOutputPin::Disconnect() {
  std::lock_guard<std::recursive_mutex> hold(tee_->lock());
  if (tee_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!peer_) return S_FALSE;
  peer_.reset();
  type_.reset();
  receiver_.reset();
  return S_OK;
}

HRESULT TeeOutputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(tee_->lock());
  UniqueMediaType type = tee_->input().TypeCopy();
  return type && mt->majortype == type->majortype && mt->subtype == type->subtype ? S_OK : S_FALSE;
}

HRESULT TeeOutputPin::EnumMediaTypes(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return platform::Guarded(E_OUTOFMEMORY, [&] {
    std::vector<UniqueMediaType> types;
    {
      std::lock_guard<std::recursive_mutex> hold(tee_->lock());
      if (UniqueMediaType type = tee_->input().TypeCopy()) types.push_back(std::move(type));
    }
    return HandOut(new TypeEnum({std::move(types), HandType}), IID_IEnumMediaTypes,
                   reinterpret_cast<void**>(out));
  });
}

}  // namespace

HRESULT CreateSmartTee(REFIID iid, void** ppv) { return HandOut(new SmartTee, iid, ppv); }

}  // namespace media
