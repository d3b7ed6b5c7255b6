// Device discovery over cameras with any display and friendly names: the camera list in the
// registry file, enumerated through the system device enumerator with and without the
// allow-list.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "graph/capture_devices.h"
#include "media/device_enum.h"
#include "platform/reg_file.h"

namespace {

// UTF-16LE bytes of a value, with its terminator.
std::vector<uint8_t> Utf16Value(const std::u16string& s) {
  std::vector<uint8_t> out;
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

}  // namespace

// Input: a flags byte, then UTF-16LE strings separated by U+0000, taken in pairs as a
// camera's display name and friendly name.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dir = fuzz::PrivateDirectory();
  static const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  if (!com || size < 1) return 0;
  std::vector<std::u16string> strings(1);
  for (size_t at = 1; at + 1 < size && strings.size() <= 16; at += 2) {
    const char16_t c = static_cast<char16_t>(data[at] | (data[at + 1] << 8));
    if (c == 0) {
      strings.emplace_back();
    } else {
      strings.back() += c;
    }
  }
  platform::RegHive hive;
  for (size_t i = 0; i < strings.size(); i += 2) {
    char number[8];
    std::snprintf(number, sizeof number, "%04zu", i / 2 + 1);
    platform::RegKeyRecord& key =
        platform::FindOrAddRegKey(hive, std::string("HKEY_LOCAL_MACHINE\\") + media::kCameraListKey + "\\" + number);
    const std::u16string friendly = i + 1 < strings.size() ? strings[i + 1] : u"";
    platform::SetRegValue(key, {media::kCameraDisplayName, platform::kRegSz, Utf16Value(strings[i])});
    platform::SetRegValue(key, {media::kCameraFriendlyName, platform::kRegSz, Utf16Value(friendly)});
    // A class nobody serves: binding fails after the names have been read and judged.
    platform::SetRegValue(key, {media::kCameraClass, platform::kRegSz,
                                Utf16Value(u"{00000000-0000-0000-0000-00000000F022}")});
  }
  // Written beside and renamed over, so the registry sees a new file every time.
  const std::string text = platform::SerializeRegFile(hive);
  const std::string temp = fuzz::WriteInput("registry.new", reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (std::rename(temp.c_str(), (dir + "/registry.reg").c_str()) != 0) std::abort();

  std::vector<std::unique_ptr<char16_t[]>> fragments;
  fragments.emplace_back(new char16_t[4]{u'v', u'i', u'd', 0});
  const DeviceAllowList allowList{data[0] & 1, &fragments};
  std::vector<CaptureDeviceCandidate> list;
  EnumerateCaptureDevices(allowList, list);
  return 0;
}
