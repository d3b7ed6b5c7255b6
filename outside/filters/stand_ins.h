// The three stand-in filters: class identifiers, module file names, the registry values that
// configure the renderer and the decoder, and the functions their modules' class factories
// call. The camera's own configuration string is described in camera_config.h.
//
// Modules (in-process COM servers, each exporting DllGetClassObject, DllCanUnloadNow and the
// KestrelFilters_ test controls of filter_exports.h):
//   KestrelCam.dll       synthetic camera          {66921C7C-FC9D-4FA6-A6EE-F4FEE5219282}
//   KestrelVDRender.dll  "VD Render"               {9651E3DA-5F84-4C96-B34C-36CB2EDA7E64}
//   KestrelMjpegDec.dll  MJPEG decoder, two classes {FA081B2E-...}, {89FC4A64-...}
// (libKestrelCam.so, ... on Linux).
//
// Values under HKEY_LOCAL_MACHINE\SOFTWARE\Kestrel\Filters, read when an object is made
// (a missing or unreadable value takes its default):
//   "RenderCallback"   DWORD, default 1: 0 makes "VD Render" without IVDRenderCallback.
//   "DecoderClasses"   DWORD bit mask, default 3: bit 0 the class {FA081B2E-...}, bit 1 the
//                      class {89FC4A64-...}; a class without its bit is not available
//                      (CLASS_E_CLASSNOTAVAILABLE).
//   "DecoderControl"   DWORD bit mask, default 3: bit 0 IMjpegDecoderControl under
//                      {F988B261-...}, bit 1 under {B90BB473-...}.
//   "DecoderOutputPin" DWORD, default 1: 0 makes a decoder with its input pin only.
#pragma once

#include <cstdint>

#include "media/dshow.h"
#include "outside/filters/test_pattern.h"

namespace filters {

// {66921C7C-FC9D-4FA6-A6EE-F4FEE5219282}
inline constexpr CLSID kClsidKestrelCam = {0x66921C7C, 0xFC9D, 0x4FA6, {0xA6, 0xEE, 0xF4, 0xFE, 0xE5, 0x21, 0x92, 0x82}};

inline constexpr const char* kFiltersKey = "SOFTWARE\\Kestrel\\Filters";

// Load's result for a camera configured with fail=bind (ERROR_DEVICE_NOT_CONNECTED).
inline constexpr HRESULT kBindFailure = static_cast<HRESULT>(0x8007048F);
// Pause or Run of a camera configured with fail=run: the device is in use (ERROR_BUSY).
inline constexpr HRESULT kDeviceBusy = static_cast<HRESULT>(0x800700AA);

// Reads a DWORD under kFiltersKey, or `fallback`.
uint32_t ReadFilterSetting(const char* name, uint32_t fallback);

HRESULT CreateCamera(REFIID riid, void** object);
HRESULT CreateRenderer(REFIID riid, void** object);
HRESULT CreateDecoder(REFIID riid, void** object);   // the first class
HRESULT CreateDecoder2(REFIID riid, void** object);  // the second class

// Media subtype of each camera subtype, and the FORMAT_None identifier the camera gives a
// capability of "another" format type.
GUID SubtypeGuid(Subtype subtype);
inline constexpr GUID kFormatNone = {0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

}  // namespace filters
