// Registry access: the Win32 registry on Windows; on Linux a .reg-syntax text file (the
// format of regedit exports) whose path comes from an environment variable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegistryRoot { LocalMachine };

// Read: KEY_READ. Default: the access of the older RegOpenKeyW call.
enum class RegistryAccess { Read, Default };

// Value types, numbered as Windows numbers them.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Win32 error codes the registry calls report (the same numbers on every build).
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
constexpr long kErrorBadDb = 1009;

// On Linux the registry file is named by this variable; unset means an empty registry.
// The parsed file is kept and read again only when it changed (its inode, size or times).
constexpr const char* kRegistryFileVariable = "KESTREL_REGISTRY_FILE";

#ifdef _WIN32
inline constexpr bool kRegistryIsFile = false;
#else
inline constexpr bool kRegistryIsFile = true;
#endif

// One open key. Move-only; closes itself. Key and value names are UTF-8 and compared
// without regard to ASCII letter case; a trailing backslash on the subkey is ignored.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // 0 on success, else the Win32 error code (2 when the key does not exist).
  long Open(RegistryRoot root, const char* subkey, RegistryAccess access);
  bool IsOpen() const;
  void Close();

  // RegQueryValueExW: `*size` holds the capacity of `data` on entry and the value's size
  // on return. 0 on success; kErrorMoreData when the data does not fit (nothing copied);
  // kErrorFileNotFound for a missing value. `type` and `data` may be null. String values
  // are UTF-16LE with their terminator.
  long Query(const char* valueName, uint32_t* type, void* data, uint32_t* size) const;

  // RegEnumKeyExW: the name of the subkey at `index`. Subkeys come sorted by name without
  // regard to case. 0 on success; kErrorNoMoreItems past the last one.
  long EnumSubkey(uint32_t index, std::string* name) const;

 private:
  void* handle_ = nullptr;  // the HKEY on Windows; the key's copied values on Linux
};

// Writes one value, creating the key and its parents. 0 or a Win32 error code. On Linux
// the registry file is rewritten (created when missing) in regedit's export syntax.
long SetRegistryValue(RegistryRoot root, const char* subkey, const char* valueName, uint32_t type,
                      const void* data, uint32_t size);

// A REG_SZ value from UTF-8 text, stored as UTF-16LE with its terminator.
long SetRegistryString(RegistryRoot root, const char* subkey, const char* valueName, std::string_view text);

// The names of all subkeys of a key, in EnumSubkey's order; empty when it cannot be opened.
std::vector<std::string> RegistrySubkeys(RegistryRoot root, const char* subkey);

// Deletes a key with everything below it. 0, or 2 when the key does not exist.
long DeleteRegistryTree(RegistryRoot root, const char* subkey);

}  // namespace platform
