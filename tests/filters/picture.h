// Test helpers for pictures: PSNR of two byte images and the camera pattern as YUY2.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "outside/filters/test_pattern.h"

namespace test {

// PSNR in dB of two equally long byte sequences (peak 255); 99 for identical ones.
inline double Psnr(const uint8_t* a, const uint8_t* b, size_t count) {
  double sum = 0;
  for (size_t i = 0; i < count; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(count)));
}

inline std::vector<uint8_t> PatternBgrx(uint32_t width, uint32_t height, uint64_t frame) {
  std::vector<uint8_t> bgrx(static_cast<size_t>(width) * height * 4);
  filters::DrawPattern(bgrx.data(), width, height, frame);
  return bgrx;
}

inline std::vector<uint8_t> PatternYuy2(uint32_t width, uint32_t height, uint64_t frame) {
  const std::vector<uint8_t> bgrx = PatternBgrx(width, height, frame);
  std::vector<uint8_t> yuy2(filters::FrameBytes(filters::Subtype::YUY2, width, height));
  filters::WriteFrame(filters::Subtype::YUY2, bgrx.data(), width, height, nullptr, yuy2.data(),
                      static_cast<uint32_t>(yuy2.size()));
  return yuy2;
}

}  // namespace test
