// UTF-8 text to and from the wide strings of the W entry points (UTF-16 on Windows).
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

namespace platform::win32 {

// Null is the empty string.
inline std::wstring Wide(const char* text) {
  const std::u16string w = Utf8ToUtf16(text ? text : "");
  return std::wstring(w.begin(), w.end());
}

inline std::string Narrow(std::wstring_view text) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

}  // namespace platform::win32
