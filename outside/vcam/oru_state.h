// The virtual-camera library stand-in's state: what its entry points and its OruStandIn_
// controls both keep and read, under the one lock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "outside/vcam/oru_vcapture.h"
#include "platform/lock.h"

namespace oru {

struct Picture {
  BitmapInfoHeader header{};
  std::vector<uint8_t> pixels;
  uint32_t size = 0;
};

struct State {
  platform::Lock lock;
  platform::Condition changed;

  std::vector<std::string> calls;
  uint64_t droppedCalls = 0;

  uint32_t openFailures = 0;
  bool open = false;
  HResult resolutionResult = 0;
  uint32_t requestedResolution = 0;
  int64_t requestedInterval = 0;
  uint32_t support3D = 0;
  uint32_t settings3D[3] = {0, 0, 0};

  VcamEvent closeDeviceEvent = nullptr;
  VcamEvent deviceEvent = nullptr;
  VcamEvent instanceEvent = nullptr;
  VcamEvent event3D = nullptr;
  VcamEvent notifyEvent = nullptr;

  uint32_t workMode = 0;
  uint32_t deviceStatus = 0;
  HResult lastChangeResult = 0;
  uint64_t frameCount = 0;
  Picture lastFrame;
  Picture logo;

  OruStandInFrameListener listener = nullptr;
  void* listenerContext = nullptr;
  std::FILE* clip = nullptr;
  int32_t clipWidth = 0, clipHeight = 0;
  uint64_t clipFrames = 0;
};

// The library's one state, created on first use.
State& S();

// Signals an event Kestrel gave; false for none.
bool Signal(VcamEvent e);

// The call records matching `pattern`; the caller holds the lock.
uint32_t CountMatches(const State& s, const char* pattern);

// Width, height and row stride of a kept YUY2 frame whose bytes cover every row; false for
// another code or a header that does not fit its bytes.
bool Yuy2Geometry(const Picture& p, int32_t* width, int32_t* height, uint32_t* stride);

// One Y4M frame body: the Y, U and V planes of a 4:2:2 picture from YUY2 rows (an odd last
// column is left out).
void WriteY4MPlanes(std::FILE* f, const Picture& p, int32_t w, int32_t h, uint32_t stride);

// The Y4M header of a clip: the consumer's frame rate, 30 when it gave none.
void WriteY4MHeader(std::FILE* f, int32_t w, int32_t h, int64_t interval);

// Copies a kept picture to the caller's header and buffer; the picture's size.
uint32_t CopyPicture(const Picture& p, BitmapInfoHeader* header, uint8_t* buffer,
                     uint32_t capacity);

}  // namespace oru
