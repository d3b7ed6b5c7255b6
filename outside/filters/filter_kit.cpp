// The filter kit's pins, enumerators, base filter and class factory.
#include "outside/filters/filter_kit.h"

#include <cstring>

#include "outside/filters/record.h"
#include "platform/exception_guard.h"
#include "platform/text.h"

namespace filters {
namespace {

void CopyName(OLECHAR* dst, size_t capacity, const std::u16string& name) {
  const size_t n = std::min(name.size(), capacity - 1);
  for (size_t i = 0; i < n; ++i) dst[i] = static_cast<OLECHAR>(name[i]);
  dst[n] = 0;
}

bool SameName(const OLECHAR* a, const std::u16string& b) {
  size_t i = 0;
  for (; a[i] && i < b.size(); ++i)
    if (static_cast<char16_t>(a[i]) != b[i]) return false;
  return a[i] == 0 && i == b.size();
}

// The pins of a filter, as they are when the enumerator (or a clone) is made.
class FilterPins {
 public:
  using Interface = IEnumPins;
  explicit FilterPins(KitFilter* filter) : filter_(Ref<KitFilter>(filter)) {
    std::lock_guard<std::recursive_mutex> lock(filter->Lock());
    for (int i = 0; i < filter->PinCount(); ++i) pins_.push_back(Ref<IPin>(filter->PinAt(i)));
  }
  bool Has(size_t position) const { return position < pins_.size(); }
  bool Hand(size_t position, IPin** out) const {
    if (!Has(position)) return false;
    *out = media::HandReferenced(pins_[position]);
    return true;
  }
  FilterPins Clone() const { return FilterPins(filter_.get()); }

 private:
  Ref<KitFilter> filter_;
  std::vector<Ref<IPin>> pins_;
};

// The types a pin proposes, asked of it at each step.
class PinTypes {
 public:
  using Interface = IEnumMediaTypes;
  explicit PinTypes(KitPin* pin) : pin_(Ref<IPin>(pin)), kit_(pin) {}
  bool Has(size_t position) const {
    MediaType type;
    return kit_->GetMediaType(static_cast<int>(position), type.ptr()) == S_OK;
  }
  bool Hand(size_t position, AM_MEDIA_TYPE** out) const {
    MediaType type;
    if (kit_->GetMediaType(static_cast<int>(position), type.ptr()) != S_OK) return false;
    AM_MEDIA_TYPE* copy = CreateMediaType(&type.get());
    if (!copy) return false;
    *out = copy;
    return true;
  }
  PinTypes Clone() const { return *this; }

 private:
  Ref<IPin> pin_;
  KitPin* kit_;
};

// Fetched may be missing for up to one item.
constexpr media::EnumRules kEnumRules{false, false, E_UNEXPECTED};
using PinEnumerator = media::Enumerator<FilterPins, ObjectCounter, kEnumRules>;
using TypeEnumerator = media::Enumerator<PinTypes, ObjectCounter, kEnumRules>;

}  // namespace

// ---- media types ----

void MediaType::Zero() { std::memset(&mt_, 0, sizeof(mt_)); }

bool MatchesPartialType(const AM_MEDIA_TYPE* partial, const AM_MEDIA_TYPE& type) {
  if (!partial) return true;
  if (partial->majortype != GUID_NULL && partial->majortype != type.majortype) return false;
  if (partial->subtype != GUID_NULL && partial->subtype != type.subtype) return false;
  if (partial->formattype != GUID_NULL && partial->formattype != type.formattype) return false;
  return true;
}

std::string Narrow(const OLECHAR* text) { return platform::Utf16ToUtf8(Wide(text)); }

std::u16string Wide(const OLECHAR* text) {
  std::u16string out;
  if (text)
    for (; *text; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

// ---- counters and factory ----

ObjectCounter::ObjectCounter() { ObjectCreated(); }
ObjectCounter::~ObjectCounter() { ObjectDestroyed(); }

HRESULT GetClassFactory(media::CreateInstanceFn create, REFIID riid, void** object) {
  return media::GetFactory<ObjectCounter>(create, &LockModule, riid, object);
}

HRESULT CanUnloadNow() {
  return LiveObjectCount() == 0 && ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

// ---- pins ----

KitPin::KitPin(KitFilter* filter, PIN_DIRECTION direction, const OLECHAR* name)
    : filter_(filter), direction_(direction), name_(Wide(name)) {}

KitPin::~KitPin() = default;

HRESULT KitPin::QueryInterface(REFIID riid, void** object) {
  return platform::Guarded<HRESULT>(E_UNEXPECTED, [&] {
    if (!object) return E_POINTER;
    void* found = media::InterfaceIf<IPin>(this, riid, {&IID_IUnknown, &IID_IPin});
    return media::AnswerQuery(found ? found : FindExtra(riid), object);
  });
}

ULONG KitPin::AddRef() { return filter_->AddRef(); }
ULONG KitPin::Release() { return filter_->Release(); }

void* KitPin::FindExtra(REFIID) { return nullptr; }

HRESULT KitPin::GetMediaType(int, AM_MEDIA_TYPE*) { return VFW_S_NO_MORE_ITEMS; }

HRESULT KitPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  return platform::Guarded<HRESULT>(E_UNEXPECTED, [&]() -> HRESULT {
    if (!receivePin) return E_POINTER;
    if (direction_ != PINDIR_OUTPUT) return E_UNEXPECTED;
    std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION other;
    if (FAILED(receivePin->QueryDirection(&other)) || other != PINDIR_INPUT)
      return VFW_E_INVALID_DIRECTION;
    // A complete type is tried alone; a partial one (or none) admits each of our types in
    // order, then each of the receiving pin's.
    if (type && type->majortype != GUID_NULL && type->subtype != GUID_NULL &&
        type->formattype != GUID_NULL)
      return TryConnect(receivePin, *type);
    for (int i = 0;; ++i) {
      MediaType candidate;
      if (GetMediaType(i, candidate.ptr()) != S_OK) break;
      if (MatchesPartialType(type, candidate.get()) && SUCCEEDED(TryConnect(receivePin, candidate.get())))
        return S_OK;
    }
    Ref<IEnumMediaTypes> theirs;
    if (SUCCEEDED(receivePin->EnumMediaTypes(theirs.put())) && theirs) {
      AM_MEDIA_TYPE* offered = nullptr;
      ULONG fetched = 0;
      while (theirs->Next(1, &offered, &fetched) == S_OK && fetched == 1) {
        const bool ok = MatchesPartialType(type, *offered) && SUCCEEDED(TryConnect(receivePin, *offered));
        DeleteMediaType(offered);
        if (ok) return S_OK;
      }
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
  });
}

HRESULT KitPin::TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type) {
  if (CheckMediaType(type) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  HRESULT hr = type_.Set(type);
  if (FAILED(hr)) return hr;
  peer_ = Ref<IPin>(receivePin);
  hr = receivePin->ReceiveConnection(this, &type);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(receivePin);
    if (SUCCEEDED(hr)) return S_OK;
    receivePin->Disconnect();
  }
  BreakConnect();
  peer_.reset();
  type_.Clear();
  return FAILED(hr) ? hr : E_FAIL;
}

HRESULT KitPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  return platform::Guarded<HRESULT>(E_UNEXPECTED, [&]() -> HRESULT {
    if (!connector || !type) return E_POINTER;
    if (direction_ != PINDIR_INPUT) return E_UNEXPECTED;
    std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION other;
    if (FAILED(connector->QueryDirection(&other)) || other != PINDIR_OUTPUT)
      return VFW_E_INVALID_DIRECTION;
    if (CheckMediaType(*type) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = type_.Set(*type);
    if (FAILED(hr)) return hr;
    peer_ = Ref<IPin>(connector);
    hr = CompleteConnect(connector);
    if (FAILED(hr)) {
      BreakConnect();
      peer_.reset();
      type_.Clear();
    }
    return hr;
  });
}

HRESULT KitPin::CompleteConnect(IPin*) { return S_OK; }

HRESULT KitPin::Disconnect() {
  return platform::Guarded<HRESULT>(E_UNEXPECTED, [&]() -> HRESULT {
    // An input pin whose upstream pin has already let it go receives nothing more, so it
    // leaves even while its filter is paused or running. A graph manager whose Run failed
    // in an upstream filter's Pause may leave the renderers it paused first in that state
    // and then, believing itself stopped, never stop them (Wine's quartz): unless the pin
    // let go, removing such a filter would fail for good, and so would the graph's release,
    // which retries the removal until it succeeds.
    bool released = false;
    if (direction_ == PINDIR_INPUT && filter_->State() != State_Stopped) {
      Ref<IPin> peer;
      {
        std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
        peer = peer_;
      }
      // Asked without the filter lock: the peer's own lock is never taken under ours.
      Ref<IPin> peersPeer;
      released = peer && (FAILED(peer->ConnectedTo(peersPeer.put())) ||
                          peersPeer.get() != static_cast<IPin*>(this));
    }
    std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
    if (filter_->State() != State_Stopped && !released) return VFW_E_NOT_STOPPED;
    if (!IsConnected()) return S_FALSE;
    BreakConnect();
    peer_.reset();
    type_.Clear();
    return S_OK;
  });
}

HRESULT KitPin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  *pin = peer_.get();
  if (!*pin) return VFW_E_NOT_CONNECTED;
  (*pin)->AddRef();
  return S_OK;
}

HRESULT KitPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  return platform::Guarded<HRESULT>(E_UNEXPECTED, [&]() -> HRESULT {
    if (!type) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
    if (!IsConnected()) {
      std::memset(type, 0, sizeof(*type));
      return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(type, &type_.get());
  });
}

HRESULT KitPin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = direction_;
  CopyName(info->achName, MAX_PIN_NAME, name_);
  return S_OK;
}

HRESULT KitPin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT KitPin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc((name_.size() + 1) * sizeof(OLECHAR)));
  if (!*id) return E_OUTOFMEMORY;
  CopyName(*id, name_.size() + 1, name_);
  return S_OK;
}

HRESULT KitPin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  return platform::Guarded<HRESULT>(E_UNEXPECTED, [&] { return CheckMediaType(*type) == S_OK ? S_OK : S_FALSE; });
}

HRESULT KitPin::EnumMediaTypes(IEnumMediaTypes** types) {
  return platform::Guarded<HRESULT>(E_OUTOFMEMORY, [&] {
    if (!types) return E_POINTER;
    *types = new TypeEnumerator(PinTypes(this));
    return S_OK;
  });
}

HRESULT KitPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
HRESULT KitPin::EndOfStream() { return S_OK; }
HRESULT KitPin::BeginFlush() { return S_OK; }
HRESULT KitPin::EndFlush() { return S_OK; }
HRESULT KitPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// ---- output pin ----

HRESULT KitOutputPin::CompleteConnect(IPin* peer) {
  Ref<IMemInputPin> input;
  if (FAILED(peer->QueryInterface(IID_IMemInputPin, input.putVoid())) || !input)
    return VFW_E_NO_TRANSPORT;
  ALLOCATOR_PROPERTIES request{};
  input->GetAllocatorRequirements(&request);  // optional for the input pin
  input_ = input;
  // The input pin's own allocator first, then a memory allocator of our own.
  Ref<IMemAllocator> allocator;
  if (SUCCEEDED(input->GetAllocator(allocator.put())) && allocator &&
      SUCCEEDED(TryAllocator(allocator.get(), request)))
    return S_OK;
  HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IMemAllocator, allocator.putVoid());
  if (FAILED(hr)) {
    input_.reset();
    return hr;
  }
  hr = TryAllocator(allocator.get(), request);
  if (FAILED(hr)) input_.reset();
  return hr;
}

HRESULT KitOutputPin::TryAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& inputRequest) {
  ALLOCATOR_PROPERTIES request = inputRequest;
  if (request.cbAlign <= 0) request.cbAlign = 1;
  HRESULT hr = DecideBufferSize(allocator, &request);
  if (FAILED(hr)) return hr;
  hr = input_->NotifyAllocator(allocator, FALSE);
  if (FAILED(hr)) return hr;
  allocator_ = Ref<IMemAllocator>(allocator);
  return S_OK;
}

void KitOutputPin::BreakConnect() {
  if (allocator_) allocator_->Decommit();
  allocator_.reset();
  input_.reset();
}

HRESULT KitOutputPin::Active() { return allocator_ ? allocator_->Commit() : S_OK; }

void KitOutputPin::Inactive() {
  if (allocator_) allocator_->Decommit();
}

HRESULT KitOutputPin::GetDeliveryBuffer(IMediaSample** sample) {
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT KitOutputPin::Deliver(IMediaSample* sample) {
  if (!input_) return VFW_E_NOT_CONNECTED;
  return input_->Receive(sample);
}

HRESULT KitOutputPin::DeliverEndOfStream() {
  IPin* peer = Peer();
  return peer ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

// ---- input pin ----

void* KitInputPin::FindExtra(REFIID riid) {
  if (riid == IID_IMemInputPin) return static_cast<IMemInputPin*>(this);
  return KitPin::FindExtra(riid);
}

HRESULT KitInputPin::GetAllocator(IMemAllocator** allocator) {
  return platform::Guarded<HRESULT>(E_UNEXPECTED, [&]() -> HRESULT {
    if (!allocator) return E_POINTER;
    *allocator = nullptr;
    std::lock_guard<std::mutex> lock(allocatorLock_);
    if (!allocator_) {
      const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IMemAllocator, allocator_.putVoid());
      if (FAILED(hr)) return hr;
    }
    *allocator = allocator_.get();
    (*allocator)->AddRef();
    return S_OK;
  });
}

HRESULT KitInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (!allocator) return E_POINTER;
  std::lock_guard<std::mutex> lock(allocatorLock_);
  allocator_ = Ref<IMemAllocator>(allocator);
  return S_OK;
}

HRESULT KitInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT KitInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  return platform::Guarded<HRESULT>(E_FAIL, [&] { return OnReceive(sample); });
}

HRESULT KitInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  while (*processed < count && (hr = Receive(samples[*processed])) == S_OK) ++*processed;
  return hr;
}

HRESULT KitInputPin::ReceiveCanBlock() { return S_OK; }

void KitInputPin::BreakConnect() {
  std::lock_guard<std::mutex> lock(allocatorLock_);
  allocator_.reset();
}

// ---- filter ----

KitFilter::KitFilter(const CLSID& clsid, std::string recordName)
    : recordName_(std::move(recordName)), clsid_(clsid) {
  ObjectCreated();
}

KitFilter::~KitFilter() { ObjectDestroyed(); }

void* KitFilter::InterfaceFor(REFIID riid) {
  void* found = media::InterfaceIf<IBaseFilter>(
      this, riid, {&IID_IUnknown, &IID_IPersist, &IID_IMediaFilter, &IID_IBaseFilter});
  return found ? found : FindExtra(riid);
}

void* KitFilter::FindExtra(REFIID) { return nullptr; }

HRESULT KitFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

HRESULT KitFilter::Stop() {
  return platform::Guarded<HRESULT>(E_FAIL, [&] {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (state_ == State_Stopped) return S_OK;
    OnStop();
    for (int i = 0; i < PinCount(); ++i) PinAt(i)->Inactive();
    state_ = State_Stopped;
    RecordCall("Stop");
    return S_OK;
  });
}

HRESULT KitFilter::Pause() {
  return platform::Guarded<HRESULT>(E_FAIL, [&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    const FILTER_STATE from = state_;
    if (from == State_Paused) return S_OK;
    if (from == State_Stopped) {
      for (int i = 0; i < PinCount(); ++i) {
        const HRESULT hr = PinAt(i)->Active();
        if (FAILED(hr)) {
          for (int j = 0; j < i; ++j) PinAt(j)->Inactive();
          return hr;
        }
      }
    }
    const HRESULT hr = OnPause(from);
    if (FAILED(hr)) {
      if (from == State_Stopped)
        for (int i = 0; i < PinCount(); ++i) PinAt(i)->Inactive();
      RecordCall("Pause failed");
      return hr;
    }
    state_ = State_Paused;
    if (from == State_Stopped) RecordCall("Pause");
    // A live source says so through GetState alone: the graph manager's Stop pauses a
    // running graph's filters first and may pass on what Pause returned (Wine's quartz
    // does), and a Stop that succeeds answers S_OK.
    return S_OK;
  });
}

HRESULT KitFilter::Run(REFERENCE_TIME start) {
  return platform::Guarded<HRESULT>(E_FAIL, [&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (state_ == State_Running) return S_OK;
    if (state_ == State_Stopped) {
      const HRESULT hr = Pause();
      if (FAILED(hr)) return hr;
    }
    const HRESULT hr = OnRun(start);
    if (FAILED(hr)) {
      RecordCall("Run failed");
      return hr;
    }
    state_ = State_Running;
    RecordCall("Run");
    return S_OK;
  });
}

HRESULT KitFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = state_;
  return *state == State_Paused && IsLiveSource() ? VFW_S_CANT_CUE : S_OK;
}

HRESULT KitFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  clock_ = Ref<IReferenceClock>(clock);
  return S_OK;
}

HRESULT KitFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(lock_);
  *clock = clock_.get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

HRESULT KitFilter::EnumPins(IEnumPins** pins) {
  return platform::Guarded<HRESULT>(E_OUTOFMEMORY, [&] {
    if (!pins) return E_POINTER;
    *pins = new PinEnumerator(FilterPins(this));
    return S_OK;
  });
}

HRESULT KitFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(lock_);
  for (int i = 0; i < PinCount(); ++i) {
    KitPin* candidate = PinAt(i);
    if (SameName(id, candidate->Name())) {
      *pin = candidate;
      candidate->AddRef();
      return S_OK;
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT KitFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(lock_);
  CopyName(info->achName, MAX_FILTER_NAME, name_);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT KitFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  return platform::Guarded<HRESULT>(E_FAIL, [&] {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    std::lock_guard<std::mutex> sinkLock(sinkLock_);
    // The graph holds the filter; holding the graph back would make a cycle, so neither
    // the graph nor its event sink is referenced.
    graph_ = graph;
    sink_ = nullptr;
    if (graph) {
      IMediaEventSink* sink = nullptr;
      if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
        sink_ = sink;
        sink->Release();
      }
    }
    name_ = graph ? Wide(name) : std::u16string();
    return S_OK;
  });
}

HRESULT KitFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

bool KitFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  // The streaming thread sends events while Stop may hold the filter lock waiting for it,
  // so the sink has a lock of its own, held across the call so that the filter cannot
  // leave the graph meanwhile.
  std::lock_guard<std::mutex> lock(sinkLock_);
  return sink_ && SUCCEEDED(sink_->Notify(code, param1, param2));
}

void KitFilter::RecordCall(const std::string& what) const { Record(recordName_ + " " + what); }

}  // namespace filters
