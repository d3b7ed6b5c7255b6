// The render-graph object that the host service drives: its interface, its worker-thread
// base and the object itself, with the fields the worker loop, the capture graph, the frame
// pipeline, the plug-in host, the profile file and the busy picture share.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "graph/frame_pipeline.h"
#include "graph/frame_types.h"
#include "graph/plugin_binding.h"
#include "graph/rend_graph_api.h"
#include "graph/vcam_binding.h"
#include "media/dshow.h"
#include "media/com_ptr.h"
#include "media/media_type.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/thread.h"

// Owns one worker thread that runs Run at time-critical priority.
class CThreadBase {
 public:
  virtual uint32_t Run() = 0;

  // Creates the thread suspended, raises its priority and lets it go; 0 on failure.
  int32_t Start();
  // Posts WM_QUIT, waits up to 5000 ms, terminates the thread when it has not ended, and
  // clears handle and identifier. True when the thread had to be terminated.
  bool Stop();

  platform::ThreadObject* threadHandle = nullptr;
  std::atomic<uint32_t> threadId{0};

 protected:
  ~CThreadBase() = default;

 private:
  static uint32_t ThreadEntry(void* self);
};

// Thread messages and host notification codes of the worker thread.
inline constexpr uint32_t MSG_RESOLUTION_CHANGE = 0x401;

inline constexpr int64_t kDefaultFrameInterval = 333333;

class CVDRendGraphImpl;
struct DeviceAllowList;

// Tests only: a stand-in for the capture graph. When the object holds one, BuildGraph,
// StopGraph and QueryPhysicalDeviceStatus go to it instead of DirectShow, so the worker loop
// can be driven without a camera.
class CaptureGraphBackend {
 public:
  virtual ~CaptureGraphBackend() = default;
  virtual HResult BuildGraph(CVDRendGraphImpl& owner, uint32_t width, uint32_t height) = 0;
  virtual void StopGraph(CVDRendGraphImpl& owner) = 0;
  virtual uint32_t QueryPhysicalDeviceStatus(CVDRendGraphImpl& owner) = 0;
};

inline constexpr uint32_t kAllowListEntryChars = 260;  // 520 bytes

class CVDRendGraphImpl : public IRendGraph, public CThreadBase {
 public:
  CVDRendGraphImpl();
  CVDRendGraphImpl(const CVDRendGraphImpl&) = delete;
  CVDRendGraphImpl& operator=(const CVDRendGraphImpl&) = delete;
  virtual ~CVDRendGraphImpl();

  // IRendGraph
  int32_t Initialize(int32_t reserved) override;
  int32_t Uninitialize() override;
  int32_t NotifyDeviceChange(uint32_t code, uint32_t value, const char16_t* name) override;

  // Worker loop.
  uint32_t Run() override;
  void PollResolution();
  void ApplyResolution(uint32_t packed, int64_t interval);
  HResult HandleGraphEvent();
  void ReleaseResources();

  // Capture graph, on the worker thread. BuildGraph opens the first usable camera at
  // width x height and runs camera -> (MJPEG decoder) -> "VD Render"; the failing HRESULT
  // otherwise (the caller then stops the graph). With the log switch on, the result is that
  // of the running-object-table registration.
  HResult BuildGraph(uint32_t width, uint32_t height);
  // Under the graph lock: pin object 0 to the virtual camera, then TearDownGraph.
  void StopGraph();
  // Uninitialize's StopGraph, after the worker was stopped (`forcedEnd`: by TerminateThread).
  // A worker ended by force may have died holding the graph lock (on Windows nothing unwinds
  // it), and with it the locks of the DirectShow objects it was calling: when the lock is
  // still held, the graph is left as it is (AbandonGraph) and false returned.
  bool StopGraphAfterWorker(bool forcedEnd);
  // Lets go of the graph without calling into it: its references are dropped unreleased, the
  // running-object-table entry stays, and the pipeline takes no more frames. Logged.
  void AbandonGraph();
  // Unregisters, stops (aborting the plug-in when the stop succeeded, frameInterval back to
  // its default) and releases the graph; currentResolution 0.
  void TearDownGraph();
  HResult StopRunningGraph();
  HResult RenderCaptureStream(uint32_t width, uint32_t height, int32_t allowExplicit);
  HResult AddMjpegDecoder();
  // The first usable camera by the object's allow-list; E_FAIL with *filter null if none.
  HResult GetCaptureDevice(IBaseFilter** filter);
  // 1 when the running graph holds "Video Capture" or, without a graph, a camera is found.
  uint32_t QueryPhysicalDeviceStatus();
  // Plug-in host.
  void LoadFramePlugin();
  void AbortFramePlugin();
  void UnloadFramePlugin();

  // Profile file and busy picture.
  void LoadCaptureProfile();
  void LoadCaptureProfile(const char* path);
  void LoadBusyPicture();
  void LoadBusyPicture(const char* bitmapPath);
  void FreeBusyPictures();

  // ---- fields, in declaration order ----
  std::atomic<int32_t> running{0};
  int32_t is64BitWindows = 0;
  media::ComPtr<IMediaEvent> mediaEvent;
  media::ComPtr<IGraphBuilder> graph;
  media::ComPtr<ICaptureGraphBuilder2> captureBuilder;
  media::ComPtr<IBaseFilter> captureFilter;
  media::ComPtr<IBaseFilter> renderFilter;
  media::ComPtr<IBaseFilter> decoderFilter;
  DWORD rotCookie = 0;
  platform::Event closeDeviceEvent;
  platform::Event deviceEvent;
  platform::Event instanceEvent;
  std::recursive_mutex graphLock;
  std::atomic<uint32_t> currentResolution{0};
  // cachedHeader, the conversion buffer, outputBuffer, outputCapacity and outputHeader.
  FramePipeline pipeline{PipelineLinks()};
  int64_t frameInterval = kDefaultFrameInterval;
  std::unique_ptr<uint8_t[]> busyPixels;
  BitmapInfoHeader busyHeader{};
  std::unique_ptr<uint8_t[]> blackPixels;
  BitmapInfoHeader blackHeader{};
  int32_t allowListEnabled = 0;
  std::vector<std::unique_ptr<char16_t[]>> allowList;
  uint32_t support3D = 0;
  platform::Event event3D;
  std::atomic<uint32_t> settings3D[3] = {0, 0, 0};
  // pluginModule, pluginInstance and the four entry points.
  PluginBinding plugin;
  char16_t companionPath[260] = {};

  // ---- the object's collaborators ----
  VirtualCameraLibrary vcam;
  // Not owned; null (DirectShow) unless a test installs a stand-in.
  CaptureGraphBackend* captureGraph = nullptr;
  // Set when Uninitialize had to leave the graph as it is: its renderer may still hold the
  // pipeline's address as its callback context, so ReleaseRendGraph keeps the object.
  std::atomic<bool> graphAbandoned{false};
  // The diagnostic graph file.
  const char16_t* graphFilePath = u"C:\\VLM.grf";
  // The plug-in's file name, and the pause between failed opens of the virtual camera.
  const char* pluginFileName = "Frameport.dll";
  uint32_t openRetryMs = 2000;
  // Debugger output (OutputDebugStringW); replaceable so tests can watch it.
  void (*debugOutput)(std::u16string_view text);
  // The session launcher that starts the companion application after a camera opened;
  // replaceable so tests start nothing.
  int (*isProcessRunning)(const char16_t* exePath);
  int (*launchCompanionApp)(const char16_t* exePath);

 private:
  int32_t InitializeSteps(int32_t reserved);
  int32_t UninitializeSteps();
  int32_t NotifyDeviceChangeSteps(uint32_t code, uint32_t value, const char16_t* name);
  void RunSession();
  HResult ConstructGraph(uint32_t width, uint32_t height);
  DeviceAllowList AllowList() const;
  void ShutDownVirtualCamera();
  void StartCompanionIfNeeded();
  bool HandleThreadMessages();  // false on WM_QUIT
  void DiscardThreadMessages();
  void RegisterWithVirtualCamera();
  // The pipeline reads the requested size, the 3D switch, the plug-in and the virtual camera.
  FramePipeline::Links PipelineLinks();
};

// What the library's exports do: create the one object (null stored when it cannot be
// allocated; 1 either way) and free it (null stored; the host calls Uninitialize first).
// Release frees only an object that create handed out and that was not released yet.
int32_t CreateRendGraphObject(IRendGraph** out);
void ReleaseRendGraphObject(IRendGraph** graph);
