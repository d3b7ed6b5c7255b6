// The JPEG codec on the Windows Imaging Component. Decoding goes through BGRX and the RGB32
// to YUY2 kernel; encoding writes 24-bit BGR rows. A calling thread without COM gets the
// multithreaded apartment for the length of each call.
#include "media/jpeg/jpeg_codec.h"

#include <initguid.h>
#include <objbase.h>
#include <wincodec.h>

#include "media/wic_call.h"
#include "pixel/pixel_kernels.h"

namespace media {
namespace {

// The imaging factory for one call: the codec's own, kept between calls, on a thread that
// had COM; otherwise one for this call alone in `local`, which the caller declares after
// its WicComScope so that it goes first (the apartment's end may unload the codec's module).
IWICImagingFactory* CallFactory(const WicComScope& com, ComPtr<IWICImagingFactory>* kept,
                                ComPtr<IWICImagingFactory>* local) {
  ComPtr<IWICImagingFactory>* slot = com.ThreadHadCom() ? kept : local;
  return CreateImagingFactory(slot) ? slot->get() : nullptr;
}

}  // namespace

struct JpegEncoder::State {
  ComPtr<IWICImagingFactory> factory;
  std::vector<uint8_t> bgr;
};

JpegEncoder::JpegEncoder() : state_(std::make_unique<State>()) {}
JpegEncoder::~JpegEncoder() = default;

bool JpegEncoder::EncodeBgrx(const uint8_t* bgrx, int32_t stride, uint32_t width,
                             uint32_t height, int quality, std::vector<uint8_t>* out) {
  out->clear();
  if (!bgrx || width == 0 || height == 0 || width > 65535 || height > 65535) return false;
  const WicComScope com;
  ComPtr<IWICImagingFactory> local;
  IWICImagingFactory* factory = CallFactory(com, &state_->factory, &local);
  if (!factory) return false;

  const UINT bgrStride = ((width * 3 + 3) / 4) * 4;
  state_->bgr.resize(static_cast<size_t>(bgrStride) * height);
  for (uint32_t row = 0; row < height; ++row) {
    const uint8_t* s = bgrx + static_cast<ptrdiff_t>(row) * stride;
    uint8_t* d = state_->bgr.data() + static_cast<size_t>(row) * bgrStride;
    for (uint32_t x = 0; x < width; ++x) {
      d[3 * x] = s[4 * x];
      d[3 * x + 1] = s[4 * x + 1];
      d[3 * x + 2] = s[4 * x + 2];
    }
  }

  ComPtr<IStream> memory;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, memory.put()))) return false;
  ComPtr<IWICBitmapEncoder> encoder;
  if (FAILED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, encoder.put())) ||
      FAILED(encoder->Initialize(memory.get(), WICBitmapEncoderNoCache)))
    return false;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  if (FAILED(encoder->CreateNewFrame(frame.put(), options.put()))) return false;
  if (options.get()) {
    // A codec without an option keeps its default (Wine 8's ignores both).
    PROPBAG2 option[2]{};
    option[0].pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    option[1].pstrName = const_cast<LPOLESTR>(L"JpegYCrCbSubsampling");
    VARIANT value[2];
    VariantInit(&value[0]);
    value[0].vt = VT_R4;
    value[0].fltVal = static_cast<float>(quality) / 100.0f;
    VariantInit(&value[1]);
    value[1].vt = VT_UI1;
    value[1].bVal = WICJpegYCrCbSubsampling422;
    for (int i = 0; i < 2; ++i) options->Write(1, &option[i], &value[i]);
  }
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(frame->Initialize(options.get())) || FAILED(frame->SetSize(width, height)) ||
      FAILED(frame->SetPixelFormat(&format)) || format != GUID_WICPixelFormat24bppBGR ||
      FAILED(frame->WritePixels(height, bgrStride, static_cast<UINT>(state_->bgr.size()),
                                state_->bgr.data())) ||
      FAILED(frame->Commit()) || FAILED(encoder->Commit()))
    return false;

  HGLOBAL global = nullptr;
  if (FAILED(GetHGlobalFromStream(memory.get(), &global))) return false;
  LARGE_INTEGER zero{};
  ULARGE_INTEGER end{};
  if (FAILED(memory->Seek(zero, STREAM_SEEK_CUR, &end))) return false;
  const void* bytes = GlobalLock(global);
  if (!bytes) return false;
  out->assign(static_cast<const uint8_t*>(bytes),
              static_cast<const uint8_t*>(bytes) + static_cast<size_t>(end.QuadPart));
  GlobalUnlock(global);
  return !out->empty();
}

struct JpegDecoder::State {
  ComPtr<IWICImagingFactory> factory;
  std::vector<uint8_t> bgrx;

  // The first frame of the image in `jpeg`, or false.
  static bool OpenFrame(IWICImagingFactory* factory, const uint8_t* jpeg, size_t size,
                        ComPtr<IWICBitmapFrameDecode>* frame) {
    if (!factory || !jpeg || size == 0 || size > 0x7FFFFFFF) return false;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    return SUCCEEDED(factory->CreateStream(stream.put())) &&
           SUCCEEDED(stream->InitializeFromMemory(const_cast<BYTE*>(jpeg),
                                                  static_cast<DWORD>(size))) &&
           SUCCEEDED(factory->CreateDecoderFromStream(stream.get(), &GUID_VendorMicrosoft,
                                                      WICDecodeMetadataCacheOnDemand,
                                                      decoder.put())) &&
           SUCCEEDED(decoder->GetFrame(0, frame->put()));
  }
};

JpegDecoder::JpegDecoder() : state_(std::make_unique<State>()) {}
JpegDecoder::~JpegDecoder() = default;

bool JpegDecoder::ReadSize(const uint8_t* jpeg, size_t size, uint32_t* width, uint32_t* height) {
  const WicComScope com;
  ComPtr<IWICImagingFactory> local;
  IWICImagingFactory* factory = CallFactory(com, &state_->factory, &local);
  ComPtr<IWICBitmapFrameDecode> frame;
  UINT w = 0, h = 0;
  if (!State::OpenFrame(factory, jpeg, size, &frame) || FAILED(frame->GetSize(&w, &h))) return false;
  *width = w;
  *height = h;
  return true;
}

bool JpegDecoder::DecodeToYuy2(const uint8_t* jpeg, size_t size, uint8_t* dst, int32_t dstStride,
                               uint32_t width, uint32_t height) {
  if (!dst) return false;
  const WicComScope com;
  ComPtr<IWICImagingFactory> local;
  IWICImagingFactory* factory = CallFactory(com, &state_->factory, &local);
  ComPtr<IWICBitmapFrameDecode> frame;
  UINT w = 0, h = 0;
  if (!State::OpenFrame(factory, jpeg, size, &frame) || FAILED(frame->GetSize(&w, &h)) ||
      w != width || h != height)
    return false;
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.put())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    return false;
  const UINT stride = width * 4;
  const size_t bytes = static_cast<size_t>(stride) * height;
  if (state_->bgrx.size() < bytes) state_->bgrx.resize(bytes);
  if (FAILED(converter->CopyPixels(nullptr, stride, static_cast<UINT>(bytes), state_->bgrx.data())))
    return false;
  RGB32ToYUY2(dst, dstStride, state_->bgrx.data(), static_cast<int32_t>(stride), width,
              static_cast<int32_t>(height));
  return true;
}

}  // namespace media
