// UTF-8 and UTF-16 conversions for the text that crosses between narrow and wide APIs.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Malformed input becomes U+FFFD; never throws for bad bytes.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace platform
