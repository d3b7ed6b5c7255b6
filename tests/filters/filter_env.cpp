// The filter tests' registry, modules, property bag, frame sink and graphs.
#include "tests/filters/filter_env.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "tests/test_names.h"

namespace test {
namespace {

struct Registration {
  const char* clsid;
  const char* module;
};

constexpr Registration kRegistrations[] = {
    {"{66921C7C-FC9D-4FA6-A6EE-F4FEE5219282}", "KestrelCam.dll"},
    {"{9651E3DA-5F84-4C96-B34C-36CB2EDA7E64}", "KestrelVDRender.dll"},
    {"{FA081B2E-BAAB-4C6B-99ED-3D6CFA1EA2F6}", "KestrelMjpegDec.dll"},
    {"{89FC4A64-2F0D-4306-9C4A-622EA9896447}", "KestrelMjpegDec.dll"},
};

std::string g_registryFile;

void SetString(const std::string& key, const char* name, const std::string& value) {
  const std::u16string wide = test_names::U16(value);
  platform::SetRegistryValue(platform::RegistryRoot::LocalMachine, key.c_str(), name, platform::kRegSz,
                             wide.c_str(), static_cast<uint32_t>((wide.size() + 1) * 2));
}

// IPropertyBag with a device's "FriendlyName" and "Config".
class ConfigBag final : public IPropertyBag {
 public:
  explicit ConfigBag(const std::string& config) : config_(test_names::U16(config)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
      *object = static_cast<IPropertyBag*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (!name || !value) return E_POINTER;
    const std::u16string key(media::AsUtf16(name));
    const std::u16string* text = key == u"Config" ? &config_ : key == u"FriendlyName" ? &friendly_ : nullptr;
    if (!text) return E_INVALIDARG;
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(media::AsOle(text->c_str()));
    return value->bstrVal ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

 private:
  std::u16string config_;
  std::u16string friendly_ = u"Kestrel Test Camera";
};

}  // namespace

FilterModule* FilterTest::camera_ = nullptr;
FilterModule* FilterTest::render_ = nullptr;
FilterModule* FilterTest::decoder_ = nullptr;

FilterModule::FilterModule(const char* fileName) : module_(platform::LoadModule(fileName)) {
  platform::BindModuleSymbol(module_.get(), "KestrelFilters_RecordCount", &count_);
  platform::BindModuleSymbol(module_.get(), "KestrelFilters_ReadRecord", &read_);
  platform::BindModuleSymbol(module_.get(), "KestrelFilters_ResetRecord", &reset_);
  platform::BindModuleSymbol(module_.get(), "KestrelFilters_ObjectCount", &objects_);
}

std::vector<std::string> FilterModule::Records() const {
  std::vector<std::string> lines;
  char buffer[512];
  for (uint32_t i = 0, n = count_(); i < n; ++i) {
    read_(i, buffer, sizeof(buffer));
    lines.emplace_back(buffer);
  }
  return lines;
}

bool FilterModule::Recorded(const std::string& text) const {
  for (const std::string& line : Records())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

void FilterTest::SetUpTestSuite() {
  if (platform::kModuleNamesMapped) {
    g_registryFile = platform::JoinPath(platform::TemporaryDirectory(),
                                        test_names::UniqueName("kestrel_filters_", "reg") + ".reg");
    platform::SetEnvironmentValue(platform::kRegistryFileVariable, g_registryFile.c_str());
  }
  for (const Registration& r : kRegistrations) {
    const std::string key = std::string("Software\\Classes\\CLSID\\") + r.clsid + "\\InprocServer32";
    SetString(key, "", r.module);
    SetString(key, "ThreadingModel", "Both");
  }
  if (camera_) return;  // mapped once per program
  camera_ = new FilterModule("KestrelCam.dll");
  render_ = new FilterModule("KestrelVDRender.dll");
  decoder_ = new FilterModule("KestrelMjpegDec.dll");
}

void FilterTest::TearDownTestSuite() {
  // The modules stay mapped to the end of the program: the platform layer inside each keeps
  // process-wide tables for as long as it is mapped, which LeakSanitizer would count as lost
  // once the module was gone.
  for (const Registration& r : kRegistrations)
    platform::DeleteRegistryTree(platform::RegistryRoot::LocalMachine,
                                 (std::string("Software\\Classes\\CLSID\\") + r.clsid).c_str());
  if (!g_registryFile.empty()) platform::DeleteFileAt(g_registryFile.c_str());
}

void FilterTest::SetUp() {
  ASSERT_TRUE(camera_->ok() && render_->ok() && decoder_->ok()) << "filter modules not found";
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  camera_->ResetRecord();
  render_->ResetRecord();
  decoder_->ResetRecord();
}

void FilterTest::TearDown() {
  // Every object a test made is gone with its references.
  EXPECT_EQ(camera_->Objects(), 0);
  EXPECT_EQ(render_->Objects(), 0);
  EXPECT_EQ(decoder_->Objects(), 0);
  if (settingsWritten_) platform::DeleteRegistryTree(platform::RegistryRoot::LocalMachine, filters::kFiltersKey);
  CoUninitialize();
}

void FilterTest::SetFilterSetting(const char* name, uint32_t value) {
  settingsWritten_ = true;
  ASSERT_EQ(platform::SetRegistryValue(platform::RegistryRoot::LocalMachine, filters::kFiltersKey, name,
                                       platform::kRegDword, &value, sizeof(value)),
            0);
}

media::ComPtr<IBaseFilter> FilterTest::Create(const CLSID& clsid, HRESULT* result) {
  media::ComPtr<IBaseFilter> filter;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.putVoid());
  if (result) *result = hr;
  return filter;
}

media::ComPtr<IBaseFilter> FilterTest::Camera(const std::string& config, HRESULT* loadResult) {
  media::ComPtr<IBaseFilter> camera = Create(filters::kClsidKestrelCam);
  media::ComPtr<IPersistPropertyBag> persist;
  if (!camera || FAILED(camera.as(IID_IPersistPropertyBag, &persist))) return {};
  ConfigBag bag(config);
  const HRESULT hr = persist->Load(&bag, nullptr);
  if (loadResult) *loadResult = hr;
  return SUCCEEDED(hr) ? camera : media::ComPtr<IBaseFilter>();
}

media::ComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION direction, int index) {
  media::ComPtr<IEnumPins> pins;
  if (!filter || FAILED(filter->EnumPins(pins.put()))) return {};
  media::ComPtr<IPin> pin;
  while (pins->Next(1, pin.put(), nullptr) == S_OK) {
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction && index-- == 0) return pin;
  }
  return {};
}

HRESULT FrameSink::Attach(IBaseFilter* renderer) {
  HRESULT hr = media::ComPtr<IBaseFilter>(renderer).as(vd::kIidVDRenderCallback, &callback_);
  if (FAILED(hr)) return hr;
  return callback_->SetCallback(&FrameSink::Callback, this);
}

void FrameSink::Detach() {
  if (callback_) callback_->SetCallback(nullptr, nullptr);
  callback_ = nullptr;
}

int32_t STDMETHODCALLTYPE FrameSink::Callback(const BITMAPINFOHEADER* header, const uint8_t* bytes,
                                              uint32_t length, void* context) {
  auto* self = static_cast<FrameSink*>(context);
  Frame frame;
  frame.header = *header;
  frame.bytes.assign(bytes, bytes + length);
  frame.timed = self->callback_->GetSampleTimes(&frame.start, &frame.stop) == S_OK;
  uint32_t stallMs = 0;
  {
    std::lock_guard<std::mutex> lock(self->lock_);
    if (self->stopped_) ++self->late_;
    self->frames_.push_back(std::move(frame));
    if (self->frames_.size() == self->stallAfter_) stallMs = self->stallMs_;
    self->arrived_.notify_all();
  }
  if (stallMs) std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
  return 0;
}

bool FrameSink::WaitFor(size_t count) {
  std::unique_lock<std::mutex> lock(lock_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(kFrameWaitMs), [&] { return frames_.size() >= count; });
}

bool FrameSink::WaitForLate(uint32_t ms) {
  std::unique_lock<std::mutex> lock(lock_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return late_ > 0; });
}

std::vector<Frame> FrameSink::Frames() {
  std::lock_guard<std::mutex> lock(lock_);
  return frames_;
}

size_t FrameSink::Count() {
  std::lock_guard<std::mutex> lock(lock_);
  return frames_.size();
}

void FrameSink::MarkStopped() {
  std::lock_guard<std::mutex> lock(lock_);
  stopped_ = true;
}

Graph::Graph(bool open) {
  if (!open) return;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, builder.putVoid());
  if (builder) {
    builder.as(IID_IMediaControl, &control);
    builder.as(IID_IMediaEvent, &events);
  }
}

HRESULT Graph::Connect(IBaseFilter* from, IBaseFilter* to, const AM_MEDIA_TYPE* type) {
  const media::ComPtr<IPin> out = FindPin(from, PINDIR_OUTPUT);
  const media::ComPtr<IPin> in = FindPin(to, PINDIR_INPUT);
  if (!out || !in) return VFW_E_NOT_FOUND;
  return builder->ConnectDirect(out.get(), in.get(), type);
}

long Graph::NextEvent(uint32_t ms, LONG_PTR* param1) {
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  if (!events || FAILED(events->GetEvent(&code, &p1, &p2, static_cast<LONG>(ms)))) return 0;
  if (param1) *param1 = p1;
  events->FreeEventParams(code, p1, p2);
  return code;
}

void Graph::TearDown() {
  if (control) control->Stop();
  if (!builder) return;
  // Removing a filter while enumerating invalidates the enumeration: collect first.
  std::vector<media::ComPtr<IBaseFilter>> all;
  media::ComPtr<IEnumFilters> filters;
  if (SUCCEEDED(builder->EnumFilters(filters.put()))) {
    media::ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.put(), nullptr) == S_OK) all.push_back(filter);
  }
  for (auto& filter : all) builder->RemoveFilter(filter.get());
}

}  // namespace test
