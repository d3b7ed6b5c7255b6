// The stand-in filters in graphs built by the graph manager: camera -> "VD Render" for every
// subtype, SetFormat, sample times, stop, faults and device loss, the MJPEG decoder between
// them, pin categories, the Smart Tee of a preview, the tuner, and many build-run-stop cycles.
#include <gtest/gtest.h>

#include <cstring>

#include "media/jpeg/jpeg_codec.h"
#include "media/media_type.h"
#include "pixel/frame_format.h"
#include "pixel/pixel_kernels.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process_usage.h"
#include "tests/media/system_graph_cost.h"
#include "tests/test_names.h"
#include "tests/filters/filter_env.h"
#include "outside/filters/record.h"
#include "tests/filters/picture.h"

namespace {

using media::ComPtr;
using test::FilterTest;

constexpr int64_t kInterval = 200000;  // 50 frames a second keeps the tests short

// The delivered frame brought to YUY2 with the pixel kernels (or the JPEG decoder), to be
// compared with the pattern.
std::vector<uint8_t> ToYuy2(const char* subtype, const test::Frame& f) {
  const uint32_t w = static_cast<uint32_t>(f.header.biWidth), h = static_cast<uint32_t>(f.header.biHeight);
  const int32_t hs = static_cast<int32_t>(h);
  std::vector<uint8_t> out(w * 2 * h);
  const uint8_t* s = f.bytes.data();
  const std::string name(subtype);
  if (name == "YUY2" || name == "YUYV") {
    out.assign(s, s + out.size());
  } else if (name == "YVYU") {
    YVYUToYUY2(out.data(), w * 2, s, w * 2, w, hs);
  } else if (name == "UYVY") {
    UYVYToYUY2(out.data(), w * 2, s, w * 2, w, hs);
  } else if (name == "VYUY") {
    VYUYToYUY2(out.data(), w * 2, s, w * 2, w, hs);
  } else if (name == "I420" || name == "IYUV" || name == "YV12") {
    const uint8_t* first = s + w * h;
    const uint8_t* second = first + w * h / 4;
    const bool yv12 = name == "YV12";
    I420ToYUY2(out.data(), w * 2, s, yv12 ? second : first, yv12 ? first : second, w, w / 2, w, hs);
  } else if (name == "RGB24") {
    RGB24ToYUY2(out.data(), w * 2, s, DibStride(w, 24), w, -hs);  // bottom-up
  } else if (name == "RGB32") {
    RGB32ToYUY2(out.data(), w * 2, s, w * 4, w, -hs);
  } else if (name == "MJPG") {
    media::JpegDecoder decoder;
    if (!decoder.DecodeToYuy2(s, f.bytes.size(), out.data(), w * 2, w, h)) out.clear();
  }
  return out;
}

struct SubtypeCase {
  const char* name;
  uint32_t compression;
  uint16_t bitCount;
  uint32_t bytes;  // biSizeImage at 160 x 120
  double minPsnr;
};

class EverySubtype : public FilterTest, public ::testing::WithParamInterface<SubtypeCase> {};

TEST_P(EverySubtype, FramesArriveWithTheConnectedHeaderShowingThePattern) {
  const SubtypeCase c = GetParam();
  ComPtr<IBaseFilter> camera = Camera(std::string("caps=") + c.name + ":160x120@200000");
  ComPtr<IBaseFilter> render = Create(vd::kClsidVDRender);
  ASSERT_TRUE(camera && render);
  test::Graph graph;
  ASSERT_TRUE(graph.control);
  ASSERT_EQ(graph.Add(camera.get(), OLESTR("Video Capture")), S_OK);
  ASSERT_EQ(graph.Add(render.get(), OLESTR("VD Render")), S_OK);
  ASSERT_EQ(graph.Connect(camera.get(), render.get()), S_OK);
  test::FrameSink sink;
  ASSERT_EQ(sink.Attach(render.get()), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  EXPECT_TRUE(sink.WaitFor(3));
  graph.control->Stop();
  const std::vector<test::Frame> frames = sink.Frames();
  ASSERT_GE(frames.size(), 3u);
  for (const test::Frame& f : frames) {
    EXPECT_EQ(f.header.biSize, 40u);
    EXPECT_EQ(f.header.biWidth, 160);
    EXPECT_EQ(f.header.biHeight, 120);  // RGB bottom-up, positive
    EXPECT_EQ(f.header.biCompression, c.compression);
    EXPECT_EQ(f.header.biBitCount, c.bitCount);
    EXPECT_EQ(f.header.biSizeImage, c.bytes);
    if (c.compression == 0x47504A4D) {
      ASSERT_GT(f.bytes.size(), 2u);
      EXPECT_LE(f.bytes.size(), c.bytes);
      EXPECT_EQ(f.bytes[0], 0xFF);
      EXPECT_EQ(f.bytes[1], 0xD8);
    } else {
      EXPECT_EQ(f.bytes.size(), c.bytes);
    }
    ASSERT_TRUE(f.timed);
    const std::vector<uint8_t> yuy2 = ToYuy2(c.name, f);
    const std::vector<uint8_t> expected = test::PatternYuy2(160, 120, static_cast<uint64_t>(f.start / kInterval));
    ASSERT_EQ(yuy2.size(), expected.size());
    EXPECT_GE(test::Psnr(yuy2.data(), expected.data(), expected.size()), c.minPsnr)
        << c.name << " frame at " << f.start;
  }
  graph.TearDown();
}

// Expected headers written out; the planar and RGB layouts go back through their kernels,
// whose chroma rounding differs slightly from a direct conversion.
INSTANTIATE_TEST_SUITE_P(
    Subtypes, EverySubtype,
    ::testing::Values(SubtypeCase{"YUY2", 0x32595559, 16, 38400, 99}, SubtypeCase{"YVYU", 0x55595659, 16, 38400, 99},
                      SubtypeCase{"UYVY", 0x59565955, 16, 38400, 99}, SubtypeCase{"VYUY", 0x59555956, 16, 38400, 99},
                      SubtypeCase{"YUYV", 0x56595559, 16, 38400, 99}, SubtypeCase{"I420", 0x30323449, 12, 28800, 35},
                      SubtypeCase{"IYUV", 0x56555949, 12, 28800, 35}, SubtypeCase{"YV12", 0x32315659, 12, 28800, 35},
                      SubtypeCase{"RGB24", 0, 24, 57600, 45}, SubtypeCase{"RGB32", 0, 32, 76800, 45},
                      SubtypeCase{"MJPG", 0x47504A4D, 24, 38400, 35}),
    [](const ::testing::TestParamInfo<SubtypeCase>& info) { return std::string(info.param.name); });

TEST_F(FilterTest, SampleTimesFollowTheIntervalAStallSkipsFramesAndNoCallbackRunsAfterStop) {
  ComPtr<IBaseFilter> camera = Camera("caps=YUY2:64x48@200000");
  ComPtr<IBaseFilter> render = Create(vd::kClsidVDRender);
  ASSERT_TRUE(camera && render);
  test::Graph graph;
  ASSERT_EQ(graph.Add(camera.get(), OLESTR("Video Capture")), S_OK);
  ASSERT_EQ(graph.Add(render.get(), OLESTR("VD Render")), S_OK);
  ASSERT_EQ(graph.Connect(camera.get(), render.get()), S_OK);
  test::FrameSink sink;
  ASSERT_EQ(sink.Attach(render.get()), S_OK);
  sink.StallAfter(3, 10 * kInterval / 10000);  // ten intervals
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  ASSERT_TRUE(sink.WaitFor(6));
  ASSERT_TRUE(SUCCEEDED(graph.control->Stop()));
  sink.MarkStopped();
  const size_t atStop = sink.Count();
  const std::vector<test::Frame> frames = sink.Frames();
  // Each frame's time is its slot; the frames the stall overran are dropped, not sent late
  // back to back (a busy machine may drop others too).
  EXPECT_EQ(frames[0].start, 0);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].start % kInterval, 0);
    EXPECT_EQ(frames[i].stop - frames[i].start, kInterval);
    if (i > 0) {
      EXPECT_GT(frames[i].start, frames[i - 1].start);
    }
  }
  EXPECT_GE(frames[3].start - frames[2].start, 9 * kInterval);
  // A camera that went on delivering would reach the renderer within a few intervals.
  EXPECT_FALSE(sink.WaitForLate(15 * kInterval / 10000));
  EXPECT_EQ(sink.LateCalls(), 0u);
  EXPECT_EQ(sink.Count(), atStop);
  EXPECT_TRUE(camera_->Recorded("camera Run"));
  EXPECT_TRUE(camera_->Recorded("camera Stop"));
  graph.TearDown();
}

}  // namespace

namespace {

// Builds camera -> renderer and starts it; the fixture's graph stays for the test.
class CameraGraph : public FilterTest {
 protected:
  void SetUp() override {
    FilterTest::SetUp();
    graph = test::Graph();
  }
  void Build(const std::string& config) {
    camera = Camera(config);
    render = Create(vd::kClsidVDRender);
    ASSERT_TRUE(camera && render);
    ASSERT_EQ(graph.Add(camera.get(), OLESTR("Video Capture")), S_OK);
    ASSERT_EQ(graph.Add(render.get(), OLESTR("VD Render")), S_OK);
    ASSERT_EQ(sink.Attach(render.get()), S_OK);
  }
  void TearDown() override {
    graph.TearDown();
    sink.Detach();
    camera = nullptr;
    render = nullptr;
    graph = test::Graph(false);
    FilterTest::TearDown();
  }
  ComPtr<IAMStreamConfig> Config() {
    ComPtr<IAMStreamConfig> config;
    test::FindPin(camera.get(), PINDIR_OUTPUT).as(IID_IAMStreamConfig, &config);
    return config;
  }

  test::Graph graph{false};
  ComPtr<IBaseFilter> camera, render;
  test::FrameSink sink;
};

TEST_F(CameraGraph, StreamConfigOffersTheCapabilitiesAndSetFormatChangesTheFrames) {
  Build("caps=YUY2:160x120@200000, RGB24:320x240@400000/vih2, MJPG:640x480");
  ComPtr<IAMStreamConfig> config = Config();
  ASSERT_TRUE(config);
  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(size, 128);
  AM_MEDIA_TYPE* rgb = nullptr;
  BYTE caps[128];
  ASSERT_EQ(config->GetStreamCaps(1, &rgb, caps), S_OK);
  media::UniqueMediaType rgbOwner(rgb);
  VIDEO_STREAM_CONFIG_CAPS info;
  std::memcpy(&info, caps, sizeof(info));
  EXPECT_TRUE(info.guid == FORMAT_VideoInfo2);
  EXPECT_EQ(info.InputSize.cx, 320);
  EXPECT_EQ(info.InputSize.cy, 240);
  EXPECT_EQ(info.MinFrameInterval, 400000);
  EXPECT_TRUE(rgb->subtype == MEDIASUBTYPE_RGB24);
  EXPECT_EQ(config->GetStreamCaps(3, &rgb, caps), S_FALSE);

  // Chosen before the connection: the pin connects in it.
  ASSERT_EQ(config->SetFormat(rgbOwner.get()), S_OK);
  ASSERT_EQ(graph.Connect(camera.get(), render.get()), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  ASSERT_TRUE(sink.WaitFor(2));
  ASSERT_TRUE(SUCCEEDED(graph.control->Stop()));
  test::Frame last = sink.Frames().back();
  EXPECT_EQ(last.header.biWidth, 320);
  EXPECT_EQ(last.header.biBitCount, 24);
  EXPECT_EQ(last.stop - last.start, 400000);

  // Chosen while connected and stopped: the pin is connected again and the next frames follow.
  AM_MEDIA_TYPE* yuy2 = nullptr;
  ASSERT_EQ(config->GetStreamCaps(0, &yuy2, caps), S_OK);
  media::UniqueMediaType yuy2Owner(yuy2);
  ASSERT_EQ(config->SetFormat(yuy2Owner.get()), S_OK);
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(config->GetFormat(&current), S_OK);
  media::UniqueMediaType currentOwner(current);
  EXPECT_TRUE(current->subtype == MEDIASUBTYPE_YUY2);
  const size_t before = sink.Count();
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  ASSERT_TRUE(sink.WaitFor(before + 2));
  graph.control->Stop();
  last = sink.Frames().back();
  EXPECT_EQ(last.header.biWidth, 160);
  EXPECT_EQ(last.header.biCompression, 0x32595559u);
  EXPECT_TRUE(camera_->Recorded("camera SetFormat RGB24 320x240 400000"));
  EXPECT_TRUE(camera_->Recorded("camera SetFormat YUY2 160x120 200000"));

  // A size the camera does not offer is refused and changes nothing.
  reinterpret_cast<VIDEOINFOHEADER*>(yuy2->pbFormat)->bmiHeader.biWidth = 800;
  EXPECT_EQ(config->SetFormat(yuy2), VFW_E_INVALIDMEDIATYPE);
  AM_MEDIA_TYPE* still = nullptr;
  ASSERT_EQ(config->GetFormat(&still), S_OK);
  media::UniqueMediaType stillOwner(still);
  EXPECT_EQ(test::FindPin(camera.get(), PINDIR_OUTPUT) ? 160 : 0,
            reinterpret_cast<VIDEOINFOHEADER*>(still->pbFormat)->bmiHeader.biWidth);
}

TEST_F(CameraGraph, AFormatOfAnotherTypeIsOfferedButNeverConnects) {
  Build("caps=YUY2:160x120/other");
  ComPtr<IAMStreamConfig> config = Config();
  AM_MEDIA_TYPE* type = nullptr;
  BYTE caps[128];
  ASSERT_EQ(config->GetStreamCaps(0, &type, caps), S_OK);
  media::UniqueMediaType owner(type);
  EXPECT_TRUE(type->formattype != FORMAT_VideoInfo && type->formattype != FORMAT_VideoInfo2);
  EXPECT_FALSE(SUCCEEDED(graph.Connect(camera.get(), render.get())));
}

struct FaultCase {
  const char* config;
  HRESULT load;       // Load's result
  bool runs;          // IMediaControl::Run succeeds
};

class CameraFaults : public CameraGraph, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CameraFaults, BindAndRunFailuresAreReported) {
  const FaultCase c = GetParam();
  HRESULT load = E_UNEXPECTED;
  camera = Camera(c.config, &load);
  EXPECT_EQ(load, c.load);
  if (FAILED(c.load)) return;
  render = Create(vd::kClsidVDRender);
  ASSERT_EQ(graph.Add(camera.get(), OLESTR("Video Capture")), S_OK);
  ASSERT_EQ(graph.Add(render.get(), OLESTR("VD Render")), S_OK);
  ASSERT_EQ(sink.Attach(render.get()), S_OK);
  ASSERT_EQ(graph.Connect(camera.get(), render.get()), S_OK);
  const HRESULT run = graph.control->Run();
  EXPECT_EQ(SUCCEEDED(run), c.runs) << std::hex << run;
  if (c.runs) {
    EXPECT_TRUE(sink.WaitFor(1));
  }
  graph.control->Stop();
  if (!c.runs) {
    EXPECT_EQ(sink.Count(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, CameraFaults,
                         ::testing::Values(FaultCase{"fail=bind", static_cast<HRESULT>(0x8007048F), false},
                                           FaultCase{"fail=run", S_OK, false},
                                           FaultCase{"caps=YUY2:64x48@200000;fail=none", S_OK, true},
                                           FaultCase{"caps=NV12:64x48", E_INVALIDARG, false},
                                           FaultCase{"pins=sideways", E_INVALIDARG, false}));

// What a graph manager that does not stop its filters again after a failed Pause leaves
// behind (Wine's quartz): the renderer it paused first still paused, the busy camera
// stopped. Removing the renderer disconnects the camera's pin, then the renderer's, which
// lets go although paused: otherwise the renderer could never leave the graph, and Wine's
// graph retries the removal for ever when it is released.
TEST_F(CameraGraph, ARendererLeftPausedByAFailedPauseUpstreamStillDisconnects) {
  Build("caps=YUY2:64x48@200000;fail=run");
  ASSERT_EQ(graph.Connect(camera.get(), render.get()), S_OK);
  const ComPtr<IPin> out = test::FindPin(camera.get(), PINDIR_OUTPUT);
  const ComPtr<IPin> in = test::FindPin(render.get(), PINDIR_INPUT);
  ASSERT_TRUE(out && in);
  ASSERT_EQ(render->Pause(), S_OK);
  EXPECT_EQ(camera->Pause(), filters::kDeviceBusy);
  FILTER_STATE state = State_Running;
  EXPECT_EQ(camera->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  // While its upstream pin still holds it, the paused renderer's pin stays.
  EXPECT_EQ(in->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(in->Disconnect(), S_OK);
  ComPtr<IPin> peer;
  EXPECT_EQ(in->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(render->Stop(), S_OK);
  EXPECT_EQ(sink.Count(), 0u);
}

// A live source says that it cannot cue through GetState; its Pause answers S_OK, since a
// graph manager may hand Pause's result on from Stop (Wine's quartz pauses a running graph's
// filters on the way to stopped and returns what they said).
TEST_F(CameraGraph, ALiveCameraPausesWithSOkAndTellsItCannotCueThroughGetState) {
  Build("caps=YUY2:64x48@200000");
  ASSERT_EQ(graph.Connect(camera.get(), render.get()), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  EXPECT_TRUE(sink.WaitFor(1));
  EXPECT_EQ(camera->Pause(), S_OK);
  FILTER_STATE state = State_Stopped;
  EXPECT_EQ(camera->GetState(0, &state), VFW_S_CANT_CUE);
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(graph.control->Stop(), S_OK);
}

TEST_F(CameraGraph, ALostDeviceIsReportedThroughTheGraphsEvents) {
  Build("caps=YUY2:64x48@200000;lost=5");
  ASSERT_EQ(graph.Connect(camera.get(), render.get()), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  long code = 0;
  LONG_PTR param = 0;
  for (int i = 0; i < 100 && code != EC_DEVICE_LOST; ++i) code = graph.NextEvent(test::kFrameWaitMs / 100, &param);
  EXPECT_EQ(code, EC_DEVICE_LOST);
  graph.control->Stop();
  EXPECT_EQ(sink.Count(), 5u);
  EXPECT_TRUE(camera_->Recorded("camera device lost"));
}

TEST_F(CameraGraph, PinsReportTheirCategoriesAndThePreviewPinRenders) {
  Build("pins=both;caps=YUY2:64x48@200000");
  const GUID expected[2] = {PIN_CATEGORY_CAPTURE, PIN_CATEGORY_PREVIEW};
  for (int i = 0; i < 2; ++i) {
    ComPtr<IPin> pin = test::FindPin(camera.get(), PINDIR_OUTPUT, i);
    ASSERT_TRUE(pin);
    ComPtr<IKsPropertySet> properties;
    ASSERT_EQ(pin.as(IID_IKsPropertySet, &properties), S_OK);
    GUID category{};
    DWORD returned = 0;
    ASSERT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category),
                              &returned),
              S_OK);
    EXPECT_EQ(returned, sizeof(GUID));
    EXPECT_TRUE(category == expected[i]) << i;
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(SUCCEEDED(pin.as(IID_IAMStreamConfig, &config)), i == 0);
  }
  EXPECT_FALSE(test::FindPin(camera.get(), PINDIR_INPUT));

  // The capture graph builder finds each pin by its category and renders the preview one.
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                             builder.putVoid()),
            S_OK);
  ASSERT_EQ(builder->SetFiltergraph(graph.builder.get()), S_OK);
  for (int i = 0; i < 2; ++i) {
    ComPtr<IPin> found;
    ASSERT_EQ(builder->FindPin(camera.get(), PINDIR_OUTPUT, &expected[i], &MEDIATYPE_Video, TRUE, 0, found.put()),
              S_OK);
    EXPECT_TRUE(found.get() == test::FindPin(camera.get(), PINDIR_OUTPUT, i).get()) << i;
  }
  ASSERT_TRUE(SUCCEEDED(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera.get(), nullptr,
                                              render.get())));
  ComPtr<IPin> peer;
  ASSERT_EQ(test::FindPin(camera.get(), PINDIR_OUTPUT, 1)->ConnectedTo(peer.put()), S_OK);
  EXPECT_TRUE(peer.get() == test::FindPin(render.get(), PINDIR_INPUT).get());
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  EXPECT_TRUE(sink.WaitFor(1));
  graph.control->Stop();
}

// A preview of a camera with a capture pin only goes through a Smart Tee the builder adds
// behind that pin; its preview pin hands the renderer the camera's frames as they are, without
// sample times.
TEST_F(CameraGraph, APreviewOfACaptureOnlyCameraGoesThroughASmartTee) {
  Build("caps=UYVY:64x48@200000");
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                             builder.putVoid()),
            S_OK);
  ASSERT_EQ(builder->SetFiltergraph(graph.builder.get()), S_OK);
  EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera.get(), nullptr, render.get()),
            VFW_S_NOPREVIEWPIN);
  ComPtr<IPin> teeInput, teePreview;
  ASSERT_EQ(test::FindPin(camera.get(), PINDIR_OUTPUT)->ConnectedTo(teeInput.put()), S_OK);
  ASSERT_EQ(test::FindPin(render.get(), PINDIR_INPUT)->ConnectedTo(teePreview.put()), S_OK);
  PIN_INFO info{};
  ASSERT_EQ(teeInput->QueryPinInfo(&info), S_OK);
  ComPtr<IBaseFilter> tee = ComPtr<IBaseFilter>::Attach(info.pFilter);
  CLSID clsid{};
  ASSERT_EQ(tee->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(clsid == CLSID_SmartTee);
  EXPECT_TRUE(teePreview.get() == test::FindPin(tee.get(), PINDIR_OUTPUT, 1).get());
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  ASSERT_TRUE(sink.WaitFor(2));
  graph.control->Stop();
  const test::Frame frame = sink.Frames().back();
  EXPECT_EQ(frame.header.biCompression, 0x59565955u);  // 'UYVY'
  EXPECT_EQ(frame.header.biWidth, 64);
  EXPECT_EQ(frame.bytes.size(), 64u * 2 * 48);
  EXPECT_FALSE(frame.timed);
}

TEST_F(CameraGraph, ATunerAnswersUpstreamOfTheCameraAndIKsObjectFollowsTheConfiguration) {
  struct Case {
    const char* config;
    bool tuner, ks;
  };
  for (const Case c : {Case{"tuner=1", true, true}, Case{"ksobject=0", false, false}, Case{"", false, true}}) {
    test::Graph scratch;
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                               builder.putVoid()),
              S_OK);
    ASSERT_EQ(builder->SetFiltergraph(scratch.builder.get()), S_OK);
    ComPtr<IBaseFilter> cam = Camera(c.config);
    ASSERT_TRUE(cam);
    ASSERT_EQ(scratch.Add(cam.get(), OLESTR("Test Filter")), S_OK);
    ComPtr<IAMTVTuner> tuner;
    const HRESULT found = builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, cam.get(), IID_IAMTVTuner, tuner.putVoid());
    EXPECT_EQ(SUCCEEDED(found) && tuner, c.tuner) << c.config;
    if (tuner) {
      LONG min = 0, max = 0;
      EXPECT_EQ(tuner->ChannelMinMax(&min, &max), S_OK);
      EXPECT_LT(min, max);
      EXPECT_EQ(tuner->put_Channel(max + 1, 0, 0), E_INVALIDARG);
    }
    ComPtr<IAMStreamConfig> config;
    EXPECT_TRUE(SUCCEEDED(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, cam.get(),
                                                 IID_IAMStreamConfig, config.putVoid())));
    ComPtr<IKsObject> ks;
    EXPECT_EQ(SUCCEEDED(cam.as(IID_IKsObject, &ks)), c.ks) << c.config;
    if (ks) {
      EXPECT_NE(ks->KsGetObjectHandle(), nullptr);
    }
    tuner = nullptr;
    config = nullptr;
    scratch.TearDown();
  }
}

TEST_F(FilterTest, MjpgThroughTheDecoderMatchesTheUncompressedPattern) {
  ComPtr<IBaseFilter> camera = Camera("caps=MJPG:320x240@200000");
  ComPtr<IBaseFilter> decoder = Create(vd::kClsidMjpegDecoder);
  ComPtr<IBaseFilter> render = Create(vd::kClsidVDRender);
  ASSERT_TRUE(camera && decoder && render);
  test::Graph graph;
  ASSERT_EQ(graph.Add(camera.get(), OLESTR("Video Capture")), S_OK);
  ASSERT_EQ(graph.Add(decoder.get(), OLESTR("Quillon MJPEG Decoder")), S_OK);
  ASSERT_EQ(graph.Add(render.get(), OLESTR("VD Render")), S_OK);
  ComPtr<IMjpegDecoderControl> control;
  ASSERT_EQ(decoder.as(vd::kIidMjpegDecoderControl, &control), S_OK);
  EXPECT_EQ(control->SetOption(4), S_OK);
  ASSERT_EQ(graph.Connect(camera.get(), decoder.get()), S_OK);
  ASSERT_EQ(graph.Connect(decoder.get(), render.get()), S_OK);
  test::FrameSink sink;
  ASSERT_EQ(sink.Attach(render.get()), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  ASSERT_TRUE(sink.WaitFor(4));
  graph.control->Stop();
  for (const test::Frame& f : sink.Frames()) {
    EXPECT_EQ(f.header.biCompression, 0x32595559u);
    EXPECT_EQ(f.header.biWidth, 320);
    EXPECT_EQ(f.header.biHeight, 240);
    ASSERT_EQ(f.bytes.size(), 320u * 240 * 2);
    const std::vector<uint8_t> expected = test::PatternYuy2(320, 240, static_cast<uint64_t>(f.start / kInterval));
    EXPECT_GE(test::Psnr(f.bytes.data(), expected.data(), expected.size()), 30.0) << f.start;
  }
  EXPECT_TRUE(decoder_->Recorded("decoder Control 4"));
  control = nullptr;
  graph.TearDown();
}

struct DecoderSetting {
  uint32_t classes, controls, outputPin;
  bool first, second;            // each class can be created
  bool control1, control2;       // each control identifier answers
  int pins;
};

class DecoderSettings : public FilterTest, public ::testing::WithParamInterface<DecoderSetting> {};

TEST_P(DecoderSettings, RegistryValuesShapeTheDecoder) {
  const DecoderSetting c = GetParam();
  SetFilterSetting("DecoderClasses", c.classes);
  SetFilterSetting("DecoderControl", c.controls);
  SetFilterSetting("DecoderOutputPin", c.outputPin);
  HRESULT first = S_OK, second = S_OK;
  ComPtr<IBaseFilter> a = Create(vd::kClsidMjpegDecoder, &first);
  ComPtr<IBaseFilter> b = Create(vd::kClsidMjpegDecoder2, &second);
  EXPECT_EQ(SUCCEEDED(first), c.first);
  EXPECT_EQ(SUCCEEDED(second), c.second);
  ComPtr<IBaseFilter> decoder = a ? a : b;
  ASSERT_TRUE(decoder);
  ComPtr<IMjpegDecoderControl> control;
  EXPECT_EQ(SUCCEEDED(decoder.as(vd::kIidMjpegDecoderControl, &control)), c.control1);
  EXPECT_EQ(SUCCEEDED(decoder.as(vd::kIidMjpegDecoderControl2, &control)), c.control2);
  EXPECT_EQ(static_cast<bool>(test::FindPin(decoder.get(), PINDIR_OUTPUT)), c.pins == 2);
  EXPECT_TRUE(test::FindPin(decoder.get(), PINDIR_INPUT));
}

INSTANTIATE_TEST_SUITE_P(Settings, DecoderSettings,
                         ::testing::Values(DecoderSetting{3, 3, 1, true, true, true, true, 2},
                                           DecoderSetting{2, 2, 1, false, true, false, true, 2},
                                           DecoderSetting{1, 1, 0, true, false, true, false, 1}));

TEST_F(CameraGraph, ARendererWithoutTheCallbackInterfaceStillRuns) {
  SetFilterSetting("RenderCallback", 0);
  camera = Camera("caps=YUY2:64x48@200000");
  render = Create(vd::kClsidVDRender);
  ASSERT_TRUE(camera && render);
  ComPtr<IVDRenderCallback> callback;
  EXPECT_EQ(render.as(vd::kIidVDRenderCallback, &callback), E_NOINTERFACE);
  ASSERT_EQ(graph.Add(camera.get(), OLESTR("Video Capture")), S_OK);
  ASSERT_EQ(graph.Add(render.get(), OLESTR("VD Render")), S_OK);
  ASSERT_EQ(graph.Connect(camera.get(), render.get()), S_OK);
  EXPECT_TRUE(SUCCEEDED(graph.control->Run()));
  EXPECT_EQ(graph.control->Stop(), S_OK);
}

TEST_F(FilterTest, CallsAreAppendedToTheFileNamedInTheEnvironment) {
  const std::string path = platform::JoinPath(platform::TemporaryDirectory(),
                                              test_names::UniqueName("kestrel_record_", "txt"));
  ASSERT_TRUE(platform::SetEnvironmentValue(filters::kRecordFileVariable, path.c_str()));
  ComPtr<IBaseFilter> camera = Camera("name=cam9");
  platform::SetEnvironmentValue(filters::kRecordFileVariable, nullptr);
  ComPtr<IBaseFilter> later = Camera("name=cam10");  // no longer written
  std::string text(4096, '\0');
  platform::File file;
  ASSERT_TRUE(file.Open(path.c_str(), platform::FileOpen::ReadOpenAlways, platform::FileShare::Read));
  text.resize(static_cast<size_t>(std::max(0L, file.Read(text.data(), text.size()))));
  file.Close();
  platform::DeleteFileAt(path.c_str());
  EXPECT_NE(text.find("cam9 Load"), std::string::npos) << text;
  EXPECT_EQ(text.find("cam10"), std::string::npos) << text;
  EXPECT_TRUE(camera_->Recorded("cam10 Load"));
}

// Memory and handles stay flat over many full cycles; the first cycles warm caches up.
TEST_F(FilterTest, ManyBuildRunStopTeardownCyclesKeepMemoryAndHandlesFlat) {
  constexpr int kWarmUp = 20, kCycles = 200;
  uint64_t heapStart = 0;
  uint32_t handlesStart = 0;
  for (int cycle = 0; cycle < kWarmUp + kCycles; ++cycle) {
    if (cycle == kWarmUp) {
      heapStart = platform::HeapBytesInUse();
      handlesStart = platform::ProcessHandleCount();
    }
    test::Graph graph;
    ComPtr<IBaseFilter> camera = Camera(cycle % 2 ? "caps=MJPG:160x120@100000" : "caps=YUY2:160x120@100000");
    ComPtr<IBaseFilter> render = Create(vd::kClsidVDRender);
    ComPtr<IBaseFilter> decoder = cycle % 2 ? Create(vd::kClsidMjpegDecoder) : ComPtr<IBaseFilter>();
    ASSERT_TRUE(camera && render);
    graph.Add(camera.get(), OLESTR("Video Capture"));
    graph.Add(render.get(), OLESTR("VD Render"));
    test::FrameSink sink;
    ASSERT_EQ(sink.Attach(render.get()), S_OK);
    if (decoder) {
      graph.Add(decoder.get(), OLESTR("Quillon MJPEG Decoder"));
      ASSERT_EQ(graph.Connect(camera.get(), decoder.get()), S_OK);
      ASSERT_EQ(graph.Connect(decoder.get(), render.get()), S_OK);
    } else {
      ASSERT_EQ(graph.Connect(camera.get(), render.get()), S_OK);
    }
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(sink.WaitFor(2));
    graph.TearDown();
  }
  const uint64_t heapEnd = platform::HeapBytesInUse();
  const uint32_t handlesEnd = platform::ProcessHandleCount();
  const test::SystemGraphCost system = test::MeasureSystemGraphCost(kCycles);
  // Allowed: a few allocator-internal blocks and lazily opened handles, not per-cycle growth,
  // and what the system's own graphs keep.
  EXPECT_LT(heapEnd, heapStart + 256 * 1024 + system.heapBytes) << heapStart << " -> " << heapEnd;
  EXPECT_LE(handlesEnd, handlesStart + 4 + system.handles)
      << handlesStart << " -> " << handlesEnd << ", system graphs " << system.handles;
}

}  // namespace
