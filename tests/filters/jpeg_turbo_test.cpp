// The Linux decoder's strip-wise 4:2:2 decode against TurboJPEG's whole-image planar decode
// of the same file, brought to studio range by formula: byte for byte, at sizes with partial
// blocks; and files damaged inside their coded data are refused.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>

#include "media/jpeg/jpeg_codec.h"
#include "tests/filters/picture.h"

namespace {

uint8_t Studio(int v, bool chroma) {
  return static_cast<uint8_t>(chroma ? std::lround(128 + (v - 128) * 224.0 / 255.0)
                                     : std::lround(16 + v * 219.0 / 255.0));
}

std::vector<uint8_t> Reference422(const std::vector<uint8_t>& jpeg, int w, int h) {
  int strides[3];
  std::vector<uint8_t> planes[3];
  unsigned char* out[3];
  for (int p = 0; p < 3; ++p) {
    strides[p] = tjPlaneWidth(p, w, TJSAMP_422);
    planes[p].resize(tjPlaneSizeYUV(p, w, strides[p], h, TJSAMP_422));
    out[p] = planes[p].data();
  }
  tjhandle handle = tjInitDecompress();
  const int rc = tjDecompressToYUVPlanes(handle, jpeg.data(), jpeg.size(), out, w, strides, h, 0);
  tjDestroy(handle);
  if (rc != 0) return {};
  std::vector<uint8_t> yuy2(static_cast<size_t>(w) * 2 * h);
  for (int row = 0; row < h; ++row) {
    for (int x = 0; x < w; ++x) {
      uint8_t* m = &yuy2[static_cast<size_t>(row) * w * 2 + 2 * x];
      m[0] = Studio(planes[0][row * strides[0] + x], false);
      m[1] = Studio(planes[x & 1 ? 2 : 1][row * strides[1] + x / 2], true);
    }
  }
  return yuy2;
}

TEST(JpegStripDecode, MatchesTheWholeImageDecodeAndRefusesDamage) {
  const struct {
    uint32_t w, h;
  } sizes[] = {{16, 8}, {18, 9}, {322, 242}, {1280, 720}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
    const std::vector<uint8_t> bgrx = test::PatternBgrx(s.w, s.h, 5);
    media::JpegEncoder encoder;
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(encoder.EncodeBgrx(bgrx.data(), static_cast<int32_t>(s.w * 4), s.w, s.h, 90, &jpeg));
    const std::vector<uint8_t> expected = Reference422(jpeg, static_cast<int>(s.w), static_cast<int>(s.h));
    ASSERT_FALSE(expected.empty());
    media::JpegDecoder decoder;
    std::vector<uint8_t> got(expected.size(), 0xAA);
    ASSERT_TRUE(decoder.DecodeToYuy2(jpeg.data(), jpeg.size(), got.data(), static_cast<int32_t>(s.w * 2), s.w, s.h));
    EXPECT_TRUE(got == expected);
    // Cut short in the coded data, or its end marker lost.
    EXPECT_FALSE(decoder.DecodeToYuy2(jpeg.data(), jpeg.size() * 2 / 3, got.data(), static_cast<int32_t>(s.w * 2), s.w, s.h));
    EXPECT_FALSE(decoder.DecodeToYuy2(jpeg.data(), jpeg.size() - 2, got.data(), static_cast<int32_t>(s.w * 2), s.w, s.h));
  }
}

}  // namespace
