// The registry helpers built on the backend's calls, the same on every build.
#include "platform/registry.h"

#include "platform/text.h"

namespace platform {

long SetRegistryString(RegistryRoot root, const char* subkey, const char* valueName, std::string_view text) {
  const std::u16string wide = Utf8ToUtf16(text);
  std::vector<uint8_t> bytes;
  bytes.reserve((wide.size() + 1) * 2);
  for (char16_t c : wide) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return SetRegistryValue(root, subkey, valueName, kRegSz, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<std::string> RegistrySubkeys(RegistryRoot root, const char* subkey) {
  std::vector<std::string> names;
  RegistryKey key;
  if (key.Open(root, subkey, RegistryAccess::Read) != kErrorSuccess) return names;
  std::string name;
  for (uint32_t i = 0; key.EnumSubkey(i, &name) == kErrorSuccess; ++i) names.push_back(name);
  return names;
}

}  // namespace platform
