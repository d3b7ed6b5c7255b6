// OutputDebugStringW behind the debugger output channel.
#include "platform/debug_output.h"

#include <windows.h>

#include <string>

namespace platform {

void DebugOutput(std::u16string_view text) {
  const std::wstring wide(text.begin(), text.end());
  OutputDebugStringW(wide.c_str());
}

}  // namespace platform
