// Capture format selection against a stream configuration written here: which capability is
// put on the pin for each request, the MJPG flag, the frame interval, and format blocks that
// are too short or of another type. Each format block is allocated at exactly its length, so
// a read or write past it is caught under AddressSanitizer.
#include "graph/capture_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

enum class Block { VideoInfo, VideoInfo2, Other };

struct Cap {
  GUID subtype;
  int32_t width;
  int32_t height;
  Block block = Block::VideoInfo;
  uint32_t bytes = 0;  // format block length; 0 = the whole structure
  bool fails = false;  // GetStreamCaps fails for this index
};

constexpr int64_t kOwnInterval = 666666;

// The capability's format block, laid out by hand: AvgTimePerFrame at byte 40, the bitmap
// header at 48 (VIDEOINFOHEADER) or 72 (VIDEOINFOHEADER2); each block tagged by its index in
// biXPelsPerMeter so the applied type can be traced back.
std::vector<uint8_t> FormatBlock(const Cap& c, int index) {
  const size_t headerAt = c.block == Block::VideoInfo2 ? 72 : 48;
  std::vector<uint8_t> b(headerAt + 40);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); };
  std::memcpy(b.data() + 40, &kOwnInterval, 8);
  put32(headerAt, 40);
  put32(headerAt + 4, static_cast<uint32_t>(c.width));
  put32(headerAt + 8, static_cast<uint32_t>(c.height));
  put32(headerAt + 24, static_cast<uint32_t>(index + 1));
  if (c.bytes) b.resize(c.bytes);
  return b;
}

class FakeStreamConfig final : public IAMStreamConfig {
 public:
  explicit FakeStreamConfig(std::vector<Cap> caps) : caps_(std::move(caps)) {
    for (size_t i = 0; i < caps_.size(); ++i) blocks_.push_back(FormatBlock(caps_[i], static_cast<int>(i)));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override {
    ++setFormats;
    applied.reset();
    appliedInterval.reset();
    const uint8_t* block = type->pbFormat;
    for (size_t i = 0; i < blocks_.size(); ++i) {
      const std::vector<uint8_t>& own = blocks_[i];
      if (type->cbFormat != own.size() || !IsEqualGUID(type->subtype, caps_[i].subtype)) continue;
      // Equal apart from AvgTimePerFrame, which the selection may rewrite.
      std::vector<uint8_t> given(block, block + type->cbFormat);
      if (given.size() >= 48) std::memcpy(given.data() + 40, own.data() + 40, 8);
      if (given != own) continue;
      applied = static_cast<int>(i);
      if (own.size() >= 48) {
        int64_t v;
        std::memcpy(&v, block + 40, 8);
        appliedInterval = v;
      }
    }
    return setFormatResult;
  }
  HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override {
    *type = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override {
    *count = static_cast<int>(caps_.size());
    *size = capsSize;
    return countFails ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override {
    for (int i = 0; i < capsSize; ++i) {
      if (caps[i] != 0) {
        ADD_FAILURE() << "capability structure not zeroed";
        return E_FAIL;
      }
    }
    *type = nullptr;
    if (index < 0 || index >= static_cast<int>(caps_.size()) || caps_[index].fails) return E_FAIL;
    std::memset(caps, 0x5A, static_cast<size_t>(capsSize));  // the whole structure, as a driver fills it
    const Cap& c = caps_[index];
    auto* t = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    std::memset(t, 0, sizeof *t);
    t->majortype = MEDIATYPE_Video;
    t->subtype = c.subtype;
    t->formattype = c.block == Block::VideoInfo    ? FORMAT_VideoInfo
                    : c.block == Block::VideoInfo2 ? FORMAT_VideoInfo2
                                                   : FORMAT_None;
    t->cbFormat = static_cast<ULONG>(blocks_[index].size());
    t->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(t->cbFormat));
    std::memcpy(t->pbFormat, blocks_[index].data(), t->cbFormat);
    *type = t;
    return S_OK;
  }

  bool countFails = false;
  int capsSize = 128;  // the structure size reported
  HRESULT setFormatResult = S_OK;
  int setFormats = 0;
  std::optional<int> applied;
  std::optional<int64_t> appliedInterval;

 private:
  std::vector<Cap> caps_;
  std::vector<std::vector<uint8_t>> blocks_;
};

const GUID& MJPG = MEDIASUBTYPE_MJPG;
const GUID& YUY2 = MEDIASUBTYPE_YUY2;
const GUID& UYVY = MEDIASUBTYPE_UYVY;
const GUID& YUYV = MEDIASUBTYPE_YUYV;
const GUID& RGB24 = MEDIASUBTYPE_RGB24;
const GUID& I420 = MEDIASUBTYPE_I420;

struct Choice {
  const char* name;
  std::vector<Cap> caps;
  int32_t width, height;
  int64_t interval;
  int chosen;  // capability index put on the pin; -1 = none
  int32_t isMjpg;
  int64_t intervalOnPin;
};

TEST(CaptureFormat, ChoosesTheCapabilityForEachRequest) {
  const Choice cases[] = {
      {"640x480 with MJPG and YUY2 picks YUY2", {{MJPG, 640, 480}, {YUY2, 640, 480}}, 640, 480, 333333, 1, 0, 333333},
      {"1280x720 with both picks MJPG", {{YUY2, 1280, 720}, {MJPG, 1280, 720}, {YUY2, 640, 480}}, 1280, 720, 333333, 1, 1, 333333},
      {"taller than 480 counts as large", {{YUY2, 640, 481}, {MJPG, 640, 481}}, 640, 481, 333333, 1, 1, 333333},
      {"two exact YUY2: the lower index", {{YUY2, 320, 240}, {YUY2, 320, 240}}, 320, 240, 333333, 0, 0, 333333},
      {"exact size beats a preferred subtype elsewhere", {{YUY2, 640, 360}, {I420, 320, 240}}, 320, 240, 333333, 1, 0, 333333},
      {"exact I420 before exact RGB24", {{RGB24, 320, 240}, {I420, 320, 240}}, 320, 240, 333333, 1, 0, 333333},
      {"800x600 against 640x480 and 1280x1024", {{YUY2, 1280, 1024}, {YUY2, 640, 480}}, 800, 600, 333333, 1, 0, 333333},
      {"640x360: equal distances, the higher index", {{YUY2, 640, 480}, {YUY2, 640, 240}}, 640, 360, 333333, 1, 0, 333333},
      {"640x360: equal distances, other order", {{YUY2, 640, 240}, {YUY2, 640, 480}}, 640, 360, 333333, 1, 0, 333333},
      {"a width one nearer beats any height", {{YUY2, 642, 480}, {YUY2, 639, 4000}}, 640, 480 , 333333, 1, 0, 333333},
      {"UYVY only: the nearest size at the last position", {{UYVY, 1920, 1080}, {UYVY, 320, 240}, {UYVY, 1280, 720}}, 1280, 700, 333333, 2, 0, 333333},
      {"nearest MJPG before an exact UYVY", {{UYVY, 1280, 720}, {MJPG, 640, 480}}, 1280, 720, 333333, 1, 1, 333333},
      {"interval 0 keeps the capability's", {{YUY2, 640, 480}}, 640, 480, 0, 0, 0, kOwnInterval},
      {"negative interval keeps the capability's", {{YUY2, 640, 480}}, 640, 480, -5, 0, 0, kOwnInterval},
      {"VIDEOINFOHEADER2 header at byte 72", {{YUY2, 320, 240}, {YUY2, 640, 480, Block::VideoInfo2}}, 640, 480, 333333, 1, 0, 333333},
      {"another format type never matches exactly", {{YUY2, 64, 48}, {YUY2, 640, 480, Block::Other}}, 640, 480, 333333, 0, 0, 333333},
      {"another format type counts as 0x0", {{YUY2, 640, 480}, {YUY2, 640, 480, Block::Other}}, 16, 16, 333333, 1, 0, kOwnInterval},
      {"YUYV as the only exact type", {{YUYV, 640, 480}, {RGB24, 320, 240}}, 640, 480, 333333, 0, 0, 333333},
      {"a failing index is skipped", {{YUY2, 640, 480, Block::VideoInfo, 0, true}, {YUY2, 640, 480}}, 640, 480, 333333, 1, 0, 333333},
      // Widths of 32768 and more: the keys keep their order.
      {"width 32768 nearest 32767", {{YUY2, 32767, 480}, {YUY2, 640, 480}}, 32768, 480, 333333, 0, 0, 333333},
      {"width 65535 nearest 40000", {{YUY2, 40000, 100}, {YUY2, 100, 100}}, 65535, 1, 333333, 0, 0, 333333},
      {"nothing offered", {}, 640, 480, 333333, -1, 0, 0},
  };
  for (const Choice& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStreamConfig config(c.caps);
    int32_t isMjpg = -1;
    const HRESULT hr = SetCaptureFormat(&config, c.width, c.height, c.interval, &isMjpg);
    EXPECT_EQ(isMjpg, c.isMjpg);
    if (c.chosen < 0) {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_EQ(config.setFormats, 0);
      continue;
    }
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(config.setFormats, 1);
    EXPECT_EQ(config.applied, c.chosen);
    EXPECT_EQ(config.appliedInterval, c.intervalOnPin);
  }
}

// Format blocks shorter than the bitmap header they would be read from read as all zero; a
// block too short for AvgTimePerFrame keeps its bytes.
TEST(CaptureFormat, ShortFormatBlocksAreNeverReadOrWrittenPastTheirEnd) {
  struct Case {
    const char* name;
    std::vector<Cap> caps;
    int32_t width, height;
    int chosen;
    std::optional<int64_t> interval;
  } cases[] = {
      {"VIDEOINFOHEADER one byte short: no exact match", {{YUY2, 640, 480, Block::VideoInfo, 87}, {YUY2, 320, 240}}, 640, 480, 1, 333333},
      {"VIDEOINFOHEADER one byte short counts as 0x0", {{YUY2, 640, 480, Block::VideoInfo, 87}, {YUY2, 320, 240}}, 2, 2, 0, 333333},
      {"VIDEOINFOHEADER2 one byte short", {{YUY2, 640, 480, Block::VideoInfo2, 111}, {YUY2, 320, 240}}, 640, 480, 1, 333333},
      {"too short for AvgTimePerFrame", {{YUY2, 640, 480, Block::VideoInfo, 47}}, 640, 480, 0, std::nullopt},
      {"no block at all", {{YUY2, 640, 480, Block::VideoInfo, 1}}, 640, 480, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStreamConfig config(c.caps);
    int32_t isMjpg = -1;
    EXPECT_EQ(SetCaptureFormat(&config, c.width, c.height, 333333, &isMjpg), S_OK);
    EXPECT_EQ(config.applied, c.chosen);
    EXPECT_EQ(config.appliedInterval, c.interval);
  }
}

TEST(CaptureFormat, FailuresLeaveTheFlagAtZero) {
  EXPECT_EQ(SetCaptureFormat(nullptr, 640, 480, 333333, nullptr), E_FAIL);
  int32_t isMjpg = -1;
  EXPECT_EQ(SetCaptureFormat(nullptr, 640, 480, 333333, &isMjpg), E_FAIL);
  EXPECT_EQ(isMjpg, 0);

  FakeStreamConfig silent({{YUY2, 640, 480}});
  silent.countFails = true;
  isMjpg = -1;
  EXPECT_EQ(SetCaptureFormat(&silent, 640, 480, 333333, &isMjpg), E_FAIL);
  EXPECT_EQ(isMjpg, 0);
  EXPECT_EQ(silent.setFormats, 0);
}

// The capability structure is as large as the driver says, within reason.
TEST(CaptureFormat, CapabilityStructureTakesTheSizeTheDriverReports) {
  const struct Case {
    int size;
    HRESULT result;
  } cases[] = {{128, S_OK}, {4096, S_OK}, {0, S_OK}, {-1, E_FAIL}, {1 << 30, E_FAIL}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    FakeStreamConfig config({{MJPG, 1280, 720}, {YUY2, 640, 480}});
    config.capsSize = c.size;
    int32_t isMjpg = -1;
    EXPECT_EQ(SetCaptureFormat(&config, 640, 480, 333333, &isMjpg), c.result);
    EXPECT_EQ(config.applied, c.result == S_OK ? std::optional<int>(1) : std::nullopt);
  }
}

TEST(CaptureFormat, RefusedFormatReturnsItsResultAndStillTellsMjpg) {
  const HRESULT refused = static_cast<HRESULT>(0x80040200L);  // VFW_E_INVALIDMEDIATYPE
  struct Case {
    const GUID* subtype;
    int32_t isMjpg;
  } cases[] = {{&MJPG, 1}, {&YUY2, 0}};
  for (const Case& c : cases) {
    FakeStreamConfig config({{*c.subtype, 1280, 720}});
    config.setFormatResult = refused;
    int32_t isMjpg = -1;
    EXPECT_EQ(SetCaptureFormat(&config, 1280, 720, 333333, &isMjpg), refused);
    EXPECT_EQ(isMjpg, c.isMjpg);
  }
}

TEST(CaptureFormat, ExactSizeListHoldsOneTypePerSubtypeInCapabilityOrder) {
  FakeStreamConfig config({{MJPG, 640, 480}, {YUY2, 640, 480}, {MJPG, 640, 480}, {YUY2, 320, 240},
                           {UYVY, 640, 480}, {UYVY, -640, 480}});
  std::vector<media::UniqueMediaType> list;
  ASSERT_TRUE(CollectExactSizeTypes(&config, 640, 480, list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_TRUE(IsEqualGUID(list[0]->subtype, MJPG));
  EXPECT_TRUE(IsEqualGUID(list[1]->subtype, YUY2));
  EXPECT_TRUE(IsEqualGUID(list[2]->subtype, UYVY));
  // The first MJPG (tag 1), not the third capability.
  EXPECT_EQ(list[0]->pbFormat[48 + 24], 1);

  EXPECT_FALSE(CollectExactSizeTypes(&config, 641, 480, list));
  EXPECT_TRUE(list.empty());
}

TEST(CaptureFormat, SizeKeysKeepWidthFirstAndLargeWidthsInOrder) {
  EXPECT_EQ(SizeKey(640, 480), 0x028001E0u);
  EXPECT_EQ(SizeKey(32768, 480), 0x800001E0u);
  EXPECT_EQ(SizeKey(65536 + 2, -1), 0x0002FFFFu);
  EXPECT_EQ(SizeKeyDistance(SizeKey(32768, 480), SizeKey(32767, 480)), 0x10000u);
  EXPECT_EQ(SizeKeyDistance(SizeKey(0, 0), SizeKey(65535, 65535)), 0xFFFFFFFFu);
  EXPECT_EQ(SizeKeyDistance(SizeKey(640, 0), SizeKey(639, 65535)), 1u);
}

}  // namespace
