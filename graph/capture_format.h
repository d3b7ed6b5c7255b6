// Capture format selection: which of a camera's offered media types to put on its capture
// pin for the size the virtual camera asked for. Plain functions over IAMStreamConfig and
// media types; the caller passes the frame interval to write into the chosen type.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/dshow.h"
#include "media/com_ptr.h"
#include "media/media_type.h"

// The seven subtypes tried in order: MJPG first for requests wider than 640 or taller than
// 480, YUY2 first otherwise; MEDIASUBTYPE_None last, standing for any subtype.
std::vector<GUID> CapturePreferenceList(int32_t width, int32_t height);

// The BITMAPINFOHEADER a capability describes: at byte 48 of a VIDEOINFOHEADER, at byte 72
// of a VIDEOINFOHEADER2. Any other format type, or a format block too short to hold the
// whole header, reads as all zero.
BITMAPINFOHEADER CapabilityBitmapHeader(const AM_MEDIA_TYPE& type);

// ((width & 0xFFFF) << 16) | (height & 0xFFFF), and the distance of two such keys. The keys
// are compared as unsigned values, so widths of 32768 and more keep their order.
uint32_t SizeKey(int32_t width, int32_t height);
uint32_t SizeKeyDistance(uint32_t a, uint32_t b);

// Fills `list` with a copy of each capability of exactly width x height, at most one per
// subtype, in capability order. False when the list stays empty (also when the number of
// capabilities cannot be had).
bool CollectExactSizeTypes(IAMStreamConfig* config, int32_t width, int32_t height,
                           std::vector<media::UniqueMediaType>& list);

// A copy of the capability of `subtype` (any subtype for MEDIASUBTYPE_None) whose size key
// is nearest the requested one; among equal distances the highest index. Null when none.
media::UniqueMediaType FindClosestSizeType(IAMStreamConfig* config, const GUID& subtype, int32_t width,
                                   int32_t height);

// The type to capture width x height in: exact sizes in preference order first, then the
// nearest size per preferred subtype. A frame interval above 0 is written into its
// AvgTimePerFrame (VIDEOINFOHEADER and VIDEOINFOHEADER2 blocks only). Null when nothing fits.
media::UniqueMediaType SelectCaptureMediaType(IAMStreamConfig* config, int32_t width, int32_t height,
                                      int64_t frameInterval);

// Chooses a type and applies it with SetFormat, whose result it returns; *isMjpg tells
// whether the chosen type is MJPG (also when SetFormat refused it). E_FAIL with *isMjpg 0
// when `config` is null or no type fits.
HRESULT SetCaptureFormat(IAMStreamConfig* config, int32_t width, int32_t height,
                         int64_t frameInterval, int32_t* isMjpg);
