// Capture format selection over a camera whose capabilities are anything: sizes, subtypes,
// format types and format blocks of any length, some capabilities failing.
#include <cstdint>
#include <cstring>
#include <vector>

#include "graph/capture_format.h"

namespace {

const GUID* const kSubtypes[] = {&MEDIASUBTYPE_MJPG, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_UYVY, &MEDIASUBTYPE_I420,
                                 &MEDIASUBTYPE_YV12, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_None};
const GUID* const kFormatTypes[] = {&FORMAT_VideoInfo, &FORMAT_VideoInfo2, &FORMAT_None};

struct Capability {
  GUID subtype;
  GUID formatType;
  std::vector<uint8_t> block;
  bool fails;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  void Bytes(void* out, size_t n) {
    auto* o = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < n; ++i) o[i] = Byte();
  }
  std::vector<uint8_t> Block(size_t n) {
    if (n > size_ - at_) n = size_ - at_;
    std::vector<uint8_t> b(data_ + at_, data_ + at_ + n);
    at_ += n;
    return b;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

volatile uint32_t g_sink;

class FuzzStreamConfig final : public IAMStreamConfig {
 public:
  explicit FuzzStreamConfig(std::vector<Capability> caps, bool countFails)
      : caps_(std::move(caps)), countFails_(countFails) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  // Reads the whole type it is given, as a driver would.
  HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override {
    uint32_t sum = 0;
    for (ULONG i = 0; i < type->cbFormat; ++i) sum += type->pbFormat[i];
    g_sink = sum;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override {
    *type = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override {
    *count = static_cast<int>(caps_.size());
    *size = 128;
    return countFails_ ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE*) override {
    *type = nullptr;
    if (index < 0 || index >= static_cast<int>(caps_.size()) || caps_[index].fails) return E_FAIL;
    const Capability& c = caps_[index];
    auto* t = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    std::memset(t, 0, sizeof *t);
    t->majortype = MEDIATYPE_Video;
    t->subtype = c.subtype;
    t->formattype = c.formatType;
    t->cbFormat = static_cast<ULONG>(c.block.size());
    // An exact-size block, so a read past its end is seen.
    t->pbFormat = c.block.empty() ? nullptr : static_cast<BYTE*>(CoTaskMemAlloc(c.block.size()));
    if (t->pbFormat) std::memcpy(t->pbFormat, c.block.data(), c.block.size());
    *type = t;
    return S_OK;
  }

 private:
  std::vector<Capability> caps_;
  bool countFails_;
};

}  // namespace

// Input: requested width and height (4 bytes each), the frame interval (8), a flags byte,
// then capabilities: subtype byte, format-type byte, 2-byte block length, the block.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  int32_t width, height;
  int64_t interval;
  in.Bytes(&width, 4);
  in.Bytes(&height, 4);
  in.Bytes(&interval, 8);
  const uint8_t flags = in.Byte();
  std::vector<Capability> caps;
  while (!in.empty() && caps.size() < 64) {
    Capability c;
    const uint8_t s = in.Byte();
    const uint8_t f = in.Byte();
    c.fails = (s & 0x80) != 0;
    if ((s & 0x7F) < 8) {
      c.subtype = *kSubtypes[s & 0x7F];
    } else {
      in.Bytes(&c.subtype, sizeof c.subtype);
    }
    if (f < 3) {
      c.formatType = *kFormatTypes[f];
    } else {
      in.Bytes(&c.formatType, sizeof c.formatType);
    }
    const size_t length = in.Byte() | (size_t{in.Byte()} << 8);
    c.block = in.Block(length);
    caps.push_back(std::move(c));
  }
  FuzzStreamConfig config(std::move(caps), (flags & 1) != 0);
  int32_t isMjpg = 0;
  SetCaptureFormat(&config, width, height, interval, &isMjpg);
  return 0;
}
