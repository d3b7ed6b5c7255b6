// A stand-in video plug-in for the host tests: the four Frameport exports, recording what
// they were asked, plus TestPlugin_ controls that choose how it behaves.
#include <atomic>
#include <cstdint>
#include <stdexcept>

#include "graph/frame_types.h"

namespace {

enum Mode : int32_t { kNormal = 0, kInitFails = 1, kThrowsPerFrame = 2, kInitReturnsZero = 3 };

std::atomic<int32_t> g_mode{kNormal};
std::atomic<uint32_t> g_initCalls{0};
std::atomic<uint32_t> g_frameCalls{0};
std::atomic<uint32_t> g_abortCalls{0};
std::atomic<uint32_t> g_uninitCalls{0};
std::atomic<uint32_t> g_lastSizeImage{0};
std::atomic<uintptr_t> g_lastInstance{0};
int g_instanceTag = 0;  // its address is the instance handle

}  // namespace

extern "C" {

uintptr_t Frameport_Initialize() {
  ++g_initCalls;
  switch (g_mode.load()) {
    case kInitFails:
      return static_cast<uintptr_t>(-1);
    case kInitReturnsZero:
      return 0;
    default:
      return reinterpret_cast<uintptr_t>(&g_instanceTag);
  }
}

int32_t Frameport_ProcessVideoFrame(uintptr_t instance, BitmapInfoHeader* header,
                                    uint8_t* pixels) {
  ++g_frameCalls;
  g_lastInstance = instance;
  if (g_mode.load() == kThrowsPerFrame) throw std::runtime_error("plug-in failure");
  if (header) g_lastSizeImage = header->biSizeImage;
  // Rewrites the first luma sample so a test can see the change reach the camera.
  if (pixels) pixels[0] = 0xEE;
  return 0;
}

void Frameport_Abort(uintptr_t instance) {
  g_lastInstance = instance;
  ++g_abortCalls;
}

void Frameport_UnInitialize(uintptr_t instance) {
  g_lastInstance = instance;
  ++g_uninitCalls;
}

void TestPlugin_Reset(int32_t mode) {
  g_mode = mode;
  g_initCalls = g_frameCalls = g_abortCalls = g_uninitCalls = 0;
  g_lastSizeImage = 0;
  g_lastInstance = 0;
}

// 0 init, 1 frames, 2 aborts, 3 uninits, 4 last biSizeImage seen.
uint32_t TestPlugin_Count(int32_t which) {
  switch (which) {
    case 0: return g_initCalls;
    case 1: return g_frameCalls;
    case 2: return g_abortCalls;
    case 3: return g_uninitCalls;
    case 4: return g_lastSizeImage;
    default: return 0;
  }
}

}  // extern "C"
