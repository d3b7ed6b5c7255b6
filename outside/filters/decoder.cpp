// The MJPEG decoder stand-in: MJPG in, YUY2 out at the same size, each sample decoded on
// the upstream streaming thread and handed on at once with its times.
#include <cstring>
#include <memory>

#include "media/jpeg/jpeg_codec.h"
#include "media/vd_filters.h"
#include "outside/filters/filter_kit.h"
#include "outside/filters/stand_ins.h"
#include "pixel/frame_format.h"
#include "platform/exception_guard.h"

namespace filters {
namespace {

class DecoderFilter;

class DecoderInput : public KitInputPin {
 public:
  explicit DecoderInput(KitFilter* filter) : KitInputPin(filter, OLESTR("MJPEG In")) {}
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override {
    const BITMAPINFOHEADER* header = VideoHeader(type);
    if (type.majortype != MEDIATYPE_Video || type.subtype != SubtypeGuid(Subtype::MJPG) || !header)
      return VFW_E_TYPE_NOT_ACCEPTED;
    const LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    return header->biWidth > 0 && header->biWidth % 2 == 0 && header->biWidth <= 16384 && height > 0 &&
                   height <= 16384
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }

 protected:
  HRESULT OnReceive(IMediaSample* sample) override;
};

class DecoderOutput : public KitOutputPin {
 public:
  explicit DecoderOutput(KitFilter* filter, DecoderInput* input)
      : KitOutputPin(filter, OLESTR("YUY2 Out")), input_(input) {}

  // YUY2 at the input's size, top-down, with the input's frame interval.
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* type) override {
    if (index < 0) return E_INVALIDARG;
    if (index > 0 || !input_->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    const AM_MEDIA_TYPE& in = input_->Type();
    const BITMAPINFOHEADER* source = VideoHeader(in);
    if (!source) return VFW_S_NO_MORE_ITEMS;
    std::memset(type, 0, sizeof(*type));
    auto* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!vih) return E_OUTOFMEMORY;
    std::memset(vih, 0, sizeof(*vih));
    vih->AvgTimePerFrame = in.formattype == FORMAT_VideoInfo
                               ? reinterpret_cast<const VIDEOINFOHEADER*>(in.pbFormat)->AvgTimePerFrame
                               : reinterpret_cast<const VIDEOINFOHEADER2*>(in.pbFormat)->AvgTimePerFrame;
    BITMAPINFOHEADER& h = vih->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = source->biWidth;
    h.biHeight = source->biHeight < 0 ? -source->biHeight : source->biHeight;
    h.biPlanes = 1;
    h.biBitCount = 16;
    h.biCompression = SubtypeCompression(Subtype::YUY2);
    h.biSizeImage = DibStride(static_cast<uint32_t>(h.biWidth), 16) * static_cast<uint32_t>(h.biHeight);
    vih->dwBitRate = static_cast<DWORD>(std::min<uint64_t>(
        0xFFFFFFFF, vih->AvgTimePerFrame > 0 ? uint64_t{h.biSizeImage} * 8 * 10000000 /
                                                    static_cast<uint64_t>(vih->AvgTimePerFrame)
                                              : 0));
    type->majortype = MEDIATYPE_Video;
    type->subtype = SubtypeGuid(Subtype::YUY2);
    type->bFixedSizeSamples = TRUE;
    type->lSampleSize = h.biSizeImage;
    type->formattype = FORMAT_VideoInfo;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = reinterpret_cast<BYTE*>(vih);
    return S_OK;
  }

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override {
    const BITMAPINFOHEADER* header = VideoHeader(type);
    const BITMAPINFOHEADER* source = input_->IsConnected() ? VideoHeader(input_->Type()) : nullptr;
    if (!header || !source || type.majortype != MEDIATYPE_Video ||
        type.subtype != SubtypeGuid(Subtype::YUY2))
      return VFW_E_TYPE_NOT_ACCEPTED;
    const LONG height = source->biHeight < 0 ? -source->biHeight : source->biHeight;
    return header->biWidth == source->biWidth && header->biHeight == height ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

 protected:
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    const BITMAPINFOHEADER* header = VideoHeader(Type());
    if (!header) return VFW_E_TYPE_NOT_ACCEPTED;
    ALLOCATOR_PROPERTIES wanted = *request;
    wanted.cBuffers = std::max<long>(wanted.cBuffers, 2);
    wanted.cbBuffer = std::max<long>(wanted.cbBuffer, static_cast<long>(header->biSizeImage));
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= static_cast<long>(header->biSizeImage) ? S_OK : E_FAIL;
  }

 private:
  DecoderInput* input_;
};

class DecoderFilter : public KitFilter, public IMjpegDecoderControl {
 public:
  DecoderFilter(const CLSID& clsid, uint32_t controls, bool outputPin)
      : KitFilter(clsid, "decoder"), controls_(controls), input_(this) {
    if (outputPin) output_ = std::make_unique<DecoderOutput>(this, &input_);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return KitFilter::QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return KitFilter::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return KitFilter::Release(); }

  HRESULT STDMETHODCALLTYPE SetOption(uint32_t value) override {
    option_ = value;
    RecordCall("Control " + std::to_string(value));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetOption(uint32_t* value) override {
    if (!value) return E_POINTER;
    *value = option_.load();
    return S_OK;
  }

  int PinCount() override { return output_ ? 2 : 1; }
  KitPin* PinAt(int index) override {
    return index == 0 ? static_cast<KitPin*>(&input_) : static_cast<KitPin*>(output_.get());
  }

  // One MJPG sample in, one YUY2 sample out.
  HRESULT Transform(IMediaSample* in) {
    std::lock_guard<std::mutex> lock(streamLock_);
    if (stopped_) return VFW_E_WRONG_STATE;
    if (!output_ || !output_->IsConnected()) return S_OK;  // nothing downstream: dropped
    const BITMAPINFOHEADER* header = VideoHeader(output_->Type());
    BYTE* jpeg = nullptr;
    if (!header || FAILED(in->GetPointer(&jpeg)) || !jpeg) return E_POINTER;
    const long length = in->GetActualDataLength();
    Ref<IMediaSample> out;
    HRESULT hr = output_->GetDeliveryBuffer(out.put());
    if (FAILED(hr)) return hr;
    BYTE* pixels = nullptr;
    if (FAILED(out->GetPointer(&pixels)) || !pixels || out->GetSize() < static_cast<long>(header->biSizeImage))
      return E_FAIL;
    const uint32_t width = static_cast<uint32_t>(header->biWidth);
    const uint32_t height = static_cast<uint32_t>(header->biHeight);
    if (length <= 0 || !codec_.DecodeToYuy2(jpeg, static_cast<size_t>(length), pixels,
                                            static_cast<int32_t>(DibStride(width, 16)), width, height)) {
      ++damaged_;
      return S_OK;  // a damaged frame is dropped, the stream goes on
    }
    out->SetActualDataLength(static_cast<long>(header->biSizeImage));
    REFERENCE_TIME start = 0, stop = 0;
    if (SUCCEEDED(in->GetTime(&start, &stop)))
      out->SetTime(&start, &stop);
    else
      out->SetTime(nullptr, nullptr);
    out->SetSyncPoint(TRUE);
    out->SetDiscontinuity(in->IsDiscontinuity() == S_OK ? TRUE : FALSE);
    ++decoded_;
    return output_->Deliver(out.get());
  }

 protected:
  void* FindExtra(REFIID riid) override {
    if (((controls_ & 1) && riid == vd::kIidMjpegDecoderControl) ||
        ((controls_ & 2) && riid == vd::kIidMjpegDecoderControl2))
      return static_cast<IMjpegDecoderControl*>(this);
    return KitFilter::FindExtra(riid);
  }
  HRESULT OnPause(FILTER_STATE) override {
    std::lock_guard<std::mutex> lock(streamLock_);
    stopped_ = false;
    return S_OK;
  }
  void OnStop() override {
    // Waits for a sample in progress; none passes after this.
    std::lock_guard<std::mutex> lock(streamLock_);
    stopped_ = true;
    RecordCall("decoded " + std::to_string(decoded_) + " damaged " + std::to_string(damaged_));
  }

 private:
  const uint32_t controls_;
  DecoderInput input_;
  std::unique_ptr<DecoderOutput> output_;
  std::atomic<uint32_t> option_{0};
  std::mutex streamLock_;
  bool stopped_ = true;
  media::JpegDecoder codec_;
  uint64_t decoded_ = 0, damaged_ = 0;
};

HRESULT DecoderInput::OnReceive(IMediaSample* sample) {
  return static_cast<DecoderFilter*>(filter_)->Transform(sample);
}

}  // namespace

HRESULT CreateDecoderOfClass(const CLSID& clsid, REFIID riid, void** object) {
  const uint32_t classes = ReadFilterSetting("DecoderClasses", 3);
  const uint32_t bit = clsid == vd::kClsidMjpegDecoder ? 1 : 2;
  if (!(classes & bit)) return CLASS_E_CLASSNOTAVAILABLE;
  return media::HandOut(new DecoderFilter(clsid, ReadFilterSetting("DecoderControl", 3),
                                         ReadFilterSetting("DecoderOutputPin", 1) != 0),
                       riid, object);
}

HRESULT CreateDecoder(REFIID riid, void** object) {
  return CreateDecoderOfClass(vd::kClsidMjpegDecoder, riid, object);
}
HRESULT CreateDecoder2(REFIID riid, void** object) {
  return CreateDecoderOfClass(vd::kClsidMjpegDecoder2, riid, object);
}

}  // namespace filters
