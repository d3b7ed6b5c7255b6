// Stand-in for the maker's virtual-camera control library "OruVCapture.dll". It honours
// the calls Kestrel makes, records every call with its arguments in order, signals the
// events it was given when a test or a demo host asks it to (the OruStandIn_ controls),
// and keeps the last frame it received so a person or a test can look at it.
#include "outside/vcam/oru_vcapture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "outside/vcam/oru_state.h"
#include "platform/event.h"

namespace oru {
namespace {

constexpr size_t kMaxLoggedCalls = 1u << 16;

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "0x%x", v);
  return buf;
}

const char* EventText(VcamEvent e) { return e ? "event" : "null"; }

// Appends one call record; the caller holds the lock.
void Record(State& s, std::string text) {
  if (s.calls.size() < kMaxLoggedCalls) {
    s.calls.push_back(std::move(text));
  } else {
    ++s.droppedCalls;
  }
  s.changed.NotifyAll();
}

void KeepPicture(Picture& p, const BitmapInfoHeader* header, const uint8_t* pixels,
                 uint32_t size) {
  p.header = header ? *header : BitmapInfoHeader{};
  p.size = size;
  if (pixels && size) {
    p.pixels.assign(pixels, pixels + size);  // grows once, then reuses its capacity
  } else {
    p.pixels.clear();
  }
}

std::string PictureText(const BitmapInfoHeader* header, const uint8_t* pixels, uint32_t size) {
  std::string t;
  if (header) {
    t = std::to_string(header->biWidth) + "x" + std::to_string(header->biHeight);
  } else {
    t = "null";
  }
  t += pixels ? ",pixels," : ",null,";
  t += std::to_string(size);
  return t;
}

bool Matches(const std::string& call, const char* pattern) {
  const size_t n = std::strlen(pattern);
  if (n > 0 && pattern[n - 1] == '*') return call.compare(0, n - 1, pattern, n - 1) == 0;
  return call == pattern;
}

// Appends the last frame to the clip; the caller holds the lock.
void AppendToClip(State& s) {
  int32_t w = 0, h = 0;
  uint32_t stride = 0;
  if (!s.clip || !Yuy2Geometry(s.lastFrame, &w, &h, &stride) || w <= 1) return;
  if (s.clipFrames == 0 && s.clipWidth == 0) {
    s.clipWidth = w;
    s.clipHeight = h;
    WriteY4MHeader(s.clip, w, h, s.requestedInterval);
  }
  if (w != s.clipWidth || h != s.clipHeight) return;
  std::fputs("FRAME\n", s.clip);
  WriteY4MPlanes(s.clip, s.lastFrame, w, h, stride);
  ++s.clipFrames;
}

}  // namespace

State& S() {
  static State* state = new State;  // outlives every caller, even at process exit
  return *state;
}

bool Signal(VcamEvent e) {
  if (!e) return false;
  // The event belongs to the caller: borrow it for one Set.
  platform::Event borrowed(static_cast<platform::EventObject*>(e));
  const bool set = borrowed.Set();
  borrowed.release();
  return set;
}

uint32_t CountMatches(const State& s, const char* pattern) {
  uint32_t n = 0;
  for (const auto& c : s.calls) n += Matches(c, pattern) ? 1 : 0;
  return n;
}

bool Yuy2Geometry(const Picture& p, int32_t* width, int32_t* height, uint32_t* stride) {
  const int64_t w = p.header.biWidth;
  const int64_t h = p.header.biHeight < 0 ? -static_cast<int64_t>(p.header.biHeight) : p.header.biHeight;
  // A packed resolution never exceeds 65535 in either direction.
  if (p.header.biCompression != kFourccYUY2 || w <= 0 || h <= 0 || w > 0xFFFF || h > 0xFFFF) return false;
  const uint32_t rowBytes = DibStride(static_cast<uint32_t>(w), 16);
  if (static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(h) > p.pixels.size()) return false;
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  *stride = rowBytes;
  return true;
}

void WriteY4MPlanes(std::FILE* f, const Picture& p, int32_t w, int32_t h, uint32_t stride) {
  const int32_t pairs = w / 2;
  std::vector<uint8_t> row(static_cast<size_t>(pairs) * 2);
  for (int plane = 0; plane < 3; ++plane) {
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* src = p.pixels.data() + static_cast<size_t>(y) * stride;
      size_t n = 0;
      for (int32_t m = 0; m < pairs; ++m) {
        if (plane == 0) {
          row[n++] = src[4 * m];
          row[n++] = src[4 * m + 2];
        } else {
          row[n++] = src[4 * m + (plane == 1 ? 1 : 3)];
        }
      }
      std::fwrite(row.data(), 1, n, f);
    }
  }
}

void WriteY4MHeader(std::FILE* f, int32_t w, int32_t h, int64_t interval) {
  if (interval > 0)
    std::fprintf(f, "YUV4MPEG2 W%d H%d F10000000:%lld Ip A1:1 C422\n", w / 2 * 2, h,
                 static_cast<long long>(interval));
  else
    std::fprintf(f, "YUV4MPEG2 W%d H%d F30:1 Ip A1:1 C422\n", w / 2 * 2, h);
}

uint32_t CopyPicture(const Picture& p, BitmapInfoHeader* header, uint8_t* buffer,
                     uint32_t capacity) {
  if (header) *header = p.header;
  if (buffer && !p.pixels.empty()) {
    std::memcpy(buffer, p.pixels.data(), std::min<size_t>(capacity, p.pixels.size()));
  }
  return p.size;
}

}  // namespace oru

using namespace oru;

extern "C" {

HResult OruFakeCaptureOpen() {
  State& s = S();
  std::lock_guard g(s.lock);
  if (s.openFailures > 0) {
    --s.openFailures;
    Record(s, "OruFakeCaptureOpen()=fail");
    return kEFail;
  }
  s.open = true;
  Record(s, "OruFakeCaptureOpen()");
  return kSOk;
}

HResult OruFakeCaptureClose() {
  State& s = S();
  std::lock_guard g(s.lock);
  s.open = false;
  Record(s, "OruFakeCaptureClose()");
  return kSOk;
}

HResult OruVCapSetLogo(const BitmapInfoHeader* header, const uint8_t* pixels, uint32_t size) {
  State& s = S();
  std::lock_guard g(s.lock);
  KeepPicture(s.logo, header, pixels, size);
  Record(s, "OruVCapSetLogo(" + PictureText(header, pixels, size) + ")");
  return kSOk;
}

HResult OruVCapSetVideoResizeMode(uint32_t mode) {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "OruVCapSetVideoResizeMode(" + std::to_string(mode) + ")");
  return kSOk;
}

HResult OruVCapSetWorkMode(uint32_t mode) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.workMode = mode;
  Record(s, "OruVCapSetWorkMode(" + std::to_string(mode) + ")");
  return kSOk;
}

HResult OruVCapSetCloseDevEvent(VcamEvent event) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.closeDeviceEvent = event;
  Record(s, std::string("OruVCapSetCloseDevEvent(") + EventText(event) + ")");
  return kSOk;
}

HResult OruVCapSetCloseDevFinish() {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "OruVCapSetCloseDevFinish()");
  return kSOk;
}

HResult OruVCapSetDeviceEvent(VcamEvent event) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.deviceEvent = event;
  Record(s, std::string("OruVCapSetDeviceEvent(") + EventText(event) + ")");
  return kSOk;
}

HResult OruVCapSetDeviceStatus(uint32_t status) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.deviceStatus = status;
  Record(s, "OruVCapSetDeviceStatus(" + std::to_string(status) + ")");
  return kSOk;
}

HResult OruVCapSetInstanceNotification(VcamEvent event) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.instanceEvent = event;
  Record(s, std::string("OruVCapSetInstanceNotification(") + EventText(event) + ")");
  return kSOk;
}

HResult OruVCapGetCurrentResolution(uint32_t* packed, int64_t* interval) {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "OruVCapGetCurrentResolution()");
  if (s.resolutionResult < 0) return s.resolutionResult;
  if (!packed || !interval) return kEPointer;
  *packed = s.requestedResolution;
  *interval = s.requestedInterval;
  return kSOk;
}

HResult OruVCapSetChangeResResult(HResult result) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.lastChangeResult = result;
  Record(s, "OruVCapSetChangeResResult(" + Hex(static_cast<uint32_t>(result)) + ")");
  return kSOk;
}

HResult OruVCapSetDevicePinObj(uintptr_t pinObject) {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, std::string("OruVCapSetDevicePinObj(") + (pinObject ? "handle" : "0") + ")");
  return kSOk;
}

HResult OruVCapSetWebcamData(const BitmapInfoHeader* header, const uint8_t* pixels,
                             uint32_t size) {
  const int64_t arrival = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
  State& s = S();
  OruStandInFrameListener listener;
  void* context;
  {
    std::lock_guard g(s.lock);
    KeepPicture(s.lastFrame, header, pixels, size);
    ++s.frameCount;
    Record(s, "OruVCapSetWebcamData(" + PictureText(header, pixels, size) + ")");
    AppendToClip(s);
    listener = s.listener;
    context = s.listenerContext;
  }
  if (listener) listener(header, pixels, size, arrival, context);
  return kSOk;
}

HResult OruVCapGetSupport3D(uint32_t* support) {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "OruVCapGetSupport3D()");
  if (!support) return kEPointer;
  *support = s.support3D;
  return kSOk;
}

HResult OruVCapSet3DNotification(VcamEvent event) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.event3D = event;
  Record(s, std::string("OruVCapSet3DNotification(") + EventText(event) + ")");
  return kSOk;
}

HResult OruVCapGet3DSettings(uint32_t* a, uint32_t* b, uint32_t* c) {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "OruVCapGet3DSettings()");
  if (!a || !b || !c) return kEPointer;
  *a = s.settings3D[0];
  *b = s.settings3D[1];
  *c = s.settings3D[2];
  return kSOk;
}

HResult GetOruFakeCaptureDeviceName(char16_t* name, uint32_t capacity) {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "GetOruFakeCaptureDeviceName()");
  static const char16_t kName[] = u"Oru Virtual Camera";
  const uint32_t n = sizeof(kName) / sizeof(kName[0]);
  if (!name || capacity < n) return kEFail;
  std::memcpy(name, kName, sizeof(kName));
  return kSOk;
}

HResult OruFakeCaptureSetImageData(const BitmapInfoHeader* header, const uint8_t* pixels,
                                   uint32_t size) {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "OruFakeCaptureSetImageData(" + PictureText(header, pixels, size) + ")");
  return kSOk;
}

HResult OruFakeCaptureGetActualOutputVideoFormatList(void* formats, uint32_t* count) {
  (void)formats;
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "OruFakeCaptureGetActualOutputVideoFormatList()");
  if (!count) return kEPointer;
  *count = 0;
  return kSOk;
}

HResult OruFakeCaptureUsingCheck(uint32_t* inUse) {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "OruFakeCaptureUsingCheck()");
  if (!inUse) return kEPointer;
  *inUse = s.requestedResolution != 0;
  return kSOk;
}

HResult OruVCapSetNotifyEvent(VcamEvent event) {
  State& s = S();
  std::lock_guard g(s.lock);
  s.notifyEvent = event;
  Record(s, std::string("OruVCapSetNotifyEvent(") + EventText(event) + ")");
  return kSOk;
}

HResult OruVCapGetPinInstanceCount(uint32_t* count) {
  State& s = S();
  std::lock_guard g(s.lock);
  Record(s, "OruVCapGetPinInstanceCount()");
  if (!count) return kEPointer;
  *count = s.requestedResolution != 0 ? 1 : 0;
  return kSOk;
}

}  // extern "C"
