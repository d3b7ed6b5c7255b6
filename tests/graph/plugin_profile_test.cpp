// The plug-in host's loading and release, the companion-application path, the capture
// profile file and the busy picture.
#include "graph/rend_graph.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pixel/pixel_kernels.h"
#include "platform/system_files.h"
#include "tests/graph/standins.h"
#include "tests/graph/test_env.h"

namespace {

std::u16string g_debug;
void CaptureDebug(std::u16string_view text) { g_debug += text; }

constexpr const char* kAppKey = "SOFTWARE\\Quillon\\Photoria 5\\Photoria";

class PluginHostTest : public test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_TRUE(plugin_.ok());
    plugin_.Reset(test::PluginStandIn::kNormal);
    graph_.pluginFileName = test::kTestPluginFile;
    graph_.debugOutput = &CaptureDebug;
    g_debug.clear();
  }
  void TearDown() override {
    graph_.UnloadFramePlugin();
    ScratchTest::TearDown();
  }
  test::PluginStandIn plugin_;
  CVDRendGraphImpl graph_;
};

TEST_F(PluginHostTest, FailedInstanceFreesTheModuleAndSaysSo) {
  for (int32_t mode : {test::PluginStandIn::kInitFails, test::PluginStandIn::kInitReturnsZero}) {
    SCOPED_TRACE(mode);
    plugin_.Reset(mode);
    g_debug.clear();
    test::SetString(kAppKey, "AppName", u"C:\\app.exe");
    graph_.LoadFramePlugin();
    EXPECT_EQ(plugin_.Inits(), 1u);
    EXPECT_EQ(graph_.plugin.pluginModule, nullptr);
    EXPECT_EQ(graph_.plugin.pluginInstance.load(), 0u);
    EXPECT_EQ(graph_.plugin.pfnProcessVideoFrame, nullptr);
    EXPECT_EQ(graph_.companionPath[0], u'\0');
    EXPECT_EQ(g_debug, u"m_pfnFrameportInit(L\"OruVLM\")\n");
    graph_.UnloadFramePlugin();
    EXPECT_EQ(plugin_.Uninits(), 0u);
  }
}

TEST_F(PluginHostTest, MissingPlugInLeavesNothingBound) {
  graph_.pluginFileName = "NoSuchFrameport.dll";
  graph_.LoadFramePlugin();
  EXPECT_EQ(graph_.plugin.pluginModule, nullptr);
  EXPECT_EQ(graph_.plugin.pfnInitialize, nullptr);
  EXPECT_EQ(g_debug, u"");
  graph_.AbortFramePlugin();
  graph_.UnloadFramePlugin();
}

TEST_F(PluginHostTest, LibraryWithoutThePlugInExportsIsNeverCalled) {
  graph_.pluginFileName = "OruVCapture.dll";
  graph_.LoadFramePlugin();
  EXPECT_NE(graph_.plugin.pluginModule, nullptr);  // stays loaded until the release
  EXPECT_EQ(graph_.plugin.pluginInstance.load(), 0u);
  graph_.UnloadFramePlugin();
  EXPECT_EQ(graph_.plugin.pluginModule, nullptr);
}

TEST_F(PluginHostTest, CompanionPathIsKeptOnlyWhenTheFileExists) {
  const auto exe = test::NativeFile("c:\\Photoria.exe");
  test::WriteBytes(exe, "MZ");
  struct Case {
    const char16_t* value;
    const char16_t* kept;
  } cases[] = {{nullptr, u""}, {u"c:\\Photoria.exe", u"c:\\Photoria.exe"}, {u"c:\\Missing.exe", u""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? "set" : "absent");
    Clean();
    if (c.value) test::SetString(kAppKey, "AppName", c.value);
    graph_.LoadFramePlugin();
    EXPECT_NE(graph_.plugin.pluginInstance.load(), 0u);
    EXPECT_EQ(std::u16string(graph_.companionPath), c.kept);
    graph_.UnloadFramePlugin();
  }
}

TEST_F(PluginHostTest, UnloadAbortsThenReleasesOnce) {
  graph_.LoadFramePlugin();
  ASSERT_NE(graph_.plugin.pluginInstance.load(), 0u);
  graph_.AbortFramePlugin();
  EXPECT_EQ(plugin_.Aborts(), 1u);
  graph_.UnloadFramePlugin();
  EXPECT_EQ(plugin_.Aborts(), 2u);
  EXPECT_EQ(plugin_.Uninits(), 1u);
  EXPECT_EQ(graph_.plugin.pluginModule, nullptr);
  EXPECT_EQ(graph_.plugin.pfnAbort, nullptr);
  graph_.UnloadFramePlugin();
  graph_.AbortFramePlugin();
  EXPECT_EQ(plugin_.Uninits(), 1u);
  EXPECT_EQ(plugin_.Aborts(), 2u);
}

// ---- capture profile ----

std::string ProfileFile(uint32_t enabled, uint32_t count, const std::vector<std::u16string>& entries) {
  std::string bytes(2280, '\0');
  for (size_t i = 0; i < 2272; ++i) bytes[i] = static_cast<char>(i * 7);  // uninterpreted
  auto put32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>(v >> (8 * k));
  };
  put32(2272, enabled);
  put32(2276, count);
  for (const auto& e : entries) {
    std::string entry = test::Utf16Le(e);
    entry.resize(520, '\0');
    bytes += entry;
  }
  return bytes;
}

class ProfileTest : public test::ScratchTest {
 protected:
  std::string Write(const std::string& bytes) {
    const std::string path = test::Join(dir_, "profile.pfg");
    EXPECT_TRUE(test::WriteBytes(path, bytes));
    return path;
  }
  std::vector<std::u16string> Entries() const {
    std::vector<std::u16string> out;
    for (const auto& e : graph_.allowList) out.emplace_back(e.get());
    return out;
  }
  CVDRendGraphImpl graph_;
};

TEST_F(ProfileTest, SwitchAndCountDecideTheAllowList) {
  struct Case {
    uint32_t enabled;
    uint32_t count;
    std::vector<std::u16string> entries;
    int32_t expectEnabled;
  } cases[] = {
      {1, 0, {}, 0},
      {0, 2, {u"vid_046d", u"usb#vid_1234"}, 0},
      {1, 2, {u"vid_046d", u"usb#vid_1234"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.enabled * 10 + c.count);
    CVDRendGraphImpl graph;
    graph.LoadCaptureProfile(Write(ProfileFile(c.enabled, c.count, c.entries)).c_str());
    EXPECT_EQ(graph.allowListEnabled, c.expectEnabled);
    std::vector<std::u16string> got;
    for (const auto& e : graph.allowList) got.emplace_back(e.get());
    EXPECT_EQ(got, c.entries);
  }
}

TEST_F(ProfileTest, ShortOrLyingFilesKeepOnlyWholeTerminatedEntries) {
  const std::string full = ProfileFile(1, 3, {u"first", u"second", u"third"});
  std::string unterminated = ProfileFile(1, 1, {});
  for (int i = 0; i < 260; ++i) unterminated += test::Utf16Le(u"A");
  struct Case {
    const char* name;
    std::string bytes;
    int32_t enabled;
    std::vector<std::u16string> entries;
  } cases[] = {
      {"partial header", full.substr(0, 2000), 0, {}},
      {"header one byte short", full.substr(0, 2279), 0, {}},
      {"header alone", full.substr(0, 2280), 1, {}},
      {"one entry and part of the next", full.substr(0, 2280 + 520 + 300), 1, {u"first"}},
      {"two entries and one byte short of the third", full.substr(0, full.size() - 1), 1, {u"first", u"second"}},
      {"count beyond the file", ProfileFile(1, 0xFFFFFFFFu, {u"only"}), 1, {u"only"}},
      {"count 2^31 beyond the file", ProfileFile(1, 0x80000000u, {u"a", u"b"}), 1, {u"a", u"b"}},
      {"entry without a terminator", unterminated, 1, {std::u16string(259, u'A')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CVDRendGraphImpl graph;
    graph.LoadCaptureProfile(Write(c.bytes).c_str());
    EXPECT_EQ(graph.allowListEnabled, c.enabled);
    std::vector<std::u16string> got;
    for (const auto& e : graph.allowList) {
      ASSERT_LT(std::char_traits<char16_t>::length(e.get()), kAllowListEntryChars);
      got.emplace_back(e.get());
    }
    EXPECT_EQ(got, c.entries);
    // Nothing was reserved for entries the file does not hold.
    EXPECT_LE(graph.allowList.capacity(), 4u);
  }
}

TEST_F(ProfileTest, MissingFileLeavesTheListOffAndEmpty) {
  graph_.LoadCaptureProfile(test::Join(dir_, "absent.pfg").c_str());
  EXPECT_EQ(graph_.allowListEnabled, 0);
  EXPECT_TRUE(graph_.allowList.empty());
}

TEST_F(ProfileTest, ReadFromTheSystemDirectory) {
  const std::string path = platform::SystemDirectory() + "\\oruVCapture.pfg";
  const std::string native = test::NativeFile(path.c_str());
  platform::CreateDirectories(test::NativeFile(platform::SystemDirectory().c_str()).c_str());
  ASSERT_TRUE(test::WriteBytes(native, ProfileFile(1, 1, {u"vid_046d"})));
  graph_.LoadCaptureProfile();
  platform::DeleteFileAt(native.c_str());
  EXPECT_EQ(graph_.allowListEnabled, 1);
  EXPECT_EQ(Entries(), std::vector<std::u16string>{u"vid_046d"});
  graph_.ReleaseResources();
  EXPECT_TRUE(graph_.allowList.empty());
}

// ---- busy picture ----

// A bottom-up .bmp file of width x height at `bits` per pixel; pixel (x, y) of a 24-bit
// picture (y = 0 at the top) has the colour colour(x, y) as B, G, R.
template <typename Colour>
std::string BmpFile(int32_t width, int32_t height, uint16_t bits, Colour colour) {
  const uint32_t stride = DibStride(static_cast<uint32_t>(width), bits);
  const uint32_t palette = bits <= 8 ? (4u << bits) : 0;
  const uint32_t offBits = 14 + 40 + palette;
  std::string b;
  auto put16 = [&](uint16_t v) { b.push_back(static_cast<char>(v)); b.push_back(static_cast<char>(v >> 8)); };
  auto put32 = [&](uint32_t v) { put16(static_cast<uint16_t>(v)); put16(static_cast<uint16_t>(v >> 16)); };
  b += "BM";
  put32(offBits + stride * height);
  put32(0);
  put32(offBits);
  put32(40);
  put32(static_cast<uint32_t>(width));
  put32(static_cast<uint32_t>(height));
  put16(1);
  put16(bits);
  put32(0);
  put32(stride * height);
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  b.append(palette, '\0');
  for (int32_t row = height - 1; row >= 0; --row) {
    std::string line(stride, '\0');
    if (bits == 24) {
      for (int32_t x = 0; x < width; ++x) {
        const uint32_t c = colour(x, row);
        line[3 * x] = static_cast<char>(c);
        line[3 * x + 1] = static_cast<char>(c >> 8);
        line[3 * x + 2] = static_cast<char>(c >> 16);
      }
    }
    b += line;
  }
  return b;
}

class BusyPictureTest : public test::ScratchTest {
 protected:
  std::string Write(const std::string& bytes) {
    const std::string path = test::Join(dir_, "DevBusy.bmp");
    EXPECT_TRUE(test::WriteBytes(path, bytes));
    return path;
  }
  void ExpectBlackFrame(const BitmapInfoHeader& h, const uint8_t* pixels) {
    EXPECT_EQ(h.biWidth, 320);
    EXPECT_EQ(h.biHeight, 240);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 16);
    EXPECT_EQ(h.biCompression, kFourccYUY2);
    EXPECT_EQ(h.biSizeImage, 153600u);
    ASSERT_NE(pixels, nullptr);
    const uint8_t black[4] = {16, 128, 16, 128};
    for (size_t i = 0; i < 153600; i += 4) ASSERT_EQ(std::memcmp(pixels + i, black, 4), 0) << i;
  }
  CVDRendGraphImpl graph_;
};

TEST_F(BusyPictureTest, TwentyFourBitBitmapBecomesAnUprightYuy2Picture) {
  // Red top half, blue bottom half.
  graph_.LoadBusyPicture(Write(BmpFile(100, 50, 24, [](int32_t, int32_t y) {
                                 return y < 25 ? 0xFF0000u : 0x0000FFu;
                               })).c_str());
  EXPECT_EQ(graph_.busyHeader.biWidth, 100);
  EXPECT_EQ(graph_.busyHeader.biHeight, 50);
  EXPECT_EQ(graph_.busyHeader.biSizeImage, 10000u);
  EXPECT_EQ(graph_.busyHeader.biCompression, kFourccYUY2);
  EXPECT_EQ(graph_.busyHeader.biPlanes, 1);
  ASSERT_NE(graph_.busyPixels, nullptr);
  const uint8_t* p = graph_.busyPixels.get();
  EXPECT_EQ((std::vector<uint8_t>(p, p + 4)), (std::vector<uint8_t>{81, 90, 81, 239}));
  const uint8_t* last = p + 49 * 200;
  EXPECT_EQ((std::vector<uint8_t>(last, last + 4)), (std::vector<uint8_t>{40, 239, 40, 110}));
  ExpectBlackFrame(graph_.blackHeader, graph_.blackPixels.get());
}

TEST_F(BusyPictureTest, OddWidthRowsArePadded) {
  graph_.LoadBusyPicture(Write(BmpFile(7, 3, 24, [](int32_t x, int32_t) {
                                 return x < 4 ? 0xFFFFFFu : 0u;
                               })).c_str());
  ASSERT_NE(graph_.busyPixels, nullptr);
  EXPECT_EQ(graph_.busyHeader.biSizeImage, 16u * 3);
  const uint8_t* row2 = graph_.busyPixels.get() + 32;
  EXPECT_EQ(row2[0], 235);
  EXPECT_EQ(row2[8], 16);
}

TEST_F(BusyPictureTest, MissingFileGivesTheBlackFrame) {
  graph_.LoadBusyPicture(test::Join(dir_, "absent.bmp").c_str());
  ExpectBlackFrame(graph_.busyHeader, graph_.busyPixels.get());
  ExpectBlackFrame(graph_.blackHeader, graph_.blackPixels.get());
  EXPECT_NE(graph_.busyPixels.get(), graph_.blackPixels.get());
}

TEST_F(BusyPictureTest, NotABitmapGivesTheBlackFrame) {
  graph_.LoadBusyPicture(Write("BM this is not a bitmap").c_str());
  ExpectBlackFrame(graph_.busyHeader, graph_.busyPixels.get());
}

TEST_F(BusyPictureTest, OtherDepthGivesZeroHeaderAndNullPixels) {
  graph_.LoadBusyPicture(Write(BmpFile(16, 8, 8, [](int32_t, int32_t) { return 0u; })).c_str());
  EXPECT_EQ(graph_.busyPixels, nullptr);
  const BitmapInfoHeader zero{};
  EXPECT_EQ(std::memcmp(&graph_.busyHeader, &zero, sizeof(zero)), 0);
  ExpectBlackFrame(graph_.blackHeader, graph_.blackPixels.get());
}

TEST_F(BusyPictureTest, FreeBusyPicturesClearsBoth) {
  graph_.LoadBusyPicture(test::Join(dir_, "absent.bmp").c_str());
  graph_.FreeBusyPictures();
  EXPECT_EQ(graph_.busyPixels, nullptr);
  EXPECT_EQ(graph_.blackPixels, nullptr);
  EXPECT_EQ(graph_.busyHeader.biSizeImage, 0u);
  EXPECT_EQ(graph_.blackHeader.biWidth, 0);
}

}  // namespace
