// The JPEG codec: encode/decode round trips of the camera pattern, refusals, and the 4:2:2
// packing step.
#include "media/jpeg/jpeg_codec.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/filters/picture.h"

namespace {

struct RoundTrip {
  uint32_t width, height;
  int quality;
  double minPsnr;
};

class JpegRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

// Whether the encoder follows the quality it is asked for. Wine's WIC JPEG encoder does not:
// it writes its default quality (75) at 4:2:0 whatever the options say.
bool EncoderFollowsQuality() {
  const std::vector<uint8_t> bgrx = test::PatternBgrx(64, 48, 37);
  media::JpegEncoder encoder;
  std::vector<uint8_t> low, high;
  return encoder.EncodeBgrx(bgrx.data(), 64 * 4, 64, 48, 30, &low) &&
         encoder.EncodeBgrx(bgrx.data(), 64 * 4, 64, 48, 95, &high) && low != high;
}

// The floors are for the quality asked for; an encoder that writes quality 75 at 4:2:0 instead
// loses up to 4 dB on these patterns (measured against Wine's), so it is held to 5 dB less.
double FloorFor(const RoundTrip& c) {
  static const bool follows = EncoderFollowsQuality();
  return follows ? c.minPsnr : c.minPsnr - 5.0;
}

TEST_P(JpegRoundTrip, DecodedPatternMatchesTheOriginal) {
  const RoundTrip c = GetParam();
  const std::vector<uint8_t> bgrx = test::PatternBgrx(c.width, c.height, 37);
  const std::vector<uint8_t> expected = test::PatternYuy2(c.width, c.height, 37);
  media::JpegEncoder encoder;
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encoder.EncodeBgrx(bgrx.data(), static_cast<int32_t>(c.width * 4), c.width,
                                 c.height, c.quality, &jpeg));
  ASSERT_GT(jpeg.size(), 2u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  EXPECT_LT(jpeg.size(), expected.size());

  media::JpegDecoder decoder;
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(decoder.ReadSize(jpeg.data(), jpeg.size(), &w, &h));
  EXPECT_EQ(w, c.width);
  EXPECT_EQ(h, c.height);
  std::vector<uint8_t> decoded(expected.size(), 0xAA);
  ASSERT_TRUE(decoder.DecodeToYuy2(jpeg.data(), jpeg.size(), decoded.data(),
                                   static_cast<int32_t>(c.width * 2), c.width, c.height));
  const double psnr = test::Psnr(decoded.data(), expected.data(), expected.size());
  RecordProperty("psnr", std::to_string(psnr));
  EXPECT_GE(psnr, FloorFor(c)) << c.width << "x" << c.height << " q" << c.quality;
}

INSTANTIATE_TEST_SUITE_P(Sizes, JpegRoundTrip,
                         ::testing::Values(RoundTrip{64, 48, 90, 40.0}, RoundTrip{320, 240, 50, 38.0},
                                           RoundTrip{320, 240, 90, 45.0},
                                           RoundTrip{322, 242, 90, 44.0},
                                           RoundTrip{640, 480, 75, 45.0},
                                           RoundTrip{640, 480, 95, 47.0},
                                           RoundTrip{1280, 720, 90, 47.0},
                                           RoundTrip{1920, 1080, 90, 47.0}));

TEST(JpegDecoder, RefusesWhatItCannotDecode) {
  const std::vector<uint8_t> bgrx = test::PatternBgrx(64, 48, 1);
  media::JpegEncoder encoder;
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encoder.EncodeBgrx(bgrx.data(), 64 * 4, 64, 48, 90, &jpeg));
  std::vector<uint8_t> out(64 * 48 * 2 + 64 * 2);
  media::JpegDecoder decoder;
  uint32_t w = 0, h = 0;
  const std::vector<uint8_t> noise(500, 0x5A);
  EXPECT_FALSE(decoder.ReadSize(noise.data(), noise.size(), &w, &h));
  EXPECT_FALSE(decoder.DecodeToYuy2(noise.data(), noise.size(), out.data(), 128, 64, 48));
  // Another size than the image's.
  EXPECT_FALSE(decoder.DecodeToYuy2(jpeg.data(), jpeg.size(), out.data(), 128, 64, 46));
  EXPECT_FALSE(decoder.DecodeToYuy2(jpeg.data(), jpeg.size(), out.data(), 132, 66, 48));
  // Cut in the middle of its header.
  EXPECT_FALSE(decoder.DecodeToYuy2(jpeg.data(), 20, out.data(), 128, 64, 48));
  EXPECT_FALSE(encoder.EncodeBgrx(nullptr, 0, 64, 48, 90, &jpeg));
  EXPECT_TRUE(jpeg.empty());
  // The decoder is still usable after refusals.
  ASSERT_TRUE(encoder.EncodeBgrx(bgrx.data(), 64 * 4, 64, 48, 90, &jpeg));
  EXPECT_TRUE(decoder.DecodeToYuy2(jpeg.data(), jpeg.size(), out.data(), 128, 64, 48));
}

// Full range to studio range, rounded: Y 16 + 219/255 Y, chroma 128 + 224/255 (C - 128).
uint8_t StudioLuma(int y) { return static_cast<uint8_t>(std::lround(16 + y * 219.0 / 255.0)); }
uint8_t StudioChroma(int c) {
  return static_cast<uint8_t>(std::lround(128 + (c - 128) * 224.0 / 255.0));
}

TEST(PackJpeg422ToYuy2, InterleavesPlanesIntoStudioRangeWithPaddedStrides) {
  // 40 pixels (past two 16-pixel steps and a tail) x 7 rows cover every byte value,
  // strides wider than the rows.
  const uint32_t width = 40, height = 7;
  const int32_t yStride = 48, cStride = 24, dStride = 84;
  std::vector<uint8_t> y(yStride * height), u(cStride * height), v(cStride * height);
  for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 0; i < u.size(); ++i) {
    u[i] = static_cast<uint8_t>(i * 11);
    v[i] = static_cast<uint8_t>(255 - i * 11);
  }
  std::vector<uint8_t> out(dStride * height, 0xEE);
  media::PackJpeg422ToYuy2(out.data(), dStride, y.data(), yStride, u.data(), v.data(), cStride,
                           width, height);
  for (uint32_t row = 0; row < height; ++row) {
    for (uint32_t pair = 0; pair < width / 2; ++pair) {
      const uint8_t* m = &out[row * dStride + pair * 4];
      ASSERT_EQ(m[0], StudioLuma(y[row * yStride + 2 * pair])) << row << " " << pair;
      ASSERT_EQ(m[1], StudioChroma(u[row * cStride + pair])) << row << " " << pair;
      ASSERT_EQ(m[2], StudioLuma(y[row * yStride + 2 * pair + 1])) << row << " " << pair;
      ASSERT_EQ(m[3], StudioChroma(v[row * cStride + pair])) << row << " " << pair;
    }
    EXPECT_EQ(out[row * dStride + 80], 0xEE);  // padding untouched
  }
}

TEST(CompressJpegRange, MapsEveryValue) {
  std::vector<uint8_t> luma(256), chroma(256);
  for (int i = 0; i < 256; ++i) luma[i] = chroma[i] = static_cast<uint8_t>(i);
  media::CompressJpegRange(luma.data(), 16, 16, 16, false);
  media::CompressJpegRange(chroma.data(), 16, 16, 16, true);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(luma[i], StudioLuma(i)) << i;
    ASSERT_EQ(chroma[i], StudioChroma(i)) << i;
  }
}

}  // namespace
