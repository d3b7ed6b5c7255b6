// Capture format selection: a fixed subtype preference per request size, exact sizes first,
// then the nearest size, with the frame interval written into the chosen type.
#include "graph/capture_format.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kCapsBytes = sizeof(VIDEO_STREAM_CONFIG_CAPS);

// The largest capability structure a device may report; a larger one is not believed.
constexpr int kMaxCapsBytes = 64 << 10;

// The device's capabilities: how many, and a zeroed buffer of the size its driver reports for
// the structure that GetStreamCaps writes (never smaller than VIDEO_STREAM_CONFIG_CAPS). A
// count of -1 when the device cannot say or reports a size out of bounds.
struct Capabilities {
  int count = -1;
  std::vector<BYTE> caps;
};

Capabilities ReadCapabilities(IAMStreamConfig* config) {
  Capabilities c;
  int count = 0, size = 0;
  if (FAILED(config->GetNumberOfCapabilities(&count, &size)) || size < 0 || size > kMaxCapsBytes) return c;
  c.caps.resize(std::max<size_t>(static_cast<size_t>(size), kCapsBytes));
  c.count = count;
  return c;
}

// The capability's type, or null when the index fails or yields none.
media::UniqueMediaType GetCapability(IAMStreamConfig* config, int index, Capabilities& c) {
  AM_MEDIA_TYPE* type = nullptr;
  std::fill(c.caps.begin(), c.caps.end(), BYTE{0});
  const HRESULT hr = config->GetStreamCaps(index, &type, c.caps.data());
  media::UniqueMediaType owned(type);
  if (FAILED(hr)) return {};
  return owned;
}

media::UniqueMediaType Copy(const AM_MEDIA_TYPE& type) { return media::UniqueMediaType::Copy(type); }

// Only into a VIDEOINFOHEADER or VIDEOINFOHEADER2 block long enough to hold the field.
void WriteFrameInterval(AM_MEDIA_TYPE& type, int64_t interval) {
  REFERENCE_TIME* field = media::VideoFrameInterval(type);
  if (field) std::memcpy(field, &interval, sizeof interval);
}

}  // namespace

std::vector<GUID> CapturePreferenceList(int32_t width, int32_t height) {
  const bool small = width <= 640 && height <= 480;
  return {small ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_MJPG,
          small ? MEDIASUBTYPE_MJPG : MEDIASUBTYPE_YUY2,
          MEDIASUBTYPE_YUYV,
          MEDIASUBTYPE_I420,
          MEDIASUBTYPE_RGB24,
          MEDIASUBTYPE_MJPG,
          MEDIASUBTYPE_None};
}

BITMAPINFOHEADER CapabilityBitmapHeader(const AM_MEDIA_TYPE& type) {
  BITMAPINFOHEADER header{};
  if (const BITMAPINFOHEADER* inBlock = media::VideoBitmapHeader(type)) {
    std::memcpy(&header, inBlock, sizeof header);
  }
  return header;
}

uint32_t SizeKey(int32_t width, int32_t height) {
  return ((static_cast<uint32_t>(width) & 0xFFFF) << 16) | (static_cast<uint32_t>(height) & 0xFFFF);
}

uint32_t SizeKeyDistance(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

bool CollectExactSizeTypes(IAMStreamConfig* config, int32_t width, int32_t height,
                           std::vector<media::UniqueMediaType>& list) {
  list.clear();
  if (!config) return false;
  Capabilities caps = ReadCapabilities(config);
  for (int i = 0; i < caps.count; ++i) {
    media::UniqueMediaType type = GetCapability(config, i, caps);
    if (!type) continue;
    const BITMAPINFOHEADER header = CapabilityBitmapHeader(*type.get());
    if (header.biWidth != width || header.biHeight != height) continue;
    bool seen = false;
    for (const media::UniqueMediaType& kept : list) seen = seen || IsEqualGUID(kept->subtype, type->subtype);
    if (seen) continue;
    media::UniqueMediaType copy = Copy(*type.get());
    if (copy) list.push_back(std::move(copy));
  }
  return !list.empty();
}

media::UniqueMediaType FindClosestSizeType(IAMStreamConfig* config, const GUID& subtype, int32_t width,
                                   int32_t height) {
  if (!config) return {};
  Capabilities caps = ReadCapabilities(config);
  if (caps.count <= 0) return {};
  const bool anySubtype = IsEqualGUID(subtype, MEDIASUBTYPE_None);
  const uint32_t wanted = SizeKey(width, height);
  int best = -1;
  uint32_t bestDistance = 0;
  for (int i = 0; i < caps.count; ++i) {
    media::UniqueMediaType type = GetCapability(config, i, caps);
    if (!type) continue;
    if (!anySubtype && !IsEqualGUID(type->subtype, subtype)) continue;
    const BITMAPINFOHEADER header = CapabilityBitmapHeader(*type.get());
    const uint32_t distance = SizeKeyDistance(SizeKey(header.biWidth, header.biHeight), wanted);
    if (best < 0 || distance <= bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  if (best < 0) return {};
  media::UniqueMediaType chosen = GetCapability(config, best, caps);
  if (!chosen) return {};
  return Copy(*chosen.get());
}

media::UniqueMediaType SelectCaptureMediaType(IAMStreamConfig* config, int32_t width, int32_t height,
                                      int64_t frameInterval) {
  const std::vector<GUID> preference = CapturePreferenceList(width, height);
  media::UniqueMediaType result;
  std::vector<media::UniqueMediaType> exact;
  if (CollectExactSizeTypes(config, width, height, exact)) {
    for (const GUID& subtype : preference) {
      for (const media::UniqueMediaType& type : exact) {
        if (IsEqualGUID(type->subtype, subtype)) {
          result = Copy(*type.get());
          break;
        }
      }
      if (result) break;
    }
  }
  exact.clear();
  for (size_t i = 0; !result && i < preference.size(); ++i) {
    result = FindClosestSizeType(config, preference[i], width, height);
  }
  if (result && frameInterval > 0) WriteFrameInterval(*result.get(), frameInterval);
  return result;
}

HRESULT SetCaptureFormat(IAMStreamConfig* config, int32_t width, int32_t height,
                         int64_t frameInterval, int32_t* isMjpg) {
  if (isMjpg) *isMjpg = 0;
  if (!config) return E_FAIL;
  media::UniqueMediaType chosen = SelectCaptureMediaType(config, width, height, frameInterval);
  if (!chosen) return E_FAIL;
  const HRESULT hr = config->SetFormat(chosen.get());
  if (isMjpg) *isMjpg = IsEqualGUID(chosen->subtype, MEDIASUBTYPE_MJPG) ? 1 : 0;
  return hr;
}
