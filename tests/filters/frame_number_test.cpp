// The camera's frame number read back from a delivered picture: as drawn, inverted by a
// client, mirrored by a client, or halved in width on the way, and nothing from a picture
// without the digits.
#include <gtest/gtest.h>

#include <vector>

#include "outside/filters/test_pattern.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Drawn(uint32_t w, uint32_t h, uint64_t frame) {
  Bytes bgrx(static_cast<size_t>(w) * h * 4), yuy2(static_cast<size_t>(w) * h * 2);
  filters::DrawPattern(bgrx.data(), w, h, frame);
  filters::WriteFrame(filters::Subtype::YUY2, bgrx.data(), w, h, nullptr, yuy2.data(),
                      static_cast<uint32_t>(yuy2.size()));
  return yuy2;
}

TEST(FrameNumberTest, ReadsTheDrawnNumberThroughWhatClientsAndTheScalerDo) {
  constexpr uint32_t kW = 640, kH = 480;
  enum class Change { kNone, kInvert, kMirror, kHalfWidth, kBlank };
  const struct {
    const char* name;
    Change change;
    uint64_t frame;
    bool readable;
  } cases[] = {{"as drawn", Change::kNone, 1234567, true},  {"inverted", Change::kInvert, 90, true},
               {"mirrored", Change::kMirror, 8, true},       {"half width", Change::kHalfWidth, 405, true},
               {"grey picture", Change::kBlank, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes p = Drawn(kW, kH, c.frame);
    uint32_t w = kW;
    if (c.change == Change::kInvert)
      for (auto& b : p) b = static_cast<uint8_t>(255 - b);
    if (c.change == Change::kBlank) p.assign(p.size(), 128);
    if (c.change == Change::kMirror) {
      const Bytes src = p;
      for (uint32_t y = 0; y < kH; ++y)
        for (uint32_t x = 0; x < kW; ++x) p[(y * kW + x) * 2] = src[(y * kW + kW - 1 - x) * 2];
    }
    if (c.change == Change::kHalfWidth) {
      w = kW / 2;
      Bytes half(static_cast<size_t>(w) * kH * 2);
      for (uint32_t y = 0; y < kH; ++y)
        for (uint32_t x = 0; x < w; ++x) half[(y * w + x) * 2] = p[(y * kW + 2 * x) * 2];
      p = half;
    }
    uint64_t n = 0;
    ASSERT_EQ(filters::ReadFrameNumber(p.data(), w, kH, w * 2, kW, kH, &n), c.readable);
    if (c.readable) {
      EXPECT_EQ(n, c.frame);
    }
  }
}

}  // namespace
