// The JPEG codec on libjpeg-turbo. Decoding stays in YUV where the image's chroma sampling
// allows: 4:2:2 is decoded a strip of eight rows at a time (libjpeg's raw output) and each
// strip interleaved while it is still in the cache; 4:2:0 planes go through the I420 kernel;
// both are brought from JPEG's full range to YUY2's studio range. Anything else is decoded to
// BGRX and converted.
#include "media/jpeg/jpeg_codec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
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

namespace {

struct JumpingErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JumpOut(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JumpingErrors*>(info->err)->jump, 1);
}

// Warnings (damaged data) are counted, not printed; any one fails the decode.
void CountWarning(j_common_ptr info, int level) {
  if (level < 0) ++info->err->num_warnings;
}

bool IsPlain422(const jpeg_decompress_struct& d) {
  return d.num_components == 3 && d.jpeg_color_space == JCS_YCbCr &&
         d.comp_info[0].h_samp_factor == 2 && d.comp_info[0].v_samp_factor == 1 &&
         d.comp_info[1].h_samp_factor == 1 && d.comp_info[1].v_samp_factor == 1 &&
         d.comp_info[2].h_samp_factor == 1 && d.comp_info[2].v_samp_factor == 1;
}

// 1: decoded; 0: not plain 4:2:2 YCbCr, nothing written; -1: damaged or the wrong size (rows
// may be written).
int DecodeStrips422(const uint8_t* jpeg, size_t size, uint8_t* dst, int32_t dstStride,
                    uint32_t width, uint32_t height, std::vector<uint8_t>* strip) {
  // A 4:2:2 MCU is 16 pixels wide: 16 luma and 2 x 8 chroma samples per row.
  const size_t rowBytes = 32 * ((static_cast<size_t>(width) + 15) / 16);
  if (strip->size() < DCTSIZE * rowBytes) strip->resize(DCTSIZE * rowBytes);
  jpeg_decompress_struct d{};
  JumpingErrors errors{};
  d.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JumpOut;
  errors.manager.emit_message = CountWarning;
  // Nothing with a destructor lives in this frame past here.
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&d);
    return -1;
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg, static_cast<unsigned long>(size));
  if (jpeg_read_header(&d, TRUE) != JPEG_HEADER_OK || d.image_width != width || d.image_height != height) {
    jpeg_destroy_decompress(&d);
    return -1;
  }
  if (!IsPlain422(d)) {
    jpeg_destroy_decompress(&d);
    return 0;
  }
  d.raw_data_out = TRUE;
  d.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&d);
  const size_t lumaStride = static_cast<size_t>(d.comp_info[0].width_in_blocks) * DCTSIZE;
  const size_t chromaStride = static_cast<size_t>(d.comp_info[1].width_in_blocks) * DCTSIZE;
  if (lumaStride + 2 * chromaStride > rowBytes) {
    jpeg_destroy_decompress(&d);
    return -1;
  }
  JSAMPROW rows[3][DCTSIZE];
  for (int r = 0; r < DCTSIZE; ++r) {
    rows[0][r] = strip->data() + r * lumaStride;
    rows[1][r] = strip->data() + DCTSIZE * lumaStride + r * chromaStride;
    rows[2][r] = strip->data() + DCTSIZE * (lumaStride + chromaStride) + r * chromaStride;
  }
  JSAMPARRAY planes[3] = {rows[0], rows[1], rows[2]};
  while (d.output_scanline < height) {
    const uint32_t top = d.output_scanline;
    if (jpeg_read_raw_data(&d, planes, DCTSIZE) != DCTSIZE) break;
    const uint32_t count = std::min<uint32_t>(DCTSIZE, height - top);
    PackJpeg422ToYuy2(dst + static_cast<ptrdiff_t>(top) * dstStride, dstStride, rows[0][0],
                      static_cast<int32_t>(lumaStride), rows[1][0], rows[2][0],
                      static_cast<int32_t>(chromaStride), width, count);
  }
  const bool whole = d.output_scanline >= height && d.err->num_warnings == 0;
  jpeg_destroy_decompress(&d);
  return whole ? 1 : -1;
}

}  // namespace

struct JpegDecoder::State {
  tjhandle handle = nullptr;
  std::vector<uint8_t> scratch;  // planes or BGRX rows; grows, never shrinks
  std::vector<uint8_t> strip;    // eight rows of 4:2:2 planes
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
  if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) return false;
  const int strips = DecodeStrips422(jpeg, size, dst, dstStride, width, height, &state_->strip);
  if (strips != 0) return strips > 0;
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
