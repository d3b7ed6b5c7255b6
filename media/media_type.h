// AM_MEDIA_TYPE helpers with the names and contracts DirectShow code expects (the system
// DLLs do not export them), a move-only owner for a task-allocated media type, and a
// bounds-checked view of a video format block's bitmap header.
#pragma once

#include <utility>

#include "media/dshow.h"

// Deep copy: the format block is duplicated with CoTaskMemAlloc and pUnk gains a reference.
// E_POINTER for a null argument; E_INVALIDARG when the source claims a format block it does
// not carry (cbFormat > 0 with a null pbFormat); E_OUTOFMEMORY. On failure the target holds
// no format block and no pUnk.
HRESULT STDMETHODCALLTYPE CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);

// Frees the format block and releases pUnk; the record itself stays (cbFormat 0, pointers
// null).
void STDMETHODCALLTYPE FreeMediaType(AM_MEDIA_TYPE& mt);

// A CoTaskMemAlloc'd deep copy of `source`, or null (null source, no memory, bad source).
AM_MEDIA_TYPE* STDMETHODCALLTYPE CreateMediaType(const AM_MEDIA_TYPE* source);

// FreeMediaType, then CoTaskMemFree of the record. Null is ignored.
void STDMETHODCALLTYPE DeleteMediaType(AM_MEDIA_TYPE* mt);

namespace media {

// Owns one AM_MEDIA_TYPE* as handed out by GetStreamCaps, GetFormat or IEnumMediaTypes.
class UniqueMediaType {
 public:
  UniqueMediaType() = default;
  explicit UniqueMediaType(AM_MEDIA_TYPE* mt) : mt_(mt) {}
  UniqueMediaType(UniqueMediaType&& o) noexcept : mt_(std::exchange(o.mt_, nullptr)) {}
  UniqueMediaType& operator=(UniqueMediaType&& o) noexcept {
    if (this != &o) reset(std::exchange(o.mt_, nullptr));
    return *this;
  }
  UniqueMediaType(const UniqueMediaType&) = delete;
  UniqueMediaType& operator=(const UniqueMediaType&) = delete;
  ~UniqueMediaType() { reset(); }

  // A deep copy of `source`; empty when it cannot be made.
  static UniqueMediaType Copy(const AM_MEDIA_TYPE& source) {
    return UniqueMediaType(CreateMediaType(&source));
  }

  AM_MEDIA_TYPE* get() const { return mt_; }
  AM_MEDIA_TYPE* operator->() const { return mt_; }
  AM_MEDIA_TYPE* release() { return std::exchange(mt_, nullptr); }
  void reset(AM_MEDIA_TYPE* mt = nullptr) {
    if (AM_MEDIA_TYPE* old = std::exchange(mt_, mt)) DeleteMediaType(old);
  }
  AM_MEDIA_TYPE** put() {
    reset();
    return &mt_;
  }
  explicit operator bool() const { return mt_ != nullptr; }

 private:
  AM_MEDIA_TYPE* mt_ = nullptr;
};

// The BITMAPINFOHEADER inside a FORMAT_VideoInfo (byte 48) or FORMAT_VideoInfo2 (byte 72)
// format block, or null for another format type or a block too short to hold it.
const BITMAPINFOHEADER* VideoBitmapHeader(const AM_MEDIA_TYPE& mt);
BITMAPINFOHEADER* VideoBitmapHeader(AM_MEDIA_TYPE& mt);

// The AvgTimePerFrame field (byte 40) of the same two format blocks, or null.
REFERENCE_TIME* VideoFrameInterval(AM_MEDIA_TYPE& mt);

}  // namespace media
