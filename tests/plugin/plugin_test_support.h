// Helpers shared by the plug-in tests and their client program.
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

// The client effect used to tell clients apart: every pixel byte p becomes p * 3 + tag, so
// the order in which clients ran shows in the result.
inline uint8_t Stamp(uint8_t p, uint8_t tag) { return static_cast<uint8_t>(p * 3 + tag); }

}  // namespace plugin_test
