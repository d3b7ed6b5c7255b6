// The media-type helpers and owners, on both builds (on Windows over the system's task
// allocator).
#include "media/media_type.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/com_ptr.h"

namespace {

// A counted IUnknown for pUnk, so copies and frees can be seen.
class CountedUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

AM_MEDIA_TYPE VideoType(const GUID& formatType, BYTE* block, ULONG size) {
  AM_MEDIA_TYPE mt{};
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = MEDIASUBTYPE_YUY2;
  mt.bFixedSizeSamples = TRUE;
  mt.lSampleSize = 614400;
  mt.formattype = formatType;
  mt.cbFormat = size;
  mt.pbFormat = block;
  return mt;
}

TEST(MediaType, CopyDuplicatesFormatBlockAndReferencesUnknown) {
  std::vector<BYTE> block(sizeof(VIDEOINFOHEADER));
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<BYTE>(i * 7);
  CountedUnknown unk;
  AM_MEDIA_TYPE source = VideoType(FORMAT_VideoInfo, block.data(), static_cast<ULONG>(block.size()));
  source.pUnk = &unk;

  AM_MEDIA_TYPE copy{};
  ASSERT_EQ(S_OK, CopyMediaType(&copy, &source));
  EXPECT_TRUE(IsEqualGUID(copy.subtype, MEDIASUBTYPE_YUY2));
  EXPECT_EQ(614400u, copy.lSampleSize);
  ASSERT_NE(block.data(), copy.pbFormat);
  ASSERT_EQ(block.size(), copy.cbFormat);
  EXPECT_EQ(0, std::memcmp(block.data(), copy.pbFormat, block.size()));
  EXPECT_EQ(2u, unk.refs);

  FreeMediaType(copy);
  EXPECT_EQ(nullptr, copy.pbFormat);
  EXPECT_EQ(0u, copy.cbFormat);
  EXPECT_EQ(nullptr, copy.pUnk);
  EXPECT_EQ(1u, unk.refs);
}

TEST(MediaType, BadArgumentsAreRefused) {
  AM_MEDIA_TYPE mt{};
  EXPECT_EQ(E_POINTER, CopyMediaType(nullptr, &mt));
  EXPECT_EQ(E_POINTER, CopyMediaType(&mt, nullptr));
  // A block size without a block is not read.
  AM_MEDIA_TYPE lying = VideoType(FORMAT_VideoInfo, nullptr, 88);
  AM_MEDIA_TYPE target{};
  EXPECT_EQ(E_INVALIDARG, CopyMediaType(&target, &lying));
  EXPECT_EQ(nullptr, target.pbFormat);
  EXPECT_EQ(0u, target.cbFormat);
  EXPECT_EQ(nullptr, CreateMediaType(&lying));
  EXPECT_EQ(nullptr, CreateMediaType(nullptr));
  DeleteMediaType(nullptr);
}

TEST(MediaType, OwnerDeletesCopyAndMovesOwnership) {
  CountedUnknown unk;
  BYTE block[sizeof(VIDEOINFOHEADER2)] = {};
  AM_MEDIA_TYPE source = VideoType(FORMAT_VideoInfo2, block, sizeof(block));
  source.pUnk = &unk;
  {
    media::UniqueMediaType a = media::UniqueMediaType::Copy(source);
    ASSERT_TRUE(a);
    EXPECT_EQ(2u, unk.refs);
    media::UniqueMediaType b = std::move(a);
    EXPECT_FALSE(a);
    ASSERT_TRUE(b);
    EXPECT_TRUE(IsEqualGUID(b->formattype, FORMAT_VideoInfo2));
  }
  EXPECT_EQ(1u, unk.refs);
}

// Where the bitmap header of a format block is found, and when it is refused.
struct HeaderCase {
  const char* name;
  const GUID* formatType;
  ULONG blockSize;
  long headerOffset;  // -1: no header
};

TEST(MediaType, VideoBitmapHeaderChecksTypeAndBlockSize) {
  const HeaderCase cases[] = {
      {"VideoInfo", &FORMAT_VideoInfo, 88, 48},
      {"VideoInfo just long enough", &FORMAT_VideoInfo, 48 + 40, 48},
      {"VideoInfo one byte short", &FORMAT_VideoInfo, 48 + 39, -1},
      {"VideoInfo2", &FORMAT_VideoInfo2, 112, 72},
      {"VideoInfo2 one byte short", &FORMAT_VideoInfo2, 72 + 39, -1},
      {"VideoInfo2 sized as VideoInfo", &FORMAT_VideoInfo2, 88, -1},
      {"other format type", &FORMAT_None, 112, -1},
      {"empty block", &FORMAT_VideoInfo, 0, -1},
  };
  std::vector<BYTE> block(256);
  for (const HeaderCase& c : cases) {
    AM_MEDIA_TYPE mt = VideoType(*c.formatType, block.data(), c.blockSize);
    const BITMAPINFOHEADER* header = media::VideoBitmapHeader(static_cast<const AM_MEDIA_TYPE&>(mt));
    if (c.headerOffset < 0) {
      EXPECT_EQ(nullptr, header) << c.name;
    } else {
      EXPECT_EQ(static_cast<const void*>(block.data() + c.headerOffset), static_cast<const void*>(header)) << c.name;
    }
  }
}

TEST(MediaType, FrameIntervalAtByteForty) {
  VIDEOINFOHEADER vih{};
  vih.AvgTimePerFrame = 333333;
  AM_MEDIA_TYPE mt = VideoType(FORMAT_VideoInfo, reinterpret_cast<BYTE*>(&vih), sizeof(vih));
  REFERENCE_TIME* interval = media::VideoFrameInterval(mt);
  ASSERT_NE(nullptr, interval);
  EXPECT_EQ(333333, *interval);
  mt.cbFormat = 47;
  EXPECT_EQ(nullptr, media::VideoFrameInterval(mt));
  mt.cbFormat = sizeof(vih);
  mt.formattype = FORMAT_None;
  EXPECT_EQ(nullptr, media::VideoFrameInterval(mt));
}

TEST(MediaType, FourccSubtypesFollowTheFourccPattern) {
  struct Fourcc {
    const GUID* subtype;
    uint32_t code;
  };
  const Fourcc cases[] = {
      {&MEDIASUBTYPE_YUY2, 0x32595559}, {&MEDIASUBTYPE_YVYU, 0x55595659}, {&MEDIASUBTYPE_UYVY, 0x59565955},
      {&MEDIASUBTYPE_VYUY, 0x59555956}, {&MEDIASUBTYPE_YUYV, 0x56595559}, {&MEDIASUBTYPE_I420, 0x30323449},
      {&MEDIASUBTYPE_IYUV, 0x56555949}, {&MEDIASUBTYPE_YV12, 0x32315659}, {&MEDIASUBTYPE_MJPG, 0x47504A4D},
  };
  for (const Fourcc& c : cases) {
    const GUID expected = {c.code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    EXPECT_TRUE(IsEqualGUID(expected, *c.subtype)) << std::hex << c.code;
  }
}

TEST(ComPtr, ReferencesAreCountedThroughCopiesMovesAndSlots) {
  CountedUnknown unk;
  {
    media::ComPtr<IUnknown> a(&unk);
    EXPECT_EQ(2u, unk.refs);
    media::ComPtr<IUnknown> b = a;
    EXPECT_EQ(3u, unk.refs);
    media::ComPtr<IUnknown> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(3u, unk.refs);
    IUnknown* out = nullptr;
    EXPECT_EQ(S_OK, c.copyTo(&out));
    EXPECT_EQ(&unk, out);
    EXPECT_EQ(4u, unk.refs);
    out->Release();
    *c.put() = nullptr;  // the slot released what it held
    EXPECT_EQ(2u, unk.refs);
    EXPECT_EQ(E_POINTER, a.copyTo(nullptr));
  }
  EXPECT_EQ(1u, unk.refs);
  unk.AddRef();
  { auto adopted = media::ComPtr<IUnknown>::Attach(&unk); }
  EXPECT_EQ(1u, unk.refs);
}

TEST(OleText, LiteralsKeepTheirCodeUnits) {
  const OLECHAR* text = OLESTR("VD Render \u00e9");
  EXPECT_EQ(std::u16string(u"VD Render \u00e9"), std::u16string(media::AsUtf16(text)));
}

}  // namespace
