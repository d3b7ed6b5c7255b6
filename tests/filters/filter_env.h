// The filter tests' surroundings: a registry with the three filter modules registered (on
// Linux a private registry file), COM for the test thread, the modules' test controls, a
// property bag that carries a camera's "Config", and graphs built through the graph
// manager.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "media/com_ptr.h"
#include "media/dshow.h"
#include "media/vd_filters.h"
#include "outside/filters/stand_ins.h"
#include "platform/module.h"

namespace test {

inline constexpr uint32_t kFrameWaitMs = 60000;  // only a hang reaches it

// One filter module's KestrelFilters_ controls, bound from the module the graph loads.
class FilterModule {
 public:
  explicit FilterModule(const char* fileName);
  bool ok() const { return count_ && read_ && reset_ && objects_; }
  std::vector<std::string> Records() const;
  // Whether some record line contains `text`.
  bool Recorded(const std::string& text) const;
  void ResetRecord() const { reset_(); }
  int32_t Objects() const { return objects_(); }

 private:
  platform::UniqueModule module_;
  uint32_t (*count_)() = nullptr;
  uint32_t (*read_)(uint32_t, char*, uint32_t) = nullptr;
  void (*reset_)() = nullptr;
  int32_t (*objects_)() = nullptr;
};

// Registers the modules, writes filter settings and gives each test a COM apartment.
class FilterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  // A DWORD under SOFTWARE\Kestrel\Filters; removed again after the test.
  void SetFilterSetting(const char* name, uint32_t value);

  // A camera created by CoCreateInstance and loaded with `config`.
  media::ComPtr<IBaseFilter> Camera(const std::string& config, HRESULT* loadResult = nullptr);
  media::ComPtr<IBaseFilter> Create(const CLSID& clsid, HRESULT* result = nullptr);

  static FilterModule* camera_;
  static FilterModule* render_;
  static FilterModule* decoder_;

 private:
  bool settingsWritten_ = false;
};

// A pin of `filter` by direction and position among those of that direction.
media::ComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION direction, int index = 0);

// What reached the renderer's callback.
struct Frame {
  BITMAPINFOHEADER header{};
  std::vector<uint8_t> bytes;
  int64_t start = 0, stop = 0;
  bool timed = false;
};

class FrameSink {
 public:
  ~FrameSink() { Detach(); }
  // Registers with the renderer's IVDRenderCallback.
  HRESULT Attach(IBaseFilter* renderer);
  // Unregisters and lets the renderer go.
  void Detach();
  // Waits for `count` frames; false on the bound.
  bool WaitFor(size_t count);
  std::vector<Frame> Frames();
  size_t Count();
  // The callback that takes frame number `count` (from 1) holds the stream for `ms`.
  void StallAfter(size_t count, uint32_t ms) {
    stallAfter_ = count;
    stallMs_ = ms;
  }
  // From now on every callback is counted as late.
  void MarkStopped();
  uint32_t LateCalls() const { return late_; }
  // Waits up to `ms` for a late call (one after MarkStopped): true when one came.
  bool WaitForLate(uint32_t ms);

 private:
  static int32_t STDMETHODCALLTYPE Callback(const BITMAPINFOHEADER* header, const uint8_t* bytes,
                                            uint32_t length, void* context);
  media::ComPtr<IVDRenderCallback> callback_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<Frame> frames_;
  bool stopped_ = false;
  size_t stallAfter_ = 0;
  uint32_t stallMs_ = 0;
  std::atomic<uint32_t> late_{0};
};

// A graph built by the graph manager: filters added by name, pins connected directly.
struct Graph {
  // A new graph manager; without `open` an empty holder (before COM is initialised).
  explicit Graph(bool open = true);
  HRESULT Add(IBaseFilter* filter, const OLECHAR* name) { return builder->AddFilter(filter, name); }
  // ConnectDirect of the first output pin of `from` to the first input pin of `to`, no type.
  HRESULT Connect(IBaseFilter* from, IBaseFilter* to, const AM_MEDIA_TYPE* type = nullptr);
  // The next event's code within `ms`, or 0.
  long NextEvent(uint32_t ms, LONG_PTR* param1 = nullptr);
  // Stops and removes every filter.
  void TearDown();

  media::ComPtr<IGraphBuilder> builder;
  media::ComPtr<IMediaControl> control;
  media::ComPtr<IMediaEvent> events;
};

}  // namespace test
