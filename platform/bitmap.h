// A bitmap file loaded the way LoadImageW (IMAGE_BITMAP, LR_CREATEDIBSECTION |
// LR_LOADFROMFILE) loads it, described like GetObjectW's BITMAP, with its bits read like
// GetBitmapBits. On Linux a small reader of uncompressed .bmp files gives the same bytes
// for 24-bit pictures: rows top-down, each widthBytes long (a multiple of 4).
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

struct BitmapDescription {
  int32_t width = 0;
  int32_t height = 0;      // always positive
  int32_t widthBytes = 0;  // bytes per row of the bits
  uint16_t bitsPixel = 0;
};

class BitmapFile {
 public:
  BitmapFile() = default;
  ~BitmapFile();
  BitmapFile(const BitmapFile&) = delete;
  BitmapFile& operator=(const BitmapFile&) = delete;

  // False when the file is missing or not a bitmap the loader accepts.
  bool Load(const char* windowsPath);
  const BitmapDescription& description() const { return desc_; }
  // Copies up to `size` bytes of the bits; the byte count copied (0 when none).
  long GetBits(void* out, long size) const;

 private:
  BitmapDescription desc_;
  void* handle_ = nullptr;     // HBITMAP on Windows
  std::vector<uint8_t> bits_;  // Linux: 24-bit rows, top-down
};

}  // namespace platform
