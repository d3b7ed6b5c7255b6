// The synthetic camera's configuration string.
#include "outside/filters/camera_config.h"

#include <gtest/gtest.h>

namespace {

using filters::CameraConfig;
using filters::FormatKind;
using filters::Subtype;

TEST(CameraConfig, EmptyGivesOneYuy2CapabilityAndDefaults) {
  CameraConfig config;
  std::string error;
  ASSERT_TRUE(filters::ParseCameraConfig("", &config, &error));
  ASSERT_EQ(config.caps.size(), 1u);
  EXPECT_EQ(config.caps[0].subtype, Subtype::YUY2);
  EXPECT_EQ(config.caps[0].width, 640u);
  EXPECT_EQ(config.caps[0].height, 480u);
  EXPECT_EQ(config.caps[0].interval, 333333);
  EXPECT_EQ(config.caps[0].format, FormatKind::VideoInfo);
  EXPECT_EQ(config.pins, filters::PinSet::Capture);
  EXPECT_TRUE(config.ksObject);
  EXPECT_FALSE(config.tuner);
  EXPECT_EQ(config.fault, filters::Fault::None);
  EXPECT_EQ(config.lostAfter, 0u);
}

TEST(CameraConfig, EveryKeyIsRead) {
  CameraConfig config;
  std::string error;
  ASSERT_TRUE(filters::ParseCameraConfig(
      " caps = mjpg:1280x720@166666/vih2 , RGB32:320x240/other ; PINS=both;ksobject=0;tuner=1;fail=run;lost=30;name=cam7;",
      &config, &error))
      << error;
  ASSERT_EQ(config.caps.size(), 2u);
  EXPECT_EQ(config.caps[0].subtype, Subtype::MJPG);
  EXPECT_EQ(config.caps[0].width, 1280u);
  EXPECT_EQ(config.caps[0].height, 720u);
  EXPECT_EQ(config.caps[0].interval, 166666);
  EXPECT_EQ(config.caps[0].format, FormatKind::VideoInfo2);
  EXPECT_EQ(config.caps[1].subtype, Subtype::RGB32);
  EXPECT_EQ(config.caps[1].interval, 333333);
  EXPECT_EQ(config.caps[1].format, FormatKind::Other);
  EXPECT_EQ(config.pins, filters::PinSet::Both);
  EXPECT_FALSE(config.ksObject);
  EXPECT_TRUE(config.tuner);
  EXPECT_EQ(config.fault, filters::Fault::Run);
  EXPECT_EQ(config.lostAfter, 30u);
  EXPECT_EQ(config.name, "cam7");
}

class MalformedConfig : public ::testing::TestWithParam<const char*> {};

TEST_P(MalformedConfig, IsRefusedAndLeavesTheConfigurationAlone) {
  CameraConfig config;
  config.name = "untouched";
  std::string error;
  EXPECT_FALSE(filters::ParseCameraConfig(GetParam(), &config, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(config.name, "untouched");
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedConfig,
                         ::testing::Values("caps=", "caps=YUY2", "caps=YUY2:640", "caps=NV12:640x480",
                                           "caps=YUY2:641x480", "caps=YUY2:0x480", "caps=YUY2:640x480@0",
                                           "caps=YUY2:640x480/vih3", "caps=YUY2:99999x480", "pins=all",
                                           "tuner=yes", "fail=sometimes", "lost=-1", "colour=red", "caps",
                                           "name="));

}  // namespace
