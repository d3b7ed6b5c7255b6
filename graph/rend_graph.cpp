// The render-graph object: creation, initialisation and shutdown, the worker thread and its
// loop that keeps the virtual camera and the physical camera in step.
#include "graph/rend_graph.h"

#include <chrono>
#include <thread>
#include <unordered_set>

#include "graph/diagnostics.h"
#include "graph/launcher.h"
#include "pixel/features.h"
#include "platform/debug_output.h"
#include "platform/exception_guard.h"
#include "platform/text.h"

namespace {

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

constexpr uint32_t kStopGraceMs = 5000;
constexpr uint32_t kWaitTimeoutMs = 500;
constexpr uint32_t kResetPauseMs = 1000;

}  // namespace

// ---- CThreadBase ----

int32_t CThreadBase::Start() {
  uint32_t id = 0;
  platform::ThreadObject* t = platform::CreateThread(&CThreadBase::ThreadEntry, this, true, &id);
  if (!t) return 0;
  threadHandle = t;
  threadId.store(id);
  platform::SetThreadPriority(t, platform::ThreadPriority::TimeCritical);
  platform::ResumeThread(t);
  return 1;
}

bool CThreadBase::Stop() {
  bool forced = false;
  if (threadHandle) {
    const uint32_t id = threadId.load();
    if (id) platform::PostThreadMessageTo(id, platform::kQuitMessage, 0, 0);
    if (platform::WaitThread(threadHandle, kStopGraceMs) != platform::kWaitObject0) {
      forced = true;
      platform::TerminateThread(threadHandle, 0);
      // The forced end takes effect at the thread's next wait; give it that long.
      platform::WaitThread(threadHandle, kStopGraceMs);
    }
    platform::CloseThread(threadHandle);
  }
  threadHandle = nullptr;
  threadId.store(0);
  return forced;
}

uint32_t CThreadBase::ThreadEntry(void* self) {
  auto* base = static_cast<CThreadBase*>(self);
  // The worker's own single-threaded apartment, on both builds (the media layer's COM).
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // A forced end (Stop after its grace period) unwinds through the guard to the start.
  const uint32_t result = platform::Guarded(uint32_t{0}, [base] { return base->Run(); });
  CoUninitialize();
  return result;
}

// ---- creation ----

CVDRendGraphImpl::CVDRendGraphImpl()
    : debugOutput(&platform::DebugOutput),
      isProcessRunning(&IsProcessRunning),
      launchCompanionApp(&LaunchCompanionApp) {}

FramePipeline::Links CVDRendGraphImpl::PipelineLinks() {
  return {.resolution = &currentResolution, .support3D = &support3D, .settings3D = settings3D,
          .debugOutput = &debugOutput, .plugin = &plugin, .sink = &VirtualCameraLibrary::TakeFrame,
          .sinkContext = &vcam};
}

CVDRendGraphImpl::~CVDRendGraphImpl() {
  // The host calls Uninitialize first; a thread still running would outlive its object.
  if (threadHandle) Stop();
}

// ---- IRendGraph ----

// The three operations the host calls: an exception stops at each of them as a failure.
int32_t CVDRendGraphImpl::Initialize(int32_t reserved) {
  return platform::Guarded(int32_t{0}, [&] { return InitializeSteps(reserved); });
}

int32_t CVDRendGraphImpl::Uninitialize() {
  return platform::Guarded(int32_t{1}, [&] { return UninitializeSteps(); });
}

int32_t CVDRendGraphImpl::NotifyDeviceChange(uint32_t code, uint32_t value, const char16_t* name) {
  return platform::Guarded(int32_t{0}, [&] { return NotifyDeviceChangeSteps(code, value, name); });
}

int32_t CVDRendGraphImpl::InitializeSteps(int32_t /*reserved*/) {
  if (!vcam.Load()) return 0;
  InitPixelKernels();
  LogMessage("CVDRendGraphImpl::Initialize");
  LoadCaptureProfile();
  platform::Event* events[] = {&closeDeviceEvent, &deviceEvent, &instanceEvent, &event3D};
  for (platform::Event* e : events) {
    *e = platform::Event::CreateLocal(false, false);
    if (!e->valid()) return 0;
  }
  LoadFramePlugin();
  // Set before the thread exists, so an Uninitialize racing the start still stops it.
  running.exchange(1);
  Start();
  LogMessage("CVDRendGraphImpl::Initialize success");
  return 1;
}

int32_t CVDRendGraphImpl::UninitializeSteps() {
  if (running.exchange(0) == 0) return 1;
  const bool forcedEnd = Stop();
  StopGraphAfterWorker(forcedEnd);
  vcam.OruVCapSetWorkMode(WORKMODE_IDLE);
  closeDeviceEvent.reset();
  deviceEvent.reset();
  instanceEvent.reset();
  event3D.reset();
  vcam.Unload();
  ReleaseResources();
  UnloadFramePlugin();
  return 1;
}

int32_t CVDRendGraphImpl::NotifyDeviceChangeSteps(uint32_t code, uint32_t /*value*/,
                                                  const char16_t* name) {
  if (code < NOTIFY_IGNORED || code > NOTIFY_REMOVAL) return 0;
  if (code != NOTIFY_REMOVAL) {
    const uint32_t id = threadId.load();
    if (threadHandle && id) platform::PostThreadMessageTo(id, code, 0, 0);
  }
  if (code == NOTIFY_ARRIVAL || code == NOTIFY_REMOVAL) {
    const std::string text = name ? platform::Utf16ToUtf8(name) : std::string();
    TraceMessage(code == NOTIFY_ARRIVAL ? "New Device Arrival:%s\n" : "Device removal:%s\n",
                 text.c_str());
  }
  return 0;
}

// ---- worker loop ----

void CVDRendGraphImpl::RegisterWithVirtualCamera() {
  vcam.OruVCapSetLogo(&busyHeader, busyPixels.get(), busyHeader.biSizeImage);
  vcam.OruVCapSetVideoResizeMode(ReadResizeMode());
  vcam.OruVCapSetWorkMode(WORKMODE_IDLE);
  LogMessage("OruFakeCaptureOpen success!");
  closeDeviceEvent.Reset();
  deviceEvent.Reset();
  instanceEvent.Reset();
  vcam.OruVCapGetSupport3D(&support3D);
  if (support3D) {
    event3D.Reset();
    vcam.OruVCapSet3DNotification(event3D.get());
  }
  vcam.OruVCapSetCloseDevEvent(closeDeviceEvent.get());
  vcam.OruVCapSetDeviceStatus(0);
  vcam.OruVCapSetDeviceEvent(deviceEvent.get());
  vcam.OruVCapSetInstanceNotification(instanceEvent.get());
}

void CVDRendGraphImpl::ShutDownVirtualCamera() {
  StopGraph();
  vcam.OruVCapSetCloseDevFinish();
  vcam.OruVCapSetChangeResResult(0);
  vcam.OruVCapSetWorkMode(WORKMODE_IDLE);
  vcam.OruVCapSetCloseDevEvent(nullptr);
  vcam.OruVCapSetDeviceStatus(0);
  vcam.OruVCapSetDeviceEvent(nullptr);
  vcam.OruVCapSetInstanceNotification(nullptr);
  vcam.OruVCapSet3DNotification(nullptr);
  vcam.OruFakeCaptureClose();
}

uint32_t CVDRendGraphImpl::Run() {
  LogMessage("CVDRendGraphImpl::Run 11\n");
  // A picture that cannot be had (even for want of memory) leaves the logo empty; the loop
  // runs regardless.
  platform::GuardedVoid([this] { LoadBusyPicture(); });
  for (;;) {
    if (platform::GuardedVoid([this] { RunSession(); })) return 0;
    platform::GuardedVoid([this] { ShutDownVirtualCamera(); });
  }
}

// Opens the virtual camera, then serves its events until a quit, or returns when running was
// cleared before it opened. An exception leaves to Run, which closes the camera and starts
// over.
void CVDRendGraphImpl::RunSession() {
  // running is set by Initialize before the thread starts; a stop request that came
  // meanwhile is honoured here rather than overwritten.
  LogMessage("OruFakeCaptureOpen");
  HResult opened = kEFail;
  while (opened < 0) {
    if (running.load() == 0) return;
    opened = vcam.OruFakeCaptureOpen();
    if (opened < 0) SleepMs(openRetryMs);
  }
  RegisterWithVirtualCamera();
  PollResolution();
  for (;;) {
    const platform::Event* events[] = {&closeDeviceEvent, &deviceEvent, &instanceEvent,
                                       &event3D};
    const uint32_t woke = platform::MsgWaitForEvents(events, 4, kWaitTimeoutMs);
    HandleGraphEvent();
    switch (woke) {
      case platform::kWaitObject0 + 0:
        closeDeviceEvent.Reset();
        StopGraph();
        vcam.OruVCapSetCloseDevFinish();
        vcam.OruVCapSetWorkMode(WORKMODE_IDLE);
        break;
      case platform::kWaitObject0 + 1:
        deviceEvent.Reset();
        vcam.OruVCapSetDeviceStatus(QueryPhysicalDeviceStatus());
        break;
      case platform::kWaitObject0 + 2:
        instanceEvent.Reset();
        PollResolution();
        break;
      case platform::kWaitObject0 + 3: {
        event3D.Reset();
        uint32_t a = 0, b = 0, c = 0;
        if (vcam.OruVCapGet3DSettings(&a, &b, &c) >= 0) {
          settings3D[0].exchange(a);
          settings3D[1].exchange(b);
          settings3D[2].exchange(c);
        }
        break;
      }
      case platform::kWaitObject0 + 4:
        if (!HandleThreadMessages()) {
          ShutDownVirtualCamera();
          threadId.store(0);
          FreeBusyPictures();
          DiscardThreadMessages();
          return;
        }
        break;
      default:
        break;
    }
  }
}

bool CVDRendGraphImpl::HandleThreadMessages() {
  platform::ThreadMessage msg{};
  while (platform::PeekThreadMessage(&msg, true)) {
    switch (msg.message) {
      case platform::kQuitMessage:
        return false;
      case MSG_RESOLUTION_CHANGE: {
        int64_t interval = kDefaultFrameInterval;
        if (msg.lParam) {
          auto* block = reinterpret_cast<int64_t*>(msg.lParam);
          interval = *block;
          delete block;
        }
        const uint32_t packed = static_cast<uint32_t>(msg.wParam);
        LogMessage("Start to process resolution changed:width = %u,height = %u", packed >> 16,
                   packed & 0xFFFF);
        ApplyResolution(packed, interval);
        break;
      }
      case NOTIFY_RESET:
        SleepMs(kResetPauseMs);
        currentResolution.store(0);
        PollResolution();
        break;
      case NOTIFY_ARRIVAL:
        PollResolution();
        break;
      default:  // NOTIFY_IGNORED and anything else: the wake-up was all
        break;
    }
  }
  return true;
}

// What was queued behind WM_QUIT is not handled; a resolution change still gives back the
// interval block it owns, which would otherwise be lost with the thread's queue.
void CVDRendGraphImpl::DiscardThreadMessages() {
  platform::ThreadMessage msg{};
  while (platform::PeekThreadMessage(&msg, true)) {
    if (msg.message == MSG_RESOLUTION_CHANGE && msg.lParam) delete reinterpret_cast<int64_t*>(msg.lParam);
  }
}

void CVDRendGraphImpl::PollResolution() {
  const bool done = platform::GuardedVoid([this] {
    uint32_t packed = 0;
    int64_t interval = 0;
    if (vcam.OruVCapGetCurrentResolution(&packed, &interval) < 0) {
      LogMessage("Failed to get resolution");
      return;
    }
    if (threadId.load() == 0) return;
    ApplyResolution(packed, interval);
  });
  if (!done) LogMessage("Failed to get resolution");
}

void CVDRendGraphImpl::ApplyResolution(uint32_t packed, int64_t interval) {
  if (packed == currentResolution.load()) {
    vcam.OruVCapSetChangeResResult(0);
    return;
  }
  if (packed == 0) {
    StopGraph();
    vcam.OruVCapSetChangeResResult(0);
    currentResolution.store(0);
    vcam.OruVCapSetWorkMode(WORKMODE_IDLE);
    return;
  }
  if (interval > 0) frameInterval = interval;
  const HResult built = BuildGraph(packed >> 16, packed & 0xFFFF);
  if (built < 0) {
    StopGraph();
    LogMessage("Open caoture device fail");
    vcam.OruVCapSetChangeResResult(kEFail);
    vcam.OruVCapSetWorkMode(WORKMODE_FAILED);
    return;
  }
  vcam.OruVCapSetChangeResResult(0);
  currentResolution.store(packed);
  vcam.OruVCapSetWorkMode(WORKMODE_STREAMING);
  StartCompanionIfNeeded();
}

HResult CVDRendGraphImpl::HandleGraphEvent() {
  if (!mediaEvent) return kEPointer;
  HResult last = 0;
  while (mediaEvent) {
    LONG code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    if (FAILED(mediaEvent->GetEvent(&code, &param1, &param2, 0))) break;
    last = mediaEvent->FreeEventParams(code, param1, param2);
    if (code == EC_DEVICE_LOST && param2 == 0) {
      LogMessage("CVDRendGraphImpl::HandleGraphEvent(void)");
      StopGraph();
      vcam.OruVCapSetWorkMode(WORKMODE_FAILED);
      currentResolution.store(0);
      PollResolution();
      break;
    }
  }
  return last;
}

bool CVDRendGraphImpl::StopGraphAfterWorker(bool forcedEnd) {
  if (!forcedEnd) {
    StopGraph();
    return true;
  }
  // Only the worker takes the lock, and it had Stop's second wait to end: a lock still held
  // now is held by a thread that never lets go of it (on Linux the forced end unwinds the
  // worker, which frees it).
  std::unique_lock<std::recursive_mutex> lock(graphLock, std::try_to_lock);
  if (!lock.owns_lock()) {
    AbandonGraph();
    return false;
  }
  StopGraph();  // takes the lock once more (it is recursive)
  return true;
}

void CVDRendGraphImpl::AbandonGraph() {
  LogMessage("The worker thread was ended holding the graph lock: the capture graph is left as it is");
  graphAbandoned.store(true);
  currentResolution.store(0);  // frames still delivered are dropped
  // Released, any of them could wait for a lock the dead thread holds.
  mediaEvent.detach();
  decoderFilter.detach();
  renderFilter.detach();
  captureFilter.detach();
  captureBuilder.detach();
  graph.detach();
  rotCookie = 0;  // the table keeps its entry: revoking it releases the graph
}

void CVDRendGraphImpl::ReleaseResources() {
  currentResolution.store(0);
  pipeline.ReleaseBuffers();
  allowList.clear();
}

// ---- what the exports do ----

namespace {

// The objects handed out and not yet released: release frees only one of them, once.
struct HandedOut {
  std::mutex lock;
  std::unordered_set<IRendGraph*> objects;
};

HandedOut& Objects() {
  static HandedOut objects;  // freed with the library, so nothing is left behind on unload
  return objects;
}

}  // namespace

int32_t CreateRendGraphObject(IRendGraph** out) {
  if (!out) return 1;
  *out = nullptr;
  platform::GuardedVoid([out] {
    auto graph = std::make_unique<CVDRendGraphImpl>();
    HandedOut& h = Objects();
    std::lock_guard<std::mutex> g(h.lock);
    h.objects.insert(graph.get());
    *out = graph.release();
  });
  return 1;
}

void ReleaseRendGraphObject(IRendGraph** graph) {
  if (!graph) return;
  IRendGraph* object = *graph;
  *graph = nullptr;
  if (!object) return;
  bool ours = false;
  {
    HandedOut& h = Objects();
    std::lock_guard<std::mutex> g(h.lock);
    ours = h.objects.erase(object) == 1;
  }
  // Not touched at all unless handed out and not yet released: it may be gone.
  if (!ours) return;
  auto* impl = static_cast<CVDRendGraphImpl*>(object);
  // An abandoned graph may still call back into the object: it is kept, as the graph is.
  if (!impl->graphAbandoned.load()) platform::GuardedVoid([impl] { delete impl; });
}
