// Baseline JPEG encode and decode for the MJPG stream of the synthetic camera and the MJPEG
// decoder filter: libjpeg-turbo's TurboJPEG on Linux, the Windows Imaging Component on
// Windows. One encoder or decoder object serves one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace media {

class JpegEncoder {
 public:
  JpegEncoder();
  ~JpegEncoder();
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;

  // Encodes a top-down B G R X image (stride in bytes) at 4:2:2 chroma subsampling and
  // `quality` 1..100 into `out` (replaced). False when the library is missing (on Windows:
  // no WIC JPEG encoder) or refuses the image; `out` is then empty.
  bool EncodeBgrx(const uint8_t* bgrx, int32_t stride, uint32_t width, uint32_t height,
                  int quality, std::vector<uint8_t>* out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class JpegDecoder {
 public:
  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Reads the image size from the stream's header; false for data that is no JPEG image.
  bool ReadSize(const uint8_t* jpeg, size_t size, uint32_t* width, uint32_t* height);

  // Decodes into packed YUY2 rows (top-down, `dstStride` bytes apart). The image must be
  // exactly width x height (an odd width leaves the last pixel of each row unwritten);
  // false for a size mismatch, damaged data or a missing library, with `dst` then
  // unspecified.
  bool DecodeToYuy2(const uint8_t* jpeg, size_t size, uint8_t* dst, int32_t dstStride,
                    uint32_t width, uint32_t height);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The steps after a planar decode, exposed for their tests: JPEG's full-range YCbCr becomes
// the studio range (Y 16..235, chroma 16..240) that YUY2 carries.
// 4:2:2 planes (chroma at half width, full height) to YUY2 rows; width even.
void PackJpeg422ToYuy2(uint8_t* dst, int32_t dstStride, const uint8_t* y, int32_t yStride,
                       const uint8_t* u, const uint8_t* v, int32_t chromaStride, uint32_t width,
                       uint32_t height);
// One plane in place (chroma: a Cb or Cr plane).
void CompressJpegRange(uint8_t* plane, int32_t stride, uint32_t width, uint32_t height,
                       bool chroma);

}  // namespace media
