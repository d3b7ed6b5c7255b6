// A private scratch folder, drive root and registry for one test, and the file helpers the
// graph tests share. Windows tests use the real registry and C: drive and clean up after.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "graph/diagnostics.h"
#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/registry.h"

// Ends a test that does not apply here. GTEST_SKIP would be the natural call, but it
// crashes the win32 build under Wine.
#define KESTREL_NOT_APPLICABLE(why)                  \
  do {                                               \
    std::printf("[   N/A    ] %s\n", why);           \
    return;                                          \
  } while (0)

namespace test {

namespace fs = std::filesystem;

inline fs::path NativeFile(const char* windowsPath) { return fs::path(platform::NativePath(windowsPath)); }

inline std::optional<std::string> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
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
    dir_ = fs::temp_directory_path() /
           ("kestrel-test-" + std::to_string(seed()) + "-" + std::to_string(counter++));
    fs::create_directories(dir_ / "root");
    platform::SetEnvironmentValue("KESTREL_ROOT", (dir_ / "root").string().c_str());
    platform::SetEnvironmentValue("KESTREL_REGISTRY_FILE", (dir_ / "registry.reg").string().c_str());
    platform::SetEnvironmentValue("KESTREL_DEBUG_FD", "none");
    fs::create_directories(NativeFile("c:\\"));
    Clean();
  }

  void TearDown() override {
    Clean();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  static void Clean() {
    platform::DeleteRegistryTree(platform::RegistryRoot::LocalMachine, "SOFTWARE\\Quillon");
    std::error_code ec;
    fs::remove(NativeFile("c:\\QuillonVCapture.log"), ec);
    fs::remove_all(NativeFile("C:\\QuillonVCapture"), ec);
    ResetDiagnosticSwitchesForTesting();
  }

  fs::path dir_;
};

}  // namespace test
