// Registry access: the Win32 registry on Windows; on Linux a .reg-syntax text file (the
// format of regedit exports) whose path comes from an environment variable.
#pragma once

namespace platform {

enum class RegistryRoot { LocalMachine };

}  // namespace platform
