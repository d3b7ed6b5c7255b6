// The plug-in host against the real Frameport library, loaded by the file name the host uses:
// frames pass unchanged while no client is registered, the sample client (oruclient) registered
// through the real registration transport rewrites what reaches the virtual camera, the plug-in
// outlives graph stops, and its release stops the registration server. Registrations made
// from this process go through the OruTether library that Frameport itself loaded (a
// receiver in the sender's own process is registered but never handed a frame).
#include "graph/rend_graph.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "graph/scaler.h"
#include "ipc/registration.h"
#include "ipc/tether.h"
#include "platform/child_process.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/program.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "tests/graph/camera_env.h"
#include "tests/graph/fake_graph.h"
#include "tests/filters/picture.h"
#include "tests/graph/standins.h"
#include "tests/graph/test_env.h"
#include "tests/plugin/plugin_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kAppKey = "SOFTWARE\\Quillon\\Photoria 5\\Photoria";
constexpr uint32_t kLargestFrame = 64 * 2 * 48;

// Frameport, OruTether, Kestrel (with the media runtime) and the filter modules keep
// process-wide tables for as long as they are mapped; one extra reference each keeps them
// mapped for the whole program, so LeakSanitizer does not count those tables lost each time
// the host releases the plug-in or COM unloads a filter.
const platform::ModuleHandle g_keepModules[] = {
    platform::LoadModule("Frameport.dll"),      platform::LoadModule("OruTether.dll"),
    platform::LoadModule("Kestrel.dll"),        platform::LoadModule("KestrelCam.dll"),
    platform::LoadModule("KestrelVDRender.dll"), platform::LoadModule("KestrelMjpegDec.dll")};

int32_t IgnoreFrame(TetherMessageInfo*, void*, void*) { return 0; }

// What the sample client's "invert" effect makes of a frame's pixels.
Bytes Inverted(Bytes b) {
  for (auto& v : b) v = static_cast<uint8_t>(255 - v);
  return b;
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed);
  return b;
}

// The receiver role of the OruTether library Frameport loaded, bound at run time.
class Tether {
 public:
  Tether() : module_(platform::LoadModule("OruTether.dll")) {
    ok_ = platform::BindModuleSymbol(module_.get(), "Tether_CreateInstance", &create_) &&
          platform::BindModuleSymbol(module_.get(), "Tether_DeleteInstance", &delete_);
  }
  bool ok() const { return ok_; }

  // A receiver registered with `key`, or -1 when the registration is refused or unanswered.
  TetherHandle Receiver(const std::u16string& name, uint32_t key) const {
    TetherCreateParams p;
    std::memset(&p, 0, sizeof p);
    p.size = sizeof p;
    platform::CopyName(p.name, name.c_str());
    p.capacity = 40 + kLargestFrame;
    p.role = kTetherRoleReceiver;
    p.timeoutMs = 500;
    p.callback = &IgnoreFrame;
    p.orderingKey = key;
    return create_(p);
  }
  void Delete(TetherHandle h) const { delete_(h); }

 private:
  platform::UniqueModule module_;
  TetherHandle (*create_)(TetherCreateParams) = nullptr;
  void (*delete_)(TetherHandle) = nullptr;
  bool ok_ = false;
};

std::u16string UniqueChannel() { return plugin_test::U16(plugin_test::UniqueName("host")); }

// The sample client, inverting every frame on a channel it registers with the capture
// service's own registration pipe.
class ClientProcess {
 public:
  ClientProcess(const std::string& key, const std::string& countFile, uint32_t capacity = 40 + kLargestFrame)
      : ready_(plugin_test::UniqueName("ready")), quit_(plugin_test::UniqueName("quit")), countFile_(countFile) {
    readyEvent_ = platform::Event::CreateNamed(plugin_test::U16(ready_).c_str(), true, false);
    quitEvent_ = platform::Event::CreateNamed(plugin_test::U16(quit_).c_str(), true, false);
    process_ = platform::SpawnProcess(plugin_test::BuildPath(KESTREL_ORUCLIENT),
                                      {"--key", key, "--effect", "invert", "--capacity", std::to_string(capacity),
                                       "--ready-event", ready_, "--quit-event", quit_, "--count-file", countFile_,
                                       plugin_test::UniqueName("chan")});
  }
  ~ClientProcess() { Quit(); }

  // True once its channel is registered and open; false when it ended first.
  bool WaitReady() {
    const platform::Event* events[] = {&readyEvent_};
    for (;;) {
      if (platform::WaitForAnyEvent(events, 1, 100) == platform::kWaitObject0) return true;
      if (process_ == nullptr || platform::WaitProcess(process_, 0) == platform::kWaitObject0) return false;
    }
  }
  // Lets it unregister and end; its exit code.
  uint32_t Quit() {
    uint32_t code = 0xFFFFFFFFu;
    if (process_ == nullptr) return code;
    quitEvent_.Set();
    if (platform::WaitProcess(process_, plugin_test::kGenerousMs) != platform::kWaitObject0) {
      platform::KillProcess(process_);
      platform::WaitProcess(process_, platform::kInfinite);
    }
    platform::GetProcessExitCode(process_, &code);
    platform::CloseProcess(process_);
    process_ = nullptr;
    return code;
  }
  // The frame count it wrote when it ended, or -1.
  int64_t Count() const {
    const std::optional<std::string> text = test::ReadBytes(countFile_);
    return text && !text->empty() ? std::stoll(*text) : -1;
  }

 private:
  std::string ready_, quit_, countFile_;
  platform::Event readyEvent_, quitEvent_;
  platform::ProcessObject* process_ = nullptr;
};

class FrameportHostTest : public test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    for (platform::ModuleHandle m : g_keepModules) ASSERT_NE(m, nullptr);
    // On Linux the registration pipe is a socket in this folder, private to the test.
    platform::SetEnvironmentValue("KESTREL_PIPE_DIR", dir_.c_str());
    ASSERT_TRUE(vcam_.ok());
    ASSERT_TRUE(tether_.ok());
    vcam_.Reset();
    MakeGraph();
  }
  // A fresh object on the fake capture graph that starts no companion application.
  void MakeGraph() {
    graph_ = std::make_unique<CVDRendGraphImpl>();
    graph_->captureGraph = &fake_;
    graph_->openRetryMs = 20;
    graph_->isProcessRunning = [](const char16_t*) { return 1; };
    graph_->launchCompanionApp = [](const char16_t*) { return 0; };
  }
  void TearDown() override {
    if (receiver_ != 0) tether_.Delete(receiver_);
    if (graph_) {
      graph_->Uninitialize();
      graph_->UnloadFramePlugin();
    }
    graph_.reset();
    platform::SetEnvironmentValue("KESTREL_PIPE_DIR", nullptr);
    ScratchTest::TearDown();
  }

  void StartAndSettle() {
    ASSERT_EQ(graph_->Initialize(0), 1);
    ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetChangeResResult(0x0)"));
  }
  void OpenAt(uint32_t width, uint32_t height) {
    const uint32_t before = vcam_.CountCalls("OruVCapSetWorkMode(1)");
    ASSERT_EQ(vcam_.ConsumerOpen(width, height, 0), 1);
    ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(1)", before + 1));
  }
  void CloseCamera() {
    const uint32_t before = vcam_.CountCalls("OruVCapSetWorkMode(0)");
    ASSERT_EQ(vcam_.ConsumerClose(), 1);
    ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(0)", before + 1));
  }
  // Streams `count` copies of `frame` and answers the last frame the camera received.
  Bytes Stream(const BitmapInfoHeader& h, const Bytes& frame, uint32_t count) {
    const uint64_t before = vcam_.FrameCount();
    fake_.SetFrame(h, frame);
    fake_.PushFrames(count);
    EXPECT_EQ(vcam_.WaitForFrames(before + count, test::kWaitMs), 1);
    Bytes got(vcam_.GetLastFrame(nullptr, nullptr, 0));
    vcam_.GetLastFrame(nullptr, got.data(), static_cast<uint32_t>(got.size()));
    return got;
  }
  test::VcamStandIn vcam_;
  Tether tether_;
  test::FakeGraph fake_;
  std::unique_ptr<CVDRendGraphImpl> graph_;
  TetherHandle receiver_ = 0;
};

TEST_F(FrameportHostTest, TheRealPlugInIsLoadedByTheHostsFileName) {
  EXPECT_STREQ(graph_->pluginFileName, "Frameport.dll");
  graph_->LoadFramePlugin();
  ASSERT_NE(graph_->plugin.pluginModule, nullptr);
  const uintptr_t instance = graph_->plugin.pluginInstance.load();
  EXPECT_NE(instance, 0u);
  EXPECT_NE(instance, static_cast<uintptr_t>(-1));
  // The entry points are the library's own exports.
  platform::UniqueModule frameport(platform::LoadModule("Frameport.dll"));
  ASSERT_TRUE(frameport);
  const struct {
    const char* name;
    void* bound;
  } exports[] = {
      {"Frameport_Initialize", reinterpret_cast<void*>(graph_->plugin.pfnInitialize)},
      {"Frameport_ProcessVideoFrame", reinterpret_cast<void*>(graph_->plugin.pfnProcessVideoFrame)},
      {"Frameport_UnInitialize", reinterpret_cast<void*>(graph_->plugin.pfnUnInitialize)},
      {"Frameport_Abort", reinterpret_cast<void*>(graph_->plugin.pfnAbort)},
  };
  for (const auto& e : exports) {
    SCOPED_TRACE(e.name);
    ASSERT_NE(e.bound, nullptr);
    EXPECT_EQ(e.bound, platform::GetModuleSymbol(frameport.get(), e.name));
  }
  // Its instance runs the registration server.
  receiver_ = tether_.Receiver(UniqueChannel(), 0x10000);
  EXPECT_NE(receiver_, kTetherNoHandle);
}

TEST_F(FrameportHostTest, FramesPassUnchangedWithoutAClient) {
  StartAndSettle();
  ASSERT_NE(graph_->plugin.pluginInstance.load(), 0u);
  OpenAt(16, 4);
  const Bytes frame = Pattern(128, 3);
  EXPECT_EQ(Stream(test::Yuy2Header(16, 4), frame, 3), frame);
  BitmapInfoHeader h{};
  vcam_.GetLastFrame(&h, nullptr, 0);
  EXPECT_EQ(h.biSizeImage, 128u);
}

TEST_F(FrameportHostTest, AClientProcessRewritesWhatTheCameraGetsAcrossGraphStops) {
  StartAndSettle();
  const uintptr_t instance = graph_->plugin.pluginInstance.load();
  ASSERT_NE(instance, 0u);
  ClientProcess client("2:1", test::Join(dir_, "count.txt"));
  ASSERT_TRUE(client.WaitReady());
  OpenAt(16, 4);
  const Bytes first = Pattern(128, 1);
  // A new client's channel is served once the plug-in's end has counted it, at its next poll.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(test::kWaitMs);
  bool served = false;
  while (!served && std::chrono::steady_clock::now() < end) {
    served = Stream(test::Yuy2Header(16, 4), first, 1) == Inverted(first);
  }
  ASSERT_TRUE(served);
  uint64_t inverted = 1;
  CloseCamera();

  // Each stop aborts the plug-in; its instance and its client stay and serve the next graph,
  // whatever its size. A frame of another size is scaled by the host first: the client sees
  // the host's output frame.
  struct Step {
    uint32_t width, height;
    int32_t frameWidth, frameHeight;
  } steps[] = {{16, 4, 16, 4}, {64, 48, 64, 48}, {16, 4, 32, 8}};
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.width) + " from " + std::to_string(s.frameWidth));
    OpenAt(s.width, s.height);
    const Bytes frame = Pattern(static_cast<size_t>(s.frameWidth) * 2 * s.frameHeight, static_cast<uint8_t>(s.width));
    Bytes output = frame;  // copied as it is at the output size, else scaled
    if (s.frameWidth != static_cast<int32_t>(s.width)) {
      output.resize(s.width * 2 * s.height);
      ScaleYuy2(frame.data(), s.frameWidth, s.frameHeight, s.frameWidth * 2, output.data(),
                static_cast<int32_t>(s.width), static_cast<int32_t>(s.height), static_cast<int32_t>(s.width * 2));
    }
    EXPECT_EQ(Stream(test::Yuy2Header(s.frameWidth, s.frameHeight), frame, 2), Inverted(output));
    inverted += 2;
    CloseCamera();
    EXPECT_EQ(graph_->plugin.pluginInstance.load(), instance);
  }

  // Once the client has gone (and unregistered), frames pass unchanged again. It saw every
  // frame it inverted, and no other.
  EXPECT_EQ(client.Quit(), 0u);
  EXPECT_EQ(client.Count(), static_cast<int64_t>(inverted));
  OpenAt(16, 4);
  const Bytes frame = Pattern(128, 9);
  EXPECT_EQ(Stream(test::Yuy2Header(16, 4), frame, 1), frame);
}

TEST_F(FrameportHostTest, UninitializeReleasesThePlugIn) {
  struct Case {
    const char* name;
    bool initialize;  // the whole object, or the plug-in host alone
  } cases[] = {{"Uninitialize", true}, {"UnloadFramePlugin", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vcam_.Reset();
    MakeGraph();
    if (c.initialize) {
      StartAndSettle();
    } else {
      graph_->LoadFramePlugin();
    }
    ASSERT_NE(graph_->plugin.pluginInstance.load(), 0u);
    const TetherHandle before = tether_.Receiver(UniqueChannel(), 0x10000);
    ASSERT_NE(before, kTetherNoHandle);
    tether_.Delete(before);

    if (c.initialize) {
      EXPECT_EQ(graph_->Uninitialize(), 1);
    } else {
      graph_->UnloadFramePlugin();
    }
    EXPECT_EQ(graph_->plugin.pluginModule, nullptr);
    EXPECT_EQ(graph_->plugin.pluginInstance.load(), 0u);
    EXPECT_EQ(graph_->plugin.pfnUnInitialize, nullptr);
    EXPECT_EQ(graph_->plugin.pfnAbort, nullptr);
    // Frameport_UnInitialize stopped its registration server: nobody answers any more.
    EXPECT_EQ(tether_.Receiver(UniqueChannel(), 0x10000), kTetherNoHandle);
    // A second release finds nothing to do.
    graph_->UnloadFramePlugin();
  }
}

TEST_F(FrameportHostTest, CompanionPathIsReadAfterTheRealPlugInStarted) {
  const std::string exe = test::NativeFile("c:\\Photoria 5\\Photoria.exe");
  ASSERT_TRUE(platform::CreateDirectories(test::NativeFile("c:\\Photoria 5").c_str()));
  ASSERT_TRUE(test::WriteBytes(exe, "MZ"));
  struct Case {
    const char* name;
    const char16_t* value;
    const char16_t* kept;
  } cases[] = {
      {"absent", nullptr, u""},
      {"existing file", u"c:\\Photoria 5\\Photoria.exe", u"c:\\Photoria 5\\Photoria.exe"},
      {"missing file", u"c:\\Photoria 5\\Gone.exe", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clean();
    if (c.value) test::SetString(kAppKey, "AppName", c.value);
    graph_->LoadFramePlugin();
    EXPECT_NE(graph_->plugin.pluginInstance.load(), 0u);
    EXPECT_EQ(std::u16string(graph_->companionPath), c.kept);
    graph_->UnloadFramePlugin();
  }
}


// The whole service through the Kestrel library as the host loads it: a synthetic camera
// registered in the test's registry, the virtual-camera stand-in as the consumer's side and
// the sample client inverting every frame in its own process.
class CaptureEndToEndTest : public test::ScratchTest {
 protected:
  static constexpr uint32_t kClientCapacity = 40 + 1280 * 720 * 2;

  void SetUp() override {
    ScratchTest::SetUp();
    for (platform::ModuleHandle m : g_keepModules) ASSERT_NE(m, nullptr);
    platform::SetEnvironmentValue("KESTREL_PIPE_DIR", dir_.c_str());
    record_ = test::Join(dir_, "record.txt");
    platform::SetEnvironmentValue("KESTREL_FILTERS_RECORD", record_.c_str());
    ASSERT_TRUE(vcam_.ok());
    vcam_.Reset();
    test::ClearCameras();
    test::RegisterFilters();
    ASSERT_TRUE(kestrel_);
    ASSERT_TRUE(platform::BindModuleSymbol(kestrel_.get(), "CreatRendGraph", &create_));
    ASSERT_TRUE(platform::BindModuleSymbol(kestrel_.get(), "ReleaseRendGraph", &release_));
  }
  void TearDown() override {
    if (object_) {
      object_->Uninitialize();
      release_(&object_);
    }
    test::ClearCameras();
    platform::SetEnvironmentValue("KESTREL_FILTERS_RECORD", nullptr);
    platform::SetEnvironmentValue("KESTREL_PIPE_DIR", nullptr);
    ScratchTest::TearDown();
  }
  void Start() {
    ASSERT_EQ(create_(&object_), 1);
    ASSERT_NE(object_, nullptr);
    ASSERT_EQ(object_->Initialize(0), 1);
    ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetChangeResResult(0x0)"));
  }
  // Asks for width x height and waits for the work mode the answer brings.
  void Request(uint32_t width, uint32_t height, uint32_t mode) {
    const std::string call = "OruVCapSetWorkMode(" + std::to_string(mode) + ")";
    const uint32_t before = vcam_.CountCalls(call.c_str());
    ASSERT_EQ(vcam_.ConsumerOpen(width, height, 0), 1);
    ASSERT_TRUE(vcam_.WaitForCall(call.c_str(), before + 1));
  }
  // PSNR in dB of the last delivered frame (inverted back when asked) against the camera's
  // picture of the frame number it carries; 0 when it has the wrong size or no number.
  double LastFrameMatch(uint32_t width, uint32_t height, bool invert) {
    BitmapInfoHeader h{};
    Bytes got(vcam_.GetLastFrame(&h, nullptr, 0));
    vcam_.GetLastFrame(&h, got.data(), static_cast<uint32_t>(got.size()));
    if (h.biWidth != static_cast<int32_t>(width) || h.biHeight != static_cast<int32_t>(height) ||
        got.size() != width * 2 * height) {
      return 0;
    }
    if (invert) got = Inverted(got);
    uint64_t number = 0;
    if (!filters::ReadFrameNumber(got.data(), width, height, width * 2, width, height, &number)) {
      return 0;
    }
    const Bytes pattern = test::PatternYuy2(width, height, number);
    return test::Psnr(pattern.data(), got.data(), got.size());
  }
  // Frames flow until one arrives rewritten by the client (its channel is served from the
  // plug-in's next poll on); false when none does.
  bool WaitForInvertedFrame(uint32_t width, uint32_t height, double minimumDb) {
    for (int i = 0; i < 200; ++i) {
      if (vcam_.WaitForFrames(vcam_.FrameCount() + 1, test::kWaitMs) != 1) return false;
      if (LastFrameMatch(width, height, true) >= minimumDb) return true;
    }
    return false;
  }

  platform::UniqueModule kestrel_{platform::LoadModule("Kestrel.dll")};
  int32_t (*create_)(IRendGraph**) = nullptr;
  void (*release_)(IRendGraph**) = nullptr;
  IRendGraph* object_ = nullptr;
  test::VcamStandIn vcam_;
  std::string record_;
};

TEST_F(CaptureEndToEndTest, ConsumerSeesTheCameraRewrittenByTheClientAcrossResolutions) {
  test::AddCamera("0001", test::UsbPath(1), "Desk camera", "caps=MJPG:1280x720,YUY2:640x480");
  Start();
  ClientProcess client("1", test::Join(dir_, "count.txt"), kClientCapacity);
  ASSERT_TRUE(client.WaitReady());

  Request(640, 480, WORKMODE_STREAMING);
  EXPECT_TRUE(WaitForInvertedFrame(640, 480, 99));  // YUY2 exactly as the camera drew it
  EXPECT_TRUE(test::Contains(test::ReadRecord(record_), "camera SetFormat YUY2 640x480 333333"));

  Request(1280, 720, WORKMODE_STREAMING);
  EXPECT_TRUE(WaitForInvertedFrame(1280, 720, 30));  // through the MJPEG decoder
  EXPECT_TRUE(test::Contains(test::ReadRecord(record_), "camera SetFormat MJPG 1280x720 333333"));
  EXPECT_TRUE(test::Contains(test::ReadRecord(record_), "decoder Control 4"));

  // Every delivered frame went through the client.
  const uint64_t before = vcam_.FrameCount();
  ASSERT_EQ(vcam_.WaitForFrames(before + 3, test::kWaitMs), 1);
  EXPECT_GE(LastFrameMatch(1280, 720, true), 30);
  EXPECT_LT(LastFrameMatch(1280, 720, false), 15);

  // Uninitialize while frames flow: everything the service made is released.
  object_->Uninitialize();
  release_(&object_);
  EXPECT_EQ(object_, nullptr);
  for (const char* module : {"KestrelCam.dll", "KestrelVDRender.dll", "KestrelMjpegDec.dll"}) {
    SCOPED_TRACE(module);
    platform::UniqueModule m(platform::LoadModule(module));
    int32_t (*objects)() = nullptr;
    ASSERT_TRUE(platform::BindModuleSymbol(m.get(), "KestrelFilters_ObjectCount", &objects));
    EXPECT_EQ(objects(), 0);
  }
  EXPECT_EQ(client.Quit(), 0u);
  EXPECT_GT(client.Count(), 0);
}

TEST_F(CaptureEndToEndTest, LostCameraFailsUntilItIsBackAndABusyCameraFails) {
  test::AddCamera("0001", test::UsbPath(1), "Desk camera", "caps=YUY2:320x240;lost=30");
  Start();
  Request(320, 240, WORKMODE_STREAMING);
  // Unplugged: once the graph reports the loss, the reopen finds nothing (a loss before this
  // point only reopens the camera, which is lost again).
  test::ClearCameras();
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetChangeResResult(0x80004005)"));
  // One failed mode for the loss, one for the failed reopen.
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(2)", 2));

  test::AddCamera("0001", test::UsbPath(1), "Desk camera", "caps=YUY2:320x240");
  Request(320, 240, WORKMODE_STREAMING);
  ASSERT_EQ(vcam_.WaitForFrames(vcam_.FrameCount() + 2, test::kWaitMs), 1);

  // In use by another application: Run fails.
  test::ClearCameras();
  test::AddCamera("0001", test::UsbPath(1), "Desk camera", "caps=YUY2:640x480;fail=run");
  const uint32_t results = vcam_.CountCalls("OruVCapSetChangeResResult(0x80004005)");
  Request(640, 480, WORKMODE_FAILED);
  EXPECT_EQ(vcam_.CountCalls("OruVCapSetChangeResResult(0x80004005)"), results + 1);
  BitmapInfoHeader logo{};
  EXPECT_GT(vcam_.GetLogo(&logo, nullptr, 0), 0u);
  EXPECT_EQ(logo.biCompression, kFourccYUY2);
}

}  // namespace

