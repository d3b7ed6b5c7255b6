// Synthetic cameras for the graph tests: the stand-in filters registered as COM classes in the
// test's registry, a camera list written the way the device enumerator reads it, the
// renderer's and decoder's settings, and the filters' call record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "media/device_enum.h"
#include "platform/child_process.h"
#include "platform/module.h"
#include "platform/program.h"
#include "platform/registry.h"
#include "tests/graph/test_env.h"

namespace test {

inline constexpr const char* kKestrelCamClass = "{66921C7C-FC9D-4FA6-A6EE-F4FEE5219282}";
inline constexpr const char* kFilterSettingsKey = "SOFTWARE\\Kestrel\\Filters";

inline void ClearCameras() {
  platform::DeleteRegistryTree(platform::RegistryRoot::LocalMachine, media::kCameraListKey);
}

inline void ClearFilterSettings() {
  platform::DeleteRegistryTree(platform::RegistryRoot::LocalMachine, kFilterSettingsKey);
}

// Camera `number` ("0001", ...) of the list: a synthetic camera with this configuration.
inline void AddCamera(const std::string& number, const std::string& display, const std::string& friendly,
                      const std::string& config, const char* clsid = kKestrelCamClass) {
  const std::string key = std::string(media::kCameraListKey) + "\\" + number;
  const auto root = platform::RegistryRoot::LocalMachine;
  platform::SetRegistryString(root, key.c_str(), media::kCameraDisplayName, display);
  platform::SetRegistryString(root, key.c_str(), media::kCameraFriendlyName, friendly);
  platform::SetRegistryString(root, key.c_str(), media::kCameraClass, clsid);
  platform::SetRegistryString(root, key.c_str(), media::kCameraConfig, config);
}

// A PnP-style display name with this product number.
inline std::string UsbPath(int pid) {
  char text[160];
  std::snprintf(text, sizeof text,
                "@device:pnp:\\\\?\\usb#vid_fa57&pid_%04x&mi_00#7&1b2c3d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                pid);
  return text;
}

// The stand-in filters' classes, served by their modules beside the test programs; on
// Windows also the device enumerator that lists the camera list (KestrelDevEnum.dll in place
// of the system's, as kestrel-register --device-enum writes it). Linux has it built in.
inline void RegisterFilters() {
  struct Class {
    const char* clsid;
    const char* module;
  } classes[] = {
      {kKestrelCamClass, "KestrelCam.dll"},
      {"{9651E3DA-5F84-4C96-B34C-36CB2EDA7E64}", "KestrelVDRender.dll"},
      {"{FA081B2E-BAAB-4C6B-99ED-3D6CFA1EA2F6}", "KestrelMjpegDec.dll"},
      {"{89FC4A64-2F0D-4306-9C4A-622EA9896447}", "KestrelMjpegDec.dll"},
      {"{62BE5D10-60EB-11d0-BD3B-00A0C911CE86}", platform::kWindowsBuild ? "KestrelDevEnum.dll" : nullptr},
  };
  // The modules stay mapped to the end of the program: their process-wide tables would be
  // reported lost under LeakSanitizer each time the runtime unloads them.
  static const bool kept = [] {
    for (const char* module : {"KestrelCam.dll", "KestrelVDRender.dll", "KestrelMjpegDec.dll"})
      platform::LoadModule(module);
    return true;
  }();
  (void)kept;
  const std::string self = platform::CurrentExecutablePath();
  const std::string folder = self.substr(0, self.find_last_of("\\/"));
  for (const Class& c : classes) {
    if (!c.module) continue;
    char mapped[260];
    const char* file = platform::MapModuleFileName(c.module, mapped, sizeof mapped);
    const std::string server = std::string("SOFTWARE\\Classes\\CLSID\\") + c.clsid + "\\InprocServer32";
    platform::SetRegistryString(platform::RegistryRoot::LocalMachine, server.c_str(), "",
                                platform::JoinPath(folder, file ? file : c.module));
    platform::SetRegistryString(platform::RegistryRoot::LocalMachine, server.c_str(), "ThreadingModel", "Both");
  }
}

// The filters' record file (every module appends to it), one entry per line.
inline std::vector<std::string> ReadRecord(const std::string& file) {
  std::vector<std::string> lines;
  const std::optional<std::string> text = ReadBytes(file);
  if (!text) return lines;
  size_t at = 0;
  while (at < text->size()) {
    size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines)
    if (l == line) return true;
  return false;
}

}  // namespace test
