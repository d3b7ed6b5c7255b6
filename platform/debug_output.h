// The debugger output channel.
#pragma once

#include <string_view>

namespace platform {

// Linux has no debugger channel: the text goes, as UTF-8, to the file descriptor named by
// KESTREL_DEBUG_FD, or to standard error when that is unset; a value that is not a
// descriptor number (e.g. "none") discards it.
constexpr const char* kDebugFdVariable = "KESTREL_DEBUG_FD";

// OutputDebugStringW of `text` (which need not end in a terminator).
void DebugOutput(std::u16string_view text);

}  // namespace platform
