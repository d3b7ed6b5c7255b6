// Helpers shared by the plug-in tests and their hostile client program.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/child_process.h"
#include "platform/program.h"
#include "platform/thread.h"

namespace plugin_test {

inline constexpr uint32_t kGenerousMs = 120000;  // only a hang reaches it, even under emulated Wine

inline std::string UniqueName(const char* tag) {
  static int counter = 0;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count() % 100000000;
  return std::string("kf") + tag + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(now) + "_" +
         std::to_string(++counter);
}

inline std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
inline std::string U8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// A program of the build, given relative to the build folder (the parent of the tests').
inline std::string BuildPath(std::string relative) {
  const std::string self = platform::CurrentExecutablePath();
  const std::string tests = self.substr(0, self.find_last_of("\\/"));
  for (char& c : relative)
    if (c == '/') c = platform::kPathSeparator;
  return tests.substr(0, tests.find_last_of("\\/") + 1) + relative;
}

}  // namespace plugin_test
