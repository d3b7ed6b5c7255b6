// Windows path literals stay in the code; this turns one into the path the OS opens.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// On Linux the drive folders live under this directory ("c:\x\y" -> "$KESTREL_ROOT/c/x/y");
// unset, the root is kDefaultDriveRoot.
constexpr const char* kDriveRootVariable = "KESTREL_ROOT";
constexpr const char* kDefaultDriveRoot = "/var/lib/kestrel";

// Windows: `windowsPath` unchanged. Linux: a drive path ("X:\..." with either letter case)
// goes below the drive root in a folder named by the lower-case letter; backslashes become
// slashes everywhere. UTF-8 in and out.
std::string NativePath(std::string_view windowsPath);

}  // namespace platform
