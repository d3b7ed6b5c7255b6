// The "VD Render" stand-in: takes any video type with a VIDEOINFOHEADER or VIDEOINFOHEADER2
// and hands every sample to the callback registered through IVDRenderCallback.
#include <cstring>
#include <memory>

#include "media/vd_filters.h"
#include "outside/filters/filter_kit.h"
#include "outside/filters/stand_ins.h"
#include "platform/exception_guard.h"

namespace filters {
namespace {

class RenderFilter;

class RenderPin : public KitInputPin {
 public:
  explicit RenderPin(KitFilter* filter) : KitInputPin(filter, OLESTR("In")) {}

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override {
    return type.majortype == MEDIATYPE_Video && VideoHeader(type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

 protected:
  HRESULT OnReceive(IMediaSample* sample) override;
  HRESULT CompleteConnect(IPin* peer) override;
};

class RenderFilter : public KitFilter, public IVDRenderCallback {
 public:
  explicit RenderFilter(bool callbackInterface)
      : KitFilter(vd::kClsidVDRender, "render"), callbackInterface_(callbackInterface), pin_(this) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return KitFilter::QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return KitFilter::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return KitFilter::Release(); }

  // IVDRenderCallback
  HRESULT STDMETHODCALLTYPE GetFrameCount(uint32_t* frames) override {
    if (!frames) return E_POINTER;
    *frames = frames_.load();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSampleTimes(int64_t* start, int64_t* stop) override {
    if (!start || !stop) return E_POINTER;
    std::lock_guard<std::mutex> lock(timesLock_);
    *start = start_;
    *stop = stop_;
    return hasTimes_ ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE SetCallback(VDSampleCallback callback, void* context) override {
    return platform::Guarded<HRESULT>(E_FAIL, [&] {
      // Waits for a call in progress on another thread.
      std::lock_guard<std::recursive_mutex> lock(receiveLock_);
      callback_ = callback;
      context_ = context;
      RecordCall(callback ? "SetCallback" : "SetCallback null");
      return S_OK;
    });
  }

  int PinCount() override { return 1; }
  KitPin* PinAt(int) override { return &pin_; }

  HRESULT Render(IMediaSample* sample) {
    std::lock_guard<std::recursive_mutex> lock(receiveLock_);
    if (stopped_) return VFW_E_WRONG_STATE;
    // A sample may carry a new format for this and the following samples.
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
      const bool ok = pin_.CheckMediaType(*changed) == S_OK;
      if (ok) format_ = *VideoHeader(*changed);
      DeleteMediaType(changed);
      if (!ok) return VFW_E_TYPE_NOT_ACCEPTED;
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
    const long length = sample->GetActualDataLength();
    {
      REFERENCE_TIME start = 0, stop = 0;
      const HRESULT timed = sample->GetTime(&start, &stop);
      std::lock_guard<std::mutex> times(timesLock_);
      hasTimes_ = SUCCEEDED(timed);
      start_ = hasTimes_ ? start : 0;
      stop_ = hasTimes_ ? stop : 0;
    }
    ++frames_;
    if (callback_)
      callback_(&format_, data, length > 0 ? static_cast<uint32_t>(length) : 0, context_);
    return S_OK;
  }

  void TakeFormat(const AM_MEDIA_TYPE& type) {
    std::lock_guard<std::recursive_mutex> lock(receiveLock_);
    format_ = *VideoHeader(type);
  }

 protected:
  void* FindExtra(REFIID riid) override {
    if (callbackInterface_ && riid == vd::kIidVDRenderCallback) return static_cast<IVDRenderCallback*>(this);
    return KitFilter::FindExtra(riid);
  }
  HRESULT OnPause(FILTER_STATE) override {
    std::lock_guard<std::recursive_mutex> lock(receiveLock_);
    stopped_ = false;
    return S_OK;
  }
  void OnStop() override {
    // Once this returns no sample is being rendered and none will be until the next Pause.
    std::lock_guard<std::recursive_mutex> lock(receiveLock_);
    stopped_ = true;
    RecordCall("frames " + std::to_string(frames_.load()));
  }

 private:
  const bool callbackInterface_;
  RenderPin pin_;
  std::recursive_mutex receiveLock_;
  bool stopped_ = true;
  BITMAPINFOHEADER format_{};
  VDSampleCallback callback_ = nullptr;
  void* context_ = nullptr;
  std::atomic<uint32_t> frames_{0};
  std::mutex timesLock_;
  bool hasTimes_ = false;
  int64_t start_ = 0, stop_ = 0;
};

HRESULT RenderPin::OnReceive(IMediaSample* sample) {
  return static_cast<RenderFilter*>(filter_)->Render(sample);
}

HRESULT RenderPin::CompleteConnect(IPin*) {
  static_cast<RenderFilter*>(filter_)->TakeFormat(Type());
  return S_OK;
}

}  // namespace

HRESULT CreateRenderer(REFIID riid, void** object) {
  return media::HandOut(new RenderFilter(ReadFilterSetting("RenderCallback", 1) != 0), riid, object);
}

}  // namespace filters
