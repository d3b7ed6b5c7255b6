// The sample client's frame effects on packed YUY2.
#include "outside/clients/frame_effects.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "pixel/frame_format.h"

namespace oruclient {
namespace {

constexpr uint32_t kHeaderBytes = sizeof(BitmapInfoHeader);

// One row of `width` pixels. The luma of pixel i is byte 2i whatever the width. The chroma
// pair of pixel pair k (bytes 4k+1, 4k+3) moves to pair m-1-k; with an odd width that pair
// straddles two pairs of the mirrored row, so its chroma lands one pixel off.
void MirrorRow(uint8_t* row, uint32_t width) {
  for (uint32_t i = 0, j = width - 1; i < j; ++i, --j) std::swap(row[2 * i], row[2 * j]);
  const uint32_t pairs = (width + 1) / 2;
  for (uint32_t a = 0, b = pairs - 1; a < b; ++a, --b) {
    std::swap(row[4 * a + 1], row[4 * b + 1]);
    std::swap(row[4 * a + 3], row[4 * b + 3]);
  }
}

}  // namespace

std::optional<Effect> ParseEffect(std::string_view name) {
  if (name == "none") return Effect::kNone;
  if (name == "invert") return Effect::kInvert;
  if (name == "mirror") return Effect::kMirror;
  if (name == "grey") return Effect::kGrey;
  return std::nullopt;
}

const char* EffectName(Effect effect) {
  switch (effect) {
    case Effect::kInvert:
      return "invert";
    case Effect::kMirror:
      return "mirror";
    case Effect::kGrey:
      return "grey";
    case Effect::kNone:
      break;
  }
  return "none";
}

void ApplyEffect(Effect effect, uint8_t* message, uint32_t length) {
  if (effect == Effect::kNone || message == nullptr || length < kHeaderBytes) return;
  BitmapInfoHeader header;
  std::memcpy(&header, message, sizeof header);
  if (header.biCompression != kFourccYUY2 || header.biBitCount != 16) return;
  uint8_t* pixels = message + kHeaderBytes;
  const uint32_t bytes = std::min(length - kHeaderBytes, header.biSizeImage);

  switch (effect) {
    case Effect::kInvert:
      for (uint32_t i = 0; i < bytes / 4 * 4; ++i) pixels[i] = static_cast<uint8_t>(255 - pixels[i]);
      break;
    case Effect::kGrey:
      for (uint32_t i = 0; i + 4 <= bytes; i += 4) pixels[i + 1] = pixels[i + 3] = 128;
      break;
    case Effect::kMirror: {
      const int32_t width = header.biWidth;
      const int32_t height = header.biHeight;
      if (width <= 0 || height == 0) break;
      const uint64_t stride = DibStride64(static_cast<uint32_t>(width), 16);
      const uint64_t rows = std::min<uint64_t>(height < 0 ? 0 - static_cast<int64_t>(height) : height, bytes / stride);
      for (uint64_t r = 0; r < rows; ++r) MirrorRow(pixels + r * stride, static_cast<uint32_t>(width));
      break;
    }
    case Effect::kNone:
      break;
  }
}

}  // namespace oruclient
