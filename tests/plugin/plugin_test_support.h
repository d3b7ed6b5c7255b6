// Helpers shared by the plug-in tests and their hostile client program.
#pragma once

#include <cstdint>
#include <string>

#include "platform/child_process.h"
#include "platform/program.h"
#include "platform/thread.h"
#include "tests/test_names.h"

namespace plugin_test {

using test_names::kGenerousMs;
using test_names::U16;
using test_names::U8;

inline std::string UniqueName(const char* tag) { return test_names::UniqueName("kf", tag); }

// A program of the build, given relative to the build folder (the parent of the tests').
inline std::string BuildPath(std::string relative) {
  const std::string self = platform::CurrentExecutablePath();
  const std::string tests = self.substr(0, self.find_last_of("\\/"));
  for (char& c : relative)
    if (c == '/') c = platform::kPathSeparator;
  return tests.substr(0, tests.find_last_of("\\/") + 1) + relative;
}

}  // namespace plugin_test
