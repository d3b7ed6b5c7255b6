// The synthetic camera: a live capture source whose capabilities, pins and faults come from
// its device's "Config" string, delivering the test pattern at the configured rate on its
// own streaming thread.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "media/jpeg/jpeg_codec.h"
#include "outside/filters/camera_config.h"
#include "outside/filters/capability_type.h"
#include "outside/filters/filter_kit.h"
#include "outside/filters/record.h"
#include "outside/filters/stand_ins.h"
#include "outside/filters/tuner_pin.h"
#include "platform/event.h"
#include "platform/exception_guard.h"
#include "platform/thread.h"

namespace filters {
namespace {

// PIN_CATEGORY_CAPTURE, PIN_CATEGORY_PREVIEW and AMPROPSETID_Pin.
constexpr GUID kPinCategoryCapture = {0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
constexpr GUID kPinCategoryPreview = {0xFB6C4282, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
constexpr GUID kPropSetPin = {0x9B00F101, 0x1567, 0x11D1, {0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
constexpr DWORD kPropertyPinCategory = 0;  // AMPROPERTY_PIN_CATEGORY
// kPropSetUnsupported and kPropIdUnsupported, by value (the Linux names of the media
// layer lack them).
constexpr HRESULT kPropSetUnsupported = static_cast<HRESULT>(0x80070492);
constexpr HRESULT kPropIdUnsupported = static_cast<HRESULT>(0x80070490);

class CameraFilter;

// An output pin: capture (with IAMStreamConfig) or preview; both report their category.
class CameraPin : public KitOutputPin, public IKsPropertySet, public IAMStreamConfig {
 public:
  CameraPin(CameraFilter* filter, bool capture);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return KitPin::QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return KitPin::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return KitPin::Release(); }

  void* FindExtra(REFIID riid) override {
    if (riid == IID_IKsPropertySet) return static_cast<IKsPropertySet*>(this);
    if (capture_ && riid == IID_IAMStreamConfig) return static_cast<IAMStreamConfig*>(this);
    return KitOutputPin::FindExtra(riid);
  }

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* type) override;

  // IKsPropertySet
  HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void*, DWORD, void*, DWORD) override {
    return set == kPropSetPin && id == kPropertyPinCategory ? kPropIdUnsupported : kPropSetUnsupported;
  }
  HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD size,
                                DWORD* returned) override {
    if (set != kPropSetPin) return kPropSetUnsupported;
    if (id != kPropertyPinCategory) return kPropIdUnsupported;
    if (!data && !returned) return E_POINTER;
    if (returned) *returned = sizeof(GUID);
    if (!data) return S_OK;
    if (size < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = capture_ ? kPinCategoryCapture : kPinCategoryPreview;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
    if (set != kPropSetPin) return kPropSetUnsupported;
    if (id != kPropertyPinCategory) return kPropIdUnsupported;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
  }

  // IAMStreamConfig
  HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

  bool capture() const { return capture_; }

 protected:
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  CameraFilter* camera();
  const bool capture_;
};

class CameraFilter : public KitFilter, public IPersistPropertyBag, public IKsObject {
 public:
  CameraFilter() : KitFilter(kClsidKestrelCam, "camera"), ksHandle_(platform::Event::CreateLocal(true, false)) {
    BuildPins();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return KitFilter::QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return KitFilter::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return KitFilter::Release(); }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override { return KitFilter::GetClassID(clsid); }

  // IPersistPropertyBag
  HRESULT STDMETHODCALLTYPE InitNew() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

  // IKsObject
  HANDLE STDMETHODCALLTYPE KsGetObjectHandle() override {
    return reinterpret_cast<HANDLE>(ksHandle_.get());
  }

  int PinCount() override { return static_cast<int>(pins_.size()); }
  KitPin* PinAt(int index) override { return pins_[static_cast<size_t>(index)].get(); }

  std::recursive_mutex& ConfigLock() { return Lock(); }
  const CameraConfig& Config() const { return config_; }
  // The capability SetFormat chose, if any.
  const Capability* Chosen() const { return chosen_ ? &chosenCap_ : nullptr; }
  HRESULT Choose(const Capability* cap);
  // The camera's own allocator needs: one frame of the largest capability.
  uint32_t LargestFrame() const {
    uint32_t bytes = 0;
    for (const Capability& cap : config_.caps) bytes = std::max(bytes, FrameBytes(cap.subtype, cap.width, cap.height));
    return bytes;
  }

 protected:
  void* FindExtra(REFIID riid) override {
    if (riid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
    if (riid == IID_IKsObject && config_.ksObject) return static_cast<IKsObject*>(this);
    return KitFilter::FindExtra(riid);
  }
  HRESULT OnPause(FILTER_STATE from) override {
    if (from == State_Stopped && config_.fault == Fault::Run) return kDeviceBusy;
    if (from == State_Running) StopStreaming();
    return S_OK;
  }
  HRESULT OnRun(REFERENCE_TIME) override { return StartStreaming(); }
  void OnStop() override { StopStreaming(); }
  bool IsLiveSource() const override { return true; }

 private:
  ~CameraFilter() override { StopStreaming(); }

  void BuildPins() {
    pins_.clear();
    if (config_.tuner) pins_.push_back(std::make_unique<TunerPin>(this));
    if (config_.pins != PinSet::Preview) pins_.push_back(std::make_unique<CameraPin>(this, true));
    if (config_.pins != PinSet::Capture) pins_.push_back(std::make_unique<CameraPin>(this, false));
  }

  HRESULT StartStreaming();
  void StopStreaming();
  static uint32_t StreamEntry(void* self);
  void Stream();
  void DeliverFrame(CameraPin* pin, uint64_t frame, int64_t start, int64_t stop,
                    std::vector<uint8_t>* bgrx, media::JpegEncoder* encoder);

  CameraConfig config_;
  bool chosen_ = false;
  Capability chosenCap_;
  std::vector<std::unique_ptr<KitPin>> pins_;
  platform::Event ksHandle_;
  platform::Event stopEvent_ = platform::Event::CreateLocal(true, false);
  platform::UniqueThread thread_;
  std::atomic<uint64_t> delivered_{0};
};

// ---- pin ----

CameraPin::CameraPin(CameraFilter* filter, bool capture)
    : KitOutputPin(filter, capture ? OLESTR("Capture") : OLESTR("Preview")), capture_(capture) {}

CameraFilter* CameraPin::camera() { return static_cast<CameraFilter*>(filter_); }

HRESULT CameraPin::CheckMediaType(const AM_MEDIA_TYPE& type) {
  Capability cap;
  if (!MatchCapability(camera()->Config().caps, type, &cap) || cap.format == FormatKind::Other)
    return VFW_E_TYPE_NOT_ACCEPTED;
  // After SetFormat only the chosen format is offered and accepted.
  const Capability* chosen = camera()->Chosen();
  if (chosen && (chosen->subtype != cap.subtype || chosen->width != cap.width ||
                 chosen->height != cap.height || chosen->format != cap.format))
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CameraPin::GetMediaType(int index, AM_MEDIA_TYPE* type) {
  std::lock_guard<std::recursive_mutex> lock(camera()->ConfigLock());
  if (index < 0) return E_INVALIDARG;
  if (const Capability* chosen = camera()->Chosen())
    return index == 0 ? BuildType(*chosen, type) : VFW_S_NO_MORE_ITEMS;
  const auto& caps = camera()->Config().caps;
  if (static_cast<size_t>(index) >= caps.size()) return VFW_S_NO_MORE_ITEMS;
  return BuildType(caps[static_cast<size_t>(index)], type);
}

HRESULT CameraPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  const BITMAPINFOHEADER* header = VideoHeader(Type());
  if (!header) return VFW_E_TYPE_NOT_ACCEPTED;
  ALLOCATOR_PROPERTIES wanted = *request;
  wanted.cBuffers = std::max<long>(wanted.cBuffers, 3);
  wanted.cbBuffer = std::max<long>(wanted.cbBuffer, static_cast<long>(header->biSizeImage));
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(&wanted, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= static_cast<long>(header->biSizeImage) ? S_OK : E_FAIL;
}

HRESULT CameraPin::SetFormat(AM_MEDIA_TYPE* type) {
  return platform::Guarded<HRESULT>(E_FAIL, [&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
    Capability cap;
    if (type && (!MatchCapability(camera()->Config().caps, *type, &cap) || cap.format == FormatKind::Other)) {
      filter_->RecordCall("SetFormat refused");
      return VFW_E_INVALIDMEDIATYPE;
    }
    if (!IsConnected()) {
      const HRESULT hr = camera()->Choose(type ? &cap : nullptr);
      filter_->RecordCall(type ? "SetFormat " + Describe(cap) : std::string("SetFormat default"));
      return hr;
    }
    // Connected: only while stopped, and only to a type the peer takes; the pin is then
    // connected again in the new format.
    if (!type) return E_POINTER;
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    MediaType wanted;
    HRESULT hr = BuildType(cap, wanted.ptr());
    if (FAILED(hr)) return hr;
    if (Peer()->QueryAccept(&wanted.get()) != S_OK) return VFW_E_INVALIDMEDIATYPE;
    IFilterGraph* graph = filter_->Graph();
    if (!graph) return VFW_E_NOT_IN_GRAPH;
    const Ref<IPin> peer = Ref<IPin>(Peer());
    camera()->Choose(&cap);
    graph->Disconnect(peer.get());
    graph->Disconnect(this);
    hr = graph->ConnectDirect(this, peer.get(), &wanted.get());
    filter_->RecordCall("SetFormat " + Describe(cap) + (FAILED(hr) ? " reconnect failed" : ""));
    return hr;
  });
}

HRESULT CameraPin::GetFormat(AM_MEDIA_TYPE** type) {
  return platform::Guarded<HRESULT>(E_FAIL, [&]() -> HRESULT {
    if (!type) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
    MediaType current;
    HRESULT hr;
    if (IsConnected())
      hr = current.Set(Type());
    else
      hr = GetMediaType(0, current.ptr());
    if (FAILED(hr)) return hr;
    *type = CreateMediaType(&current.get());
    return *type ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT CameraPin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  *count = static_cast<int>(camera()->Config().caps.size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT CameraPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  return platform::Guarded<HRESULT>(E_FAIL, [&]() -> HRESULT {
    if (!type || !caps) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
    const auto& all = camera()->Config().caps;
    if (index < 0 || static_cast<size_t>(index) >= all.size()) return S_FALSE;
    const Capability& cap = all[static_cast<size_t>(index)];
    MediaType built;
    const HRESULT hr = BuildType(cap, built.ptr());
    if (FAILED(hr)) return hr;
    VIDEO_STREAM_CONFIG_CAPS info;
    std::memset(&info, 0, sizeof(info));
    info.guid = built.get().formattype;
    info.VideoStandard = 0;  // AnalogVideo_None
    info.InputSize.cx = info.MinCroppingSize.cx = info.MaxCroppingSize.cx = static_cast<LONG>(cap.width);
    info.InputSize.cy = info.MinCroppingSize.cy = info.MaxCroppingSize.cy = static_cast<LONG>(cap.height);
    info.CropGranularityX = info.CropGranularityY = 1;
    info.MinOutputSize = info.MaxOutputSize = info.InputSize;
    info.OutputGranularityX = info.OutputGranularityY = 1;
    info.MinFrameInterval = cap.interval;
    info.MaxFrameInterval = std::max<LONGLONG>(cap.interval, 10000000);
    // Bits per second at the slowest and the fastest frame rate offered.
    const uint64_t frameBits = static_cast<uint64_t>(FrameBytes(cap.subtype, cap.width, cap.height)) * 8;
    info.MinBitsPerSecond = static_cast<LONG>(
        std::min<uint64_t>(0x7FFFFFFF, frameBits * 10000000 / static_cast<uint64_t>(info.MaxFrameInterval)));
    info.MaxBitsPerSecond = static_cast<LONG>(
        std::min<uint64_t>(0x7FFFFFFF, frameBits * 10000000 / static_cast<uint64_t>(cap.interval)));
    std::memcpy(caps, &info, sizeof(info));
    *type = CreateMediaType(&built.get());
    return *type ? S_OK : E_OUTOFMEMORY;
  });
}

// ---- filter ----

HRESULT CameraFilter::Choose(const Capability* cap) {
  chosen_ = cap != nullptr;
  if (cap) chosenCap_ = *cap;
  return S_OK;
}

HRESULT CameraFilter::Load(IPropertyBag* bag, IErrorLog* log) {
  return platform::Guarded<HRESULT>(E_FAIL, [&]() -> HRESULT {
    if (!bag) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    // The pins are rebuilt: not while anything is connected or streaming.
    if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
    for (const auto& pin : pins_)
      if (pin->IsConnected()) return VFW_E_WRONG_STATE;
    std::string text;
    VARIANT value;
    VariantInit(&value);  // sets vt only
    value.vt = VT_BSTR;
    value.bstrVal = nullptr;  // what VariantClear frees when the bag writes nothing
    if (SUCCEEDED(bag->Read(OLESTR("Config"), &value, log)) && value.vt == VT_BSTR)
      text = Narrow(value.bstrVal);
    VariantClear(&value);
    CameraConfig config;
    std::string error;
    if (!ParseCameraConfig(text, &config, &error)) {
      Record(recordName_ + " Load refused: " + error);
      return E_INVALIDARG;
    }
    recordName_ = config.name;
    if (config.fault == Fault::Bind) {
      RecordCall("Load bind failure");
      return kBindFailure;
    }
    config_ = std::move(config);
    chosen_ = false;
    BuildPins();
    RecordCall("Load");
    return S_OK;
  });
}

HRESULT CameraFilter::StartStreaming() {
  if (thread_.get()) return S_OK;
  stopEvent_.Reset();
  thread_.reset(platform::CreateThread(&CameraFilter::StreamEntry, this, false, nullptr));
  return thread_.get() ? S_OK : E_OUTOFMEMORY;
}

void CameraFilter::StopStreaming() {
  if (!thread_.get()) return;
  stopEvent_.Set();
  // A streaming thread waiting for a free buffer is released by the decommit.
  for (const auto& pin : pins_) pin->Inactive();
  platform::WaitThread(thread_.get(), platform::kInfinite);
  thread_.reset();
  for (const auto& pin : pins_)
    if (pin->IsConnected() && State() != State_Stopped) pin->Active();
  RecordCall("frames " + std::to_string(delivered_.load()));
}

uint32_t CameraFilter::StreamEntry(void* self) {
  platform::InitializeThreadCom();
  platform::GuardedVoid([self] { static_cast<CameraFilter*>(self)->Stream(); });
  platform::UninitializeThreadCom();
  return 0;
}

void CameraFilter::Stream() {
  using Clock = std::chrono::steady_clock;
  std::vector<uint8_t> bgrx;
  media::JpegEncoder encoder;
  const auto begin = Clock::now();
  bool lostSent = false;
  delivered_ = 0;
  NoteStreamStart();
  for (uint64_t frame = 0;; ++frame) {
    // Each pin delivers its own connected format; the first pin's interval sets the pace.
    int64_t interval = 333333;
    for (const auto& pin : pins_)
      if (pin->Direction() == PINDIR_OUTPUT && pin->IsConnected()) {
        const AM_MEDIA_TYPE& type = pin->Type();
        if (type.formattype == FORMAT_VideoInfo)
          interval = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
        else if (type.formattype == FORMAT_VideoInfo2)
          interval = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
        break;
      }
    if (interval <= 0) interval = 333333;
    const auto due = begin + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::nanoseconds(static_cast<int64_t>(frame) * interval * 100));
    const auto now = Clock::now();
    const uint32_t waitMs = due > now ? static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count()) : 0;
    if (stopEvent_.Wait(waitMs) == platform::kWaitObject0) return;
    // Late (a stalled downstream, a busy machine): the frames whose time has passed are
    // skipped, as a sensor drops them, instead of being sent back to back.
    const int64_t elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begin).count();
    frame = std::max<uint64_t>(frame, static_cast<uint64_t>(elapsed / (interval * 100)));
    if (config_.lostAfter && delivered_ >= config_.lostAfter) {
      if (!lostSent) {
        lostSent = true;
        RecordCall("device lost");
        NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)), 0);
      }
      stopEvent_.Wait(platform::kInfinite);
      return;
    }
    for (const auto& pin : pins_) {
      if (pin->Direction() != PINDIR_OUTPUT || !pin->IsConnected()) continue;
      DeliverFrame(static_cast<CameraPin*>(pin.get()), frame, static_cast<int64_t>(frame) * interval,
                   static_cast<int64_t>(frame + 1) * interval, &bgrx, &encoder);
    }
    ++delivered_;
  }
}

void CameraFilter::DeliverFrame(CameraPin* pin, uint64_t frame, int64_t start, int64_t stop,
                                std::vector<uint8_t>* bgrx, media::JpegEncoder* encoder) {
  const AM_MEDIA_TYPE& type = pin->Type();
  const BITMAPINFOHEADER* header = VideoHeader(type);
  if (!header) return;
  Subtype subtype = Subtype::YUY2;
  for (Subtype candidate : kAllSubtypes)
    if (SubtypeGuid(candidate) == type.subtype) subtype = candidate;
  const uint32_t width = static_cast<uint32_t>(header->biWidth);
  const uint32_t height = static_cast<uint32_t>(header->biHeight < 0 ? -header->biHeight : header->biHeight);
  Ref<IMediaSample> sample;
  if (FAILED(pin->GetDeliveryBuffer(sample.put())) || !sample) return;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data) return;
  bgrx->resize(static_cast<size_t>(width) * height * 4);
  DrawPattern(bgrx->data(), width, height, frame);
  const uint32_t bytes = WriteFrame(subtype, bgrx->data(), width, height, encoder, data,
                                    static_cast<uint32_t>(sample->GetSize()));
  if (bytes == 0) return;
  sample->SetActualDataLength(static_cast<long>(bytes));
  REFERENCE_TIME times[2] = {start, stop};
  sample->SetTime(&times[0], &times[1]);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(frame == 0 ? TRUE : FALSE);
  NoteFrameSent(frame, std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch()).count(),
                width, height);
  pin->Deliver(sample.get());
  NoteFrameDone();
}

}  // namespace

HRESULT CreateCamera(REFIID riid, void** object) {
  return media::HandOut(new CameraFilter(), riid, object);
}

}  // namespace filters
