// The synthetic camera's configuration: the "Config" string of its device entry, read by
// IPersistPropertyBag::Load. The device enumerator hands the string over verbatim.
//
// Syntax: items separated by ';', each key=value; spaces around tokens are ignored, keys
// and names are case-insensitive; an empty string gives the defaults.
//   caps=CAP[,CAP...]   capabilities in index order (default YUY2:640x480)
//                       CAP = SUBTYPE:WIDTHxHEIGHT[@INTERVAL][/FORMAT]
//                       SUBTYPE: YUY2 YVYU UYVY VYUY YUYV I420 IYUV YV12 RGB24 RGB32 MJPG
//                       INTERVAL: frame duration in 100-ns units (default 333333)
//                       FORMAT: vih (FORMAT_VideoInfo, default), vih2 (FORMAT_VideoInfo2),
//                       other (a format block of another type: nothing can connect it)
//   pins=capture|preview|both   output pins (default capture)
//   ksobject=0|1        whether the filter answers IKsObject (default 1)
//   tuner=0|1           a TV tuner: an input pin answering IAMTVTuner (default 0)
//   fail=none|bind|run  bind: Load fails with kBindFailure; run: pausing or running the
//                       filter fails with kDeviceBusy (default none)
//   lost=N              after N frames EC_DEVICE_LOST goes to the graph and delivery ends
//                       (default 0: never)
//   name=TEXT           the name used in the call record (default "camera")
// Widths and heights are 2..8192 and even, intervals 1..10^9.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "outside/filters/test_pattern.h"

namespace filters {

enum class FormatKind : uint8_t { VideoInfo, VideoInfo2, Other };
enum class PinSet : uint8_t { Capture, Preview, Both };
enum class Fault : uint8_t { None, Bind, Run };

struct Capability {
  Subtype subtype = Subtype::YUY2;
  uint32_t width = 640;
  uint32_t height = 480;
  int64_t interval = 333333;
  FormatKind format = FormatKind::VideoInfo;
};

struct CameraConfig {
  std::vector<Capability> caps{Capability{}};
  PinSet pins = PinSet::Capture;
  bool ksObject = true;
  bool tuner = false;
  Fault fault = Fault::None;
  uint32_t lostAfter = 0;
  std::string name = "camera";
};

// False with a short reason in *error for a malformed string; *out is then untouched.
bool ParseCameraConfig(std::string_view text, CameraConfig* out, std::string* error);

}  // namespace filters
