// The frame vocabulary every layer shares: the DIB frame header, the FOURCCs, row strides,
// the packed resolution and little-endian reads. Plain types only, no Windows header.
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

// The same in 64 bits, for widths that no 32-bit row size holds.
constexpr uint64_t DibStride64(uint64_t width, uint64_t bitCount) {
  return ((bitCount * width + 31) / 32) * 4;
}

// A top-down packed YUY2 frame of `width` x `height`, biSizeImage holding exactly its rows.
constexpr BitmapInfoHeader Yuy2Header(uint32_t width, uint32_t height, uint16_t planes) {
  BitmapInfoHeader h{};
  h.biSize = 40;
  h.biWidth = static_cast<int32_t>(width);
  h.biHeight = static_cast<int32_t>(height);
  h.biPlanes = planes;
  h.biBitCount = 16;
  h.biCompression = kFourccYUY2;
  h.biSizeImage = static_cast<uint32_t>(DibStride64(width, 16) * height);
  return h;
}

// Packed resolution: width in the high 16 bits, height in the low 16.
constexpr uint32_t PackResolution(uint32_t width, uint32_t height) {
  return (width << 16) | (height & 0xFFFF);
}

constexpr uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

constexpr uint32_t ReadLe32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
