// The sample client's effects on YUY2 messages: exact results on small rows, identities on
// random frames of odd sizes, and nothing written outside the message or past biSizeImage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "outside/clients/frame_effects.h"
#include "pixel/frame_format.h"

namespace {

using oruclient::ApplyEffect;
using oruclient::Effect;

constexpr Effect kAllEffects[] = {Effect::kNone, Effect::kInvert, Effect::kMirror, Effect::kGrey};

// Header + pixels of a width x |height| YUY2 frame, pixels random.
std::vector<uint8_t> Message(int32_t width, int32_t height, uint32_t seed) {
  const uint32_t sizeImage = DibStride(static_cast<uint32_t>(width), 16) * static_cast<uint32_t>(height < 0 ? -height : height);
  std::vector<uint8_t> m(40 + sizeImage);
  const uint32_t forty = 40, yuy2 = 0x32595559;
  const uint16_t planes = 1, bits = 16;
  std::memcpy(&m[0], &forty, 4);
  std::memcpy(&m[4], &width, 4);
  std::memcpy(&m[8], &height, 4);
  std::memcpy(&m[12], &planes, 2);
  std::memcpy(&m[14], &bits, 2);
  std::memcpy(&m[16], &yuy2, 4);
  std::memcpy(&m[20], &sizeImage, 4);
  std::mt19937 rng(seed);
  for (uint32_t i = 40; i < m.size(); ++i) m[i] = static_cast<uint8_t>(rng());
  return m;
}

TEST(FrameEffects, NamesParseAndRoundTrip) {
  for (Effect e : kAllEffects) EXPECT_EQ(oruclient::ParseEffect(oruclient::EffectName(e)), e);
  for (const char* bad : {"", "Invert", "grey ", "gray", "blur"}) EXPECT_FALSE(oruclient::ParseEffect(bad)) << bad;
}

TEST(FrameEffects, SmallRowsGiveExactResults) {
  struct Case {
    const char* what;
    Effect effect;
    int32_t width;
    std::vector<uint8_t> row, expected;
  };
  const Case cases[] = {
      // Y0 U0 Y1 V0 Y2 U1 Y3 V1: pixels reversed, each pair keeps its chroma.
      {"mirror 4", Effect::kMirror, 4, {10, 20, 11, 30, 12, 21, 13, 31}, {13, 21, 12, 31, 11, 20, 10, 30}},
      // Odd width: the luma is mirrored exactly, the pad byte (6) stays, the chroma pairs swap.
      {"mirror 3", Effect::kMirror, 3, {10, 20, 11, 30, 12, 21, 99, 31}, {12, 21, 11, 31, 10, 20, 99, 30}},
      {"mirror 1", Effect::kMirror, 1, {10, 20, 99, 30}, {10, 20, 99, 30}},
      {"grey", Effect::kGrey, 4, {10, 20, 11, 30, 12, 21, 13, 31}, {10, 128, 11, 128, 12, 128, 13, 128}},
      {"invert", Effect::kInvert, 4, {0, 255, 1, 128, 12, 21, 13, 31}, {255, 0, 254, 127, 243, 234, 242, 224}},
      {"none", Effect::kNone, 4, {10, 20, 11, 30, 12, 21, 13, 31}, {10, 20, 11, 30, 12, 21, 13, 31}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> m = Message(c.width, 1, 1);
    ASSERT_EQ(m.size(), 40 + c.row.size()) << c.what;
    std::memcpy(&m[40], c.row.data(), c.row.size());
    ApplyEffect(c.effect, m.data(), static_cast<uint32_t>(m.size()));
    EXPECT_EQ(std::vector<uint8_t>(m.begin() + 40, m.end()), c.expected) << c.what;
  }
}

TEST(FrameEffects, RandomFramesKeepTheirInvariants) {
  uint32_t seed = 7;
  for (int32_t width : {1, 2, 3, 5, 8, 33, 640}) {
    for (int32_t height : {1, 3, -3, 4}) {
      const std::vector<uint8_t> original = Message(width, height, ++seed);
      const uint32_t stride = DibStride(static_cast<uint32_t>(width), 16);
      const uint32_t rows = static_cast<uint32_t>(height < 0 ? -height : height);
      for (Effect e : {Effect::kInvert, Effect::kMirror}) {
        std::vector<uint8_t> m = original;
        ApplyEffect(e, m.data(), static_cast<uint32_t>(m.size()));
        ApplyEffect(e, m.data(), static_cast<uint32_t>(m.size()));
        EXPECT_EQ(m, original) << oruclient::EffectName(e) << " twice, " << width << "x" << height;
      }
      std::vector<uint8_t> mirrored = original;
      ApplyEffect(Effect::kMirror, mirrored.data(), static_cast<uint32_t>(mirrored.size()));
      std::vector<uint8_t> grey = original;
      ApplyEffect(Effect::kGrey, grey.data(), static_cast<uint32_t>(grey.size()));
      for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* in = &original[40 + r * stride];
        const uint8_t* out = &mirrored[40 + r * stride];
        for (int32_t x = 0; x < width; ++x) ASSERT_EQ(out[2 * x], in[2 * (width - 1 - x)]) << width << " row " << r;
        for (uint32_t i = 0; i < stride; ++i)
          ASSERT_EQ(grey[40 + r * stride + i], i % 2 == 1 ? 128 : in[i]) << width << " row " << r << " byte " << i;
      }
      EXPECT_TRUE(std::equal(original.begin(), original.begin() + 40, mirrored.begin()));
    }
  }
}

// A message cut short by the channel, a header that claims more or less than it carries, or
// one of another format: nothing changes outside the pixels both allow, nor the header.
TEST(FrameEffects, StayInsideTheMessageAndTheHeadersSize) {
  struct Case {
    const char* what;
    uint32_t length;     // bytes of the message the effect is given
    uint32_t sizeImage;  // what its header claims
    uint32_t changeable; // pixel bytes an effect may touch
  };
  const std::vector<uint8_t> base = Message(8, 4, 3);  // 64 pixel bytes, rows of 16
  const Case cases[] = {
      {"whole", 104, 64, 64},
      {"cut inside the second row", 40 + 16 + 6, 64, 20},
      {"cut inside the header", 30, 64, 0},
      {"header claims more", 104, 0x7FFFFFF0u, 64},
      {"header claims less", 104, 33, 32},
  };
  for (const Case& c : cases) {
    for (Effect e : kAllEffects) {
      std::vector<uint8_t> m = base;
      std::memcpy(&m[20], &c.sizeImage, 4);
      const std::vector<uint8_t> before = m;
      // Exactly `length` bytes: a write (or read) past them is caught by the sanitizer build.
      std::vector<uint8_t> given(m.begin(), m.begin() + c.length);
      ApplyEffect(e, given.data(), c.length);
      std::memcpy(m.data(), given.data(), c.length);
      EXPECT_TRUE(std::equal(m.begin(), m.begin() + 40, before.begin())) << c.what;
      EXPECT_TRUE(std::equal(m.begin() + 40 + c.changeable, m.end(), before.begin() + 40 + c.changeable))
          << c.what << ", " << oruclient::EffectName(e);
      if (e == Effect::kInvert && c.changeable > 0) {
        EXPECT_EQ(m[40], 255 - before[40]) << c.what;
      }
    }
  }
}

TEST(FrameEffects, OtherFormatsAreLeftAlone) {
  struct Case {
    const char* what;
    uint32_t compression;
    uint16_t bits;
  };
  const Case cases[] = {{"UYVY", 0x59565955, 16}, {"RGB24", 0, 24}, {"YUY2 at 24 bits", 0x32595559, 24}};
  for (const Case& c : cases) {
    std::vector<uint8_t> m = Message(8, 2, 5);
    std::memcpy(&m[16], &c.compression, 4);
    std::memcpy(&m[14], &c.bits, 2);
    const std::vector<uint8_t> before = m;
    for (Effect e : kAllEffects) ApplyEffect(e, m.data(), static_cast<uint32_t>(m.size()));
    EXPECT_EQ(m, before) << c.what;
  }
}

}  // namespace
