// The frame pipeline: check, convert, copy or scale, plug-in, hand on; and the output format
// the worker prepares for it.
#include "graph/frame_pipeline.h"

#include <cstdlib>
#include <new>

#include "graph/diagnostics.h"
#include "graph/scaler.h"
#include "pixel/pixel_kernels.h"
#include "platform/exception_guard.h"

namespace {

// Larger frames are taken for a lying header.
constexpr int64_t kMaxFrameDimension = 16384;

enum class FrameAction { PassThrough, Uyvy, Vyuy, I420, Yv12, Rgb24, Rgb32, Mjpeg, Reject };

FrameAction ActionFor(const BitmapInfoHeader& h) {
  switch (h.biCompression) {
    case kFourccYUY2:
    case kFourccYVYU:
      return FrameAction::PassThrough;
    case kFourccUYVY:
      return FrameAction::Uyvy;
    case kFourccVYUY:
      return FrameAction::Vyuy;
    case kFourccI420:
    case kFourccIYUV:
      return FrameAction::I420;
    case kFourccYV12:
      return FrameAction::Yv12;
    case kFourccMJPG:
      return FrameAction::Mjpeg;
    case kBiRgb:
      if (h.biBitCount == 24) return FrameAction::Rgb24;
      if (h.biBitCount == 32) return FrameAction::Rgb32;
      return FrameAction::Reject;
    default:
      return FrameAction::Reject;
  }
}

// The bytes a frame of this action and size occupies, or 0 when its size is not plausible.
uint64_t FrameBytes(FrameAction action, int32_t width, int32_t height) {
  const int64_t w = width;
  const int64_t h = height < 0 ? -static_cast<int64_t>(height) : height;
  if (w <= 0 || h == 0 || w > kMaxFrameDimension || h > kMaxFrameDimension) return 0;
  switch (action) {
    case FrameAction::PassThrough:
    case FrameAction::Uyvy:
    case FrameAction::Vyuy:
      return static_cast<uint64_t>(DibStride(static_cast<uint32_t>(w), 16)) * h;
    case FrameAction::I420:
    case FrameAction::Yv12:
      return static_cast<uint64_t>(w * h) + 2 * static_cast<uint64_t>((w * h) / 4);
    case FrameAction::Rgb24:
      return static_cast<uint64_t>(DibStride(static_cast<uint32_t>(w), 24)) * h;
    case FrameAction::Rgb32:
      return static_cast<uint64_t>(DibStride(static_cast<uint32_t>(w), 32)) * h;
    default:
      return 0;
  }
}

uint32_t AbsHeight(int32_t h) { return h < 0 ? 0u - static_cast<uint32_t>(h) : static_cast<uint32_t>(h); }

}  // namespace

HResult FramePipeline::PrepareOutputFormat(uint32_t width, uint32_t height) {
  const uint64_t size = DibStride64(width, 16) * height;
  // A packed resolution can ask for up to 65535 x 65535, which no 32-bit size holds.
  if (size > 0x7FFFFFFFu) return kEFail;
  if (outputCapacity < size) {
    outputBuffer.reset();
    outputCapacity = 0;
    outputBuffer.reset(new (std::nothrow) uint8_t[size]);
    if (!outputBuffer) {
      outputHeader = {};
      return kEFail;
    }
    outputCapacity = static_cast<uint32_t>(size);
  }
  outputHeader = Yuy2Header(width, height, 0);
  return kSOk;
}

void FramePipeline::ReleaseBuffers() {
  FreeConversionBuffer();
  outputBuffer.reset();
  outputCapacity = 0;
  outputHeader = {};
}

int32_t PLATFORM_STDCALL FramePipeline::SampleCallback(const BitmapInfoHeader* header, const uint8_t* data,
                                                       uint32_t length, void* context) {
  if (context) {
    platform::GuardedVoid([&] { static_cast<FramePipeline*>(context)->ProcessSample(header, data, length); });
  }
  return 0;
}

bool FramePipeline::ConvertsFrames(const BitmapInfoHeader& header) {
  const FrameAction action = ActionFor(header);
  return action != FrameAction::Mjpeg && action != FrameAction::Reject;
}

HResult FramePipeline::ProcessSample(const BitmapInfoHeader* header, const uint8_t* data,
                                        uint32_t length) {
  if (!header || !data || length == 0) return kEFail;
  const FrameAction action = ActionFor(*header);
  if (action == FrameAction::Mjpeg) {
    LogMessage("Received MJPEG data, failed!");
    return kEFail;
  }
  if (action == FrameAction::Reject) return kEFail;
  // A header that claims more bytes than the sample holds, or an implausible size, drops the
  // frame before anything is read.
  const uint64_t needed = FrameBytes(action, header->biWidth, header->biHeight);
  if (needed == 0 || needed > length) return kEFail;
  if (action == FrameAction::PassThrough) return DeliverFrame(header, data, length);

  return platform::Guarded(kEFail, [&]() -> HResult {
    EnsureConversionBuffer(header);
    if (!conversionBuffer) return kEFail;
    const uint32_t w = static_cast<uint32_t>(header->biWidth);
    const int32_t h = header->biHeight;
    const uint32_t rows = AbsHeight(h);
    uint8_t* dst = conversionBuffer.get();
    const int32_t dstStride = static_cast<int32_t>(DibStride(w, 16));
    switch (action) {
      case FrameAction::Uyvy:
        UYVYToYUY2(dst, dstStride, data, static_cast<int32_t>(DibStride(w, 16)), w, h);
        break;
      case FrameAction::Vyuy:
        VYUYToYUY2(dst, dstStride, data, static_cast<int32_t>(DibStride(w, 16)), w, h);
        break;
      case FrameAction::I420:
      case FrameAction::Yv12: {
        const size_t lumaBytes = static_cast<size_t>(w) * rows;
        const size_t chromaBytes = lumaBytes / 4;
        const uint8_t* first = data + lumaBytes;
        const uint8_t* second = first + chromaBytes;
        const uint8_t* u = action == FrameAction::I420 ? first : second;
        const uint8_t* v = action == FrameAction::I420 ? second : first;
        I420ToYUY2(dst, dstStride, data, u, v, static_cast<int32_t>(w),
                   static_cast<int32_t>(w / 2), w, h);
        break;
      }
      case FrameAction::Rgb24:
        RGB24ToYUY2(dst, dstStride, data, static_cast<int32_t>(DibStride(w, 24)), w, -h);
        break;
      case FrameAction::Rgb32:
        RGB32ToYUY2(dst, dstStride, data, static_cast<int32_t>(DibStride(w, 32)), w, -h);
        break;
      default:
        return kEFail;
    }
    return DeliverFrame(header, dst, conversionSize);
  });
}

void FramePipeline::EnsureConversionBuffer(const BitmapInfoHeader* header) {
  if (!header) return;
  if (conversionBuffer && header->biWidth == cachedHeader.biWidth &&
      header->biHeight == cachedHeader.biHeight) {
    return;
  }
  const uint64_t size =
      static_cast<uint64_t>(DibStride(static_cast<uint32_t>(header->biWidth), 16)) *
      AbsHeight(header->biHeight);
  if (size > 0x7FFFFFFFu) throw std::bad_alloc();
  // Grows only: a smaller frame reuses the larger buffer.
  if (!conversionBuffer || size > conversionCapacity) {
    FreeConversionBuffer();
    conversionBuffer.reset(new uint8_t[size]);
    conversionCapacity = static_cast<uint32_t>(size);
  }
  conversionSize = static_cast<uint32_t>(size);
  cachedHeader = *header;
}

void FramePipeline::FreeConversionBuffer() {
  conversionBuffer.reset();
  conversionSize = 0;
  conversionCapacity = 0;
  cachedHeader = {};
}

int32_t FramePipeline::DeliverFrame(const BitmapInfoHeader* header, const uint8_t* data,
                                       uint32_t length) {
  if (!header || !data || length == 0) return 0;
  const uint32_t packed = links_.resolution->load(std::memory_order_relaxed);
  uint8_t* out = outputBuffer.get();
  if (packed == 0 || !out) return 0;
  const uint32_t outWidth = packed >> 16;
  const uint32_t outHeight = packed & 0xFFFF;
  // The output buffer must describe the size being delivered, or nothing is written.
  if (outputHeader.biWidth != static_cast<int32_t>(outWidth) ||
      outputHeader.biHeight != static_cast<int32_t>(outHeight) ||
      outputHeader.biSizeImage > outputCapacity) {
    return 0;
  }
  const uint32_t outSize = outputHeader.biSizeImage;
  uint32_t handOn = 0;
  if (header->biWidth == static_cast<int32_t>(outWidth) && AbsHeight(header->biHeight) == outHeight) {
    handOn = length < outSize ? length : outSize;
    CopyBytes(out, data, handOn);
  } else {
    if (header->biWidth <= 0 || header->biHeight == 0 ||
        header->biWidth > kMaxFrameDimension || AbsHeight(header->biHeight) > kMaxFrameDimension) {
      return 0;
    }
    const uint32_t srcWidth = static_cast<uint32_t>(header->biWidth);
    const uint32_t srcHeight = AbsHeight(header->biHeight);
    const uint32_t srcStride = DibStride(srcWidth, 16);
    if (static_cast<uint64_t>(srcStride) * srcHeight > length) return 0;
    ScaleYuy2(data, static_cast<int32_t>(srcWidth), static_cast<int32_t>(srcHeight),
              static_cast<int32_t>(srcStride), out, static_cast<int32_t>(outWidth),
              static_cast<int32_t>(outHeight), static_cast<int32_t>(DibStride(outWidth, 16)));
    handOn = outSize;
  }
  if (links_.support3D && *links_.support3D && links_.settings3D &&
      links_.settings3D[0].load(std::memory_order_relaxed) && links_.debugOutput) {
    (*links_.debugOutput)(u"3D\n");
  }
  if (links_.plugin) links_.plugin->ProcessFrame(&outputHeader, out);
  if (links_.sink) links_.sink(links_.sinkContext, &outputHeader, out, handOn);
  return 0;
}
