// The capture graph: the fallback connection through RenderStream against a capture graph
// builder written here, then whole graphs built by the render-graph object on synthetic
// cameras, the renderer and the MJPEG decoder stand-ins through the system's DirectShow.
#include "graph/capture_graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "media/running_object_table.h"
#include "media/vd_filters.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/subprocess.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "tests/graph/camera_env.h"
#include "tests/graph/real_graph.h"
#include "tests/graph/standins.h"
#include "tests/plugin/plugin_test_support.h"

namespace {

// Answers FindInterface and FindPin with failures and RenderStream as told, recording each call.
class FallbackBuilder final : public ICaptureGraphBuilder2 {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter**, IFileSinkFilter**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindInterface(const GUID* category, const GUID* type, IBaseFilter*, REFIID iid,
                                          void** out) override {
    *out = nullptr;
    calls.push_back(std::string("FindInterface ") + Name(category) + " " + Name(type) +
                    (IsEqualGUID(iid, IID_IAMStreamConfig) ? " IAMStreamConfig" : " ?"));
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE RenderStream(const GUID* category, const GUID* type, IUnknown*, IBaseFilter* compressor,
                                         IBaseFilter*) override {
    calls.push_back(std::string("RenderStream ") + Name(category) + " " + Name(type) +
                    (compressor ? " compressor" : ""));
    const HRESULT r = renderResults.empty() ? E_FAIL : renderResults.front();
    if (!renderResults.empty()) renderResults.erase(renderResults.begin());
    return r;
  }
  HRESULT STDMETHODCALLTYPE ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*,
                                          WORD, WORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindPin(IUnknown*, PIN_DIRECTION direction, const GUID* category, const GUID* type,
                                    BOOL unconnected, int index, IPin** pin) override {
    *pin = nullptr;
    calls.push_back(std::string("FindPin ") + (direction == PINDIR_OUTPUT ? "out " : "in ") + Name(category) +
                    " " + Name(type) + (unconnected ? " unconnected " : " any ") + std::to_string(index));
    return E_FAIL;
  }

  std::vector<std::string> calls;
  std::vector<HRESULT> renderResults;

 private:
  static const char* Name(const GUID* g) {
    if (!g) return "null";
    if (IsEqualGUID(*g, PIN_CATEGORY_CAPTURE)) return "capture";
    if (IsEqualGUID(*g, PIN_CATEGORY_PREVIEW)) return "preview";
    if (IsEqualGUID(*g, MEDIATYPE_Video)) return "video";
    if (IsEqualGUID(*g, MEDIATYPE_Interleaved)) return "interleaved";
    return "other";
  }
};

// A capture filter without pins: the builder is asked about it, and nothing is found.
class PinlessFilter final : public IBaseFilter {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IPersist) && !IsEqualGUID(iid, IID_IMediaFilter) &&
        !IsEqualGUID(iid, IID_IBaseFilter)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<IBaseFilter*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the test's stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Pause() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = State_Stopped;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    *clock = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override {
    if (!pins) return E_POINTER;
    *pins = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    if (!info) return E_POINTER;
    *info = FILTER_INFO{};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    return E_NOTIMPL;
  }
};

TEST(CaptureGraph, WithoutAPinTheStreamIsRenderedInterleavedThenAsVideo) {
  const HRESULT cannot = static_cast<HRESULT>(0x80040217L);  // VFW_E_CANNOT_CONNECT
  const HRESULT other = static_cast<HRESULT>(0x80040207L);
  const std::vector<std::string> searches = {
      "FindInterface capture video IAMStreamConfig",
      "FindPin out capture video unconnected 0",
      "FindPin out preview video unconnected 0",
  };
  struct Case {
    const char* name;
    std::vector<HRESULT> renderResults;
    std::vector<std::string> renders;
    HRESULT result;
  } cases[] = {
      {"interleaved connects", {S_OK}, {"RenderStream preview interleaved"}, S_OK},
      {"video after interleaved", {cannot, S_OK}, {"RenderStream preview interleaved", "RenderStream preview video"}, S_OK},
      {"both fail: the second result", {cannot, other}, {"RenderStream preview interleaved", "RenderStream preview video"}, other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FallbackBuilder builder;
    builder.renderResults = c.renderResults;
    PinlessFilter camera;
    CVDRendGraphImpl graph;
    graph.captureBuilder = media::ComPtr<ICaptureGraphBuilder2>(&builder);
    graph.captureFilter = media::ComPtr<IBaseFilter>(&camera);
    EXPECT_EQ(graph.RenderCaptureStream(640, 480, 1), c.result);
    std::vector<std::string> expected = searches;
    expected.insert(expected.end(), c.renders.begin(), c.renders.end());
    EXPECT_EQ(builder.calls, expected);
    graph.captureFilter.reset();
    graph.captureBuilder.reset();
  }
}

TEST(CaptureGraph, RenderingWithoutACaptureGraphBuilderFails) {
  CVDRendGraphImpl graph;
  EXPECT_EQ(graph.RenderCaptureStream(640, 480, 1), E_FAIL);
}

// The system's builder takes the source for granted (Wine's FindPin and FindInterface
// dereference it): without a capture filter nothing is asked of the builder.
TEST(CaptureGraph, RenderingWithoutACaptureFilterIsRefusedBeforeTheBuilderIsAsked) {
  FallbackBuilder builder;
  builder.renderResults = {S_OK, S_OK};
  CVDRendGraphImpl graph;
  graph.captureBuilder = media::ComPtr<ICaptureGraphBuilder2>(&builder);
  EXPECT_EQ(graph.RenderCaptureStream(640, 480, 1), E_POINTER);
  EXPECT_EQ(builder.calls, std::vector<std::string>{});
  graph.captureBuilder.reset();
}

TEST(CaptureGraph, PinAndGraphOperationsRejectNullArguments) {
  IPin* pin = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(ConnectPinToFilter(nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(FindPinByDirection(nullptr, &pin, PINDIR_OUTPUT), 0);
  EXPECT_EQ(pin, nullptr);
  DWORD cookie = 7;
  EXPECT_EQ(AddGraphToRot(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(SaveGraphFile(u"C:\\VLM.grf", nullptr), 0);
  EXPECT_FALSE(GetFilterGraphBuilder(nullptr));
}


std::string FilterName(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (FAILED(filter->QueryFilterInfo(&info))) return "?";
  if (info.pGraph) info.pGraph->Release();
  return platform::Utf16ToUtf8(media::AsUtf16(info.achName));
}

// The filters from "Video Capture" downstream, following each filter's connected output pin.
std::vector<std::string> Chain(IGraphBuilder* graph) {
  std::vector<std::string> names;
  media::ComPtr<IBaseFilter> filter;
  if (FAILED(graph->FindFilterByName(OLESTR("Video Capture"), filter.put()))) return names;
  while (filter && names.size() < 8) {
    names.push_back(FilterName(filter.get()));
    media::ComPtr<IBaseFilter> next;
    media::ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.put());
    media::ComPtr<IPin> pin;
    while (pins && !next && pins->Next(1, pin.put(), nullptr) == S_OK) {
      PIN_DIRECTION d;
      media::ComPtr<IPin> peer;
      if (FAILED(pin->QueryDirection(&d)) || d != PINDIR_OUTPUT || FAILED(pin->ConnectedTo(peer.put()))) continue;
      PIN_INFO info{};
      if (SUCCEEDED(peer->QueryPinInfo(&info))) next = media::ComPtr<IBaseFilter>::Attach(info.pFilter);
    }
    filter = std::move(next);
  }
  return names;
}

// The names of every filter in the graph, sorted.
std::vector<std::string> Filters(IGraphBuilder* graph) {
  std::vector<std::string> names;
  media::ComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(filters.put())) || !filters) return names;
  media::ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.put(), nullptr) == S_OK && filter) names.push_back(FilterName(filter.get()));
  std::sort(names.begin(), names.end());
  return names;
}

bool InGraph(IGraphBuilder* graph, const char16_t* name) {
  media::ComPtr<IBaseFilter> filter;
  return SUCCEEDED(graph->FindFilterByName(media::AsOle(name), filter.put())) && filter;
}

// The render-graph object on synthetic cameras, with the virtual-camera stand-in bound so
// delivered frames can be seen; the filters record what they are asked into a file.
class RealGraphTest : public test::RealGraphFixture {
 protected:
  void SetUp() override {
    RealGraphFixture::SetUp();
    record_ = test::Join(dir_, "record.txt");
    platform::SetEnvironmentValue("KESTREL_FILTERS_RECORD", record_.c_str());
  }
  void TearDown() override {
    RealGraphFixture::TearDown();
    platform::SetEnvironmentValue("KESTREL_FILTERS_RECORD", nullptr);
  }
  void Camera(const std::string& config) { test::AddCamera("0001", test::UsbPath(1), "Desk camera", config); }
  static void Setting(const char* name, uint32_t value) { test::SetDword(test::kFilterSettingsKey, name, value); }
  // Opens the graph at width x height as ApplyResolution does and waits for `frames` frames.
  HRESULT Open(uint32_t width, uint32_t height) {
    const HRESULT hr = graph_->BuildGraph(width, height);
    if (SUCCEEDED(hr)) graph_->currentResolution.store(PackResolution(width, height));
    return hr;
  }
  bool FramesArrive(uint64_t count) {
    return vcam_.WaitForFrames(vcam_.FrameCount() + count, test::kWaitMs) == 1;
  }
  std::vector<std::string> Record() const { return test::ReadRecord(record_); }

  std::string record_;
};

TEST_F(RealGraphTest, BuildsTheGraphTheCameraFormatNeeds) {
  const std::vector<std::string> direct = {"Video Capture", "VD Render"};
  const std::vector<std::string> decoded = {"Video Capture", "Quillon MJPEG Decoder", "VD Render"};
  struct Case {
    const char* name;
    std::string config;
    uint32_t decoderClasses, decoderControls;
    uint32_t width, height;
    std::vector<std::string> chain;
    const char* setFormat;
  } cases[] = {
      {"MJPG-only camera", "caps=MJPG:1280x720", 3, 3, 1280, 720, decoded, "camera SetFormat MJPG 1280x720 333333"},
      {"YUY2 camera", "caps=YUY2:640x480", 3, 3, 640, 480, direct, "camera SetFormat YUY2 640x480 333333"},
      {"MJPG and YUY2 at 640x480", "caps=MJPG:640x480,YUY2:640x480", 3, 3, 640, 480, direct,
       "camera SetFormat YUY2 640x480 333333"},
      {"the decoder's second class and interface", "caps=MJPG:640x480", 2, 2, 640, 480, decoded,
       "camera SetFormat MJPG 640x480 333333"},
      {"scaled from the nearest size", "caps=YUY2:640x480,YUY2:1280x1024", 3, 3, 800, 600, direct,
       "camera SetFormat YUY2 640x480 333333"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ClearFilterSettings();
    Setting("DecoderClasses", c.decoderClasses);
    Setting("DecoderControl", c.decoderControls);
    Camera(c.config);
    ASSERT_EQ(Open(c.width, c.height), S_OK);
    EXPECT_EQ(Chain(graph_->graph.get()), c.chain);
    EXPECT_EQ(InGraph(graph_->graph.get(), u"Quillon MJPEG Decoder"), c.chain.size() == 3);
    ASSERT_TRUE(FramesArrive(3));
    BitmapInfoHeader h{};
    vcam_.GetLastFrame(&h, nullptr, 0);
    EXPECT_EQ(h.biWidth, static_cast<int32_t>(c.width));
    EXPECT_EQ(h.biHeight, static_cast<int32_t>(c.height));
    EXPECT_EQ(h.biCompression, kFourccYUY2);
    graph_->StopGraph();
    const std::vector<std::string> record = Record();
    EXPECT_TRUE(test::Contains(record, c.setFormat));
    EXPECT_EQ(test::Contains(record, "decoder Control 4"), c.chain.size() == 3);
    EXPECT_FALSE(graph_->graph);
    EXPECT_EQ(graph_->currentResolution.load(), 0u);
    platform::DeleteFileAt(record_.c_str());
  }
}

TEST_F(RealGraphTest, CameraWithoutKsObjectFailsWithTheQueryResultAfterRunning) {
  struct Case {
    const char* config;
    HRESULT result;
    uint32_t pinObjects;
  } cases[] = {{"caps=YUY2:320x240", S_OK, 1}, {"caps=YUY2:320x240;ksobject=0", E_NOINTERFACE, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    vcam_.Reset();
    platform::DeleteFileAt(record_.c_str());
    Camera(c.config);
    EXPECT_EQ(graph_->BuildGraph(320, 240), c.result);
    EXPECT_EQ(vcam_.CountCalls("OruVCapSetDevicePinObj(handle)"), c.pinObjects);
    EXPECT_TRUE(test::Contains(Record(), "camera Run"));
    graph_->StopGraph();
  }
}

// Without a working decoder the builder's fallback connects the renderer through a Smart Tee
// in MJPG, which the pipeline would drop: the build fails and takes the tee out again.
TEST_F(RealGraphTest, DecoderWithoutOutputPinIsRemovedFromTheGraph) {
  test::SetDword("SOFTWARE\\Quillon\\OruVCapture\\", "Log", 1);
  const struct Case {
    const char* name;
    const char* setting;
  } cases[] = {{"decoder without output pin", "DecoderOutputPin"}, {"no decoder", "DecoderClasses"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ClearFilterSettings();
    Setting(c.setting, 0);
    Camera("caps=MJPG:640x480");
    EXPECT_TRUE(FAILED(graph_->BuildGraph(640, 480)));
    ASSERT_TRUE(graph_->graph);
    EXPECT_EQ(Filters(graph_->graph.get()), (std::vector<std::string>{"VD Render", "Video Capture"}));
    EXPECT_FALSE(graph_->decoderFilter && GetFilterGraphBuilder(graph_->decoderFilter.get()));
    graph_->StopGraph();
  }
  const std::string log = test::ReadBytes(test::NativeFile("c:\\QuillonVCapture.log")).value_or("");
  const std::string refused = "VD Render connected with frames that cannot be converted!  biCompression=0x47504a4d";
  size_t count = 0;
  for (size_t at = log.find(refused); at != std::string::npos; at = log.find(refused, at + 1)) ++count;
  EXPECT_EQ(count, 2u);
}

// The system's capture graph builder, except that it finds no pin, so RenderCaptureStream
// renders through RenderStream.
class BuilderWithoutPins final : public ICaptureGraphBuilder2 {
 public:
  explicit BuilderWithoutPins(ICaptureGraphBuilder2* inner) : inner_(inner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* g) override { return inner_->SetFiltergraph(g); }
  HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** g) override { return inner_->GetFiltergraph(g); }
  HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID* t, LPCOLESTR f, IBaseFilter** m, IFileSinkFilter** s) override {
    return inner_->SetOutputFileName(t, f, m, s);
  }
  HRESULT STDMETHODCALLTYPE FindInterface(const GUID* c, const GUID* t, IBaseFilter* f, REFIID iid, void** out) override {
    return inner_->FindInterface(c, t, f, iid, out);
  }
  HRESULT STDMETHODCALLTYPE RenderStream(const GUID* c, const GUID* t, IUnknown* s, IBaseFilter* i, IBaseFilter* r) override {
    return inner_->RenderStream(c, t, s, i, r);
  }
  HRESULT STDMETHODCALLTYPE ControlStream(const GUID* c, const GUID* t, IBaseFilter* f, REFERENCE_TIME* a,
                                          REFERENCE_TIME* b, WORD x, WORD y) override {
    return inner_->ControlStream(c, t, f, a, b, x, y);
  }
  HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR f, DWORDLONG n) override { return inner_->AllocCapFile(f, n); }
  HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR a, LPOLESTR b, int e, IAMCopyCaptureFileProgress* p) override {
    return inner_->CopyCaptureFile(a, b, e, p);
  }
  HRESULT STDMETHODCALLTYPE FindPin(IUnknown*, PIN_DIRECTION, const GUID*, const GUID*, BOOL, int, IPin** pin) override {
    *pin = nullptr;
    return E_FAIL;
  }

 private:
  ~BuilderWithoutPins() = default;
  media::ComPtr<ICaptureGraphBuilder2> inner_;
  std::atomic<ULONG> refs_{1};
};

// A camera in a format the pipeline converts stays connected through the builder's Smart Tee,
// and its frames reach the virtual camera.
TEST_F(RealGraphTest, TheRenderStreamFallbackKeepsAFormatThePipelineConverts) {
  Camera("caps=YUY2:320x240");
  CVDRendGraphImpl& g = *graph_;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, g.graph.putVoid()),
            S_OK);
  media::ComPtr<ICaptureGraphBuilder2> system;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                             system.putVoid()),
            S_OK);
  g.captureBuilder = media::ComPtr<ICaptureGraphBuilder2>::Attach(new BuilderWithoutPins(system.get()));
  ASSERT_EQ(g.captureBuilder->SetFiltergraph(g.graph.get()), S_OK);
  ASSERT_EQ(g.GetCaptureDevice(g.captureFilter.put()), S_OK);
  ASSERT_EQ(CoCreateInstance(vd::kClsidVDRender, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             g.renderFilter.putVoid()),
            S_OK);
  ASSERT_EQ(g.graph->AddFilter(g.captureFilter.get(), OLESTR("Video Capture")), S_OK);
  ASSERT_EQ(g.graph->AddFilter(g.renderFilter.get(), OLESTR("VD Render")), S_OK);

  EXPECT_EQ(g.RenderCaptureStream(320, 240, 1), VFW_S_NOPREVIEWPIN);
  const std::vector<std::string> chain = Chain(g.graph.get());
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_EQ(chain.back(), "VD Render");
  media::ComPtr<IBaseFilter> tee;
  ASSERT_EQ(g.graph->FindFilterByName(media::AsOle(platform::Utf8ToUtf16(chain[1]).c_str()), tee.put()), S_OK);
  CLSID clsid{};
  ASSERT_EQ(tee->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, CLSID_SmartTee));

  media::ComPtr<IVDRenderCallback> callback;
  ASSERT_EQ(g.renderFilter->QueryInterface(vd::kIidVDRenderCallback, callback.putVoid()), S_OK);
  ASSERT_EQ(callback->SetCallback(reinterpret_cast<VDSampleCallback>(&FramePipeline::SampleCallback), &g.pipeline), S_OK);
  ASSERT_EQ(g.pipeline.PrepareOutputFormat(320, 240), S_OK);
  g.currentResolution.store(PackResolution(320, 240));
  media::ComPtr<IMediaControl> control;
  ASSERT_EQ(g.graph->QueryInterface(IID_IMediaControl, control.putVoid()), S_OK);
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_TRUE(FramesArrive(3));
  control.reset();
  g.StopGraph();
}

// The camera reports its loss after three frames went through the renderer; none of them
// reached the virtual camera.
TEST_F(RealGraphTest, GraphsThatRunWithoutDelivering) {
  struct Case {
    const char* name;
    uint32_t renderCallback;
    const char* config;
    const char* setFormat;
  } cases[] = {
      {"renderer without IVDRenderCallback", 0, "caps=YUY2:320x240;lost=3", "camera SetFormat YUY2 320x240 333333"},
      {"YUYV put on the pin, dropped by the pipeline", 1, "caps=YUYV:320x240;lost=3",
       "camera SetFormat YUYV 320x240 333333"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vcam_.Reset();
    platform::DeleteFileAt(record_.c_str());
    Setting("RenderCallback", c.renderCallback);
    Camera(c.config);
    ASSERT_EQ(Open(320, 240), S_OK);
    ASSERT_TRUE(graph_->mediaEvent);
    bool lost = false;
    for (int i = 0; i < 1000 && !lost; ++i) {
      LONG code = 0;
      LONG_PTR p1 = 0, p2 = 0;
      if (FAILED(graph_->mediaEvent->GetEvent(&code, &p1, &p2, 100))) continue;
      graph_->mediaEvent->FreeEventParams(code, p1, p2);
      lost = code == EC_DEVICE_LOST;
    }
    ASSERT_TRUE(lost);
    graph_->StopGraph();
    EXPECT_EQ(vcam_.FrameCount(), 0u);
    const std::vector<std::string> record = Record();
    EXPECT_TRUE(test::Contains(record, c.setFormat));
    EXPECT_TRUE(test::Contains(record, "render frames 3"));
  }
}

TEST_F(RealGraphTest, SecondBuildTearsTheFirstDownAndReusesTheOutputBuffer) {
  Camera("caps=YUY2:640x480,YUY2:320x240");
  ASSERT_EQ(Open(640, 480), S_OK);
  ASSERT_TRUE(FramesArrive(1));
  const uint8_t* buffer = graph_->pipeline.outputBuffer.get();
  ASSERT_EQ(Open(320, 240), S_OK);
  EXPECT_EQ(graph_->pipeline.outputBuffer.get(), buffer);
  EXPECT_EQ(graph_->pipeline.outputCapacity, 640u * 2 * 480);
  EXPECT_EQ(graph_->pipeline.outputHeader.biSizeImage, 320u * 2 * 240);
  ASSERT_TRUE(FramesArrive(2));
  const std::vector<std::string> record = Record();
  const auto at = [&](const std::string& line, size_t from) {
    return std::find(record.begin() + static_cast<long>(std::min(from, record.size())), record.end(), line) -
           record.begin();
  };
  const size_t firstRun = at("camera Run", 0);
  const size_t stop = at("camera Stop", firstRun);
  const size_t secondRun = at("camera Run", stop);
  EXPECT_LT(firstRun, stop);
  EXPECT_LT(stop, secondRun);
  EXPECT_LT(secondRun, record.size());
}

TEST_F(RealGraphTest, PhysicalDeviceStatusComesFromTheRunningGraph) {
  test::SetDword("SOFTWARE\\Quillon\\OruVCapture\\", "Log", 1);
  Camera("caps=YUY2:320x240");
  EXPECT_EQ(graph_->QueryPhysicalDeviceStatus(), 1u);
  ASSERT_EQ(Open(320, 240), S_OK);
  test::ClearCameras();  // no enumeration could find it now
  EXPECT_EQ(graph_->QueryPhysicalDeviceStatus(), 1u);
  graph_->StopGraph();
  EXPECT_EQ(graph_->QueryPhysicalDeviceStatus(), 0u);
  const std::string log = test::ReadBytes(test::NativeFile("c:\\QuillonVCapture.log")).value_or("");
  EXPECT_NE(log.find("Physical device status: 1!"), std::string::npos);
  EXPECT_NE(log.find("Physical device status: 0!"), std::string::npos);
}

// Whether another process finds the item moniker "!" `name` in the running object table:
// 0 it does, 1 it does not, else the peer failed.
int PeerSeesInTable(const std::string& name) {
  platform::Subprocess peer;
  if (!peer.Start(plugin_test::BuildPath(KESTREL_ROT_PEER), {name})) return -1;
  int code = -1;
  return peer.Wait(plugin_test::kGenerousMs, &code) ? code : -1;
}

// The entry is named after the graph's address with every digit of a pointer and the process
// identifier; on Windows the table is the session's, so another process sees it too (the
// Linux runtime's table is the process's own). The build's result is the registration's,
// whether or not the graph can write itself to the graph file.
TEST_F(RealGraphTest, WithTheLogSwitchTheGraphIsInTheRunningObjectTableWhileItRuns) {
  test::SetDword("SOFTWARE\\Quillon\\OruVCapture\\", "Log", 1);
  Camera("caps=YUY2:320x240");
  ASSERT_EQ(Open(320, 240), S_OK);
  EXPECT_NE(graph_->rotCookie, 0u);
  char name[64];
  std::snprintf(name, sizeof name,
                sizeof(void*) == 8 ? "FilterGraph %016" PRIxPTR " pid %08x" : "FilterGraph %08" PRIxPTR " pid %08x",
                reinterpret_cast<uintptr_t>(static_cast<IUnknown*>(graph_->graph.get())),
                static_cast<unsigned>(platform::CurrentProcessId()));
  const std::u16string wide = platform::Utf8ToUtf16(name);
  media::ComPtr<IRunningObjectTable> rot;
  ASSERT_EQ(GetRunningObjectTable(0, rot.put()), S_OK);
  media::ComPtr<IMoniker> moniker;
  ASSERT_EQ(CreateItemMoniker(OLESTR("!"), media::AsOle(wide.c_str()), moniker.put()), S_OK);
  EXPECT_EQ(rot->IsRunning(moniker.get()), S_OK);
  EXPECT_EQ(PeerSeesInTable(name), platform::kWindowsBuild ? 0 : 1);

  // The graph file holds the graph where the graph persists itself (Wine's does not).
  media::ComPtr<IPersistStream> persist;
  const bool persists = SUCCEEDED(graph_->graph->QueryInterface(IID_IPersistStream, persist.putVoid()));
  persist.reset();
  if (persists) {
    EXPECT_TRUE(platform::PathExists(test::NativeFile("C:\\VLM.grf").c_str()));
  }
  EXPECT_EQ(SaveGraphFile(u"C:\\VLM.grf", graph_->graph.get()), persists ? 1 : 0);

  graph_->StopGraph();
  EXPECT_EQ(graph_->rotCookie, 0u);
  EXPECT_NE(rot->IsRunning(moniker.get()), S_OK);
  EXPECT_EQ(PeerSeesInTable(name), 1);
  const std::string log = test::ReadBytes(test::NativeFile("c:\\QuillonVCapture.log")).value_or("");
  EXPECT_NE(log.find("AddGraphToRot!  hr=0x0"), std::string::npos);
  platform::DeleteFileAt(test::NativeFile("C:\\VLM.grf").c_str());
}

}  // namespace


// A running object table that is full refuses the graph: the build fails with the refusal,
// logged, and the graph holds no registration.
TEST_F(RealGraphTest, WithTheLogSwitchARefusedRegistrationFailsTheBuild) {
  if (media::kRunningObjectTableLimit == 0) KESTREL_NOT_APPLICABLE("the system's table has no bound of ours");
  test::SetDword("SOFTWARE\\Quillon\\OruVCapture\\", "Log", 1);
  Camera("caps=YUY2:320x240");
  media::ComPtr<IRunningObjectTable> rot;
  ASSERT_EQ(GetRunningObjectTable(0, rot.put()), S_OK);
  std::vector<DWORD> fillers;
  HRESULT filled = S_OK;
  while (SUCCEEDED(filled) && fillers.size() <= media::kRunningObjectTableLimit) {
    const std::u16string item = u"filler " + platform::Utf8ToUtf16(std::to_string(fillers.size()));
    media::ComPtr<IMoniker> moniker;
    ASSERT_EQ(CreateItemMoniker(OLESTR("!"), media::AsOle(item.c_str()), moniker.put()), S_OK);
    DWORD cookie = 0;
    filled = rot->Register(0, moniker.get(), moniker.get(), &cookie);
    if (SUCCEEDED(filled)) fillers.push_back(cookie);
  }
  EXPECT_EQ(filled, E_OUTOFMEMORY);
  EXPECT_EQ(fillers.size(), media::kRunningObjectTableLimit);
  EXPECT_EQ(Open(320, 240), E_OUTOFMEMORY);
  EXPECT_EQ(graph_->rotCookie, 0u);
  for (DWORD cookie : fillers) EXPECT_EQ(rot->Revoke(cookie), S_OK);
  graph_->StopGraph();
  const std::string log = test::ReadBytes(test::NativeFile("c:\\QuillonVCapture.log")).value_or("");
  EXPECT_NE(log.find("AddGraphToRot!  hr=0x8007000e"), std::string::npos);
  EXPECT_NE(log.find("Failed to register filter graph with ROT!  hr=0x8007000e"), std::string::npos);
}
