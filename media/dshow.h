// The DirectShow and COM surface, one include for both builds: the system headers on
// Windows; on Linux the same names, layouts, method order and GUID values, served by the
// in-process runtime of libkmedia. Text is OLECHAR (wchar_t on Windows, char16_t on Linux);
// write literals with OLESTR("...") and view them as char16_t with media::AsUtf16.
#pragma once

#include <cstddef>

#ifdef _WIN32
#include "media/win32/dshow_system.h"
#else
#include "media/posix/com_base.h"
#include "media/posix/dshow_guids.h"
#include "media/posix/dshow_interfaces.h"
#endif

static_assert(sizeof(OLECHAR) == 2, "OLECHAR holds UTF-16 code units");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(VIDEOINFOHEADER) == 88, "VIDEOINFOHEADER is 88 bytes");
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40, "AvgTimePerFrame at byte 40");
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48, "VIDEOINFOHEADER header at byte 48");
static_assert(offsetof(VIDEOINFOHEADER2, AvgTimePerFrame) == 40, "AvgTimePerFrame at byte 40");
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) == 72, "VIDEOINFOHEADER2 header at byte 72");
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128, "VIDEO_STREAM_CONFIG_CAPS is 128 bytes");
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

namespace media {

// OLECHAR text as char16_t and back; the same 16-bit code units on both builds.
inline const char16_t* AsUtf16(const OLECHAR* text) {
  return reinterpret_cast<const char16_t*>(text);
}
inline char16_t* AsUtf16(OLECHAR* text) { return reinterpret_cast<char16_t*>(text); }
inline const OLECHAR* AsOle(const char16_t* text) {
  return reinterpret_cast<const OLECHAR*>(text);
}
inline OLECHAR* AsOle(char16_t* text) { return reinterpret_cast<OLECHAR*>(text); }

}  // namespace media
