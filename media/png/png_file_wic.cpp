// PNG files through the Windows Imaging Component: its PNG encoder writes 24-bit BGR rows,
// its decoder and format converter read them back. COM is set up on the calling thread for
// the call when it is not already.
#include "media/png/png_file.h"

#include <initguid.h>
#include <objbase.h>
#include <wincodec.h>

#include <string>

#include "media/wic_call.h"
#include "platform/text.h"

namespace media {
namespace {

std::wstring WidePath(const char* path) {
  const std::u16string wide = platform::Utf8ToUtf16(path);
  return std::wstring(wide.begin(), wide.end());
}

// RGB and BGR rows differ by the order of the first and third byte of each pixel.
void SwapRedBlue(const uint8_t* from, uint8_t* to, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i) {
    to[3 * i] = from[3 * i + 2];
    to[3 * i + 1] = from[3 * i + 1];
    to[3 * i + 2] = from[3 * i];
  }
}

bool Encode(IWICImagingFactory* factory, const std::wstring& path, const std::vector<uint8_t>& bgr,
            uint32_t width, uint32_t height) {
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  if (FAILED(factory->CreateStream(stream.put())) ||
      FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
      FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) ||
      FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)))
    return false;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  return SUCCEEDED(encoder->CreateNewFrame(frame.put(), options.put())) &&
         SUCCEEDED(frame->Initialize(options.get())) && SUCCEEDED(frame->SetSize(width, height)) &&
         SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat24bppBGR &&
         SUCCEEDED(frame->WritePixels(height, width * 3, static_cast<UINT>(bgr.size()),
                                      const_cast<BYTE*>(bgr.data()))) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace

bool WriteRgbPng(const char* path, const uint8_t* rgb, uint32_t width, uint32_t height) {
  if (!path || !rgb || width == 0 || height == 0 || width > 0x7FFFFFFFu / 3 / height) return false;
  std::vector<uint8_t> bgr(static_cast<size_t>(width) * 3 * height);
  SwapRedBlue(rgb, bgr.data(), static_cast<size_t>(width) * height);
  const std::wstring wide = WidePath(path);
  const WicComScope com;
  ComPtr<IWICImagingFactory> factory;
  if (!CreateImagingFactory(&factory)) return false;
  if (Encode(factory.get(), wide, bgr, width, height)) return true;
  DeleteFileW(wide.c_str());  // a partial file is no picture
  return false;
}

bool ReadRgbPng(const char* path, uint32_t* width, uint32_t* height, std::vector<uint8_t>* rgb) {
  if (!path) return false;
  const WicComScope com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmapDecoder> decoder;
  GUID container{};
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  UINT w = 0, h = 0;
  if (!CreateImagingFactory(&factory) ||
      FAILED(factory->CreateDecoderFromFilename(WidePath(path).c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.put())) ||
      FAILED(decoder->GetContainerFormat(&container)) || container != GUID_ContainerFormatPng ||
      FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->GetSize(&w, &h)) || w == 0 ||
      h == 0 || w > 0x7FFFFFFFu / 3 / h || FAILED(factory->CreateFormatConverter(converter.put())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom)))
    return false;
  std::vector<uint8_t> bgr(static_cast<size_t>(w) * 3 * h);
  if (FAILED(converter->CopyPixels(nullptr, w * 3, static_cast<UINT>(bgr.size()), bgr.data()))) return false;
  rgb->resize(bgr.size());
  SwapRedBlue(bgr.data(), rgb->data(), static_cast<size_t>(w) * h);
  *width = w;
  *height = h;
  return true;
}

}  // namespace media
