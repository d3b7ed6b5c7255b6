// The capture profile file (the device allow-list) and the busy picture with its black
// frame.
#include "graph/rend_graph.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "graph/diagnostics.h"
#include "pixel/pixel_kernels.h"
#include "platform/bitmap.h"
#include "platform/system_files.h"

namespace {

constexpr size_t kProfileHeaderBytes = 2280;
constexpr size_t kProfileSwitchOffset = 2272;
constexpr size_t kProfileCountOffset = 2276;
constexpr size_t kEntryBytes = kAllowListEntryChars * 2;

constexpr uint32_t kBlackWidth = 320;
constexpr uint32_t kBlackHeight = 240;
// The largest busy picture taken, each way; cameras deliver 4096 at most.
constexpr int32_t kMaxBusyDimension = 4096;

// A 320 x 240 frame of black YUY2 macropixels (16, 128, 16, 128), or null.
std::unique_ptr<uint8_t[]> MakeBlackFrame(BitmapInfoHeader* header) {
  const BitmapInfoHeader h = Yuy2Header(kBlackWidth, kBlackHeight, 1);
  std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[h.biSizeImage]);
  if (!pixels) {
    *header = {};
    return nullptr;
  }
  const uint32_t stride = DibStride(kBlackWidth, 16);
  static const uint8_t kBlack[4] = {16, 128, 16, 128};
  for (uint32_t i = 0; i < stride; i += 4) std::memcpy(pixels.get() + i, kBlack, 4);
  for (uint32_t row = 1; row < kBlackHeight; ++row) {
    std::memcpy(pixels.get() + row * stride, pixels.get(), stride);
  }
  *header = h;
  return pixels;
}

}  // namespace

void CVDRendGraphImpl::LoadCaptureProfile() {
  platform::FsRedirectionGuard redirection;
  if (redirection.is64BitWindows()) is64BitWindows = 1;
  const std::string path = platform::SystemDirectory() + "\\oruVCapture.pfg";
  LogMessage("CVDRendGraphImpl::Initialize 22");
  LoadCaptureProfile(path.c_str());
}

void CVDRendGraphImpl::LoadCaptureProfile(const char* path) {
  // Only read: a profile the service may not write is still its profile.
  std::FILE* f = platform::OpenStdioFile(path, "rb");
  if (!f) return;
  uint8_t header[kProfileHeaderBytes];
  if (std::fread(header, 1, sizeof(header), f) != sizeof(header)) {
    std::fclose(f);  // a partial header holds nothing usable
    return;
  }
  const uint32_t enabled = ReadLe32(header + kProfileSwitchOffset);
  const uint32_t count = ReadLe32(header + kProfileCountOffset);
  allowListEnabled = (enabled != 0 && count != 0) ? 1 : 0;
  // Entries are kept only when read whole, so a count larger than the file allocates
  // nothing beyond what the file holds.
  char16_t entry[kAllowListEntryChars];
  for (uint32_t i = 0; i < count; ++i) {
    if (std::fread(entry, 1, kEntryBytes, f) != kEntryBytes) break;
    entry[kAllowListEntryChars - 1] = u'\0';
    std::unique_ptr<char16_t[]> kept(new (std::nothrow) char16_t[kAllowListEntryChars]);
    if (!kept) break;
    std::memcpy(kept.get(), entry, kEntryBytes);
    allowList.push_back(std::move(kept));
  }
  std::fclose(f);
}

void CVDRendGraphImpl::LoadBusyPicture() {
  const std::string path = platform::ExecutableDirectory() + "\\DevBusy.bmp";
  LoadBusyPicture(path.c_str());
}

void CVDRendGraphImpl::LoadBusyPicture(const char* bitmapPath) {
  busyPixels.reset();
  busyHeader = {};
  platform::BitmapFile bitmap;
  // A logo larger than any camera frame is refused like an unreadable file, before its
  // pixels cost anything.
  const bool loaded = bitmap.Load(bitmapPath) && bitmap.description().width <= kMaxBusyDimension &&
                      bitmap.description().height <= kMaxBusyDimension;
  if (loaded) {
    const platform::BitmapDescription& d = bitmap.description();
    if (d.bitsPixel == 24 && d.width > 0 && d.height > 0) {
      const uint32_t width = static_cast<uint32_t>(d.width);
      const uint32_t height = static_cast<uint32_t>(d.height);
      const size_t scratchBytes = static_cast<size_t>(DibStride(width, 24)) * height;
      // The conversion reads widthBytes per row; it must stay inside what was copied.
      if (d.widthBytes >= static_cast<int32_t>(width * 3) &&
          static_cast<size_t>(d.widthBytes) * height <= scratchBytes) {
        std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[scratchBytes]);
        if (scratch) bitmap.GetBits(scratch.get(), static_cast<long>(scratchBytes));
        const BitmapInfoHeader h = Yuy2Header(width, height, 1);
        std::unique_ptr<uint8_t[]> pixels(scratch ? new (std::nothrow) uint8_t[h.biSizeImage] : nullptr);
        if (pixels) {
          RGB24ToYUY2(pixels.get(), static_cast<int32_t>(DibStride(width, 16)), scratch.get(),
                      d.widthBytes, width, static_cast<int32_t>(height));
          busyPixels = std::move(pixels);
          busyHeader = h;
        }
      }
    }
  } else {
    busyPixels = MakeBlackFrame(&busyHeader);
  }
  blackPixels.reset();
  blackHeader = {};
  blackPixels = MakeBlackFrame(&blackHeader);
}

void CVDRendGraphImpl::FreeBusyPictures() {
  busyPixels.reset();
  busyHeader = {};
  blackPixels.reset();
  blackHeader = {};
}
