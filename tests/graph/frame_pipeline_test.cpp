// The frame pipeline for every frame code, the output format, the plug-in's per-frame call
// and the 3D note, driven sample by sample into the virtual-camera stand-in. Samples sit
// in buffers of exactly their length, so a read past one is caught under AddressSanitizer.
#include "graph/frame_pipeline.h"

#include <gtest/gtest.h>

#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "graph/scaler.h"
#include "graph/vcam_binding.h"
#include "pixel/pixel_kernels.h"
#include "tests/graph/standins.h"
#include "tests/graph/test_env.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::mutex g_debugLock;
std::u16string g_debugText;

void CaptureDebugOutput(std::u16string_view text) {
  std::lock_guard g(g_debugLock);
  g_debugText += text;
}

std::u16string TakeDebugOutput() {
  std::lock_guard g(g_debugLock);
  return std::exchange(g_debugText, {});
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

BitmapInfoHeader Header(uint32_t code, int32_t width, int32_t height, uint16_t bits) {
  BitmapInfoHeader h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bits;
  h.biCompression = code;
  return h;
}

class PipelineTest : public test::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    ASSERT_TRUE(camera_.Load());
    TakeDebugOutput();
  }
  void TearDown() override {
    binding_.Unload();
    pipeline_.ReleaseBuffers();
    StandInTest::TearDown();
  }

  void LoadPlugin() { ASSERT_EQ(binding_.Load(test::kTestPluginFile), PluginBinding::LoadResult::Ready); }
  void Output(uint32_t width, uint32_t height) {
    ASSERT_EQ(pipeline_.PrepareOutputFormat(width, height), kSOk);
    resolution_.store(PackResolution(width, height));
  }
  HResult Process(const BitmapInfoHeader& h, const Bytes& data) {
    return pipeline_.ProcessSample(&h, data.data(), static_cast<uint32_t>(data.size()));
  }
  // The last frame the camera received, and the byte count it was given.
  Bytes LastFrame(uint32_t* size = nullptr, BitmapInfoHeader* header = nullptr) {
    BitmapInfoHeader h{};
    const uint32_t n = vcam_.GetLastFrame(&h, nullptr, 0);
    Bytes b(n);
    vcam_.GetLastFrame(&h, b.data(), n);
    if (size) *size = n;
    if (header) *header = h;
    return b;
  }

  FramePipeline::Links Links() {
    return {.resolution = &resolution_, .support3D = &support3D_, .settings3D = settings3D_,
            .debugOutput = &debugOutput_, .plugin = &binding_, .sink = &VirtualCameraLibrary::TakeFrame,
            .sinkContext = &camera_};
  }

  std::atomic<uint32_t> resolution_{0};
  uint32_t support3D_ = 0;
  std::atomic<uint32_t> settings3D_[3] = {0, 0, 0};
  void (*debugOutput_)(std::u16string_view) = &CaptureDebugOutput;
  PluginBinding binding_;
  VirtualCameraLibrary camera_;
  FramePipeline pipeline_{Links()};
};

TEST_F(PipelineTest, Yuy2OfTheOutputSizeArrivesByteForByteWithItsOwnLength) {
  Output(64, 48);
  const Bytes frame = RandomBytes(64 * 2 * 48, 1);
  ASSERT_EQ(Process(Header(kFourccYUY2, 64, 48, 16), frame), kSOk);
  uint32_t size = 0;
  BitmapInfoHeader h{};
  EXPECT_EQ(LastFrame(&size, &h), frame);
  EXPECT_EQ(size, frame.size());
  EXPECT_EQ(h.biCompression, kFourccYUY2);
  EXPECT_EQ(h.biSizeImage, 6144u);
  EXPECT_EQ(pipeline_.conversionBuffer, nullptr);  // no conversion buffer for YUY2
}

TEST_F(PipelineTest, YvyuIsHandedOnUnchangedUnderTheYuy2Header) {
  Output(64, 48);
  const Bytes frame = RandomBytes(64 * 2 * 48, 2);
  ASSERT_EQ(Process(Header(kFourccYVYU, 64, 48, 16), frame), kSOk);
  BitmapInfoHeader h{};
  EXPECT_EQ(LastFrame(nullptr, &h), frame);
  EXPECT_EQ(h.biCompression, kFourccYUY2);
}

TEST_F(PipelineTest, LongerSampleIsCutToTheOutputFrame) {
  Output(64, 48);
  const Bytes frame = RandomBytes(64 * 2 * 48 + 100, 3);
  ASSERT_EQ(Process(Header(kFourccYUY2, 64, 48, 16), frame), kSOk);
  uint32_t size = 0;
  const Bytes got = LastFrame(&size);
  EXPECT_EQ(size, 6144u);
  EXPECT_EQ(got, Bytes(frame.begin(), frame.begin() + 6144));
}

TEST_F(PipelineTest, Scales640x480To320x240AndHandsOn153600) {
  Output(320, 240);
  const Bytes frame = RandomBytes(640 * 2 * 480, 4);
  ASSERT_EQ(Process(Header(kFourccYUY2, 640, 480, 16), frame), kSOk);
  Bytes expected(153600);
  ScaleYuy2(frame.data(), 640, 480, 1280, expected.data(), 320, 240, 640);
  uint32_t size = 0;
  EXPECT_EQ(LastFrame(&size), expected);
  EXPECT_EQ(size, 153600u);
}

TEST_F(PipelineTest, PackedReordersBecomeYuy2) {
  Output(16, 4);
  const Bytes yuy2 = RandomBytes(16 * 2 * 4, 5);
  struct Case {
    uint32_t code;
    int order[4];  // where each YUY2 byte (Y0 U Y1 V) sits in the source macropixel
  } cases[] = {{kFourccUYVY, {1, 0, 3, 2}}, {kFourccVYUY, {1, 2, 3, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Bytes src(yuy2.size());
    for (size_t m = 0; m < yuy2.size(); m += 4) {
      for (int k = 0; k < 4; ++k) src[m + c.order[k]] = yuy2[m + k];
    }
    ASSERT_EQ(Process(Header(c.code, 16, 4, 16), src), kSOk);
    EXPECT_EQ(LastFrame(), yuy2);
  }
}

TEST_F(PipelineTest, BottomUpRgbArrivesUpright) {
  Output(2, 2);
  for (uint16_t bits : {24, 32}) {
    SCOPED_TRACE(bits);
    const uint32_t stride = DibStride(2, bits);
    Bytes rgb(stride * 2, 0);  // first stored row black: the bottom of the picture
    for (uint32_t x = 0; x < 2 * (bits / 8u); ++x) rgb[stride + x] = 255;  // top row white
    ASSERT_EQ(Process(Header(kBiRgb, 2, 2, bits), rgb), kSOk);
    EXPECT_EQ(LastFrame(), (Bytes{235, 128, 235, 128, 16, 128, 16, 128}));

    // A top-down DIB (negative height) is read as stored.
    ASSERT_EQ(Process(Header(kBiRgb, 2, -2, bits), rgb), kSOk);
    EXPECT_EQ(LastFrame(), (Bytes{16, 128, 16, 128, 235, 128, 235, 128}));
  }
}

TEST_F(PipelineTest, I420AndYv12OfOnePictureGiveOneResult) {
  Output(2, 2);
  const Bytes i420 = {10, 20, 30, 40, 100, 200};
  const Bytes yv12 = {10, 20, 30, 40, 200, 100};
  const Bytes expected = {10, 100, 20, 200, 30, 100, 40, 200};
  ASSERT_EQ(Process(Header(kFourccI420, 2, 2, 12), i420), kSOk);
  EXPECT_EQ(LastFrame(), expected);
  ASSERT_EQ(Process(Header(kFourccIYUV, 2, 2, 12), i420), kSOk);
  EXPECT_EQ(LastFrame(), expected);
  ASSERT_EQ(Process(Header(kFourccYV12, 2, 2, 12), yv12), kSOk);
  EXPECT_EQ(LastFrame(), expected);

  // A larger random picture: both plane orders agree.
  Output(32, 16);
  const Bytes y = RandomBytes(32 * 16, 6), u = RandomBytes(128, 7), v = RandomBytes(128, 8);
  Bytes a = y, b = y;
  a.insert(a.end(), u.begin(), u.end());
  a.insert(a.end(), v.begin(), v.end());
  b.insert(b.end(), v.begin(), v.end());
  b.insert(b.end(), u.begin(), u.end());
  ASSERT_EQ(Process(Header(kFourccI420, 32, 16, 12), a), kSOk);
  const Bytes first = LastFrame();
  ASSERT_EQ(Process(Header(kFourccYV12, 32, 16, 12), b), kSOk);
  EXPECT_EQ(LastFrame(), first);
}

TEST_F(PipelineTest, MjpgYuyvAndRgb16AreDroppedAndOnlyMjpgIsLogged) {
  test::SetDword("SOFTWARE\\Quillon\\OruVCapture\\", "Log", 1);
  Output(16, 4);
  const Bytes data = RandomBytes(16 * 4 * 4, 9);
  EXPECT_EQ(Process(Header(kFourccYUYV, 16, 4, 16), data), kEFail);
  EXPECT_EQ(Process(Header(kBiRgb, 16, 4, 16), data), kEFail);
  EXPECT_EQ(Process(Header(0x31313131, 16, 4, 16), data), kEFail);
  EXPECT_FALSE(test::ReadBytes(test::NativeFile("c:\\QuillonVCapture.log")));
  EXPECT_EQ(Process(Header(kFourccMJPG, 16, 4, 24), data), kEFail);
  const auto log = test::ReadBytes(test::NativeFile("c:\\QuillonVCapture.log"));
  ASSERT_TRUE(log);
  EXPECT_NE(log->find("\tKESTREL - Received MJPEG data, failed!"), std::string::npos);
  EXPECT_EQ(vcam_.FrameCount(), 0u);
  EXPECT_EQ(pipeline_.conversionBuffer, nullptr);
}

TEST_F(PipelineTest, NothingIsDeliveredWhileTheResolutionIsZero) {
  LoadPlugin();
  ASSERT_EQ(pipeline_.PrepareOutputFormat(16, 4), kSOk);
  resolution_.store(0);
  const Bytes frame = RandomBytes(16 * 2 * 4, 10);
  EXPECT_EQ(Process(Header(kFourccYUY2, 16, 4, 16), frame), kSOk);
  EXPECT_EQ(Process(Header(kFourccUYVY, 16, 4, 16), frame), kSOk);
  EXPECT_EQ(vcam_.FrameCount(), 0u);
  EXPECT_EQ(plugin_.Frames(), 0u);
}

TEST_F(PipelineTest, NothingIsDeliveredWithoutAnOutputBufferOrWithAStaleOne) {
  resolution_.store(PackResolution(16, 4));
  const Bytes frame = RandomBytes(16 * 2 * 4, 11);
  EXPECT_EQ(Process(Header(kFourccYUY2, 16, 4, 16), frame), kSOk);
  // An output buffer sized for another resolution is never written.
  ASSERT_EQ(pipeline_.PrepareOutputFormat(8, 2), kSOk);
  EXPECT_EQ(Process(Header(kFourccYUY2, 16, 4, 16), frame), kSOk);
  EXPECT_EQ(vcam_.FrameCount(), 0u);
}

TEST_F(PipelineTest, PlugInSeesTheOutputFrameAndItsRewriteReachesTheCamera) {
  LoadPlugin();
  Output(16, 4);
  const Bytes frame = RandomBytes(16 * 2 * 4, 12);
  ASSERT_EQ(Process(Header(kFourccYUY2, 16, 4, 16), frame), kSOk);
  EXPECT_EQ(plugin_.Frames(), 1u);
  EXPECT_EQ(plugin_.LastSizeImage(), 128u);
  Bytes expected = frame;
  expected[0] = 0xEE;
  EXPECT_EQ(LastFrame(), expected);
}

TEST_F(PipelineTest, PlugInThatThrowsOnEveryFrameDoesNotStopDelivery) {
  // GTEST_SKIP crashes the win32 build under Wine, so the test just ends there.
  if (!platform::kExceptionsCrossModules) {
    SUCCEED() << "a C++ exception cannot leave a library of this build";
    return;
  }
  plugin_.Reset(test::PluginStandIn::kThrowsPerFrame);
  LoadPlugin();
  Output(16, 4);
  const Bytes frame = RandomBytes(16 * 2 * 4, 13);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Process(Header(kFourccYUY2, 16, 4, 16), frame), kSOk);
  }
  EXPECT_EQ(plugin_.Frames(), 3u);
  EXPECT_EQ(vcam_.FrameCount(), 3u);
  EXPECT_EQ(LastFrame(), frame);
}

TEST_F(PipelineTest, ThreeDNoteOnlyWhenSupportAndSettingAreBothNonZero) {
  Output(16, 4);
  const Bytes frame = RandomBytes(16 * 2 * 4, 14);
  struct Case {
    uint32_t support;
    uint32_t setting;
    const char16_t* note;
  } cases[] = {{0, 0, u""}, {1, 0, u""}, {0, 1, u""}, {1, 1, u"3D\n3D\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.support * 10 + c.setting);
    support3D_ = c.support;
    settings3D_[0].store(c.setting);
    ASSERT_EQ(Process(Header(kFourccYUY2, 16, 4, 16), frame), kSOk);
    ASSERT_EQ(Process(Header(kFourccYUY2, 16, 4, 16), frame), kSOk);
    EXPECT_EQ(TakeDebugOutput(), c.note);
    EXPECT_EQ(LastFrame(), frame);
  }
}

TEST_F(PipelineTest, SamplesShorterThanTheirHeaderAreDroppedUnread) {
  Output(16, 4);
  struct Case {
    BitmapInfoHeader header;
    size_t fullLength;
  } cases[] = {
      {Header(kFourccYUY2, 16, 4, 16), 128},  {Header(kFourccYUY2, 32, 8, 16), 512},
      {Header(kFourccUYVY, 16, 4, 16), 128},  {Header(kFourccVYUY, 16, -4, 16), 128},
      {Header(kFourccI420, 16, 4, 12), 96},   {Header(kFourccYV12, 16, 4, 12), 96},
      {Header(kBiRgb, 16, 4, 24), 192},       {Header(kBiRgb, 5, -3, 24), 48},
      {Header(kBiRgb, 16, 4, 32), 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fullLength);
    const Bytes short1 = RandomBytes(c.fullLength - 1, 15);
    EXPECT_EQ(Process(c.header, short1), kEFail);
    const Bytes whole = RandomBytes(c.fullLength, 16);
    EXPECT_NE(Process(c.header, whole), kEFail);
  }
  EXPECT_EQ(vcam_.FrameCount(), std::size(cases));
}

TEST_F(PipelineTest, ImplausibleSizesAreDropped) {
  Output(16, 4);
  const Bytes data = RandomBytes(4096, 17);
  const std::pair<int32_t, int32_t> sizes[] = {{0, 4},  {16, 0},     {-16, 4},
                                               {100000, 1}, {1, 100000}, {16, INT32_MIN}};
  for (uint32_t code : {kFourccYUY2, kFourccUYVY, kFourccI420, kBiRgb}) {
    for (const auto& [w, h] : sizes) {
      SCOPED_TRACE(std::to_string(code) + " " + std::to_string(w) + "x" + std::to_string(h));
      EXPECT_EQ(Process(Header(code, w, h, 24), data), kEFail);
    }
  }
  EXPECT_EQ(vcam_.FrameCount(), 0u);
}

TEST_F(PipelineTest, NullOrEmptySamplesAreRejected) {
  Output(16, 4);
  const BitmapInfoHeader h = Header(kFourccYUY2, 16, 4, 16);
  const Bytes frame(128, 1);
  EXPECT_EQ(pipeline_.ProcessSample(nullptr, frame.data(), 128), kEFail);
  EXPECT_EQ(pipeline_.ProcessSample(&h, nullptr, 128), kEFail);
  EXPECT_EQ(pipeline_.ProcessSample(&h, frame.data(), 0), kEFail);
  EXPECT_EQ(pipeline_.DeliverFrame(nullptr, frame.data(), 128), 0);
  EXPECT_EQ(pipeline_.DeliverFrame(&h, nullptr, 128), 0);
  EXPECT_EQ(vcam_.FrameCount(), 0u);
  EXPECT_EQ(FramePipeline::SampleCallback(&h, frame.data(), 128, nullptr), 0);
  EXPECT_EQ(vcam_.FrameCount(), 0u);
  EXPECT_EQ(FramePipeline::SampleCallback(&h, frame.data(), 128, &pipeline_), 0);
  EXPECT_EQ(vcam_.FrameCount(), 1u);
  EXPECT_EQ(FramePipeline::SampleCallback(&h, frame.data(), 0, &pipeline_), 0);
}

TEST_F(PipelineTest, ConversionBufferFollowsTheFrameSizeAndOnlyGrows) {
  Output(16, 4);
  ASSERT_EQ(Process(Header(kFourccUYVY, 16, 4, 16), RandomBytes(128, 18)), kSOk);
  const uint8_t* first = pipeline_.conversionBuffer.get();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(pipeline_.conversionSize, 128u);
  EXPECT_EQ(pipeline_.cachedHeader.biCompression, kFourccUYVY);

  // Same size, another code: kept as it was.
  ASSERT_EQ(Process(Header(kBiRgb, 16, 4, 24), RandomBytes(192, 19)), kSOk);
  EXPECT_EQ(pipeline_.conversionBuffer.get(), first);
  EXPECT_EQ(pipeline_.cachedHeader.biCompression, kFourccUYVY);

  // Larger: replaced and sized for it.
  ASSERT_EQ(Process(Header(kFourccUYVY, 32, 8, 16), RandomBytes(512, 20)), kSOk);
  EXPECT_EQ(pipeline_.conversionSize, 512u);
  EXPECT_EQ(pipeline_.cachedHeader.biWidth, 32);
  const uint8_t* larger = pipeline_.conversionBuffer.get();

  // Smaller: the larger buffer is reused, its used size follows the frame.
  ASSERT_EQ(Process(Header(kFourccUYVY, 8, 2, 16), RandomBytes(32, 21)), kSOk);
  EXPECT_EQ(pipeline_.conversionBuffer.get(), larger);
  EXPECT_EQ(pipeline_.conversionSize, 32u);
  EXPECT_EQ(pipeline_.cachedHeader.biWidth, 8);

  pipeline_.FreeConversionBuffer();
  EXPECT_EQ(pipeline_.conversionBuffer, nullptr);
  EXPECT_EQ(pipeline_.conversionSize, 0u);
  EXPECT_EQ(pipeline_.cachedHeader.biWidth, 0);
}

TEST_F(PipelineTest, OutputFormatDescribesYuy2AndTheBufferOnlyGrows) {
  ASSERT_EQ(pipeline_.PrepareOutputFormat(321, 240), kSOk);
  EXPECT_EQ(pipeline_.outputHeader.biSize, 40u);
  EXPECT_EQ(pipeline_.outputHeader.biWidth, 321);
  EXPECT_EQ(pipeline_.outputHeader.biHeight, 240);
  EXPECT_EQ(pipeline_.outputHeader.biBitCount, 16);
  EXPECT_EQ(pipeline_.outputHeader.biPlanes, 0);
  EXPECT_EQ(pipeline_.outputHeader.biCompression, kFourccYUY2);
  EXPECT_EQ(pipeline_.outputHeader.biSizeImage, 644u * 240);
  const uint8_t* buffer = pipeline_.outputBuffer.get();
  ASSERT_EQ(pipeline_.PrepareOutputFormat(160, 120), kSOk);
  EXPECT_EQ(pipeline_.outputBuffer.get(), buffer);
  EXPECT_EQ(pipeline_.outputCapacity, 644u * 240);
  EXPECT_EQ(pipeline_.outputHeader.biSizeImage, 38400u);
  // No 32-bit size holds 65535 x 65535 YUY2.
  EXPECT_EQ(pipeline_.PrepareOutputFormat(65535, 65535), kEFail);
}

TEST_F(PipelineTest, LastFrameCanBeWrittenAsY4m) {
  Output(4, 2);
  const Bytes frame = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  ASSERT_EQ(Process(Header(kFourccYUY2, 4, 2, 16), frame), kSOk);
  const std::string path = test::Join(dir_, "last.y4m");
  ASSERT_EQ(vcam_.WriteLastFrameY4M(path.c_str()), 1);
  const auto bytes = test::ReadBytes(path);
  ASSERT_TRUE(bytes);
  const std::string header = "YUV4MPEG2 W4 H2 F30:1 Ip A1:1 C422\nFRAME\n";
  EXPECT_EQ(*bytes, header + std::string("\x01\x03\x05\x07\x09\x0b\x0d\x0f\x02\x06\x0a\x0e\x04\x08\x0c\x10", 16));
}

}  // namespace
