// The virtual-camera library stand-in's test and demo controls (OruStandIn_): settings, the
// consumer's side, the events Kestrel gave, the call record, the last frame and the clip.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "outside/vcam/oru_state.h"
#include "outside/vcam/oru_vcapture.h"
#include "outside/vcam/png_snapshot.h"

using namespace oru;

extern "C" {

void OruStandIn_Reset() {
  State& s = S();
  std::lock_guard g(s.lock);
  s.calls.clear();
  s.droppedCalls = 0;
  s.openFailures = 0;
  s.open = false;
  s.resolutionResult = 0;
  s.requestedResolution = 0;
  s.requestedInterval = 0;
  s.support3D = 0;
  s.settings3D[0] = s.settings3D[1] = s.settings3D[2] = 0;
  s.closeDeviceEvent = s.deviceEvent = s.instanceEvent = s.event3D = s.notifyEvent = nullptr;
  s.workMode = 0;
  s.deviceStatus = 0;
  s.lastChangeResult = 0;
  s.frameCount = 0;
  s.lastFrame = Picture{};
  s.logo = Picture{};
  s.listener = nullptr;
  s.listenerContext = nullptr;
  if (s.clip) std::fclose(s.clip);
  s.clip = nullptr;
  s.clipWidth = s.clipHeight = 0;
  s.clipFrames = 0;
  s.changed.NotifyAll();
}

void OruStandIn_SetOpenFailures(uint32_t count) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.openFailures = count;
}

void OruStandIn_SetResolutionResult(HResult result) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.resolutionResult = result;
}

void OruStandIn_SetSupport3D(uint32_t support) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.support3D = support;
}

int OruStandIn_ConsumerOpen(uint32_t width, uint32_t height, int64_t interval) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.requestedResolution = (width << 16) | (height & 0xFFFF);
  s.requestedInterval = interval;
  return Signal(s.instanceEvent) ? 1 : 0;
}

int OruStandIn_ConsumerClose() {
  State& s = S();
  std::lock_guard g(s.lock);
  s.requestedResolution = 0;
  s.requestedInterval = 0;
  return Signal(s.instanceEvent) ? 1 : 0;
}

int OruStandIn_RequestCloseDevice() {
  State& s = S();
  std::lock_guard g(s.lock);
  return Signal(s.closeDeviceEvent) ? 1 : 0;
}

int OruStandIn_RequestDeviceStatus() {
  State& s = S();
  std::lock_guard g(s.lock);
  return Signal(s.deviceEvent) ? 1 : 0;
}

int OruStandIn_Change3D(uint32_t a, uint32_t b, uint32_t c) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.settings3D[0] = a;
  s.settings3D[1] = b;
  s.settings3D[2] = c;
  return Signal(s.event3D) ? 1 : 0;
}

uint32_t OruStandIn_CallCount() {
  State& s = S();
  std::lock_guard g(s.lock);
  return static_cast<uint32_t>(s.calls.size());
}

uint32_t OruStandIn_GetCall(uint32_t index, char* buffer, uint32_t capacity) {
  State& s = S();
  std::lock_guard g(s.lock);
  if (index >= s.calls.size()) return 0;
  const std::string& c = s.calls[index];
  if (buffer && capacity) {
    const size_t n = std::min<size_t>(c.size(), capacity - 1);
    std::memcpy(buffer, c.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<uint32_t>(c.size());
}

uint32_t OruStandIn_CountCalls(const char* pattern) {
  if (!pattern) return 0;
  State& s = S();
  std::lock_guard g(s.lock);
  return CountMatches(s, pattern);
}

int OruStandIn_WaitForCall(const char* pattern, uint32_t occurrences, uint32_t timeoutMs) {
  if (!pattern) return 0;
  State& s = S();
  std::unique_lock g(s.lock);
  return s.changed.WaitFor(g, timeoutMs, [&] { return CountMatches(s, pattern) >= occurrences; })
             ? 1
             : 0;
}

uint64_t OruStandIn_FrameCount() {
  State& s = S();
  std::lock_guard g(s.lock);
  return s.frameCount;
}

int OruStandIn_WaitForFrames(uint64_t count, uint32_t timeoutMs) {
  State& s = S();
  std::unique_lock g(s.lock);
  return s.changed.WaitFor(g, timeoutMs, [&] { return s.frameCount >= count; })
             ? 1
             : 0;
}

uint32_t OruStandIn_GetLastFrame(BitmapInfoHeader* header, uint8_t* buffer, uint32_t capacity) {
  State& s = S();
  std::lock_guard g(s.lock);
  return CopyPicture(s.lastFrame, header, buffer, capacity);
}

uint32_t OruStandIn_GetLogo(BitmapInfoHeader* header, uint8_t* buffer, uint32_t capacity) {
  State& s = S();
  std::lock_guard g(s.lock);
  return CopyPicture(s.logo, header, buffer, capacity);
}

int OruStandIn_WriteLastFrameY4M(const char* path) {
  if (!path) return 0;
  State& s = S();
  std::lock_guard g(s.lock);
  const Picture& p = s.lastFrame;
  int32_t w = 0, h = 0;
  uint32_t stride = 0;
  if (!Yuy2Geometry(p, &w, &h, &stride) || w <= 1) return 0;
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return 0;
  WriteY4MHeader(f, w, h, 0);
  std::fputs("FRAME\n", f);
  WriteY4MPlanes(f, p, w, h, stride);
  const bool ok = std::fclose(f) == 0;
  return ok ? 1 : 0;
}

int OruStandIn_WriteLastFramePNG(const char* path) {
  if (!path) return 0;
  State& s = S();
  std::lock_guard g(s.lock);
  const Picture& p = s.lastFrame;
  int32_t w = 0, h = 0;
  uint32_t stride = 0;
  if (!Yuy2Geometry(p, &w, &h, &stride)) return 0;
  return WriteYuy2AsPng(path, p.pixels.data(), static_cast<uint32_t>(w), static_cast<uint32_t>(h), stride) ? 1 : 0;
}

void OruStandIn_SetFrameListener(OruStandInFrameListener listener, void* context) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.listener = listener;
  s.listenerContext = context;
}

int OruStandIn_StartClip(const char* path) {
  if (!path) return 0;
  State& s = S();
  std::lock_guard g(s.lock);
  if (s.clip) std::fclose(s.clip);
  s.clip = std::fopen(path, "wb");
  s.clipWidth = s.clipHeight = 0;
  s.clipFrames = 0;
  return s.clip ? 1 : 0;
}

uint64_t OruStandIn_StopClip() {
  State& s = S();
  std::lock_guard g(s.lock);
  if (!s.clip) return 0;
  std::fclose(s.clip);
  s.clip = nullptr;
  return s.clipFrames;
}

void OruStandIn_GetStatus(OruStandInStatus* status) {
  if (!status) return;
  State& s = S();
  std::lock_guard g(s.lock);
  status->open = s.open ? 1 : 0;
  status->workMode = s.workMode;
  status->requestedResolution = s.requestedResolution;
  status->requestedInterval = s.requestedInterval;
  status->lastChangeResult = s.lastChangeResult;
  status->frames = s.frameCount;
}

}  // extern "C"
