// The render-graph object's life and worker loop against the virtual-camera stand-in, a
// fake capture graph and the stand-in plug-in: the call sequences the camera sees, each
// kind of request, device notifications, and recovery from faults.
#include "graph/rend_graph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/graph/camera_env.h"
#include "tests/graph/fake_graph.h"
#include "tests/graph/standins.h"
#include "tests/graph/test_env.h"

namespace {

std::atomic<int> g_companionRunning{0};
std::atomic<int> g_launches{0};
std::u16string g_launchedPath;
int FakeIsProcessRunning(const char16_t*) { return g_companionRunning.load(); }
int FakeLaunch(const char16_t* path) {
  g_launchedPath = path;
  ++g_launches;
  return 0;
}

using Calls = std::vector<std::string>;

const Calls kStartup = {
    "OruFakeCaptureOpen()",
    "OruVCapSetLogo(320x240,pixels,153600)",
    "OruVCapSetVideoResizeMode(0)",
    "OruVCapSetWorkMode(0)",
    "OruVCapGetSupport3D()",
    "OruVCapSetCloseDevEvent(event)",
    "OruVCapSetDeviceStatus(0)",
    "OruVCapSetDeviceEvent(event)",
    "OruVCapSetInstanceNotification(event)",
    "OruVCapGetCurrentResolution()",
    "OruVCapSetChangeResResult(0x0)",
};

const Calls kWorkerShutdown = {
    "OruVCapSetDevicePinObj(0)",      "OruVCapSetCloseDevFinish()",
    "OruVCapSetChangeResResult(0x0)", "OruVCapSetWorkMode(0)",
    "OruVCapSetCloseDevEvent(null)",  "OruVCapSetDeviceStatus(0)",
    "OruVCapSetDeviceEvent(null)",    "OruVCapSetInstanceNotification(null)",
    "OruVCapSet3DNotification(null)", "OruFakeCaptureClose()",
};

class RendGraphTest : public test::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    MakeGraph();
    g_companionRunning = 0;
    g_launches = 0;
    g_launchedPath.clear();
  }
  // A fresh object on the fake graph and the stand-in plug-in, retrying opens quickly.
  void MakeGraph() {
    if (graph_) graph_->Uninitialize();
    graph_ = std::make_unique<CVDRendGraphImpl>();
    graph_->captureGraph = &fake_;
    graph_->pluginFileName = test::kTestPluginFile;
    graph_->openRetryMs = 20;
    graph_->isProcessRunning = &FakeIsProcessRunning;
    graph_->launchCompanionApp = &FakeLaunch;
  }
  void TearDown() override {
    if (graph_) graph_->Uninitialize();
    graph_.reset();
    StandInTest::TearDown();
  }

  // Initialises and waits until the first resolution poll has been answered.
  void StartAndSettle() {
    ASSERT_EQ(graph_->Initialize(0), 1);
    ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetChangeResResult(0x0)"));
  }
  // Opens a consumer at width x height and waits for streaming.
  void OpenAt(uint32_t width, uint32_t height, int64_t interval = 0) {
    const uint32_t before = vcam_.CountCalls("OruVCapSetWorkMode(1)");
    ASSERT_EQ(vcam_.ConsumerOpen(width, height, interval), 1);
    ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(1)", before + 1));
  }
  size_t Mark() const { return vcam_.CallCount(); }

  test::FakeGraph fake_;
  std::unique_ptr<CVDRendGraphImpl> graph_;
};

TEST_F(RendGraphTest, StartupAndShutdownSequencesReachTheCameraInOrder) {
  struct Case {
    const char* name;
    uint32_t support3D;
    uint32_t openFailures;
    std::optional<uint32_t> resize;  // the "Resize" setting, when set
  } cases[] = {
      {"plain", 0, 0, std::nullopt},
      {"3D supported", 1, 0, std::nullopt},
      {"open fails three times", 0, 3, std::nullopt},
      {"resize mode 2, 3D, one failed open", 1, 1, 2u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clean();
    vcam_.Reset();
    plugin_.Reset(test::PluginStandIn::kNormal);
    MakeGraph();
    vcam_.SetSupport3D(c.support3D);
    vcam_.SetOpenFailures(c.openFailures);
    if (c.resize) test::SetDword("SOFTWARE\\Quillon\\Velmora", "Resize", *c.resize);

    StartAndSettle();
    Calls expected(c.openFailures, "OruFakeCaptureOpen()=fail");
    expected.insert(expected.end(), kStartup.begin(), kStartup.end());
    const size_t open = c.openFailures;
    if (c.resize) expected[open + 2] = "OruVCapSetVideoResizeMode(" + std::to_string(*c.resize) + ")";
    if (c.support3D) expected.insert(expected.begin() + static_cast<long>(open) + 5, "OruVCapSet3DNotification(event)");
    EXPECT_EQ(vcam_.Calls(), expected);

    // The worker undoes the registrations and closes the camera last; Uninitialize then
    // stops the graph once more and reports idle.
    const size_t mark = Mark();
    EXPECT_EQ(graph_->Uninitialize(), 1);
    Calls shutdown = kWorkerShutdown;
    shutdown.push_back("OruVCapSetDevicePinObj(0)");
    shutdown.push_back("OruVCapSetWorkMode(0)");
    EXPECT_EQ(vcam_.CallsFrom(mark), shutdown);
    EXPECT_EQ(plugin_.Inits(), 1u);
    EXPECT_EQ(plugin_.Aborts(), 1u);
    EXPECT_EQ(plugin_.Uninits(), 1u);
  }
}

TEST_F(RendGraphTest, UninitializeReleasesEverythingOnce) {
  enum class Stage { NeverInitialized, RetryingOpen, Idle, Streaming };
  struct Case {
    const char* name;
    Stage stage;
    Calls calls;  // what the first Uninitialize makes the camera see
    uint32_t uninits;
  } cases[] = {
      {"never initialised", Stage::NeverInitialized, {}, 0},
      // The worker returns at its next check without a shutdown sequence: the camera was
      // never opened, so it is never closed.
      {"while the open is retried", Stage::RetryingOpen, {"OruVCapSetDevicePinObj(0)", "OruVCapSetWorkMode(0)"}, 1},
      {"idle", Stage::Idle, {}, 1},
      {"streaming", Stage::Streaming, {}, 1},
  };
  for (Case& c : cases) {
    if (c.stage == Stage::Idle || c.stage == Stage::Streaming) {
      c.calls = kWorkerShutdown;
      c.calls.push_back("OruVCapSetDevicePinObj(0)");
      c.calls.push_back("OruVCapSetWorkMode(0)");
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vcam_.Reset();
    plugin_.Reset(test::PluginStandIn::kNormal);
    MakeGraph();
    switch (c.stage) {
      case Stage::NeverInitialized:
        break;
      case Stage::RetryingOpen:
        vcam_.SetOpenFailures(0xFFFFFFFFu);
        ASSERT_EQ(graph_->Initialize(0), 1);
        ASSERT_TRUE(vcam_.WaitForCall("OruFakeCaptureOpen()=fail", 2));
        break;
      case Stage::Idle:
        StartAndSettle();
        break;
      case Stage::Streaming:
        StartAndSettle();
        OpenAt(320, 240);
        break;
    }
    const size_t mark = Mark();
    EXPECT_EQ(graph_->Uninitialize(), 1);
    Calls seen;
    for (const auto& call : vcam_.CallsFrom(mark))
      if (call != "OruFakeCaptureOpen()=fail") seen.push_back(call);  // a last retry may come first
    EXPECT_EQ(seen, c.calls);
    EXPECT_EQ(vcam_.CountCalls("OruFakeCaptureOpen()"), c.stage >= Stage::Idle ? 1u : 0u);
    EXPECT_EQ(graph_->threadHandle, nullptr);
    EXPECT_EQ(graph_->threadId.load(), 0u);
    EXPECT_EQ(graph_->running.load(), 0);
    EXPECT_FALSE(graph_->vcam.IsLoaded());
    EXPECT_FALSE(graph_->closeDeviceEvent.valid());
    EXPECT_FALSE(graph_->deviceEvent.valid());
    EXPECT_FALSE(graph_->instanceEvent.valid());
    EXPECT_FALSE(graph_->event3D.valid());
    EXPECT_EQ(graph_->plugin.pluginModule, nullptr);
    EXPECT_EQ(graph_->pipeline.outputBuffer, nullptr);
    EXPECT_EQ(graph_->currentResolution.load(), 0u);
    EXPECT_EQ(plugin_.Uninits(), c.uninits);

    // The second call returns 1 and does nothing.
    const size_t again = Mark();
    EXPECT_EQ(graph_->Uninitialize(), 1);
    EXPECT_EQ(vcam_.CallsFrom(again), Calls{});
    EXPECT_EQ(plugin_.Uninits(), c.uninits);
  }
}

TEST_F(RendGraphTest, BusyPictureIsTheBlackFrameWithoutDevBusyBmp) {
  StartAndSettle();
  BitmapInfoHeader h{};
  std::vector<uint8_t> logo(153600);
  ASSERT_EQ(vcam_.GetLogo(&h, logo.data(), static_cast<uint32_t>(logo.size())), 153600u);
  EXPECT_EQ(h.biWidth, 320);
  EXPECT_EQ(h.biHeight, 240);
  EXPECT_EQ(h.biCompression, kFourccYUY2);
  for (size_t i = 0; i < logo.size(); i += 4) {
    ASSERT_EQ(logo[i], 16);
    ASSERT_EQ(logo[i + 1], 128);
    ASSERT_EQ(logo[i + 2], 16);
    ASSERT_EQ(logo[i + 3], 128);
  }
}

TEST_F(RendGraphTest, SucceedingRequestReportsStreamingAndRecordsTheResolution) {
  StartAndSettle();
  const size_t mark = Mark();
  OpenAt(320, 240, 400000);
  EXPECT_EQ(vcam_.CallsFrom(mark),
            (Calls{"OruVCapGetCurrentResolution()", "OruVCapSetDevicePinObj(0)",
                   "OruVCapSetDevicePinObj(handle)", "OruVCapSetChangeResResult(0x0)",
                   "OruVCapSetWorkMode(1)"}));
  EXPECT_EQ(graph_->currentResolution.load(), PackResolution(320, 240));
  EXPECT_EQ(graph_->frameInterval, 400000);
  EXPECT_EQ(fake_.lastWidth, 320u);
  EXPECT_EQ(fake_.lastHeight, 240u);
  EXPECT_EQ(graph_->pipeline.outputHeader.biSizeImage, 153600u);
}

TEST_F(RendGraphTest, SameSizeRequestOnlyReportsSuccess) {
  StartAndSettle();
  OpenAt(320, 240);
  const uint32_t builds = fake_.builds;
  const size_t mark = Mark();
  ASSERT_EQ(vcam_.ConsumerOpen(320, 240, 0), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapGetCurrentResolution()", 3));
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetChangeResResult(0x0)", 3));
  EXPECT_EQ(vcam_.CallsFrom(mark),
            (Calls{"OruVCapGetCurrentResolution()", "OruVCapSetChangeResResult(0x0)"}));
  EXPECT_EQ(fake_.builds.load(), builds);
}

TEST_F(RendGraphTest, PackedZeroClosesTheCameraAndReportsIdle) {
  StartAndSettle();
  OpenAt(320, 240);
  const size_t mark = Mark();
  ASSERT_EQ(vcam_.ConsumerClose(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(0)", 2));
  EXPECT_EQ(vcam_.CallsFrom(mark),
            (Calls{"OruVCapGetCurrentResolution()", "OruVCapSetDevicePinObj(0)",
                   "OruVCapSetChangeResResult(0x0)", "OruVCapSetWorkMode(0)"}));
  EXPECT_EQ(graph_->currentResolution.load(), 0u);
  EXPECT_EQ(plugin_.Aborts(), 1u);
}

TEST_F(RendGraphTest, FailingBuildReportsEFailAndFailedMode) {
  StartAndSettle();
  fake_.build = test::FakeGraph::Build::Fail;
  const size_t mark = Mark();
  ASSERT_EQ(vcam_.ConsumerOpen(640, 480, 0), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(2)"));
  EXPECT_EQ(vcam_.CallsFrom(mark),
            (Calls{"OruVCapGetCurrentResolution()", "OruVCapSetDevicePinObj(0)",
                   "OruVCapSetDevicePinObj(0)", "OruVCapSetChangeResResult(0x80004005)",
                   "OruVCapSetWorkMode(2)"}));
  EXPECT_EQ(graph_->currentResolution.load(), 0u);

  // The next request tries again.
  fake_.build = test::FakeGraph::Build::Succeed;
  OpenAt(640, 480);
  EXPECT_EQ(graph_->currentResolution.load(), PackResolution(640, 480));
}

TEST_F(RendGraphTest, BuildWithoutACameraFailsThroughDirectShow) {
  test::ClearCameras();
  graph_->captureGraph = nullptr;
  StartAndSettle();
  ASSERT_EQ(vcam_.ConsumerOpen(640, 480, 0), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(2)"));
  EXPECT_EQ(vcam_.CountCalls("OruVCapSetChangeResResult(0x80004005)"), 1u);
  EXPECT_EQ(graph_->currentResolution.load(), 0u);
}

TEST_F(RendGraphTest, CloseDeviceEventStopsTheGraphAndAcknowledges) {
  StartAndSettle();
  OpenAt(320, 240);
  const size_t mark = Mark();
  ASSERT_EQ(vcam_.RequestCloseDevice(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetCloseDevFinish()"));
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(0)", 2));
  EXPECT_EQ(vcam_.CallsFrom(mark), (Calls{"OruVCapSetDevicePinObj(0)", "OruVCapSetCloseDevFinish()",
                                           "OruVCapSetWorkMode(0)"}));
  EXPECT_EQ(graph_->currentResolution.load(), 0u);
}

TEST_F(RendGraphTest, DeviceEventReportsThePhysicalDeviceStatus) {
  StartAndSettle();
  fake_.deviceStatus = 1;
  ASSERT_EQ(vcam_.RequestDeviceStatus(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetDeviceStatus(1)"));
}

TEST_F(RendGraphTest, The3DEventStoresTheNewSettings) {
  vcam_.SetSupport3D(1);
  StartAndSettle();
  ASSERT_EQ(vcam_.Change3D(1, 2, 3), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapGet3DSettings()"));
  // The loop handles one wake-up at a time: once the next request is answered, the
  // settings of the earlier one are stored.
  ASSERT_EQ(vcam_.RequestDeviceStatus(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetDeviceStatus(1)"));
  EXPECT_EQ(graph_->settings3D[0].load(), 1u);
  EXPECT_EQ(graph_->settings3D[1].load(), 2u);
  EXPECT_EQ(graph_->settings3D[2].load(), 3u);
}

TEST_F(RendGraphTest, DeviceLostWithRemovalRepollsAndReopens) {
  StartAndSettle();
  OpenAt(320, 240);
  const size_t mark = Mark();
  fake_.PushEvent(0x0D, 0, 0);  // another event first: consumed and ignored
  fake_.PushEvent(EC_DEVICE_LOST, 0, 0);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(1)", 2));
  EXPECT_EQ(vcam_.CallsFrom(mark),
            (Calls{"OruVCapSetDevicePinObj(0)", "OruVCapSetWorkMode(2)",
                   "OruVCapGetCurrentResolution()", "OruVCapSetDevicePinObj(0)",
                   "OruVCapSetDevicePinObj(handle)", "OruVCapSetChangeResResult(0x0)",
                   "OruVCapSetWorkMode(1)"}));
}

TEST_F(RendGraphTest, DeviceLostWithArrivalIsIgnored) {
  StartAndSettle();
  OpenAt(320, 240);
  const size_t mark = Mark();
  fake_.PushEvent(EC_DEVICE_LOST, 0, 1);
  ASSERT_TRUE(fake_.WaitEventsTaken(1));
  // A later request is answered normally, and nothing came between.
  ASSERT_EQ(vcam_.RequestDeviceStatus(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetDeviceStatus(1)"));
  EXPECT_EQ(vcam_.CallsFrom(mark), Calls{"OruVCapSetDeviceStatus(1)"});
  EXPECT_EQ(graph_->currentResolution.load(), PackResolution(320, 240));
}

TEST_F(RendGraphTest, FailedResolutionQueryIsIgnored) {
  StartAndSettle();
  vcam_.SetResolutionResult(kEFail);
  const size_t mark = Mark();
  ASSERT_EQ(vcam_.ConsumerOpen(320, 240, 0), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapGetCurrentResolution()", 2));
  ASSERT_EQ(vcam_.RequestDeviceStatus(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetDeviceStatus(1)"));
  EXPECT_EQ(vcam_.CallsFrom(mark),
            (Calls{"OruVCapGetCurrentResolution()", "OruVCapSetDeviceStatus(1)"}));
  EXPECT_EQ(fake_.builds.load(), 0u);
}

TEST_F(RendGraphTest, NotifyDeviceChangeBeforeTheThreadStartsOnlyReturns) {
  for (uint32_t code : {2024u, 2025u, 2026u, 2027u, 2028u, 2029u}) {
    EXPECT_EQ(graph_->NotifyDeviceChange(code, 0, u"USB Camera"), 0);
  }
  EXPECT_EQ(graph_->NotifyDeviceChange(2027, 0, nullptr), 0);
  EXPECT_EQ(vcam_.CallCount(), 0u);
}

TEST_F(RendGraphTest, NotifyDeviceChangeCodes) {
  StartAndSettle();
  OpenAt(320, 240);
  const uint32_t builds = fake_.builds;

  // 2025 only wakes the loop and 2028 is not posted: neither reaches the camera. 2027 polls.
  size_t mark = Mark();
  EXPECT_EQ(graph_->NotifyDeviceChange(NOTIFY_IGNORED, 0, u"cam"), 0);
  EXPECT_EQ(graph_->NotifyDeviceChange(NOTIFY_REMOVAL, 0, u"cam"), 0);
  EXPECT_EQ(graph_->NotifyDeviceChange(NOTIFY_ARRIVAL, 0, u"cam"), 0);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetChangeResResult(0x0)", 3));
  EXPECT_EQ(vcam_.CallsFrom(mark),
            (Calls{"OruVCapGetCurrentResolution()", "OruVCapSetChangeResResult(0x0)"}));
  EXPECT_EQ(fake_.builds.load(), builds);

  // 2026 forgets the open resolution, so the same request opens the camera again.
  mark = Mark();
  EXPECT_EQ(graph_->NotifyDeviceChange(NOTIFY_RESET, 0, u"cam"), 0);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(1)", 2));
  EXPECT_EQ(vcam_.CallsFrom(mark),
            (Calls{"OruVCapGetCurrentResolution()", "OruVCapSetDevicePinObj(0)",
                   "OruVCapSetDevicePinObj(handle)", "OruVCapSetChangeResResult(0x0)",
                   "OruVCapSetWorkMode(1)"}));
  EXPECT_EQ(fake_.builds.load(), builds + 1);
}

TEST_F(RendGraphTest, NotifyDeviceChangeTracesArrivalAndRemovalWhetherOrNotPosted) {
  // Only 2027 and 2028 write to the trace channel, with the device name; the line is
  // written whether or not the worker runs to receive a message.
  struct Case {
    uint32_t code;
    const char16_t* name;
    std::u16string line;  // as the trace file holds it, line end included
  } cases[] = {
      {2024, u"cam", u""},
      {NOTIFY_IGNORED, u"cam", u""},
      {NOTIFY_RESET, u"cam", u""},
      {NOTIFY_ARRIVAL, u"USB Camera", u"New Device Arrival:USB Camera\r\n"},
      {NOTIFY_REMOVAL, u"USB Camera", u"Device removal:USB Camera\r\n"},
      {NOTIFY_ARRIVAL, u"Kamera \u00E9 100%s", u"New Device Arrival:Kamera \u00E9 100%s\r\n"},
      {NOTIFY_REMOVAL, nullptr, u"Device removal:\r\n"},
      {2029, u"cam", u""},
  };
  for (bool running : {false, true}) {
    if (running) StartAndSettle();
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.code) + (running ? " running" : " not started"));
      Clean();
      ASSERT_TRUE(platform::CreateDirectories(test::NativeFile("C:\\QuillonVCapture").c_str()));
      test::SetDword("SOFTWARE\\Quillon\\OruVCapture\\Install\\", "Log", 1);
      EXPECT_EQ(graph_->NotifyDeviceChange(c.code, 7, c.name), 0);
      const std::optional<std::string> trace = test::ReadBytes(test::NativeFile("C:\\QuillonVCapture\\Log.txt"));
      if (c.line.empty()) {
        EXPECT_FALSE(trace);
      } else {
        EXPECT_EQ(trace, "\xFF\xFE" + test::Utf16Le(c.line));
      }
    }
  }
}

TEST_F(RendGraphTest, ResolutionChangeMessageAppliesItsSizeAndInterval) {
  StartAndSettle();
  auto* interval = new int64_t(666666);
  ASSERT_TRUE(platform::PostThreadMessageTo(graph_->threadId.load(), MSG_RESOLUTION_CHANGE,
                                            PackResolution(160, 120),
                                            reinterpret_cast<intptr_t>(interval)));
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(1)"));
  EXPECT_EQ(graph_->currentResolution.load(), PackResolution(160, 120));
  EXPECT_EQ(graph_->frameInterval, 666666);
}

TEST_F(RendGraphTest, QuitEndsTheLoopWithoutHandlingTheRequestsBehindIt) {
  StartAndSettle();
  const uint32_t builds = fake_.builds;
  // The worker is busy with a request while the quit message and more requests queue up
  // behind it, in the order a host's Stop and its notifications would post them.
  fake_.HoldBuilds();
  ASSERT_EQ(vcam_.ConsumerOpen(320, 240, 0), 1);
  ASSERT_TRUE(fake_.WaitBuildHeld());
  const uint32_t id = graph_->threadId.load();
  ASSERT_TRUE(platform::PostThreadMessageTo(id, platform::kQuitMessage, 0, 0));
  ASSERT_TRUE(platform::PostThreadMessageTo(id, NOTIFY_ARRIVAL, 0, 0));
  ASSERT_TRUE(platform::PostThreadMessageTo(id, NOTIFY_RESET, 0, 0));
  // Its interval block is the receiver's to free, handled or not (a leak shows under LSan).
  ASSERT_TRUE(platform::PostThreadMessageTo(id, MSG_RESOLUTION_CHANGE, PackResolution(640, 480),
                                            reinterpret_cast<intptr_t>(new int64_t(666666))));
  const size_t mark = Mark();
  fake_.ReleaseBuilds();

  // The request in hand is finished and answered; the quit then shuts the camera down and
  // ends the worker by itself, and nothing queued behind the quit runs.
  ASSERT_EQ(platform::WaitThread(graph_->threadHandle, test::kWaitMs), platform::kWaitObject0);
  Calls expected = {"OruVCapSetDevicePinObj(0)", "OruVCapSetDevicePinObj(handle)",
                    "OruVCapSetChangeResResult(0x0)", "OruVCapSetWorkMode(1)"};
  expected.insert(expected.end(), kWorkerShutdown.begin(), kWorkerShutdown.end());
  EXPECT_EQ(vcam_.CallsFrom(mark), expected);
  EXPECT_EQ(fake_.builds.load(), builds + 1);
  EXPECT_EQ(graph_->threadId.load(), 0u);
  EXPECT_EQ(graph_->busyPixels, nullptr);
  EXPECT_EQ(graph_->blackPixels, nullptr);

  // Uninitialize releases the rest, once; still nothing queued runs.
  const size_t released = Mark();
  EXPECT_EQ(graph_->Uninitialize(), 1);
  EXPECT_EQ(vcam_.CallsFrom(released), (Calls{"OruVCapSetDevicePinObj(0)", "OruVCapSetWorkMode(0)"}));
  EXPECT_EQ(graph_->threadHandle, nullptr);
  EXPECT_FALSE(graph_->vcam.IsLoaded());
  EXPECT_FALSE(graph_->instanceEvent.valid());
  EXPECT_EQ(graph_->pipeline.outputBuffer, nullptr);
  EXPECT_EQ(graph_->plugin.pluginModule, nullptr);
  EXPECT_EQ(plugin_.Uninits(), 1u);
  EXPECT_EQ(graph_->Uninitialize(), 1);
  EXPECT_EQ(vcam_.CallsFrom(released).size(), 2u);
  EXPECT_EQ(plugin_.Uninits(), 1u);
  EXPECT_EQ(fake_.builds.load(), builds + 1);
  EXPECT_EQ(graph_->frameInterval, kDefaultFrameInterval);
}

TEST_F(RendGraphTest, WorkerStuckPastTheGraceIsEndedAndEverythingReleasedOnce) {
  StartAndSettle();
  fake_.HoldBuilds();
  ASSERT_EQ(vcam_.ConsumerOpen(320, 240, 0), 1);
  ASSERT_TRUE(fake_.WaitBuildHeld());
  const size_t mark = Mark();
  // The worker never sees WM_QUIT: Stop ends it by force after its 5000 ms grace, and the
  // shutdown goes on without the worker's own sequence.
  EXPECT_EQ(graph_->Uninitialize(), 1);
  EXPECT_EQ(vcam_.CallsFrom(mark), (Calls{"OruVCapSetDevicePinObj(0)", "OruVCapSetWorkMode(0)"}));
  EXPECT_EQ(graph_->threadHandle, nullptr);
  EXPECT_EQ(graph_->threadId.load(), 0u);
  EXPECT_FALSE(graph_->vcam.IsLoaded());
  EXPECT_FALSE(graph_->closeDeviceEvent.valid());
  EXPECT_EQ(graph_->plugin.pluginModule, nullptr);
  EXPECT_EQ(plugin_.Uninits(), 1u);
  EXPECT_EQ(graph_->Uninitialize(), 1);
  EXPECT_EQ(vcam_.CallsFrom(mark).size(), 2u);
  fake_.ReleaseBuilds();
}

// A camera driver that hangs in Run or Stop keeps the worker inside BuildGraph or StopGraph,
// under the graph lock, past Stop's grace. On Windows TerminateThread ends it where it stands
// and the lock stays held for good: Uninitialize then leaves the graph as it is, calls into
// none of it, and says so in the log. On Linux the forced end unwinds the worker, which lets
// go of the lock, and the graph is torn down as after any stop. Either way Uninitialize
// returns, and everything else is released once.
TEST_F(RendGraphTest, WorkerEndedInsideTheGraphLockDoesNotHangUninitialize) {
  using Hold = test::FakeGraph::Hold;
  struct Case {
    const char* name;
    Hold where;
  } cases[] = {
      {"camera hangs in Run", Hold::Run},
      {"camera hangs in Stop", Hold::Stop},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clean();
    vcam_.Reset();
    plugin_.Reset(test::PluginStandIn::kNormal);
    MakeGraph();
    test::SetDword("SOFTWARE\\Quillon\\OruVCapture\\", "Log", 1);
    StartAndSettle();
    if (c.where == Hold::Stop) {
      OpenAt(320, 240);
      fake_.HoldAt(Hold::Stop);
      ASSERT_EQ(vcam_.ConsumerClose(), 1);  // packed 0: the worker stops the graph
    } else {
      fake_.HoldAt(Hold::Run);
      ASSERT_EQ(vcam_.ConsumerOpen(320, 240, 0), 1);
    }
    ASSERT_TRUE(fake_.WaitBuildHeld());
    const size_t mark = Mark();
    const uint32_t stops = fake_.stops;

    // On a thread of its own, so that a hang fails the test rather than the whole run.
    struct Call {
      CVDRendGraphImpl* graph;
      std::atomic<int32_t> result{0};
    };
    auto* call = new Call{graph_.get()};
    platform::UniqueThread uninitialize(platform::CreateThread(
        [](void* p) -> uint32_t {
          auto* c = static_cast<Call*>(p);
          c->result = c->graph->Uninitialize();
          return 0;
        },
        call, false, nullptr));
    ASSERT_TRUE(uninitialize.get());
    if (platform::WaitThread(uninitialize.get(), test::kWaitMs) != platform::kWaitObject0) {
      // The object and the call stuck in it are left behind, so the suite can go on.
      (void)graph_.release();
      fake_.ReleaseBuilds();
      FAIL() << "Uninitialize did not return within " << test::kWaitMs << " ms";
    }
    EXPECT_EQ(call->result.load(), 1);
    delete call;

    const std::string log = test::ReadBytes(test::NativeFile("c:\\QuillonVCapture.log")).value_or("");
    const bool leftAsItIs = log.find("the capture graph is left as it is") != std::string::npos;
    if (platform::kWindowsBuild) {
      EXPECT_TRUE(leftAsItIs) << log;
      EXPECT_EQ(vcam_.CallsFrom(mark), (Calls{"OruVCapSetWorkMode(0)"}));
      EXPECT_EQ(fake_.stops.load(), stops);
    } else {
      EXPECT_FALSE(leftAsItIs) << log;
      EXPECT_EQ(vcam_.CallsFrom(mark), (Calls{"OruVCapSetDevicePinObj(0)", "OruVCapSetWorkMode(0)"}));
      EXPECT_EQ(fake_.stops.load(), stops + 1);
    }
    EXPECT_FALSE(graph_->mediaEvent);
    EXPECT_EQ(graph_->threadHandle, nullptr);
    EXPECT_EQ(graph_->threadId.load(), 0u);
    EXPECT_EQ(graph_->currentResolution.load(), 0u);
    EXPECT_FALSE(graph_->vcam.IsLoaded());
    EXPECT_FALSE(graph_->closeDeviceEvent.valid());
    EXPECT_EQ(graph_->pipeline.outputBuffer, nullptr);
    EXPECT_EQ(graph_->plugin.pluginModule, nullptr);
    EXPECT_EQ(plugin_.Uninits(), 1u);
    const size_t again = Mark();
    EXPECT_EQ(graph_->Uninitialize(), 1);
    EXPECT_EQ(vcam_.CallsFrom(again), Calls{});
    fake_.ReleaseBuilds();
  }
}

TEST_F(RendGraphTest, ExceptionInTheLoopClosesAndReopensTheCamera) {
  StartAndSettle();
  fake_.throwOnStatus = true;
  const size_t mark = Mark();
  ASSERT_EQ(vcam_.RequestDeviceStatus(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruFakeCaptureOpen()", 2));
  fake_.throwOnStatus = false;
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetChangeResResult(0x0)", 3));
  Calls expected = kWorkerShutdown;
  expected.insert(expected.end(), kStartup.begin(), kStartup.end());
  EXPECT_EQ(vcam_.CallsFrom(mark), expected);
}

TEST_F(RendGraphTest, StreamedFramesReachTheCameraThroughThePlugIn) {
  StartAndSettle();
  OpenAt(4, 2);
  BitmapInfoHeader h{};
  h.biSize = 40;
  h.biWidth = 4;
  h.biHeight = 2;
  h.biBitCount = 16;
  h.biCompression = kFourccYUY2;
  std::vector<uint8_t> frame = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  fake_.SetFrame(h, frame);
  fake_.PushFrames(3);
  ASSERT_EQ(vcam_.WaitForFrames(3, test::kWaitMs), 1);
  std::vector<uint8_t> got(16);
  EXPECT_EQ(vcam_.GetLastFrame(nullptr, got.data(), 16), 16u);
  frame[0] = 0xEE;  // the plug-in's rewrite
  EXPECT_EQ(got, frame);
  EXPECT_EQ(plugin_.Frames(), 3u);
  EXPECT_EQ(plugin_.LastSizeImage(), 16u);
}

TEST_F(RendGraphTest, PlugInIsAbortedAtEachStopAndReleasedOnce) {
  StartAndSettle();
  OpenAt(320, 240);
  ASSERT_EQ(vcam_.ConsumerClose(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(0)", 2));
  OpenAt(640, 480);
  ASSERT_EQ(vcam_.ConsumerClose(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(0)", 3));
  EXPECT_EQ(plugin_.Aborts(), 2u);
  EXPECT_EQ(plugin_.Uninits(), 0u);
  EXPECT_EQ(graph_->Uninitialize(), 1);
  EXPECT_EQ(plugin_.Aborts(), 3u);
  EXPECT_EQ(plugin_.Uninits(), 1u);
}

TEST_F(RendGraphTest, CompanionAppStartsAfterASuccessfulOpenWhenNotRunning) {
  const auto exe = test::NativeFile("c:\\Photoria.exe");
  test::WriteBytes(exe, "MZ");
  test::SetString("SOFTWARE\\Quillon\\Photoria 5\\Photoria", "AppName", u"c:\\Photoria.exe");
  StartAndSettle();
  ASSERT_EQ(std::u16string(graph_->companionPath), u"c:\\Photoria.exe");

  fake_.build = test::FakeGraph::Build::Fail;  // a failed open starts nothing
  ASSERT_EQ(vcam_.ConsumerOpen(640, 480, 0), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetWorkMode(2)"));
  EXPECT_EQ(g_launches.load(), 0);

  fake_.build = test::FakeGraph::Build::Succeed;
  OpenAt(320, 240);
  // The launch follows the work-mode report on the worker: once the worker has answered a
  // later event, it has happened.
  fake_.deviceStatus = 1;
  ASSERT_EQ(vcam_.RequestDeviceStatus(), 1);
  ASSERT_TRUE(vcam_.WaitForCall("OruVCapSetDeviceStatus(1)"));
  EXPECT_EQ(g_launches.load(), 1);
  EXPECT_EQ(g_launchedPath, u"c:\\Photoria.exe");

  g_companionRunning = 1;  // already running: not started again
  OpenAt(640, 480);
  EXPECT_EQ(g_launches.load(), 1);
}

TEST(RendGraphExports, CreateAndReleaseThroughTheLibrary) {
  platform::UniqueModule kestrel(platform::LoadModule("Kestrel.dll"));
  ASSERT_TRUE(kestrel);
  int32_t (*create)(IRendGraph**) = nullptr;
  void (*release)(IRendGraph**) = nullptr;
  ASSERT_TRUE(platform::BindModuleSymbol(kestrel.get(), "CreatRendGraph", &create));
  ASSERT_TRUE(platform::BindModuleSymbol(kestrel.get(), "ReleaseRendGraph", &release));
  IRendGraph* graph = nullptr;
  EXPECT_EQ(create(&graph), 1);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(graph->Uninitialize(), 1);  // never initialised: nothing to do
  EXPECT_EQ(graph->NotifyDeviceChange(2027, 0, u"cam"), 0);
  release(&graph);
  EXPECT_EQ(graph, nullptr);
  release(&graph);  // null: only stores null
  EXPECT_EQ(graph, nullptr);
  release(nullptr);
}

TEST(RendGraphExports, ReleaseFreesOnlyAnObjectCreateHandedOutAndOnlyOnce) {
  platform::UniqueModule kestrel(platform::LoadModule("Kestrel.dll"));
  ASSERT_TRUE(kestrel);
  int32_t (*create)(IRendGraph**) = nullptr;
  void (*release)(IRendGraph**) = nullptr;
  ASSERT_TRUE(platform::BindModuleSymbol(kestrel.get(), "CreatRendGraph", &create));
  ASSERT_TRUE(platform::BindModuleSymbol(kestrel.get(), "ReleaseRendGraph", &release));
  IRendGraph* graph = nullptr;
  ASSERT_EQ(create(&graph), 1);
  IRendGraph* again = graph;
  release(&graph);
  release(&again);  // released already: not freed a second time
  EXPECT_EQ(again, nullptr);
  // Never handed out (it lives on this stack): left alone.
  CVDRendGraphImpl local;
  IRendGraph* foreign = &local;
  release(&foreign);
  EXPECT_EQ(foreign, nullptr);
  EXPECT_EQ(local.Uninitialize(), 1);
}

// A graph left as it is may still call back into its object (the renderer holds its
// address), so release keeps such an object; AddressSanitizer sees a freed one read here.
TEST(RendGraphExports, ReleaseKeepsAnObjectWhoseGraphWasLeftAsItIs) {
  IRendGraph* graph = nullptr;
  ASSERT_EQ(CreateRendGraphObject(&graph), 1);
  auto* object = static_cast<CVDRendGraphImpl*>(graph);
  object->graphAbandoned = true;
  ReleaseRendGraphObject(&graph);
  EXPECT_EQ(graph, nullptr);
  EXPECT_TRUE(object->graphAbandoned.load());
  delete object;
}

}  // namespace
