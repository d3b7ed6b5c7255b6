// The PNG snapshot: the YUY2 rows become RGB, which media/png writes (libpng on Linux, the
// Windows Imaging Component on Windows).
#include "outside/vcam/png_snapshot.h"

#include <cstddef>
#include <new>
#include <vector>

#include "media/png/png_file.h"

namespace {

uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Studio-range BT.601 YUV to RGB in 8.8 fixed point.
void ToRgb(int y, int u, int v, uint8_t* rgb) {
  const int c = 298 * (y - 16) + 128;
  const int d = u - 128;
  const int e = v - 128;
  rgb[0] = Clamp((c + 409 * e) / 256);
  rgb[1] = Clamp((c - 100 * d - 208 * e) / 256);
  rgb[2] = Clamp((c + 516 * d) / 256);
}

}  // namespace

bool WriteYuy2AsPng(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height,
                    uint32_t stride) {
  if (!path || !pixels || width == 0 || height == 0 || width > 0x7FFFFFFFu / 3 ||
      stride < ((width + 1) / 2) * 4) {
    return false;
  }
  std::vector<uint8_t> rgb;
  try {
    rgb.resize(static_cast<size_t>(width) * 3 * height);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (uint32_t row = 0; row < height; ++row) {
    const uint8_t* src = pixels + static_cast<size_t>(row) * stride;
    uint8_t* dst = rgb.data() + static_cast<size_t>(row) * width * 3;
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* m = src + (x / 2) * 4;  // Y0 U Y1 V
      ToRgb(m[(x & 1) ? 2 : 0], m[1], m[3], dst + 3 * x);
    }
  }
  return media::WriteRgbPng(path, rgb.data(), width, height);
}
