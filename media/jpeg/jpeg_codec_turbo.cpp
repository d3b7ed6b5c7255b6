// The JPEG codec on libjpeg-turbo's TurboJPEG API. Decoding stays in YUV where the image's
// chroma sampling allows: 4:2:2 planes are interleaved, 4:2:0 planes go through the I420
// kernel, each brought from JPEG's full range to YUY2's studio range; anything else is decoded to BGRX and converted.
#include "media/jpeg/jpeg_codec.h"

#include <turbojpeg.h>

#include "pixel/pixel_kernels.h"

namespace media {

struct JpegEncoder::State {
  tjhandle handle = nullptr;
  ~State() {
    if (handle) tjDestroy(handle);
  }
};

JpegEncoder::JpegEncoder() : state_(std::make_unique<State>()) {}
JpegEncoder::~JpegEncoder() = default;

bool JpegEncoder::EncodeBgrx(const uint8_t* bgrx, int32_t stride, uint32_t width,
                             uint32_t height, int quality, std::vector<uint8_t>* out) {
  out->clear();
  if (!bgrx || width == 0 || height == 0 || width > 65535 || height > 65535) return false;
  if (!state_->handle) state_->handle = tjInitCompress();
  if (!state_->handle) return false;
  out->resize(tjBufSize(static_cast<int>(width), static_cast<int>(height), TJSAMP_422));
  unsigned char* buffer = out->data();
  unsigned long size = out->size();
  if (tjCompress2(state_->handle, bgrx, static_cast<int>(width), stride, static_cast<int>(height),
                  TJPF_BGRX, &buffer, &size, TJSAMP_422, quality, TJFLAG_NOREALLOC) != 0) {
    out->clear();
    return false;
  }
  out->resize(size);
  return true;
}

struct JpegDecoder::State {
  tjhandle handle = nullptr;
  std::vector<uint8_t> scratch;  // planes or BGRX rows; grows, never shrinks
  ~State() {
    if (handle) tjDestroy(handle);
  }
  bool Open() {
    if (!handle) handle = tjInitDecompress();
    return handle != nullptr;
  }
};

JpegDecoder::JpegDecoder() : state_(std::make_unique<State>()) {}
JpegDecoder::~JpegDecoder() = default;

bool JpegDecoder::ReadSize(const uint8_t* jpeg, size_t size, uint32_t* width, uint32_t* height) {
  if (!jpeg || size == 0 || !state_->Open()) return false;
  int w = 0, h = 0, subsamp = 0, colorspace = 0;
  if (tjDecompressHeader3(state_->handle, jpeg, static_cast<unsigned long>(size), &w, &h,
                          &subsamp, &colorspace) != 0)
    return false;
  *width = static_cast<uint32_t>(w);
  *height = static_cast<uint32_t>(h);
  return true;
}

bool JpegDecoder::DecodeToYuy2(const uint8_t* jpeg, size_t size, uint8_t* dst, int32_t dstStride,
                               uint32_t width, uint32_t height) {
  if (!jpeg || size == 0 || !dst || !state_->Open()) return false;
  int w = 0, h = 0, subsamp = 0, colorspace = 0;
  const unsigned long length = static_cast<unsigned long>(size);
  if (tjDecompressHeader3(state_->handle, jpeg, length, &w, &h, &subsamp, &colorspace) != 0)
    return false;
  if (static_cast<uint32_t>(w) != width || static_cast<uint32_t>(h) != height) return false;
  // No TJFLAG_FASTDCT: with it the planar decode of this library version (2.1.5) garbles
  // whole blocks of high-quality images.
  const int flags = 0;
  std::vector<uint8_t>& scratch = state_->scratch;
  if (colorspace != TJCS_CMYK && colorspace != TJCS_YCCK &&
      (subsamp == TJSAMP_422 || subsamp == TJSAMP_420)) {
    int strides[3];
    size_t sizes[3];
    size_t total = 0;
    for (int plane = 0; plane < 3; ++plane) {
      strides[plane] = tjPlaneWidth(plane, w, subsamp);
      sizes[plane] = tjPlaneSizeYUV(plane, w, strides[plane], h, subsamp);
      total += sizes[plane];
    }
    if (scratch.size() < total) scratch.resize(total);
    unsigned char* planes[3] = {scratch.data(), scratch.data() + sizes[0],
                                scratch.data() + sizes[0] + sizes[1]};
    if (tjDecompressToYUVPlanes(state_->handle, jpeg, length, planes, w, strides, h, flags) != 0)
      return false;
    if (subsamp == TJSAMP_422) {
      PackJpeg422ToYuy2(dst, dstStride, planes[0], strides[0], planes[1], planes[2], strides[1],
                        width, height);
    } else {
      const uint32_t chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
      CompressJpegRange(planes[0], strides[0], width, height, false);
      CompressJpegRange(planes[1], strides[1], chromaWidth, chromaHeight, true);
      CompressJpegRange(planes[2], strides[2], chromaWidth, chromaHeight, true);
      I420ToYUY2(dst, dstStride, planes[0], planes[1], planes[2], strides[0], strides[1], width,
                 static_cast<int32_t>(height));
    }
    return true;
  }
  const size_t stride = static_cast<size_t>(width) * 4;
  if (scratch.size() < stride * height) scratch.resize(stride * height);
  if (tjDecompress2(state_->handle, jpeg, length, scratch.data(), w, static_cast<int>(stride), h,
                    TJPF_BGRX, flags) != 0)
    return false;
  RGB32ToYUY2(dst, dstStride, scratch.data(), static_cast<int32_t>(stride), width,
              static_cast<int32_t>(height));
  return true;
}

}  // namespace media
