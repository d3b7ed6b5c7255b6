// Stand-in for the maker's virtual-camera control library "OruVCapture.dll". It honours
// the calls Kestrel makes, records every call with its arguments in order, signals the
// events it was given when a test or a demo host asks it to (the OruStandIn_ controls),
// and keeps the last frame it received so a person or a test can look at it.
#include "outside/vcam/oru_vcapture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "outside/vcam/png_snapshot.h"
#include "platform/event.h"
#include "platform/lock.h"

namespace {

constexpr size_t kMaxLoggedCalls = 1u << 16;

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

State& S() {
  static State* state = new State;  // outlives every caller, even at process exit
  return *state;
}

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

bool Signal(VcamEvent e) {
  if (!e) return false;
  // The event belongs to the caller: borrow it for one Set.
  platform::Event borrowed(static_cast<platform::EventObject*>(e));
  const bool set = borrowed.Set();
  borrowed.release();
  return set;
}

bool Matches(const std::string& call, const char* pattern) {
  const size_t n = std::strlen(pattern);
  if (n > 0 && pattern[n - 1] == '*') return call.compare(0, n - 1, pattern, n - 1) == 0;
  return call == pattern;
}

uint32_t CountMatches(const State& s, const char* pattern) {
  uint32_t n = 0;
  for (const auto& c : s.calls) n += Matches(c, pattern) ? 1 : 0;
  return n;
}

// Width, height and row stride of a kept YUY2 frame whose bytes cover every row; false for
// another code or a header that does not fit its bytes.
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

// One Y4M frame body: the Y, U and V planes of a 4:2:2 picture from YUY2 rows (an odd last
// column is left out).
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

// The Y4M header of a clip: the consumer's frame rate, 30 when it gave none.
void WriteY4MHeader(std::FILE* f, int32_t w, int32_t h, int64_t interval) {
  if (interval > 0)
    std::fprintf(f, "YUV4MPEG2 W%d H%d F10000000:%lld Ip A1:1 C422\n", w / 2 * 2, h,
                 static_cast<long long>(interval));
  else
    std::fprintf(f, "YUV4MPEG2 W%d H%d F30:1 Ip A1:1 C422\n", w / 2 * 2, h);
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

uint32_t CopyPicture(const Picture& p, BitmapInfoHeader* header, uint8_t* buffer,
                     uint32_t capacity) {
  if (header) *header = p.header;
  if (buffer && !p.pixels.empty()) {
    std::memcpy(buffer, p.pixels.data(), std::min<size_t>(capacity, p.pixels.size()));
  }
  return p.size;
}

}  // namespace

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

// ---- test and demo controls ----

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
