// A private scratch folder, drive root and registry for one test, and the file helpers the
// graph tests share. Windows tests use the real registry and C: drive and clean up after.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "graph/diagnostics.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/system_files.h"

// Ends a test that does not apply here. GTEST_SKIP would be the natural call, but it
// crashes the win32 build under Wine.
#define KESTREL_NOT_APPLICABLE(why)                  \
  do {                                               \
    std::printf("[   N/A    ] %s\n", why);           \
    return;                                          \
  } while (0)

namespace test {

// Files and folders go through the platform layer rather than std::filesystem, so the win32
// tests do not depend on the mingw-w64 runtime's implementation of it.

inline std::string NativeFile(const char* windowsPath) { return platform::NativePath(windowsPath); }

// `folder` joined with each name in turn.
inline std::string Join(std::string folder) { return folder; }
template <typename... Names>
std::string Join(std::string folder, std::string_view name, Names... rest) {
  return Join(platform::JoinPath(folder, name), rest...);
}

inline std::optional<std::string> ReadBytes(const std::string& path) {
  std::FILE* f = platform::OpenStdioFile(path.c_str(), "rb");
  if (!f) return std::nullopt;
  std::string bytes;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = platform::OpenStdioFile(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

// UTF-16LE bytes of `text`.
inline std::string Utf16Le(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

inline long SetDword(const char* subkey, const char* name, uint32_t value) {
  const uint8_t data[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return platform::SetRegistryValue(platform::RegistryRoot::LocalMachine, subkey, name, platform::kRegDword, data, 4);
}

inline long SetString(const char* subkey, const char* name, std::u16string_view text, bool terminated = true) {
  std::string bytes = Utf16Le(text);
  if (terminated) bytes.append(2, '\0');
  return platform::SetRegistryValue(platform::RegistryRoot::LocalMachine, subkey, name, platform::kRegSz,
                                    bytes.data(), static_cast<uint32_t>(bytes.size()));
}

inline long SetRaw(const char* subkey, const char* name, uint32_t type, const std::string& bytes) {
  return platform::SetRegistryValue(platform::RegistryRoot::LocalMachine, subkey, name, type, bytes.data(),
                                    static_cast<uint32_t>(bytes.size()));
}

// Everything the diagnostics touch, fresh for each test: drive root and registry file on
// Linux, the Quillon keys and the two diagnostic files everywhere, the cached switches.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    dir_ = Join(platform::TemporaryDirectory(),
                "kestrel-test-" + std::to_string(seed()) + "-" + std::to_string(counter++));
    ASSERT_TRUE(platform::CreateDirectories(Join(dir_, "root").c_str())) << dir_;
    platform::SetEnvironmentValue("KESTREL_ROOT", Join(dir_, "root").c_str());
    platform::SetEnvironmentValue("KESTREL_REGISTRY_FILE", Join(dir_, "registry.reg").c_str());
    platform::SetEnvironmentValue("KESTREL_DEBUG_FD", "none");
    platform::CreateDirectories(NativeFile("c:\\").c_str());
    Clean();
  }

  void TearDown() override {
    Clean();
    platform::RemoveDirectoryTree(dir_.c_str());
  }

  static void Clean() {
    platform::DeleteRegistryTree(platform::RegistryRoot::LocalMachine, "SOFTWARE\\Quillon");
    platform::DeleteFileAt(NativeFile("c:\\QuillonVCapture.log").c_str());
    platform::RemoveDirectoryTree(NativeFile("C:\\QuillonVCapture").c_str());
    ResetDiagnosticSwitchesForTesting();
  }

  // The test's own folder (a native path).
  std::string dir_;
};

}  // namespace test
