// The interfaces of the two filters the capture graph creates by class identifier: the
// "VD Render" renderer's sample callback and the MJPEG decoder's control, with their
// identifiers. Shared by the capture graph and the stand-in filters.
#pragma once

#include <cstdint>

#include "media/dshow.h"

namespace vd {

// {9651E3DA-5F84-4C96-B34C-36CB2EDA7E64}
inline constexpr CLSID kClsidVDRender = {0x9651E3DA, 0x5F84, 0x4C96, {0xB3, 0x4C, 0x36, 0xCB, 0x2E, 0xDA, 0x7E, 0x64}};
// {FA081B2E-BAAB-4C6B-99ED-3D6CFA1EA2F6}, tried first
inline constexpr CLSID kClsidMjpegDecoder = {0xFA081B2E, 0xBAAB, 0x4C6B, {0x99, 0xED, 0x3D, 0x6C, 0xFA, 0x1E, 0xA2, 0xF6}};
// {89FC4A64-2F0D-4306-9C4A-622EA9896447}, the second class
inline constexpr CLSID kClsidMjpegDecoder2 = {0x89FC4A64, 0x2F0D, 0x4306, {0x9C, 0x4A, 0x62, 0x2E, 0xA9, 0x89, 0x64, 0x47}};

// {81095944-3710-4B9B-B715-E590B2B1531C}
inline constexpr IID kIidVDRenderCallback = {0x81095944, 0x3710, 0x4B9B, {0xB7, 0x15, 0xE5, 0x90, 0xB2, 0xB1, 0x53, 0x1C}};
// {F988B261-E907-4514-9A7C-CAF91ECF70A8}
inline constexpr IID kIidMjpegDecoderControl = {0xF988B261, 0xE907, 0x4514, {0x9A, 0x7C, 0xCA, 0xF9, 0x1E, 0xCF, 0x70, 0xA8}};
// {B90BB473-6429-4029-B707-62B6D9454670}: the same methods, asked for when the first fails
inline constexpr IID kIidMjpegDecoderControl2 = {0xB90BB473, 0x6429, 0x4029, {0xB7, 0x07, 0x62, 0xB6, 0xD9, 0x45, 0x46, 0x70}};

}  // namespace vd

// Called by the renderer for every sample, on the upstream streaming thread, with the
// connected format's header, the sample's bytes and their count; its result is ignored.
using VDSampleCallback = int32_t(STDMETHODCALLTYPE*)(const BITMAPINFOHEADER* header,
                                                      const uint8_t* bytes, uint32_t length,
                                                      void* context);

struct IVDRenderCallback : public IUnknown {
  // Samples handed to the callback (or received without one) since the renderer was made.
  virtual HRESULT STDMETHODCALLTYPE GetFrameCount(uint32_t* frames) = 0;
  // Start and stop time of the sample being delivered (inside the callback) or of the last
  // one; S_FALSE when that sample had no times, E_POINTER for a null argument.
  virtual HRESULT STDMETHODCALLTYPE GetSampleTimes(int64_t* start, int64_t* stop) = 0;
  // Registers the callback and its context (a null callback stops the calls). Once this
  // returns, the previous callback is not running and is not called again.
  virtual HRESULT STDMETHODCALLTYPE SetCallback(VDSampleCallback callback, void* context) = 0;
};

struct IMjpegDecoderControl : public IUnknown {
  // A decoder option; the capture graph passes 4. The stand-in records the value and decodes
  // the same way whatever it is.
  virtual HRESULT STDMETHODCALLTYPE SetOption(uint32_t value) = 0;
  // The last value set, 0 before any.
  virtual HRESULT STDMETHODCALLTYPE GetOption(uint32_t* value) = 0;
};
