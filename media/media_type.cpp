#include "media/media_type.h"

#include <cstring>

HRESULT STDMETHODCALLTYPE CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (!target || !source) return E_POINTER;
  if (target == source) return S_OK;
  *target = *source;
  target->pUnk = nullptr;
  target->cbFormat = 0;
  target->pbFormat = nullptr;
  if (source->cbFormat != 0) {
    if (!source->pbFormat) return E_INVALIDARG;
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (!block) return E_OUTOFMEMORY;
    std::memcpy(block, source->pbFormat, source->cbFormat);
    target->pbFormat = block;
    target->cbFormat = source->cbFormat;
  }
  if (source->pUnk) {
    target->pUnk = source->pUnk;
    target->pUnk->AddRef();
  }
  return S_OK;
}

void STDMETHODCALLTYPE FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

AM_MEDIA_TYPE* STDMETHODCALLTYPE CreateMediaType(const AM_MEDIA_TYPE* source) {
  if (!source) return nullptr;
  auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!mt) return nullptr;
  if (FAILED(CopyMediaType(mt, source))) {
    CoTaskMemFree(mt);
    return nullptr;
  }
  return mt;
}

void STDMETHODCALLTYPE DeleteMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  FreeMediaType(*mt);
  CoTaskMemFree(mt);
}

namespace media {
namespace {

// Offset of the header and size of the block it must fit in; 0 for another format type.
size_t HeaderOffset(const AM_MEDIA_TYPE& mt, size_t* blockSize) {
  if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo)) {
    *blockSize = sizeof(VIDEOINFOHEADER);
    return offsetof(VIDEOINFOHEADER, bmiHeader);
  }
  if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo2)) {
    *blockSize = sizeof(VIDEOINFOHEADER2);
    return offsetof(VIDEOINFOHEADER2, bmiHeader);
  }
  *blockSize = 0;
  return 0;
}

}  // namespace

const BITMAPINFOHEADER* VideoBitmapHeader(const AM_MEDIA_TYPE& mt) {
  size_t need = 0;
  size_t offset = HeaderOffset(mt, &need);
  if (need == 0 || !mt.pbFormat || mt.cbFormat < offset + sizeof(BITMAPINFOHEADER)) {
    return nullptr;
  }
  return reinterpret_cast<const BITMAPINFOHEADER*>(mt.pbFormat + offset);
}

BITMAPINFOHEADER* VideoBitmapHeader(AM_MEDIA_TYPE& mt) {
  return const_cast<BITMAPINFOHEADER*>(VideoBitmapHeader(static_cast<const AM_MEDIA_TYPE&>(mt)));
}

REFERENCE_TIME* VideoFrameInterval(AM_MEDIA_TYPE& mt) {
  size_t need = 0;
  HeaderOffset(mt, &need);
  constexpr size_t kOffset = offsetof(VIDEOINFOHEADER, AvgTimePerFrame);
  if (need == 0 || !mt.pbFormat || mt.cbFormat < kOffset + sizeof(REFERENCE_TIME)) return nullptr;
  return reinterpret_cast<REFERENCE_TIME*>(mt.pbFormat + kOffset);
}

}  // namespace media
