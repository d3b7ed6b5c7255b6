// The Linux COM runtime: activation, graph manager, capture graph builder, allocator and
// running object table, with the small filters of test_filters.h. Every test ends with the
// runtime's and the test filters' object counts back where they started.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "media/com_ptr.h"
#include "media/posix/runtime.h"
#include "platform/environment.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/system_files.h"
#include "platform/text.h"
#include "tests/media/test_filters.h"

namespace {

using media::ComPtr;
using test::CallLog;
using test::PinSpec;
using test::TestFilter;

constexpr CLSID kTestServerClass = {0xC0FFEE01, 0x5A5A, 0x4B4B, {0x8C, 0x8C, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};
constexpr const char* kTestServerKey = "Software\\Classes\\CLSID\\{C0FFEE01-5A5A-4B4B-8C8C-0123456789AB}\\InprocServer32";
constexpr LONG kGenerousMs = 120000;
// An interface only the test renderer claims.
constexpr IID kRendererOnly = {0x0DDBA11, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};

PinSpec Out(GUID category = GUID_NULL, std::vector<IID> answers = {}) {
  PinSpec p;
  p.dir = PINDIR_OUTPUT;
  p.category = category;
  p.answers = std::move(answers);
  return p;
}
PinSpec In(std::vector<IID> answers = {}) {
  PinSpec p;
  p.dir = PINDIR_INPUT;
  p.answers = std::move(answers);
  return p;
}

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    dir_ = platform::TemporaryDirectory() + "/kestrel-media-" + std::to_string(seed());
    ASSERT_TRUE(platform::CreateDirectories(dir_.c_str()));
    platform::SetEnvironmentValue(platform::kRegistryFileVariable, (dir_ + "/registry.reg").c_str());
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    runtimeObjects_ = media::LiveRuntimeObjects();
  }
  void TearDown() override {
    EXPECT_EQ(runtimeObjects_, media::LiveRuntimeObjects());
    EXPECT_EQ(0, test::gTestObjects.load());
    CoUninitialize();
    platform::SetEnvironmentValue(platform::kRegistryFileVariable, nullptr);
    platform::RemoveDirectoryTree(dir_.c_str());
  }

  static ComPtr<IGraphBuilder> NewGraph() {
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                     IID_IGraphBuilder, graph.putVoid()));
    return graph;
  }
  static ComPtr<TestFilter> Make(const char* tag, std::vector<PinSpec> pins, CallLog* log = nullptr,
                                 std::vector<IID> answers = {}) {
    return ComPtr<TestFilter>::Attach(new TestFilter(tag, std::move(pins), log, std::move(answers)));
  }

  std::string dir_;
  long runtimeObjects_ = 0;
};

// ---- Activation ----

TEST_F(RuntimeTest, BuiltinClassesAnswerTheirInterfaces) {
  struct Case {
    const CLSID* clsid;
    const IID* iid;
  };
  const Case cases[] = {
      {&CLSID_FilterGraph, &IID_IGraphBuilder},   {&CLSID_FilterGraph, &IID_IMediaControl},
      {&CLSID_FilterGraph, &IID_IMediaEventEx},   {&CLSID_FilterGraph, &IID_IMediaEventSink},
      {&CLSID_FilterGraph, &IID_IMediaFilter},    {&CLSID_CaptureGraphBuilder2, &IID_ICaptureGraphBuilder2},
      {&CLSID_MemoryAllocator, &IID_IMemAllocator}, {&CLSID_SystemClock, &IID_IReferenceClock},
  };
  for (const Case& c : cases) {
    ComPtr<IUnknown> object;
    EXPECT_EQ(S_OK, CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, *c.iid, object.putVoid()));
    EXPECT_TRUE(object);
  }
  ComPtr<IUnknown> none;
  IUnknown* outer = reinterpret_cast<IUnknown*>(&none);
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            CoCreateInstance(CLSID_FilterGraph, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, none.putVoid()));
  EXPECT_EQ(REGDB_E_CLASSNOTREG,
            CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, none.putVoid()));
  EXPECT_EQ(E_NOINTERFACE,
            CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IPin, none.putVoid()));
  EXPECT_FALSE(none);
}

TEST_F(RuntimeTest, RegisteredServersAreLoadedByTheirRegistryName) {
  const std::string absolute = platform::ExecutableDirectory() + "/libTestComServer.so";
  const std::string wrongModule = platform::ExecutableDirectory() + "/libkmedia.so";
  struct Case {
    const char* name;
    std::string server;  // empty: not registered
    HRESULT expected;
  };
  const Case cases[] = {
      {"Windows module name", "TestComServer.dll", S_OK},
      {"absolute path", absolute, S_OK},
      {"not registered", "", REGDB_E_CLASSNOTREG},
      {"missing module", "NoSuchServer.dll", CO_E_DLLNOTFOUND},
      {"module without DllGetClassObject", wrongModule, CO_E_ERRORINDLL},
  };
  for (const Case& c : cases) {
    platform::DeleteRegistryTree(platform::RegistryRoot::LocalMachine, "Software\\Classes\\CLSID");
    if (!c.server.empty()) {
      const std::u16string value = platform::Utf8ToUtf16(c.server);
      ASSERT_EQ(0, platform::SetRegistryValue(platform::RegistryRoot::LocalMachine, kTestServerKey, "",
                                              platform::kRegSz, value.c_str(),
                                              static_cast<uint32_t>((value.size() + 1) * 2)));
    }
    ComPtr<IPersist> object;
    EXPECT_EQ(c.expected, CoCreateInstance(kTestServerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist,
                                           object.putVoid()))
        << c.name;
    if (c.expected == S_OK) {
      CLSID clsid{};
      ASSERT_TRUE(object) << c.name;
      EXPECT_EQ(S_OK, object->GetClassID(&clsid));
      EXPECT_TRUE(clsid == kTestServerClass) << c.name;
    }
  }
}

TEST_F(RuntimeTest, ModulesStayUntilTheLastApartmentEnds) {
  const std::u16string value = u"TestComServer.dll";
  ASSERT_EQ(0, platform::SetRegistryValue(platform::RegistryRoot::LocalMachine, kTestServerKey, "", platform::kRegSz,
                                          value.c_str(), static_cast<uint32_t>((value.size() + 1) * 2)));
  const std::string path = platform::ExecutableDirectory() + "/libTestComServer.so";
  auto loaded = [&] {
    void* m = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (m) dlclose(m);
    return m != nullptr;
  };
  ASSERT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));  // a second apartment count
  {
    ComPtr<IPersist> object;
    ASSERT_EQ(S_OK, CoCreateInstance(kTestServerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist, object.putVoid()));
    EXPECT_TRUE(loaded());
  }
  CoUninitialize();
  EXPECT_TRUE(loaded());  // the fixture's apartment is still there
  CoUninitialize();
  EXPECT_FALSE(loaded());
  ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));  // for TearDown
}

TEST_F(RuntimeTest, ApartmentModelsAreKeptPerThread) {
  EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  HRESULT other = S_OK;
  HRESULT second = S_OK;
  std::thread([&] {
    other = CoInitialize(nullptr);
    second = CoInitialize(nullptr);
    CoUninitialize();
    CoUninitialize();
  }).join();
  EXPECT_EQ(S_OK, other);
  EXPECT_EQ(S_FALSE, second);
}

TEST_F(RuntimeTest, GuidText) {
  OLECHAR text[39];
  ASSERT_EQ(39, StringFromGUID2(CLSID_SystemDeviceEnum, text, 39));
  EXPECT_EQ(std::u16string(u"{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}"), std::u16string(text));
  EXPECT_EQ(0, StringFromGUID2(CLSID_SystemDeviceEnum, text, 38));
  CLSID parsed{};
  EXPECT_EQ(S_OK, CLSIDFromString(u"{9651e3da-5f84-4c96-b34c-36cb2eda7e64}", &parsed));
  const CLSID renderer = {0x9651E3DA, 0x5F84, 0x4C96, {0xB3, 0x4C, 0x36, 0xCB, 0x2E, 0xDA, 0x7E, 0x64}};
  EXPECT_TRUE(parsed == renderer);
  for (const char16_t* bad : {u"9651E3DA-5F84-4C96-B34C-36CB2EDA7E64", u"{9651E3DA-5F84-4C96-B34C-36CB2EDA7E6}",
                              u"{9651E3DA-5F84-4C96-B34C-36CB2EDA7E64}x", u"{9651E3DA_5F84-4C96-B34C-36CB2EDA7E64}",
                              u"{"}) {
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(bad, &parsed)) << platform::Utf16ToUtf8(bad);
  }
}

TEST_F(RuntimeTest, StringsAndVariants) {
  BSTR s = SysAllocString(u"FriendlyName");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(12u, SysStringLen(s));
  EXPECT_EQ(24u, SysStringByteLen(s));
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = s;
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(S_OK, VariantCopy(&copy, &v));
  EXPECT_NE(v.bstrVal, copy.bstrVal);
  EXPECT_EQ(std::u16string(u"FriendlyName"), std::u16string(copy.bstrVal));
  EXPECT_EQ(S_OK, VariantClear(&v));
  EXPECT_EQ(VT_EMPTY, v.vt);
  media::ScopedVariant scoped;
  ASSERT_EQ(S_OK, VariantCopy(scoped.get(), &copy));
  VariantClear(&copy);
  EXPECT_EQ(0u, SysStringLen(nullptr));
}

// As on Windows, VariantInit sets the type and nothing else: a caller that then makes the
// variant a string must set the string too.
TEST_F(RuntimeTest, VariantInitSetsTheTypeOnly) {
  VARIANT v;
  std::memset(&v, 0xA5, sizeof v);
  VariantInit(&v);
  EXPECT_EQ(VT_EMPTY, v.vt);
  EXPECT_EQ(0xA5A5u, v.wReserved1);
  EXPECT_EQ(0xA5A5A5A5A5A5A5A5ull, v.ullVal);
  EXPECT_EQ(S_OK, VariantClear(&v));  // an empty variant: nothing is freed
  EXPECT_EQ(VT_EMPTY, v.vt);
}

TEST_F(RuntimeTest, Win32ErrorsAndStorage) {
  EXPECT_EQ(static_cast<HRESULT>(0x800700AAu), HRESULT_FROM_WIN32(170));  // ERROR_BUSY
  EXPECT_EQ(S_OK, HRESULT_FROM_WIN32(0));
  IStorage* storage = reinterpret_cast<IStorage*>(&storage);
  EXPECT_EQ(STG_E_UNIMPLEMENTEDFUNCTION,
            StgCreateDocfile(u"C:\\VLM.grf", STGM_CREATE | STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                             &storage));
  EXPECT_EQ(nullptr, storage);
}

// ---- Filter graph manager ----

TEST_F(RuntimeTest, AddFilterGivesUniqueNames) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  struct Case {
    const char16_t* name;
    HRESULT expected;
    const char16_t* given;  // null: any name not used before
  };
  const Case cases[] = {
      {u"Video Capture", S_OK, u"Video Capture"},
      {u"Video Capture", VFW_S_DUPLICATE_NAME, u"Video Capture 0001"},
      {u"Video Capture", VFW_S_DUPLICATE_NAME, u"Video Capture 0002"},
      {u"VD Render", S_OK, u"VD Render"},
      {nullptr, S_OK, nullptr},
      {nullptr, S_OK, nullptr},
  };
  std::vector<ComPtr<TestFilter>> added;
  std::vector<std::u16string> names;
  for (const Case& c : cases) {
    ComPtr<TestFilter> f = Make("f", {});
    EXPECT_EQ(c.expected, graph->AddFilter(f.get(), c.name));
    EXPECT_EQ(static_cast<IFilterGraph*>(graph.get()), f->graph);
    if (c.given) {
      EXPECT_EQ(std::u16string(c.given), f->name);
    }
    EXPECT_FALSE(f->name.empty());
    for (const auto& n : names) EXPECT_NE(n, f->name);
    names.push_back(f->name);
    ComPtr<IBaseFilter> found;
    EXPECT_EQ(S_OK, graph->FindFilterByName(f->name.c_str(), found.put()));
    EXPECT_EQ(static_cast<IBaseFilter*>(f.get()), found.get());
    added.push_back(f);
  }
  ComPtr<IBaseFilter> none;
  EXPECT_EQ(VFW_E_NOT_FOUND, graph->FindFilterByName(u"Quillon MJPEG Decoder", none.put()));
  EXPECT_EQ(E_POINTER, graph->AddFilter(nullptr, u"x"));
  EXPECT_EQ(E_POINTER, graph->FindFilterByName(u"x", nullptr));

  // EnumFilters lists every filter, the newest first.
  ComPtr<IEnumFilters> list;
  ASSERT_EQ(S_OK, graph->EnumFilters(list.put()));
  for (size_t i = added.size(); i-- > 0;) {
    ComPtr<IBaseFilter> f;
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, list->Next(1, f.put(), &fetched));
    EXPECT_EQ(static_cast<IBaseFilter*>(added[i].get()), f.get());
  }
  ComPtr<IBaseFilter> end;
  EXPECT_EQ(S_FALSE, list->Next(1, end.put(), nullptr));

  EXPECT_EQ(S_OK, graph->RemoveFilter(added[0].get()));
  EXPECT_EQ(nullptr, added[0]->graph);
  EXPECT_EQ(VFW_E_NOT_FOUND, graph->FindFilterByName(u"Video Capture", none.put()));
  EXPECT_EQ(E_FAIL, graph->RemoveFilter(added[0].get()));
  // The freed name is free again.
  ComPtr<TestFilter> again = Make("again", {});
  EXPECT_EQ(S_OK, graph->AddFilter(again.get(), u"Video Capture"));
}

TEST_F(RuntimeTest, ConnectDirectChecksPinsAndPassesTheType) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  ComPtr<TestFilter> camera = Make("camera", {Out(), Out()});
  PinSpec audioIn = In();
  audioIn.majorTypes = {MEDIATYPE_Interleaved};
  ComPtr<TestFilter> renderer = Make("renderer", {In(), audioIn});
  ComPtr<TestFilter> outsider = Make("outsider", {In()});
  ASSERT_EQ(S_OK, graph->AddFilter(camera.get(), u"Video Capture"));
  ASSERT_EQ(S_OK, graph->AddFilter(renderer.get(), u"VD Render"));

  EXPECT_EQ(E_POINTER, graph->ConnectDirect(nullptr, renderer->pin(0), nullptr));
  EXPECT_EQ(VFW_E_NOT_IN_GRAPH, graph->ConnectDirect(camera->pin(0), outsider->pin(0), nullptr));
  EXPECT_EQ(VFW_E_INVALID_DIRECTION, graph->ConnectDirect(renderer->pin(0), camera->pin(0), nullptr));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, graph->ConnectDirect(camera->pin(0), renderer->pin(1), nullptr));

  // Without a type the output pin proposes its own; with one, that type is used.
  ASSERT_EQ(S_OK, graph->ConnectDirect(camera->pin(0), renderer->pin(0), nullptr));
  EXPECT_TRUE(renderer->pin(0)->IsConnected());
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, graph->ConnectDirect(camera->pin(1), renderer->pin(0), nullptr));
  AM_MEDIA_TYPE interleaved{};
  interleaved.majortype = MEDIATYPE_Interleaved;
  ASSERT_EQ(S_OK, graph->ConnectDirect(camera->pin(1), renderer->pin(1), &interleaved));
  AM_MEDIA_TYPE got{};
  ASSERT_EQ(S_OK, renderer->pin(1)->ConnectionMediaType(&got));
  EXPECT_TRUE(got.majortype == MEDIATYPE_Interleaved);
  FreeMediaType(got);

  EXPECT_EQ(S_OK, graph->Reconnect(camera->pin(0)));
  EXPECT_TRUE(renderer->pin(0)->IsConnected());
  EXPECT_EQ(2, camera->pin(0)->connects);

  EXPECT_EQ(S_OK, graph->Disconnect(camera->pin(0)));
  EXPECT_EQ(S_OK, graph->Disconnect(renderer->pin(0)));
  EXPECT_FALSE(camera->pin(0)->IsConnected());
  EXPECT_FALSE(renderer->pin(0)->IsConnected());
  // Removing a connected filter disconnects both sides.
  EXPECT_EQ(S_OK, graph->RemoveFilter(renderer.get()));
  EXPECT_FALSE(camera->pin(1)->IsConnected());
  EXPECT_FALSE(renderer->pin(1)->IsConnected());
}

// source -> decoder -> renderer, added in another order than the stream's.
struct Chain {
  CallLog log;
  ComPtr<TestFilter> source, decoder, renderer;
};

void BuildChain(IGraphBuilder* graph, Chain* c) {
  c->renderer = ComPtr<TestFilter>::Attach(new TestFilter("renderer", {In()}, &c->log));
  c->source = ComPtr<TestFilter>::Attach(new TestFilter("source", {Out()}, &c->log));
  c->decoder = ComPtr<TestFilter>::Attach(
      new TestFilter("decoder", {In(), Out()}, &c->log));
  ASSERT_EQ(S_OK, graph->AddFilter(c->renderer.get(), u"VD Render"));
  ASSERT_EQ(S_OK, graph->AddFilter(c->source.get(), u"Video Capture"));
  ASSERT_EQ(S_OK, graph->AddFilter(c->decoder.get(), u"Quillon MJPEG Decoder"));
  ASSERT_EQ(S_OK, graph->ConnectDirect(c->source->pin(0), c->decoder->pin(0), nullptr));
  ASSERT_EQ(S_OK, graph->ConnectDirect(c->decoder->pin(1), c->renderer->pin(0), nullptr));
  c->log.lines.clear();
}

TEST_F(RuntimeTest, StateChangesGoFromRendererToSource) {
  Chain c;  // outlives the graph, which logs into it when it goes
  ComPtr<IGraphBuilder> graph = NewGraph();
  BuildChain(graph.get(), &c);
  ComPtr<IMediaControl> control;
  ASSERT_EQ(S_OK, graph.as(IID_IMediaControl, &control));

  ASSERT_EQ(S_OK, control->Run());
  EXPECT_EQ((std::vector<std::string>{"renderer:Pause", "decoder:Pause", "source:Pause", "renderer:Run", "decoder:Run",
                                      "source:Run"}),
            c.log.lines);
  OAFilterState state = -1;
  EXPECT_EQ(S_OK, control->GetState(0, &state));
  EXPECT_EQ(State_Running, state);
  ASSERT_NE(nullptr, c.source->clock());
  EXPECT_EQ(c.source->clock(), c.renderer->clock());

  c.log.lines.clear();
  ASSERT_EQ(S_OK, control->Stop());
  EXPECT_EQ((std::vector<std::string>{"renderer:Stop", "decoder:Stop", "source:Stop"}), c.log.lines);
  EXPECT_EQ(S_OK, control->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);

  c.log.lines.clear();
  ASSERT_EQ(S_OK, control->Pause());
  EXPECT_EQ((std::vector<std::string>{"renderer:Pause", "decoder:Pause", "source:Pause"}), c.log.lines);
  ASSERT_EQ(S_OK, control->Stop());
}

TEST_F(RuntimeTest, AFailingRunStopsTheGraphAndReportsTheFailure) {
  Chain c;  // outlives the graph, which logs into it when it goes
  ComPtr<IGraphBuilder> graph = NewGraph();
  BuildChain(graph.get(), &c);
  const HRESULT inUse = static_cast<HRESULT>(0x800700AAu);  // busy device
  c.source->failRun = inUse;
  ComPtr<IMediaControl> control;
  ASSERT_EQ(S_OK, graph.as(IID_IMediaControl, &control));
  EXPECT_EQ(inUse, control->Run());
  EXPECT_EQ((std::vector<std::string>{"renderer:Pause", "decoder:Pause", "source:Pause", "renderer:Run", "decoder:Run",
                                      "source:Run failed", "renderer:Stop", "decoder:Stop", "source:Stop"}),
            c.log.lines);
  OAFilterState state = -1;
  EXPECT_EQ(S_OK, control->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
}

TEST_F(RuntimeTest, ReleasingARunningGraphStopsAndFreesEverything) {
  Chain c;
  {
    ComPtr<IGraphBuilder> graph = NewGraph();
    BuildChain(graph.get(), &c);
    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, graph.as(IID_IMediaControl, &control));
    ASSERT_EQ(S_OK, control->Run());
    c.log.lines.clear();
  }
  // Stopped first, then every filter leaves.
  ASSERT_EQ(6u, c.log.lines.size());
  EXPECT_EQ((std::vector<std::string>{"renderer:Stop", "decoder:Stop", "source:Stop"}),
            std::vector<std::string>(c.log.lines.begin(), c.log.lines.begin() + 3));
  EXPECT_EQ(3, std::count_if(c.log.lines.begin() + 3, c.log.lines.end(),
                             [](const std::string& l) { return l.ends_with(":Leave"); }));
  EXPECT_FALSE(c.renderer->pin(0)->IsConnected());
}

TEST_F(RuntimeTest, FilterEventsReachGetEvent) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  ComPtr<IMediaEventEx> events;
  ASSERT_EQ(S_OK, graph.as(IID_IMediaEventEx, &events));
  LONG code = -1;
  LONG_PTR p1 = -1, p2 = -1;
  EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0));
  EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 20));
  EXPECT_EQ(E_POINTER, events->GetEvent(nullptr, &p1, &p2, 0));
  OAEVENT handle = 0;
  EXPECT_EQ(S_OK, events->GetEventHandle(&handle));
  EXPECT_NE(0, handle);

  // A filter's streaming thread reports a lost device while the application waits.
  ComPtr<IMediaEventSink> sink;
  ASSERT_EQ(S_OK, graph.as(IID_IMediaEventSink, &sink));
  std::thread streaming([&] { sink->Notify(EC_DEVICE_LOST, 0x1234, 0); });
  ASSERT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, kGenerousMs));
  streaming.join();
  EXPECT_EQ(EC_DEVICE_LOST, code);
  EXPECT_EQ(0x1234, p1);
  EXPECT_EQ(0, p2);
  EXPECT_EQ(S_OK, events->FreeEventParams(code, p1, p2));

  // Events come out in order.
  sink->Notify(EC_ERRORABORT, static_cast<LONG_PTR>(E_FAIL), 0);
  sink->Notify(EC_COMPLETE, 0, 0);
  ASSERT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
  EXPECT_EQ(EC_ERRORABORT, code);
  EXPECT_EQ(static_cast<LONG_PTR>(E_FAIL), p1);
  ASSERT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
  EXPECT_EQ(EC_COMPLETE, code);
  EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0));
}

// ---- Capture graph builder ----

struct Camera {
  ComPtr<TestFilter> filter;  // pins: 0 capture, 1 preview, 2 input (tuner side), 3 interleaved capture
  ComPtr<TestFilter> renderer;
};

Camera MakeCamera(IGraphBuilder* graph, std::vector<IID> filterAnswers = {}) {
  PinSpec capture{PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, {MEDIATYPE_Video}, {IID_IAMStreamConfig}};
  PinSpec preview{PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, {MEDIATYPE_Video}, {IID_IAMStreamConfig}};
  PinSpec tuner{PINDIR_INPUT, GUID_NULL, {MEDIATYPE_Video}, {IID_IAMTVTuner}};
  PinSpec interleaved{PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, {MEDIATYPE_Interleaved}, {}};
  Camera c;
  c.filter = ComPtr<TestFilter>::Attach(
      new TestFilter("camera", {capture, preview, tuner, interleaved}, nullptr, std::move(filterAnswers)));
  c.renderer = ComPtr<TestFilter>::Attach(
      new TestFilter("renderer", {In(), In()}, nullptr, {kRendererOnly}));
  EXPECT_EQ(S_OK, graph->AddFilter(c.filter.get(), u"Video Capture"));
  EXPECT_EQ(S_OK, graph->AddFilter(c.renderer.get(), u"VD Render"));
  return c;
}

ComPtr<ICaptureGraphBuilder2> NewBuilder(IGraphBuilder* graph) {
  ComPtr<ICaptureGraphBuilder2> builder;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                   builder.putVoid()));
  EXPECT_EQ(S_OK, builder->SetFiltergraph(graph));
  return builder;
}

TEST_F(RuntimeTest, FindPinByDirectionCategoryTypeConnectionAndIndex) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  Camera cam = MakeCamera(graph.get());
  ComPtr<ICaptureGraphBuilder2> builder = NewBuilder(graph.get());
  ASSERT_EQ(S_OK, graph->ConnectDirect(cam.filter->pin(1), cam.renderer->pin(1), nullptr));  // preview taken

  struct Case {
    const char* name;
    PIN_DIRECTION dir;
    const GUID* category;
    const GUID* type;
    BOOL unconnected;
    int index;
    int expectedPin;  // -1: not found
  };
  const Case cases[] = {
      {"capture video", PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, TRUE, 0, 0},
      {"second capture video", PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, TRUE, 1, -1},
      {"capture interleaved", PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, TRUE, 0, 3},
      {"capture any type, index 1", PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 1, 3},
      {"preview, connected allowed", PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, FALSE, 0, 1},
      {"preview, unconnected only", PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, TRUE, 0, -1},
      {"any output, index 2", PINDIR_OUTPUT, nullptr, nullptr, FALSE, 2, 3},
      {"input", PINDIR_INPUT, nullptr, nullptr, FALSE, 0, 2},
      {"input of capture category", PINDIR_INPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0, -1},
      {"negative index", PINDIR_OUTPUT, nullptr, nullptr, FALSE, -1, -1},
  };
  for (const Case& c : cases) {
    ComPtr<IPin> pin;
    const HRESULT hr = builder->FindPin(static_cast<IBaseFilter*>(cam.filter.get()), c.dir, c.category, c.type,
                                        c.unconnected, c.index, pin.put());
    if (c.expectedPin < 0) {
      EXPECT_TRUE(FAILED(hr)) << c.name;
      EXPECT_FALSE(pin) << c.name;
    } else {
      EXPECT_EQ(S_OK, hr) << c.name;
      EXPECT_EQ(static_cast<IPin*>(cam.filter->pin(c.expectedPin)), pin.get()) << c.name;
    }
  }
  ComPtr<IPin> pin;
  EXPECT_EQ(E_POINTER, builder->FindPin(nullptr, PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, pin.put()));
  EXPECT_EQ(E_POINTER, builder->FindPin(static_cast<IBaseFilter*>(cam.filter.get()), PINDIR_OUTPUT, nullptr, nullptr,
                                        FALSE, 0, nullptr));
}

TEST_F(RuntimeTest, FindInterfaceSearchesPinsAndNeighbours) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  Camera cam = MakeCamera(graph.get());
  ComPtr<ICaptureGraphBuilder2> builder = NewBuilder(graph.get());
  IBaseFilter* camera = cam.filter.get();

  ComPtr<IUnknown> found;
  // The capture pin's stream configuration.
  ASSERT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera, IID_IAMStreamConfig,
                                         found.putVoid()));
  EXPECT_EQ(static_cast<void*>(static_cast<IPin*>(cam.filter->pin(0))), static_cast<void*>(found.get()));
  ASSERT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera, IID_IAMStreamConfig,
                                         found.putVoid()));
  EXPECT_EQ(static_cast<void*>(static_cast<IPin*>(cam.filter->pin(1))), static_cast<void*>(found.get()));
  // Upstream only: the input pin's tuner, never the filter's own.
  ASSERT_EQ(S_OK, builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, camera, IID_IAMTVTuner, found.putVoid()));
  EXPECT_EQ(static_cast<void*>(static_cast<IPin*>(cam.filter->pin(2))), static_cast<void*>(found.get()));
  ComPtr<ICaptureGraphBuilder2> otherBuilder;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICaptureGraphBuilder2, otherBuilder.putVoid()));
  ComPtr<TestFilter> filterTuner = Make("tuner", {Out(PIN_CATEGORY_CAPTURE)}, nullptr, {IID_IAMTVTuner});
  EXPECT_EQ(E_NOINTERFACE, otherBuilder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, filterTuner.get(), IID_IAMTVTuner,
                                                       found.putVoid()));
  EXPECT_FALSE(found);
  EXPECT_EQ(S_OK, otherBuilder->FindInterface(nullptr, nullptr, filterTuner.get(), IID_IAMTVTuner, found.putVoid()));
  // Downstream of the preview pin, through the connection, the renderer answers.
  ASSERT_EQ(S_OK, graph->ConnectDirect(cam.filter->pin(1), cam.renderer->pin(0), nullptr));
  ASSERT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera, kRendererOnly,
                                         found.putVoid()));
  EXPECT_EQ(static_cast<void*>(static_cast<IBaseFilter*>(cam.renderer.get())), static_cast<void*>(found.get()));
  EXPECT_EQ(E_NOINTERFACE, builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera, kRendererOnly,
                                                  found.putVoid()));
  EXPECT_EQ(E_POINTER, builder->FindInterface(nullptr, nullptr, nullptr, IID_IAMTVTuner, found.putVoid()));
  EXPECT_EQ(E_POINTER, builder->FindInterface(nullptr, nullptr, camera, IID_IAMTVTuner, nullptr));
}

TEST_F(RuntimeTest, RenderStreamConnectsDirectly) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  Camera cam = MakeCamera(graph.get());
  ComPtr<ICaptureGraphBuilder2> builder = NewBuilder(graph.get());
  IBaseFilter* camera = cam.filter.get();
  EXPECT_EQ(E_POINTER, builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, nullptr, nullptr,
                                             cam.renderer.get()));
  EXPECT_TRUE(FAILED(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved, camera, nullptr,
                                           cam.renderer.get())));
  ASSERT_EQ(S_OK, builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera, nullptr, cam.renderer.get()));
  EXPECT_TRUE(cam.filter->pin(1)->IsConnected());
  EXPECT_TRUE(cam.renderer->pin(0)->IsConnected());
  EXPECT_FALSE(cam.filter->pin(0)->IsConnected());
  // The next stream takes the renderer's next free input.
  ASSERT_EQ(S_OK, builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera, nullptr, cam.renderer.get()));
  EXPECT_TRUE(cam.renderer->pin(1)->IsConnected());
  // Nothing left to render.
  EXPECT_TRUE(FAILED(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera, nullptr, cam.renderer.get())));
  ComPtr<IGraphBuilder> back;
  ASSERT_EQ(S_OK, builder->GetFiltergraph(back.put()));
  EXPECT_EQ(graph.get(), back.get());
  EXPECT_EQ(E_UNEXPECTED, builder->SetFiltergraph(graph.get()));
}

// ---- Allocator ----

TEST_F(RuntimeTest, AllocatorHandsOutSamplesAndBlocksUntilOneIsFree) {
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                   allocator.putVoid()));
  ComPtr<IMediaSample> a;
  EXPECT_EQ(VFW_E_SIZENOTSET, allocator->Commit());
  ALLOCATOR_PROPERTIES request{2, 1000, 16, 0};
  ALLOCATOR_PROPERTIES actual{};
  ALLOCATOR_PROPERTIES badAlign{2, 1000, 3, 0};
  EXPECT_EQ(VFW_E_BADALIGN, allocator->SetProperties(&badAlign, &actual));
  ASSERT_EQ(S_OK, allocator->SetProperties(&request, &actual));
  EXPECT_EQ(2, actual.cBuffers);
  EXPECT_EQ(1008, actual.cbBuffer);  // whole alignment units
  EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator->GetBuffer(a.put(), nullptr, nullptr, 0));
  ASSERT_EQ(S_OK, allocator->Commit());
  EXPECT_EQ(VFW_E_ALREADY_COMMITTED, allocator->SetProperties(&request, &actual));

  ComPtr<IMediaSample> b;
  ASSERT_EQ(S_OK, allocator->GetBuffer(a.put(), nullptr, nullptr, 0));
  ASSERT_EQ(S_OK, allocator->GetBuffer(b.put(), nullptr, nullptr, 0));
  BYTE* pa = nullptr;
  BYTE* pb = nullptr;
  a->GetPointer(&pa);
  b->GetPointer(&pb);
  EXPECT_NE(pa, pb);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(pa) % 16);
  EXPECT_EQ(1008, a->GetSize());
  ComPtr<IMediaSample> c;
  EXPECT_EQ(VFW_E_TIMEOUT, allocator->GetBuffer(c.put(), nullptr, nullptr, AM_GBF_NOWAIT));

  // Sample properties.
  EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, a->SetActualDataLength(1009));
  EXPECT_EQ(S_OK, a->SetActualDataLength(614));
  EXPECT_EQ(614, a->GetActualDataLength());
  REFERENCE_TIME t0 = 0, t1 = 0;
  EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, a->GetTime(&t0, &t1));
  REFERENCE_TIME s = 100, e = 433433;
  a->SetTime(&s, &e);
  EXPECT_EQ(S_OK, a->GetTime(&t0, &t1));
  EXPECT_EQ(433433, t1);
  a->SetSyncPoint(TRUE);
  EXPECT_EQ(S_OK, a->IsSyncPoint());

  // A waiter gets the sample that comes back; it is fresh again.
  std::thread waiter([&] { EXPECT_EQ(S_OK, allocator->GetBuffer(c.put(), nullptr, nullptr, 0)); });
  a.reset();
  waiter.join();
  ASSERT_TRUE(c);
  EXPECT_EQ(0, c->GetActualDataLength());
  EXPECT_EQ(S_FALSE, c->IsSyncPoint());
  EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, c->GetTime(&t0, &t1));

  // Decommit releases a waiter; samples still out stay usable until they come back.
  ComPtr<IMediaSample> d;
  std::thread blocked([&] { EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator->GetBuffer(d.put(), nullptr, nullptr, 0)); });
  EXPECT_EQ(S_OK, allocator->Decommit());
  blocked.join();
  EXPECT_FALSE(d);
  BYTE* pc = nullptr;
  c->GetPointer(&pc);
  pc[1007] = 1;
  c.reset();
  b.reset();
  EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator->GetBuffer(d.put(), nullptr, nullptr, 0));
}

// ---- Clock ----

TEST_F(RuntimeTest, ClockSignalsAdvisedEvents) {
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                   clock.putVoid()));
  REFERENCE_TIME t0 = 0, t1 = 0;
  ASSERT_EQ(S_OK, clock->GetTime(&t0));
  platform::Event once = platform::Event::CreateLocal(false, false);
  platform::Event periodic = platform::Event::CreateLocal(false, false);
  const auto onceHandle = reinterpret_cast<HEVENT>(once.get());
  const auto periodicHandle = reinterpret_cast<HSEMAPHORE>(periodic.get());
  DWORD_PTR first = 0, second = 0;
  ASSERT_EQ(S_OK, clock->AdviseTime(t0, 20000, onceHandle, &first));
  ASSERT_EQ(S_OK, clock->AdvisePeriodic(t0, 10000, periodicHandle, &second));
  EXPECT_NE(first, second);
  EXPECT_EQ(platform::kWaitObject0, once.Wait(kGenerousMs));
  ASSERT_EQ(S_OK, clock->GetTime(&t1));
  EXPECT_GE(t1, t0 + 20000) << "not before its time";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(platform::kWaitObject0, periodic.Wait(kGenerousMs));
  EXPECT_EQ(S_FALSE, clock->Unadvise(first)) << "a one-shot advise is gone once signalled";
  EXPECT_EQ(S_OK, clock->Unadvise(second));
  DWORD_PTR cookie = 0;
  EXPECT_EQ(E_INVALIDARG, clock->AdvisePeriodic(t0, 0, periodicHandle, &cookie));
  EXPECT_EQ(E_POINTER, clock->AdviseTime(t0, 1, onceHandle, nullptr));
}

// ---- Running object table ----

TEST_F(RuntimeTest, RunningObjectTableKeepsRegisteredObjects) {
  ComPtr<IRunningObjectTable> rot;
  ASSERT_EQ(S_OK, GetRunningObjectTable(0, rot.put()));
  ComPtr<IMoniker> name;
  ASSERT_EQ(S_OK, CreateItemMoniker(u"!", u"FilterGraph 0badf00d pid 00001234", name.put()));
  media::UniqueTaskMem<OLECHAR> display;
  ASSERT_EQ(S_OK, name->GetDisplayName(nullptr, nullptr, display.put()));
  EXPECT_EQ(std::u16string(u"!FilterGraph 0badf00d pid 00001234"), std::u16string(display.get()));

  const long before = media::LiveRuntimeObjects();
  DWORD cookie = 0;
  {
    ComPtr<IGraphBuilder> graph = NewGraph();
    ASSERT_EQ(S_OK, rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph.get(), name.get(), &cookie));
    EXPECT_NE(0u, cookie);
  }
  EXPECT_EQ(before + 1, media::LiveRuntimeObjects()) << "the table keeps the graph alive";

  ComPtr<IMoniker> sameName;
  ASSERT_EQ(S_OK, CreateItemMoniker(u"!", u"FilterGraph 0badf00d pid 00001234", sameName.put()));
  EXPECT_EQ(S_OK, rot->IsRunning(sameName.get()));
  EXPECT_EQ(S_OK, name->IsEqual(sameName.get()));
  ComPtr<IUnknown> object;
  ASSERT_EQ(S_OK, rot->GetObject(sameName.get(), object.put()));
  ComPtr<IMediaControl> control;
  EXPECT_EQ(S_OK, object.as(IID_IMediaControl, &control));
  control.reset();
  object.reset();

  DWORD refused = 0;
  EXPECT_EQ(E_INVALIDARG, rot->Register(0x100, sameName.get(), name.get(), &refused));
  EXPECT_EQ(S_OK, rot->Revoke(cookie));
  EXPECT_EQ(before + 1, media::LiveRuntimeObjects()) << "the graph is gone; the second moniker is new";
  EXPECT_EQ(S_FALSE, rot->IsRunning(sameName.get()));
  EXPECT_EQ(MK_E_UNAVAILABLE, rot->GetObject(sameName.get(), object.put()));
  EXPECT_EQ(E_INVALIDARG, rot->Revoke(cookie));
}

}  // namespace
