// The synthetic camera's capabilities as media types: the type a capability offers and the
// capability an offered type asks for.
#include "outside/filters/capability_type.h"

#include <cstring>

#include "outside/filters/stand_ins.h"
#include "outside/filters/test_pattern.h"

namespace filters {

std::string Describe(const Capability& cap) {
  return std::string(SubtypeName(cap.subtype)) + " " + std::to_string(cap.width) + "x" +
         std::to_string(cap.height) + " " + std::to_string(cap.interval);
}

HRESULT BuildType(const Capability& cap, AM_MEDIA_TYPE* type) {
  std::memset(type, 0, sizeof(*type));
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = static_cast<LONG>(cap.width);
  header.biHeight = static_cast<LONG>(cap.height);
  header.biPlanes = 1;
  header.biBitCount = SubtypeBitCount(cap.subtype);
  header.biCompression = SubtypeCompression(cap.subtype);
  header.biSizeImage = FrameBytes(cap.subtype, cap.width, cap.height);
  const DWORD bitRate = static_cast<DWORD>(
      static_cast<uint64_t>(header.biSizeImage) * 8 * 10000000 / static_cast<uint64_t>(cap.interval));
  ULONG size;
  if (cap.format == FormatKind::VideoInfo2) {
    size = sizeof(VIDEOINFOHEADER2);
  } else {
    size = sizeof(VIDEOINFOHEADER);
  }
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (!block) return E_OUTOFMEMORY;
  std::memset(block, 0, size);
  if (cap.format == FormatKind::VideoInfo2) {
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(block);
    vih->dwBitRate = bitRate;
    vih->AvgTimePerFrame = cap.interval;
    vih->dwPictAspectRatioX = cap.width;
    vih->dwPictAspectRatioY = cap.height;
    vih->bmiHeader = header;
  } else {
    // A block of another type carries the same bytes, which nobody may read as a header.
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
    vih->dwBitRate = bitRate;
    vih->AvgTimePerFrame = cap.interval;
    vih->bmiHeader = header;
  }
  type->majortype = MEDIATYPE_Video;
  type->subtype = SubtypeGuid(cap.subtype);
  type->bFixedSizeSamples = cap.subtype == Subtype::MJPG ? FALSE : TRUE;
  type->bTemporalCompression = FALSE;
  type->lSampleSize = cap.subtype == Subtype::MJPG ? 0 : header.biSizeImage;
  type->formattype = cap.format == FormatKind::VideoInfo    ? FORMAT_VideoInfo
                     : cap.format == FormatKind::VideoInfo2 ? FORMAT_VideoInfo2
                                                            : kFormatNone;
  type->cbFormat = size;
  type->pbFormat = block;
  return S_OK;
}

bool MatchCapability(const std::vector<Capability>& caps, const AM_MEDIA_TYPE& type, Capability* out) {
  if (type.majortype != MEDIATYPE_Video) return false;
  const BITMAPINFOHEADER* header = VideoHeader(type);
  for (const Capability& cap : caps) {
    if (SubtypeGuid(cap.subtype) != type.subtype) continue;
    if (cap.format == FormatKind::Other) {
      // Only the offered block itself names such a capability.
      if (type.formattype != kFormatNone || type.cbFormat < sizeof(VIDEOINFOHEADER) || !type.pbFormat)
        continue;
      const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
      if (vih->bmiHeader.biWidth != static_cast<LONG>(cap.width) ||
          vih->bmiHeader.biHeight != static_cast<LONG>(cap.height))
        continue;
      *out = cap;
      return true;
    }
    const GUID wanted = cap.format == FormatKind::VideoInfo ? FORMAT_VideoInfo : FORMAT_VideoInfo2;
    if (type.formattype != wanted || !header) continue;
    if (header->biWidth != static_cast<LONG>(cap.width) ||
        header->biHeight != static_cast<LONG>(cap.height))
      continue;
    *out = cap;
    const REFERENCE_TIME interval =
        type.formattype == FORMAT_VideoInfo
            ? reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame
            : reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
    if (interval > 0) out->interval = interval;
    return true;
  }
  return false;
}

GUID SubtypeGuid(Subtype subtype) {
  if (subtype == Subtype::RGB24)
    return {0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  if (subtype == Subtype::RGB32)
    return {0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  // FOURCC subtypes: {XXXXXXXX-0000-0010-8000-00AA00389B71}
  return {SubtypeCompression(subtype), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

}  // namespace filters
