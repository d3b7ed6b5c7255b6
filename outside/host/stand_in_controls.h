// What kestrel-host drives of the stand-ins: the virtual-camera library's OruStandIn_ controls,
// the synthetic camera's frame stamps and call record, and what it sees of each delivered frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "outside/vcam/oru_vcapture.h"
#include "platform/module.h"

// The stand-in controls of the virtual-camera library, when it is the stand-in.
struct VcamControls {
  platform::UniqueModule module;
  int (*consumerOpen)(uint32_t, uint32_t, int64_t) = nullptr;
  int (*consumerClose)() = nullptr;
  uint32_t (*countCalls)(const char*) = nullptr;
  int (*waitForCall)(const char*, uint32_t, uint32_t) = nullptr;
  void (*setListener)(OruStandInFrameListener, void*) = nullptr;
  int (*startClip)(const char*) = nullptr;
  uint64_t (*stopClip)() = nullptr;
  void (*getStatus)(OruStandInStatus*) = nullptr;
  int (*writePng)(const char*) = nullptr;

  bool Load() {
    module.reset(platform::LoadModule("OruVCapture.dll"));
    return module && platform::BindModuleSymbol(module.get(), "OruStandIn_ConsumerOpen", &consumerOpen) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_ConsumerClose", &consumerClose) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_CountCalls", &countCalls) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_WaitForCall", &waitForCall) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_SetFrameListener", &setListener) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_StartClip", &startClip) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_StopClip", &stopClip) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_GetStatus", &getStatus) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_WriteLastFramePNG", &writePng);
  }
};

// The synthetic camera's module: its frame stamps and its call record.
struct CameraControls {
  platform::UniqueModule module;
  uint64_t (*framesSent)() = nullptr;
  int32_t (*frameSent)(uint64_t, uint64_t*, int64_t*, uint32_t*, uint32_t*) = nullptr;
  uint32_t (*recordCount)() = nullptr;
  uint32_t (*readRecord)(uint32_t, char*, uint32_t) = nullptr;

  bool Load() {
    module.reset(platform::LoadModule("KestrelCam.dll"));
    return module && platform::BindModuleSymbol(module.get(), "KestrelFilters_FramesSent", &framesSent) &&
           platform::BindModuleSymbol(module.get(), "KestrelFilters_FrameSent", &frameSent) &&
           platform::BindModuleSymbol(module.get(), "KestrelFilters_RecordCount", &recordCount) &&
           platform::BindModuleSymbol(module.get(), "KestrelFilters_ReadRecord", &readRecord);
  }
  // The format of the camera's last SetFormat ("MJPG 1280x720 333333"), empty before one.
  std::string Format() {
    std::string found;
    const uint32_t n = recordCount();
    for (uint32_t i = seen; i < n; ++i) {
      char line[256];
      readRecord(i, line, sizeof line);
      const char* at = std::strstr(line, " SetFormat ");
      if (at && std::strstr(at, "refused") == nullptr) found = at + 11;
    }
    seen = n;
    if (!found.empty()) format = found;
    return format;
  }
  uint32_t seen = 0;
  std::string format;
};

// What the host sees of each delivered frame, filled on the delivering thread.
struct Deliveries {
  std::mutex lock;
  CameraControls* camera = nullptr;
  std::FILE* framesLog = nullptr;
  int64_t startNs = 0;
  uint64_t count = 0;
  uint32_t width = 0, height = 0;
  std::vector<int64_t> window, all;  // latencies, ns
  bool haveNumber = false;
  uint64_t firstNumber = 0, lastNumber = 0;
  uint64_t repeated = 0, unreadable = 0;
};

// The stand-in's frame listener: counts, stamps and logs each delivered frame (context: Deliveries).
void OnFrame(const BitmapInfoHeader* header, const uint8_t* pixels, uint32_t size, int64_t arrivalNs,
             void* context);
