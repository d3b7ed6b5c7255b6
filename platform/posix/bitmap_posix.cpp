// Linux stand-in for LoadImageW on a .bmp file: reads the file and info headers of an
// uncompressed bitmap, keeps 24-bit pixels as top-down rows, and only describes others.
#include "platform/bitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "pixel/frame_format.h"
#include "platform/paths.h"

namespace platform {

namespace {

constexpr int32_t kMaxDimension = 32768;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

BitmapFile::~BitmapFile() = default;

bool BitmapFile::Load(const char* windowsPath) {
  desc_ = {};
  bits_.clear();
  if (!windowsPath) return false;
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(NativePath(windowsPath).c_str(), "rb"));
  if (!f) return false;
  uint8_t head[14 + 40];
  if (std::fread(head, 1, 14 + 4, f.get()) != 18) return false;
  if (head[0] != 'B' || head[1] != 'M') return false;
  const uint32_t offBits = ReadLe32(head + 10);
  const uint32_t infoSize = ReadLe32(head + 14);
  int32_t width = 0;
  int32_t height = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  if (infoSize == 12) {  // BITMAPCOREHEADER
    if (std::fread(head + 18, 1, 8, f.get()) != 8) return false;
    width = ReadLe16(head + 18);
    height = static_cast<int16_t>(ReadLe16(head + 20));
    bitCount = ReadLe16(head + 24);
  } else if (infoSize >= 40) {
    if (std::fread(head + 18, 1, 36, f.get()) != 36) return false;
    width = static_cast<int32_t>(ReadLe32(head + 18));
    height = static_cast<int32_t>(ReadLe32(head + 22));
    bitCount = ReadLe16(head + 28);
    compression = ReadLe32(head + 30);
  } else {
    return false;
  }
  if (width <= 0 || height == 0 || width > kMaxDimension || height > kMaxDimension ||
      height < -kMaxDimension) {
    return false;
  }
  const bool topDown = height < 0;
  const int32_t rows = topDown ? -height : height;
  const int32_t stride = static_cast<int32_t>(DibStride(static_cast<uint32_t>(width), bitCount));
  desc_.width = width;
  desc_.height = rows;
  desc_.widthBytes = stride;
  desc_.bitsPixel = bitCount;
  if (bitCount != 24) return true;  // described; its pixels are not needed
  if (compression != 0) return false;
  // The header may claim any size: nothing is allocated for pixels the file does not hold.
  const uint64_t pixelBytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(rows);
  if (std::fseek(f.get(), 0, SEEK_END) != 0) return false;
  const long fileBytes = std::ftell(f.get());
  if (fileBytes < 0 || offBits > static_cast<uint64_t>(fileBytes) ||
      pixelBytes > static_cast<uint64_t>(fileBytes) - offBits) {
    desc_ = {};
    return false;
  }
  if (std::fseek(f.get(), static_cast<long>(offBits), SEEK_SET) != 0) return false;
  std::vector<uint8_t> file(static_cast<size_t>(pixelBytes));
  if (std::fread(file.data(), 1, file.size(), f.get()) != file.size()) return false;
  bits_.resize(file.size());
  for (int32_t r = 0; r < rows; ++r) {
    const int32_t from = topDown ? r : rows - 1 - r;
    std::memcpy(bits_.data() + static_cast<size_t>(r) * stride,
                file.data() + static_cast<size_t>(from) * stride, stride);
  }
  return true;
}

long BitmapFile::GetBits(void* out, long size) const {
  if (!out || size <= 0 || bits_.empty()) return 0;
  const size_t n = std::min(bits_.size(), static_cast<size_t>(size));
  std::memcpy(out, bits_.data(), n);
  return static_cast<long>(n);
}

}  // namespace platform
