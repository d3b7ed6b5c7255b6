// A capture-graph backend for the tests: builds succeed, fail or throw as asked, a running
// graph has a streaming thread that feeds SampleCallback the frames a test pushes, and graph
// events are queued by the test.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "graph/rend_graph.h"
#include "platform/event.h"

namespace test {

// The event source the fake graph hands the object: IMediaEvent's GetEvent and
// FreeEventParams reach the fake; the rest of the interface is not used by the worker.
template <typename Owner>
class FakeMediaEvent final : public IMediaEvent {
 public:
  explicit FakeMediaEvent(Owner& owner) : owner_(owner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IMediaEvent)) {
      *out = static_cast<IMediaEvent*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  // Lives as long as the fake graph; references are not counted.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) override {
    return owner_.GetEvent(code, param1, param2, static_cast<uint32_t>(timeoutMs));
  }
  HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override {
    return owner_.FreeEventParams(code, param1, param2);
  }

 private:
  Owner& owner_;
};

class FakeGraph final : public CaptureGraphBackend {
 public:
  enum class Build { Succeed, Fail, Throw };

  ~FakeGraph() override { StopStreaming(); }

  HResult BuildGraph(CVDRendGraphImpl& owner, uint32_t width, uint32_t height) override {
    WaitWhileHeld(Hold::Build);
    owner.StopGraph();
    std::lock_guard lock(owner.graphLock);
    ++builds;
    lastWidth = width;
    lastHeight = height;
    if (build == Build::Throw) throw std::runtime_error("graph construction failed");
    if (build == Build::Fail) return kEFail;
    const HResult r = owner.pipeline.PrepareOutputFormat(width, height);
    if (r < 0) return r;
    owner.mediaEvent = media::ComPtr<IMediaEvent>(&mediaEvent_);
    WaitWhileHeld(Hold::Run);  // where the camera is started, under the graph lock
    owner.vcam.OruVCapSetDevicePinObj(0x1234);
    running_ = true;
    StartStreaming(owner);
    return kSOk;
  }

  void StopGraph(CVDRendGraphImpl& owner) override {
    std::lock_guard lock(owner.graphLock);
    owner.vcam.OruVCapSetDevicePinObj(0);
    if (running_) {
      WaitWhileHeld(Hold::Stop);  // where the camera is stopped, under the graph lock
      StopStreaming();
      owner.AbortFramePlugin();
      owner.frameInterval = kDefaultFrameInterval;
      running_ = false;
    }
    owner.mediaEvent.reset();
    owner.currentResolution.store(0);
    ++stops;
  }

  uint32_t QueryPhysicalDeviceStatus(CVDRendGraphImpl& owner) override {
    std::lock_guard lock(owner.graphLock);
    if (throwOnStatus) throw std::runtime_error("device query failed");
    return deviceStatus;
  }

  HResult GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, uint32_t) {
    std::lock_guard g(eventLock_);
    if (events_.empty()) return static_cast<HResult>(0x80004004u);  // E_ABORT: none queued
    *code = events_.front().code;
    *param1 = events_.front().param1;
    *param2 = events_.front().param2;
    events_.pop_front();
    ++eventsTaken;
    eventsDrained_.notify_all();
    return kSOk;
  }
  HResult FreeEventParams(LONG, LONG_PTR, LONG_PTR) { return kSOk; }

  void PushEvent(int32_t code, intptr_t param1, intptr_t param2) {
    std::lock_guard g(eventLock_);
    events_.push_back({code, param1, param2});
  }
  bool WaitEventsTaken(uint32_t count) {
    std::unique_lock g(eventLock_);
    return eventsDrained_.wait_for(g, std::chrono::minutes(1),
                                   [&] { return eventsTaken.load() >= count; });
  }

  // Where a hold stops the worker: a build at its start (before the graph lock), or, under
  // the graph lock, the camera's start in a build or its stop in StopGraph of a running
  // graph, as a camera driver that hangs in Run or Stop would.
  enum class Hold { None, Build, Run, Stop };

  // From now on a build waits at its start until ReleaseBuilds; WaitBuildHeld answers once
  // one is waiting there. The wait is a platform event wait, where a forced end of the
  // thread (Stop after its grace period) can take effect.
  void HoldBuilds() { HoldAt(Hold::Build); }
  bool WaitBuildHeld() { return buildHeld_.Wait(60000) == platform::kWaitObject0; }
  void ReleaseBuilds() { buildsGo_.Set(); }
  // The same at `where`; under the graph lock only the first to arrive is held, so a later
  // StopGraph of the same graph (Uninitialize's, after the worker was ended) goes through.
  void HoldAt(Hold where) {
    holdAt_ = where;
    buildHeld_.Reset();
    buildsGo_.Reset();
  }

  // The frame the streaming thread hands on, `count` more times.
  void SetFrame(const BitmapInfoHeader& header, std::vector<uint8_t> bytes) {
    std::lock_guard g(streamLock_);
    frameHeader_ = header;
    frame_ = std::move(bytes);
  }
  void PushFrames(uint32_t count) {
    std::lock_guard g(streamLock_);
    pendingFrames_ += count;
    streamWake_.notify_all();
  }

  Build build = Build::Succeed;
  std::atomic<bool> throwOnStatus{false};
  uint32_t deviceStatus = 1;
  std::atomic<uint32_t> builds{0};
  std::atomic<uint32_t> stops{0};
  std::atomic<uint32_t> eventsTaken{0};
  uint32_t lastWidth = 0;
  uint32_t lastHeight = 0;

 private:
  struct Event {
    int32_t code;
    intptr_t param1;
    intptr_t param2;
  };

  void StartStreaming(CVDRendGraphImpl& owner) {
    stopStreaming_ = false;
    streamer_ = std::thread([this, &owner] {
      std::unique_lock g(streamLock_);
      for (;;) {
        streamWake_.wait(g, [&] { return stopStreaming_ || pendingFrames_ > 0; });
        if (stopStreaming_) return;
        --pendingFrames_;
        FramePipeline::SampleCallback(&frameHeader_, frame_.data(), static_cast<uint32_t>(frame_.size()),
                                      &owner.pipeline);
      }
    });
  }
  void StopStreaming() {
    {
      std::lock_guard g(streamLock_);
      stopStreaming_ = true;
      streamWake_.notify_all();
    }
    if (streamer_.joinable()) streamer_.join();
  }

  void WaitWhileHeld(Hold here) {
    if (holdAt_.load() != here || buildsGo_.Wait(0) == platform::kWaitObject0) return;
    if (here != Hold::Build) {
      Hold expected = here;
      if (!holdAt_.compare_exchange_strong(expected, Hold::None)) return;  // the first only
    }
    buildHeld_.Set();
    buildsGo_.Wait(platform::kInfinite);
  }

  FakeMediaEvent<FakeGraph> mediaEvent_{*this};
  bool running_ = false;
  std::atomic<Hold> holdAt_{Hold::None};
  platform::Event buildsGo_ = platform::Event::CreateLocal(true, true);
  platform::Event buildHeld_ = platform::Event::CreateLocal(true, false);
  std::mutex eventLock_;
  std::condition_variable eventsDrained_;
  std::deque<Event> events_;
  std::mutex streamLock_;
  std::condition_variable streamWake_;
  bool stopStreaming_ = false;
  uint32_t pendingFrames_ = 0;
  BitmapInfoHeader frameHeader_{};
  std::vector<uint8_t> frame_;
  std::thread streamer_;
};

}  // namespace test
