// The virtual-camera stand-in's PNG snapshot of the last frame, read back through media/png
// (libpng on Linux, the Windows Imaging Component on Windows). Not built on Linux without
// libpng.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/png/png_file.h"
#include "tests/graph/standins.h"
#include "tests/graph/test_env.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Png {
  uint32_t width = 0;
  uint32_t height = 0;
  Bytes rgb;  // 3 bytes a pixel, rows packed
  const uint8_t* At(uint32_t x, uint32_t y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};

// The file decoded as 8-bit RGB; false when it is no PNG file that can be read.
bool ReadPng(const std::string& path, Png* out) {
  return media::ReadRgbPng(path.c_str(), &out->width, &out->height, &out->rgb);
}

class VcamPngTest : public test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_TRUE(vcam_.ok());
    vcam_.Reset();
    path_ = test::Join(dir_, "last.png");
  }
  void Deliver(const BitmapInfoHeader& h, const Bytes& pixels) {
    ASSERT_EQ(vcam_.SetWebcamData(&h, pixels.data(), static_cast<uint32_t>(pixels.size())), kSOk);
  }
  test::VcamStandIn vcam_;
  std::string path_;
};

TEST_F(VcamPngTest, LastFrameIsWrittenAsRgbAndReadsBack) {
  // 5 x 2: the last pixel of each row is the first half of a macropixel whose second luma
  // lies beyond the picture. Macropixels are Y0 U Y1 V.
  const Bytes frame = {
      235, 128, 16, 128,   126, 128, 126, 128,   81, 90, 145, 240,  // white black | grey grey | red
      41, 240, 41, 110,    16, 128, 235, 128,    170, 166, 0, 16,   // blue blue | black white | cyan
  };
  Deliver(test::Yuy2Header(5, 2), frame);
  ASSERT_EQ(vcam_.WriteLastFramePNG(path_.c_str()), 1);
  Png png;
  ASSERT_TRUE(ReadPng(path_, &png));
  EXPECT_EQ(png.width, 5u);
  EXPECT_EQ(png.height, 2u);

  struct Case {
    uint32_t x, y;
    int r, g, b;
  } cases[] = {
      {0, 0, 255, 255, 255}, {1, 0, 0, 0, 0},     {2, 0, 128, 128, 128}, {3, 0, 128, 128, 128},
      {4, 0, 255, 0, 0},     {0, 1, 0, 0, 255},   {1, 1, 0, 0, 255},     {2, 1, 0, 0, 0},
      {3, 1, 255, 255, 255}, {4, 1, 0, 255, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    const uint8_t* p = png.At(c.x, c.y);
    EXPECT_NEAR(p[0], c.r, 3);
    EXPECT_NEAR(p[1], c.g, 3);
    EXPECT_NEAR(p[2], c.b, 3);
  }
}

TEST_F(VcamPngTest, EveryRowOfALargerFrameReadsBack) {
  // Each row a different grey, top row first: rows must not be flipped or shifted by the stride.
  const int32_t w = 37, h = 21;
  const uint32_t stride = DibStride(w, 16);
  Bytes frame(stride * h, 0xAA);
  for (int32_t y = 0; y < h; ++y) {
    for (uint32_t m = 0; m + 4 <= static_cast<uint32_t>(w + 1) / 2 * 4; m += 4) {
      uint8_t* p = frame.data() + y * stride + m;
      p[0] = p[2] = static_cast<uint8_t>(16 + 10 * y);
      p[1] = p[3] = 128;
    }
  }
  Deliver(test::Yuy2Header(w, h), frame);
  ASSERT_EQ(vcam_.WriteLastFramePNG(path_.c_str()), 1);
  Png png;
  ASSERT_TRUE(ReadPng(path_, &png));
  ASSERT_EQ(png.width, static_cast<uint32_t>(w));
  ASSERT_EQ(png.height, static_cast<uint32_t>(h));
  for (int32_t y = 0; y < h; ++y) {
    const int grey = (298 * (10 * y) + 128) / 256;
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* p = png.At(x, y);
      ASSERT_NEAR(p[0], grey, 1) << x << "," << y;
      ASSERT_EQ(p[0], p[1]);
      ASSERT_EQ(p[1], p[2]);
    }
  }
}

TEST_F(VcamPngTest, NothingIsWrittenWithoutAWholeYuy2Frame) {
  EXPECT_EQ(vcam_.WriteLastFramePNG(path_.c_str()), 0);  // no frame yet
  struct Case {
    const char* name;
    BitmapInfoHeader header;
    size_t bytes;
  } cases[] = {
      {"bytes short of the rows", test::Yuy2Header(8, 4), 8 * 2 * 4 - 1},
      {"another code", [] { BitmapInfoHeader h = test::Yuy2Header(8, 4); h.biCompression = kFourccUYVY; return h; }(), 64},
      {"zero width", test::Yuy2Header(0, 4), 64},
      {"height beyond 65535", test::Yuy2Header(2, 70000), 4 * 70000},
      {"lowest height", [] { BitmapInfoHeader h = test::Yuy2Header(2, 2); h.biHeight = INT32_MIN; return h; }(), 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Deliver(c.header, Bytes(c.bytes, 128));
    EXPECT_EQ(vcam_.WriteLastFramePNG(path_.c_str()), 0);
    EXPECT_FALSE(platform::FileExists(path_.c_str()));
  }
  Deliver(test::Yuy2Header(8, 4), Bytes(64, 128));
  EXPECT_EQ(vcam_.WriteLastFramePNG(test::Join(dir_, "no such folder", "x.png").c_str()), 0);
  EXPECT_EQ(vcam_.WriteLastFramePNG(nullptr), 0);
}

}  // namespace
