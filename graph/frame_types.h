// Plain frame description and result codes shared by Kestrel's graph code, its stand-ins
// and its tests; no Windows header needed.
#pragma once

#include <cstdint>

// Windows BITMAPINFOHEADER, byte for byte.
struct BitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

// HRESULT-style results.
using HResult = int32_t;
inline constexpr HResult kSOk = 0;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);

// Frame codes (biCompression), FOURCCs read little-endian.
inline constexpr uint32_t kFourccYUY2 = 0x32595559;
inline constexpr uint32_t kFourccYVYU = 0x55595659;
inline constexpr uint32_t kFourccUYVY = 0x59565955;
inline constexpr uint32_t kFourccVYUY = 0x59555956;
inline constexpr uint32_t kFourccI420 = 0x30323449;
inline constexpr uint32_t kFourccIYUV = 0x56555949;
inline constexpr uint32_t kFourccYV12 = 0x32315659;
inline constexpr uint32_t kFourccMJPG = 0x47504A4D;
inline constexpr uint32_t kFourccYUYV = 0x56595559;
inline constexpr uint32_t kBiRgb = 0;

// Bytes in one DIB row of `width` pixels at `bitCount` bits, rounded up to 4 bytes.
constexpr uint32_t DibStride(uint32_t width, uint32_t bitCount) {
  return ((bitCount * width + 31) / 32) * 4;
}

// Packed resolution: width in the high 16 bits, height in the low 16.
constexpr uint32_t PackResolution(uint32_t width, uint32_t height) {
  return (width << 16) | (height & 0xFFFF);
}

// Work modes reported to the virtual camera.
inline constexpr uint32_t WORKMODE_IDLE = 0;
inline constexpr uint32_t WORKMODE_STREAMING = 1;
inline constexpr uint32_t WORKMODE_FAILED = 2;
