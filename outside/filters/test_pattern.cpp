// The synthetic camera's picture and its subtype layouts.
#include "outside/filters/test_pattern.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/jpeg/jpeg_codec.h"
#include "pixel/frame_format.h"
#include "pixel/pixel_kernels.h"

namespace filters {
namespace {

struct SubtypeInfo {
  Subtype subtype;
  const char* name;
  uint32_t compression;
  uint16_t bitCount;
};

constexpr SubtypeInfo kSubtypes[] = {
    {Subtype::YUY2, "YUY2", kFourccYUY2, 16},
    {Subtype::YVYU, "YVYU", kFourccYVYU, 16},
    {Subtype::UYVY, "UYVY", kFourccUYVY, 16},
    {Subtype::VYUY, "VYUY", kFourccVYUY, 16},
    {Subtype::YUYV, "YUYV", kFourccYUYV, 16},
    {Subtype::I420, "I420", kFourccI420, 12},
    {Subtype::IYUV, "IYUV", kFourccIYUV, 12},
    {Subtype::YV12, "YV12", kFourccYV12, 12},
    {Subtype::RGB24, "RGB24", kBiRgb, 24},
    {Subtype::RGB32, "RGB32", kBiRgb, 32},
    {Subtype::MJPG, "MJPG", kFourccMJPG, 24},
};

const SubtypeInfo& Info(Subtype subtype) { return kSubtypes[static_cast<size_t>(subtype)]; }

// 5 x 7 digits, one byte per row, bit 4 leftmost.
constexpr uint8_t kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

void FillRect(uint8_t* bgrx, uint32_t width, uint32_t height, int64_t x0, int64_t y0, int64_t w,
              int64_t h, uint32_t colour) {
  const int64_t x1 = std::min<int64_t>(x0 + w, width), y1 = std::min<int64_t>(y0 + h, height);
  x0 = std::max<int64_t>(x0, 0);
  y0 = std::max<int64_t>(y0, 0);
  for (int64_t y = y0; y < y1; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(bgrx + static_cast<size_t>(y) * width * 4);
    std::fill(row + x0, row + std::max(x0, x1), colour);
  }
}

uint32_t Bgrx(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint32_t>(b) | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(r) << 16;
}

}  // namespace

const char* SubtypeName(Subtype subtype) { return Info(subtype).name; }

bool ParseSubtype(const char* text, size_t length, Subtype* out) {
  for (const SubtypeInfo& info : kSubtypes) {
    const size_t n = std::strlen(info.name);
    if (n != length) continue;
    bool same = true;
    for (size_t i = 0; i < n && same; ++i) {
      char c = text[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      same = c == info.name[i];
    }
    if (same) {
      *out = info.subtype;
      return true;
    }
  }
  return false;
}

uint32_t SubtypeCompression(Subtype subtype) { return Info(subtype).compression; }
uint16_t SubtypeBitCount(Subtype subtype) { return Info(subtype).bitCount; }

uint32_t FrameBytes(Subtype subtype, uint32_t width, uint32_t height) {
  switch (subtype) {
    case Subtype::I420:
    case Subtype::IYUV:
    case Subtype::YV12:
      return width * height + 2 * ((width / 2) * (height / 2));
    case Subtype::RGB24:
      return DibStride(width, 24) * height;
    case Subtype::RGB32:
      return width * 4 * height;
    default:
      return DibStride(width, 16) * height;
  }
}

void DrawPattern(uint8_t* bgrx, uint32_t width, uint32_t height, uint64_t frameNumber) {
  if (width == 0 || height == 0) return;
  static const uint32_t kBars[8] = {Bgrx(235, 235, 235), Bgrx(235, 235, 16), Bgrx(16, 235, 235),
                                    Bgrx(16, 235, 16),   Bgrx(235, 16, 235), Bgrx(235, 16, 16),
                                    Bgrx(16, 16, 235),   Bgrx(16, 16, 16)};
  const uint32_t barsHeight = height * 2 / 3;
  for (uint32_t i = 0; i < 8; ++i) {
    const uint32_t x0 = width * i / 8, x1 = width * (i + 1) / 8;
    FillRect(bgrx, width, height, x0, 0, x1 - x0, barsHeight, kBars[i]);
  }
  for (uint32_t y = barsHeight; y < height; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(bgrx + static_cast<size_t>(y) * width * 4);
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t level = static_cast<uint8_t>(16 + (219u * x) / width);
      row[x] = Bgrx(level, level, level);
    }
  }
  // The box travels to and fro along the middle, 8 pixels a frame.
  const uint32_t box = std::max<uint32_t>(2, std::min(width, height) / 5);
  const uint64_t travel = width > box ? width - box : 1;
  const uint64_t step = (frameNumber * 8) % (2 * travel);
  const uint64_t boxX = step < travel ? step : 2 * travel - step;
  const int64_t boxY = static_cast<int64_t>(height / 2) - box / 2;
  FillRect(bgrx, width, height, static_cast<int64_t>(boxX), boxY, box, box, Bgrx(16, 16, 16));
  const uint32_t edge = std::max<uint32_t>(1, box / 8);
  FillRect(bgrx, width, height, static_cast<int64_t>(boxX) + edge, boxY + edge, box - 2 * edge,
           box - 2 * edge, Bgrx(255, 160, 0));

  // Frame number, top left, white on black.
  char digits[24];
  int count = 0;
  uint64_t n = frameNumber;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n && count < 20);
  const uint32_t scale = std::max<uint32_t>(1, height / 60);
  const int64_t cell = 6 * scale;
  FillRect(bgrx, width, height, 0, 0, cell * count + scale, 9 * scale, Bgrx(0, 0, 0));
  for (int i = 0; i < count; ++i) {
    const uint8_t* glyph = kDigits[digits[count - 1 - i] - '0'];
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (glyph[row] & (0x10 >> col))
          FillRect(bgrx, width, height, scale + cell * i + col * scale, scale + row * scale, scale,
                   scale, Bgrx(255, 255, 255));
  }
}

bool ReadFrameNumber(const uint8_t* yuy2, uint32_t width, uint32_t height, uint32_t stride,
                     uint32_t sourceWidth, uint32_t sourceHeight, uint64_t* number) {
  if (!yuy2 || width == 0 || height == 0 || sourceWidth == 0 || sourceHeight == 0) return false;
  const double scale = std::max<uint32_t>(1, sourceHeight / 60);
  const double fx = static_cast<double>(width) / sourceWidth, fy = static_cast<double>(height) / sourceHeight;
  // Luma at the centre of source cell (x, y) of `scale` pixels, read from either side.
  const auto luma = [&](double x, double y, bool mirrored) -> int {
    uint32_t ox = static_cast<uint32_t>((x + 0.5) * scale * fx);
    const uint32_t oy = static_cast<uint32_t>((y + 0.5) * scale * fy);
    if (ox >= width || oy >= height) return -1;
    if (mirrored) ox = width - 1 - ox;
    return yuy2[static_cast<size_t>(oy) * stride + 2 * ox];
  };
  for (bool mirrored : {false, true}) {
    // The box behind the digits is black, or white once inverted.
    const int background = luma(0, 0, mirrored);
    if (background < 0) return false;
    uint64_t value = 0;
    int digits = 0;
    for (; digits < 20; ++digits) {
      uint8_t rows[7];
      bool inside = true;
      for (int row = 0; row < 7 && inside; ++row) {
        rows[row] = 0;
        for (int col = 0; col < 5; ++col) {
          const int y = luma(1 + 6 * digits + col, 1 + row, mirrored);
          if (y < 0) {
            inside = false;
            break;
          }
          if (std::abs(y - background) > 64) rows[row] |= static_cast<uint8_t>(0x10 >> col);
        }
      }
      int digit = -1;
      for (int d = 0; d < 10 && inside; ++d)
        if (std::memcmp(rows, kDigits[d], 7) == 0) digit = d;
      if (digit < 0) break;
      value = value * 10 + static_cast<uint64_t>(digit);
    }
    if (digits > 0) {
      *number = value;
      return true;
    }
  }
  return false;
}

uint32_t WriteFrame(Subtype subtype, const uint8_t* bgrx, uint32_t width, uint32_t height,
                    media::JpegEncoder* encoder, uint8_t* out, uint32_t capacity) {
  const int32_t srcStride = static_cast<int32_t>(width * 4);
  const int32_t h = static_cast<int32_t>(height);
  if (subtype == Subtype::MJPG) {
    // The call's own buffer: a thread_local one in a Windows DLL was not always freed when
    // its streaming thread ended (Wine; mingw-w64 emulated TLS).
    std::vector<uint8_t> jpeg;
    if (!encoder || !encoder->EncodeBgrx(bgrx, srcStride, width, height, 90, &jpeg) ||
        jpeg.size() > capacity)
      return 0;
    std::memcpy(out, jpeg.data(), jpeg.size());
    return static_cast<uint32_t>(jpeg.size());
  }
  const uint32_t bytes = FrameBytes(subtype, width, height);
  if (bytes > capacity) return 0;
  const int32_t packed = static_cast<int32_t>(DibStride(width, 16));
  switch (subtype) {
    case Subtype::YUY2:
    case Subtype::YUYV:
      RGB32ToYUY2(out, packed, bgrx, srcStride, width, h);
      break;
    case Subtype::YVYU:
      RGB32ToYVYU(out, packed, bgrx, srcStride, width, h);
      break;
    case Subtype::UYVY:
      RGB32ToUYVY(out, packed, bgrx, srcStride, width, h);
      break;
    case Subtype::VYUY:
      RGB32ToVYUY(out, packed, bgrx, srcStride, width, h);
      break;
    case Subtype::I420:
    case Subtype::IYUV:
    case Subtype::YV12: {
      const uint32_t lumaBytes = width * height, chromaBytes = (width / 2) * (height / 2);
      uint8_t* first = out + lumaBytes;
      uint8_t* second = first + chromaBytes;
      uint8_t* u = subtype == Subtype::YV12 ? second : first;
      uint8_t* v = subtype == Subtype::YV12 ? first : second;
      RGB32ToI420(out, u, v, static_cast<int32_t>(width), static_cast<int32_t>(width / 2), bgrx,
                  srcStride, width, h);
      break;
    }
    case Subtype::RGB24: {
      // Bottom-up rows: the first row in memory is the picture's last.
      const uint32_t stride = DibStride(width, 24);
      for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* s = bgrx + static_cast<size_t>(height - 1 - y) * width * 4;
        uint8_t* d = out + static_cast<size_t>(y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
          d[3 * x] = s[4 * x];
          d[3 * x + 1] = s[4 * x + 1];
          d[3 * x + 2] = s[4 * x + 2];
        }
        std::memset(d + 3 * width, 0, stride - 3 * width);
      }
      break;
    }
    case Subtype::RGB32:
      for (uint32_t y = 0; y < height; ++y)
        std::memcpy(out + static_cast<size_t>(y) * width * 4,
                    bgrx + static_cast<size_t>(height - 1 - y) * width * 4, width * 4);
      break;
    case Subtype::MJPG:
      break;
  }
  return bytes;
}

}  // namespace filters
