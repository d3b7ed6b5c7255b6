// Test-side access to the stand-in libraries: the virtual-camera stand-in's OruStandIn_
// controls and the stand-in plug-in's TestPlugin_ controls, bound at run time from the same
// modules Kestrel loads, so both sides see one instance.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "graph/frame_types.h"
#include "platform/module.h"
#include "tests/graph/test_env.h"

namespace test {

// A YUY2 frame header of the given size; biSizeImage holds exactly its rows.
inline BitmapInfoHeader Yuy2Header(int32_t width, int32_t height) {
  BitmapInfoHeader h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = 16;
  h.biCompression = kFourccYUY2;
  h.biSizeImage = DibStride(static_cast<uint32_t>(width < 0 ? -width : width), 16) *
                  static_cast<uint32_t>(height < 0 ? -height : height);
  return h;
}

// Generous bound for anything a test waits for.
inline constexpr uint32_t kWaitMs = 60000;

class VcamStandIn {
 public:
  VcamStandIn() : module_(platform::LoadModule("OruVCapture.dll")) {
    Bind("OruStandIn_Reset", &Reset);
    Bind("OruStandIn_SetOpenFailures", &SetOpenFailures);
    Bind("OruStandIn_SetResolutionResult", &SetResolutionResult);
    Bind("OruStandIn_SetSupport3D", &SetSupport3D);
    Bind("OruStandIn_ConsumerOpen", &ConsumerOpen);
    Bind("OruStandIn_ConsumerClose", &ConsumerClose);
    Bind("OruStandIn_RequestCloseDevice", &RequestCloseDevice);
    Bind("OruStandIn_RequestDeviceStatus", &RequestDeviceStatus);
    Bind("OruStandIn_Change3D", &Change3D);
    Bind("OruStandIn_CallCount", &CallCount);
    Bind("OruStandIn_GetCall", &GetCall);
    Bind("OruStandIn_CountCalls", &CountCalls);
    Bind("OruStandIn_WaitForCall", &WaitForCallRaw);
    Bind("OruStandIn_FrameCount", &FrameCount);
    Bind("OruStandIn_WaitForFrames", &WaitForFrames);
    Bind("OruStandIn_GetLastFrame", &GetLastFrame);
    Bind("OruStandIn_GetLogo", &GetLogo);
    Bind("OruStandIn_WriteLastFrameY4M", &WriteLastFrameY4M);
    Bind("OruStandIn_WriteLastFramePNG", &WriteLastFramePNG);
    Bind("OruVCapSetWebcamData", &SetWebcamData);
  }

  bool ok() const { return module_ && bound_; }
  platform::ModuleHandle module() const { return module_.get(); }

  std::vector<std::string> Calls() const {
    std::vector<std::string> out;
    const uint32_t n = CallCount();
    for (uint32_t i = 0; i < n; ++i) {
      char buf[256];
      GetCall(i, buf, sizeof(buf));
      out.emplace_back(buf);
    }
    return out;
  }
  // The records from index `from` on.
  std::vector<std::string> CallsFrom(size_t from) const {
    std::vector<std::string> all = Calls();
    if (from >= all.size()) return {};
    return std::vector<std::string>(all.begin() + static_cast<long>(from), all.end());
  }
  bool WaitForCall(const char* pattern, uint32_t occurrences = 1) const {
    return WaitForCallRaw(pattern, occurrences, kWaitMs) == 1;
  }

  void (*Reset)() = nullptr;
  void (*SetOpenFailures)(uint32_t) = nullptr;
  void (*SetResolutionResult)(HResult) = nullptr;
  void (*SetSupport3D)(uint32_t) = nullptr;
  int (*ConsumerOpen)(uint32_t, uint32_t, int64_t) = nullptr;
  int (*ConsumerClose)() = nullptr;
  int (*RequestCloseDevice)() = nullptr;
  int (*RequestDeviceStatus)() = nullptr;
  int (*Change3D)(uint32_t, uint32_t, uint32_t) = nullptr;
  uint32_t (*CallCount)() = nullptr;
  uint32_t (*GetCall)(uint32_t, char*, uint32_t) = nullptr;
  uint32_t (*CountCalls)(const char*) = nullptr;
  int (*WaitForCallRaw)(const char*, uint32_t, uint32_t) = nullptr;
  uint64_t (*FrameCount)() = nullptr;
  int (*WaitForFrames)(uint64_t, uint32_t) = nullptr;
  uint32_t (*GetLastFrame)(BitmapInfoHeader*, uint8_t*, uint32_t) = nullptr;
  uint32_t (*GetLogo)(BitmapInfoHeader*, uint8_t*, uint32_t) = nullptr;
  int (*WriteLastFrameY4M)(const char*) = nullptr;
  int (*WriteLastFramePNG)(const char*) = nullptr;
  // The entry point Kestrel hands frames to, for tests that play Kestrel's part.
  HResult (*SetWebcamData)(const BitmapInfoHeader*, const uint8_t*, uint32_t) = nullptr;

 private:
  template <typename Fn>
  void Bind(const char* name, Fn* fn) {
    if (!platform::BindModuleSymbol(module_.get(), name, fn)) bound_ = false;
  }
  platform::UniqueModule module_;
  bool bound_ = true;
};

inline constexpr const char* kTestPluginFile = "TestFrameplug.dll";

class PluginStandIn {
 public:
  enum Mode : int32_t { kNormal = 0, kInitFails = 1, kThrowsPerFrame = 2, kInitReturnsZero = 3 };
  PluginStandIn() : module_(platform::LoadModule(kTestPluginFile)) {
    ok_ = platform::BindModuleSymbol(module_.get(), "TestPlugin_Reset", &Reset) &&
          platform::BindModuleSymbol(module_.get(), "TestPlugin_Count", &Count);
  }
  bool ok() const { return ok_; }
  uint32_t Inits() const { return Count(0); }
  uint32_t Frames() const { return Count(1); }
  uint32_t Aborts() const { return Count(2); }
  uint32_t Uninits() const { return Count(3); }
  uint32_t LastSizeImage() const { return Count(4); }

  void (*Reset)(int32_t mode) = nullptr;
  uint32_t (*Count)(int32_t which) = nullptr;

 private:
  platform::UniqueModule module_;
  bool ok_ = false;
};

// A scratch folder and both stand-ins, reset to their defaults, for each test.
class StandInTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_TRUE(vcam_.ok());
    ASSERT_TRUE(plugin_.ok());
    vcam_.Reset();
    plugin_.Reset(PluginStandIn::kNormal);
  }

  VcamStandIn vcam_;
  PluginStandIn plugin_;
};

}  // namespace test
