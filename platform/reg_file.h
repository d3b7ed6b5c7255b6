// regedit's export syntax: the registry file of the Linux backend, usable on every build.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform {

struct RegValue {
  std::string name;  // empty for the default value "@"
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;  // strings as UTF-16LE with terminator
};

struct RegKeyRecord {
  std::string path;  // "HKEY_LOCAL_MACHINE\A\B", no trailing backslash
  std::vector<RegValue> values;
};

using RegHive = std::vector<RegKeyRecord>;

// Parses the text (UTF-8, or UTF-16LE starting with FF FE) into keys in file order.
// "[-key]" and "name"=- delete; "@" is the default value; "..." strings (with \\ and \"
// escapes), dword:, hex: and hex(n): data, lines continued by a trailing backslash, and
// ';' comments are understood. Malformed lines are skipped, as regedit skips them. False
// when the header line is missing. Time grows as n log n in the file's length.
bool ParseRegFile(std::string_view bytes, RegHive* hive);

// How many times ParseRegFile has run in this process (tests watch it to see a cached hive
// reused).
uint64_t RegFileParseCount();

// UTF-8 text in the same syntax, with dword: for REG_DWORD and quoted text for REG_SZ
// strings that survive it; other strings (line breaks, inner NULs, no terminator) as hex(1):.
std::string SerializeRegFile(const RegHive& hive);

// Names compared the registry's way (ASCII letters without regard to case).
bool RegNameEquals(std::string_view a, std::string_view b);
// "HKEY_LOCAL_MACHINE\" + subkey without its trailing backslashes.
std::string RegRootedPath(RegistryRoot root, const char* subkey);
// True when `path` is `key` or lies below it.
bool RegPathIsAtOrBelow(std::string_view path, std::string_view key);
RegKeyRecord& FindOrAddRegKey(RegHive& hive, const std::string& path);
void SetRegValue(RegKeyRecord& key, RegValue value);
// True when something was deleted.
bool DeleteRegTree(RegHive& hive, std::string_view path);

}  // namespace platform
