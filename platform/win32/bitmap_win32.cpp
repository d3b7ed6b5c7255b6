// Windows bitmaps: LoadImageW as a DIB section, GetObjectW, GetBitmapBits.
#include "platform/bitmap.h"

#include <windows.h>

#include "platform/text.h"

namespace platform {

BitmapFile::~BitmapFile() {
  if (handle_) DeleteObject(static_cast<HBITMAP>(handle_));
}

bool BitmapFile::Load(const char* windowsPath) {
  if (handle_) {
    DeleteObject(static_cast<HBITMAP>(handle_));
    handle_ = nullptr;
  }
  desc_ = {};
  if (!windowsPath) return false;
  const std::u16string wpath = Utf8ToUtf16(windowsPath);
  HANDLE h = LoadImageW(nullptr, reinterpret_cast<const wchar_t*>(wpath.c_str()), IMAGE_BITMAP,
                        0, 0, LR_CREATEDIBSECTION | LR_LOADFROMFILE);
  if (!h) return false;
  handle_ = h;
  BITMAP bm{};
  if (GetObjectW(h, sizeof(bm), &bm) == 0) return true;  // loaded, nothing to describe
  desc_.width = bm.bmWidth;
  desc_.height = bm.bmHeight;
  desc_.widthBytes = bm.bmWidthBytes;
  desc_.bitsPixel = bm.bmBitsPixel;
  return true;
}

long BitmapFile::GetBits(void* out, long size) const {
  if (!handle_ || !out || size <= 0) return 0;
  return GetBitmapBits(static_cast<HBITMAP>(handle_), size, out);
}

}  // namespace platform
