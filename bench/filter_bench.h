// Helpers shared by the benchmarks that build filter graphs from the stand-in filter modules:
// a filter made through a module's class factory, the camera's configuration bag, a pin by
// direction, and the TurboJPEG planar decode every MJPG figure is reported against.
#pragma once

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <string>
#include <vector>

#include "bench/frame_bench.h"
#include "media/com_ptr.h"
#include "media/dshow.h"
#include "platform/module.h"
#include "platform/text.h"

namespace bench {

inline media::ComPtr<IBaseFilter> CreateFilter(const platform::UniqueModule& module, const CLSID& clsid) {
  HRESULT (*get)(REFCLSID, REFIID, void**) = nullptr;
  media::ComPtr<IClassFactory> factory;
  media::ComPtr<IBaseFilter> filter;
  if (platform::BindModuleSymbol(module.get(), "DllGetClassObject", &get) &&
      SUCCEEDED(get(clsid, IID_IClassFactory, factory.putVoid()))) {
    factory->CreateInstance(nullptr, IID_IBaseFilter, filter.putVoid());
  }
  return filter;
}

// The synthetic camera's "Config" property; lives on the stack, so no counting.
class ConfigBag final : public IPropertyBag {
 public:
  explicit ConfigBag(const std::string& config) : config_(platform::Utf8ToUtf16(config)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (std::u16string(media::AsUtf16(name)) != u"Config") return E_INVALIDARG;
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(media::AsOle(config_.c_str()));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

 private:
  std::u16string config_;
};

inline media::ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  media::ComPtr<IEnumPins> pins;
  media::ComPtr<IPin> pin;
  filter->EnumPins(pins.put());
  while (pins && pins->Next(1, pin.put(), nullptr) == S_OK) {
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) return pin;
  }
  return {};
}

// Registers "jpeg/WxH": TurboJPEG's own decode of `jpeg` to its 4:2:2 planes, the library's
// fastest output (it has no packed 4:2:2 one).
inline void RegisterJpegBaseline(Size s, std::vector<uint8_t> jpeg) {
  benchmark::RegisterBenchmark(("jpeg/" + Dims(s)).c_str(), [s, jpeg](benchmark::State& st) {
    tjhandle handle = tjInitDecompress();
    int strides[3];
    std::vector<uint8_t> planes[3];
    unsigned char* out[3];
    for (int p = 0; p < 3; ++p) {
      strides[p] = tjPlaneWidth(p, s.w, TJSAMP_422);
      planes[p].resize(tjPlaneSizeYUV(p, s.w, strides[p], s.h, TJSAMP_422));
      out[p] = planes[p].data();
    }
    for (auto _ : st) {
      if (tjDecompressToYUVPlanes(handle, jpeg.data(), jpeg.size(), out, s.w, strides, s.h, 0) != 0)
        st.SkipWithError("decode failed");
      benchmark::ClobberMemory();
    }
    tjDestroy(handle);
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * s.w * 2 * s.h);
  })->Unit(benchmark::kMicrosecond);
}

}  // namespace bench
