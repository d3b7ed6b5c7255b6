// Helpers shared by the plug-in tests and their hostile client program.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

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

}  // namespace plugin_test
