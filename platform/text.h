// UTF-8 and UTF-16 conversions for the text that crosses between narrow and wide APIs, and
// the fixed 64-unit name fields of channels and registrations.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Malformed input becomes U+FFFD; never throws for bad bytes.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Copies `src` (null: empty) into `dst` of `units` code units, cut so that the terminator
// fits; returns the units copied. Writes nothing when `units` is 0.
constexpr size_t CopyCut(char16_t* dst, size_t units, const char16_t* src) {
  if (units == 0) return 0;
  size_t i = 0;
  for (; src != nullptr && i + 1 < units && src[i] != 0; ++i) dst[i] = src[i];
  dst[i] = 0;
  return i;
}

// A name field: 64 UTF-16 units, NUL-terminated, at most 63 characters.
inline constexpr size_t kNameUnits = 64;

// Copies `src` (null: empty) into `dst`, cut to 63 characters, terminated and zero-filled;
// reads at most 63 units of `src`.
constexpr void CopyName(char16_t (&dst)[kNameUnits], const char16_t* src) {
  for (size_t i = CopyCut(dst, kNameUnits, src); i < kNameUnits; ++i) dst[i] = 0;
}

// Whether two name fields hold the same name; reads at most 64 units of each.
constexpr bool SameName(const char16_t* a, const char16_t* b) {
  for (size_t i = 0; i < kNameUnits; ++i) {
    if (a[i] != b[i]) return false;
    if (a[i] == 0) return true;
  }
  return true;
}

}  // namespace platform
