// Loading by Windows file name, and the virtual-camera binding against its stand-in.
#include "graph/vcam_binding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/graph/standins.h"

namespace {

TEST(ModuleNames, DllNamesMapToSharedObjectsOnLinuxOnly) {
  char out[64];
  const bool mapped = platform::kModuleNamesMapped;
  ASSERT_NE(platform::MapModuleFileName("OruVCapture.dll", out, sizeof(out)), nullptr);
  EXPECT_STREQ(out, mapped ? "libOruVCapture.so" : "OruVCapture.dll");
  ASSERT_NE(platform::MapModuleFileName("Frameport.DLL", out, sizeof(out)), nullptr);
  EXPECT_STREQ(out, mapped ? "libFrameport.so" : "Frameport.DLL");
  ASSERT_NE(platform::MapModuleFileName("libc.so.6", out, sizeof(out)), nullptr);
  EXPECT_STREQ(out, "libc.so.6");
  EXPECT_EQ(platform::MapModuleFileName("OruVCapture.dll", out, 5), nullptr);
}

TEST(ModuleNames, MissingLibraryAndSymbolGiveNull) {
  EXPECT_EQ(platform::LoadModule("NoSuchKestrelLibrary.dll"), nullptr);
  platform::UniqueModule vcam(platform::LoadModule("OruVCapture.dll"));
  ASSERT_TRUE(vcam);
  EXPECT_EQ(platform::GetModuleSymbol(vcam.get(), "NoSuchExport"), nullptr);
  EXPECT_NE(platform::GetModuleSymbol(vcam.get(), "OruFakeCaptureOpen"), nullptr);
}

TEST(VirtualCameraBinding, UnboundForwardersAnswerEFailWithoutCalling) {
  VirtualCameraLibrary lib;
  EXPECT_FALSE(lib.IsLoaded());
  uint32_t packed = 7;
  int64_t interval = 9;
  EXPECT_EQ(lib.OruFakeCaptureOpen(), kEFail);
  EXPECT_EQ(lib.OruVCapGetCurrentResolution(&packed, &interval), kEFail);
  EXPECT_EQ(packed, 7u);
  EXPECT_EQ(interval, 9);
  EXPECT_EQ(lib.OruVCapSetWebcamData(nullptr, nullptr, 0), kEFail);
  EXPECT_EQ(lib.OruVCapGetPinInstanceCount(nullptr), kEFail);
}

TEST(VirtualCameraBinding, BindsAllEntryPointsAndForwardsInOrder) {
  test::VcamStandIn vcam;
  ASSERT_TRUE(vcam.ok());
  vcam.Reset();
  VirtualCameraLibrary lib;
  ASSERT_TRUE(lib.Load());
  ASSERT_TRUE(lib.IsLoaded());

  EXPECT_EQ(lib.OruFakeCaptureOpen(), kSOk);
  EXPECT_EQ(lib.OruVCapSetWorkMode(2), kSOk);
  EXPECT_EQ(lib.OruVCapSetChangeResResult(kEFail), kSOk);
  vcam.ConsumerOpen(640, 480, 400000);
  uint32_t packed = 0;
  int64_t interval = 0;
  EXPECT_EQ(lib.OruVCapGetCurrentResolution(&packed, &interval), kSOk);
  EXPECT_EQ(packed, PackResolution(640, 480));
  EXPECT_EQ(interval, 400000);
  uint32_t count = 99;
  EXPECT_EQ(lib.OruVCapGetPinInstanceCount(&count), kSOk);
  EXPECT_EQ(count, 1u);

  const std::vector<std::string> expected = {
      "OruFakeCaptureOpen()", "OruVCapSetWorkMode(2)",
      "OruVCapSetChangeResResult(0x80004005)", "OruVCapGetCurrentResolution()",
      "OruVCapGetPinInstanceCount()"};
  EXPECT_EQ(vcam.Calls(), expected);

  lib.Unload();
  EXPECT_FALSE(lib.IsLoaded());
  EXPECT_EQ(lib.OruFakeCaptureOpen(), kEFail);
  EXPECT_EQ(vcam.CallCount(), expected.size());
}

TEST(VirtualCameraBinding, MissingLibraryFailsToLoad) {
  VirtualCameraLibrary lib;
  EXPECT_FALSE(lib.Load("NoSuchOruVCapture.dll"));
  EXPECT_FALSE(lib.IsLoaded());
  EXPECT_EQ(lib.OruVCapSetWorkMode(0), kEFail);
}

TEST(VirtualCameraBinding, LibraryMissingAnExportIsRefused) {
  // The stand-in plug-in is a real library without the camera's exports.
  VirtualCameraLibrary lib;
  EXPECT_FALSE(lib.Load(test::kTestPluginFile));
  EXPECT_FALSE(lib.IsLoaded());
  EXPECT_EQ(lib.OruFakeCaptureClose(), kEFail);
}

TEST(VcamStandIn, FailsOpenTheAskedNumberOfTimesAndKeepsTheLastFrame) {
  test::VcamStandIn vcam;
  ASSERT_TRUE(vcam.ok());
  vcam.Reset();
  vcam.SetOpenFailures(2);
  VirtualCameraLibrary lib;
  ASSERT_TRUE(lib.Load());
  EXPECT_EQ(lib.OruFakeCaptureOpen(), kEFail);
  EXPECT_EQ(lib.OruFakeCaptureOpen(), kEFail);
  EXPECT_EQ(lib.OruFakeCaptureOpen(), kSOk);
  EXPECT_EQ(vcam.CountCalls("OruFakeCaptureOpen()=fail"), 2u);
  EXPECT_EQ(vcam.CountCalls("OruFakeCaptureOpen*"), 3u);

  BitmapInfoHeader h{};
  h.biWidth = 4;
  h.biHeight = 2;
  h.biCompression = kFourccYUY2;
  h.biSizeImage = 16;
  const uint8_t pixels[16] = {10, 1, 20, 2, 30, 3, 40, 4, 50, 5, 60, 6, 70, 7, 80, 8};
  EXPECT_EQ(lib.OruVCapSetWebcamData(&h, pixels, 16), kSOk);
  EXPECT_EQ(vcam.FrameCount(), 1u);
  BitmapInfoHeader got{};
  uint8_t buf[16] = {};
  EXPECT_EQ(vcam.GetLastFrame(&got, buf, sizeof(buf)), 16u);
  EXPECT_EQ(got.biWidth, 4);
  EXPECT_EQ(std::memcmp(buf, pixels, 16), 0);
  EXPECT_EQ(vcam.Calls().back(), "OruVCapSetWebcamData(4x2,pixels,16)");
}

}  // namespace
