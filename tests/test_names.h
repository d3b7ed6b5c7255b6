// Names and helpers shared by the tests that run second processes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/thread.h"

namespace test_names {

inline constexpr uint32_t kGenerousMs = 120000;  // only a hang reaches it, even under emulated Wine

// A name no other test process uses: `prefix` and `tag`, the process id, the clock and a count.
inline std::string UniqueName(const char* prefix, const char* tag) {
  static int counter = 0;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count() % 100000000;
  return std::string(prefix) + tag + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(now) + "_" +
         std::to_string(++counter);
}

// ASCII only: each character becomes one code unit.
inline std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
inline std::string U8(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += static_cast<char>(c);
  return out;
}

// On Linux a message pipe is a socket in $KESTREL_PIPE_DIR (else the system's folder): while
// one of these lives, the pipes of this process and of the children it starts go to a
// folder of their own, removed afterwards. No effect on Windows.
class PrivatePipeFolder {
 public:
  PrivatePipeFolder()
      : dir_(platform::JoinPath(platform::TemporaryDirectory(), UniqueName("kpipes", ""))),
        saved_(platform::GetEnvironmentValue("KESTREL_PIPE_DIR")) {
    platform::CreateDirectories(dir_.c_str());
    platform::SetEnvironmentValue("KESTREL_PIPE_DIR", dir_.c_str());
  }
  ~PrivatePipeFolder() {
    platform::SetEnvironmentValue("KESTREL_PIPE_DIR", saved_ ? saved_->c_str() : nullptr);
    platform::RemoveDirectoryTree(dir_.c_str());
  }
  PrivatePipeFolder(const PrivatePipeFolder&) = delete;
  PrivatePipeFolder& operator=(const PrivatePipeFolder&) = delete;

 private:
  std::string dir_;
  std::optional<std::string> saved_;
};

}  // namespace test_names
