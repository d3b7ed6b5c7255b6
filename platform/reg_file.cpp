// Reading and writing regedit's export syntax ("Windows Registry Editor Version 5.00").
#include "platform/reg_file.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>

#include "platform/text.h"

namespace platform {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// "HKLM\A\B\" -> "HKEY_LOCAL_MACHINE\A\B"; nullopt for a root we do not know.
std::optional<std::string> NormalizeKeyPath(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  const size_t slash = path.find('\\');
  const std::string_view root = path.substr(0, slash);
  const std::string_view rest = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
  static constexpr std::pair<const char*, const char*> kRoots[] = {
      {"hkey_local_machine", "HKEY_LOCAL_MACHINE"}, {"hklm", "HKEY_LOCAL_MACHINE"},
      {"hkey_current_user", "HKEY_CURRENT_USER"},   {"hkcu", "HKEY_CURRENT_USER"},
      {"hkey_classes_root", "HKEY_CLASSES_ROOT"},   {"hkey_users", "HKEY_USERS"},
      {"hkey_current_config", "HKEY_CURRENT_CONFIG"}};
  for (const auto& [alias, name] : kRoots)
    if (Lower(root) == alias) return std::string(name) + std::string(rest);
  return std::nullopt;
}

std::vector<uint8_t> Utf16Bytes(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  std::vector<uint8_t> bytes;
  bytes.reserve((wide.size() + 1) * 2);
  for (char16_t c : wide) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

// Reads a quoted string at the start of `s` (just past the opening quote is `*pos`),

// undoing the \\ and \" escapes. Returns false when the closing quote is missing.

bool ReadQuoted(std::string_view s, size_t& pos, std::string& out) {
  out.clear();
  while (pos < s.size()) {
    const char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < s.size() && (s[pos] == '\\' || s[pos] == '"')) {
      out.push_back(s[pos++]);
    } else {
      out.push_back(c);
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(std::string_view s, std::vector<uint8_t>& out) {
  out.clear();
  size_t i = 0;
  while (true) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) return true;
    if (i + 1 >= s.size()) return false;
    const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
  }
}

// Parses the data part after '='. nullopt for malformed data; a value with

// type kRegNone and the name "-" marker is handled by the caller.

std::optional<RegValue> ParseData(std::string_view data) {
  RegValue v;
  if (!data.empty() && data.front() == '"') {
    size_t pos = 1;
    std::string text;
    if (!ReadQuoted(data, pos, text) || !Trim(data.substr(pos)).empty()) return std::nullopt;
    v.type = kRegSz;
    v.data = Utf16Bytes(text);
    return v;
  }
  const std::string lower = Lower(data.substr(0, std::min<size_t>(data.size(), 16)));
  if (lower.starts_with("dword:")) {
    const std::string_view digits = Trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t n = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      n = n * 16 + static_cast<uint32_t>(d);
    }
    v.type = kRegDword;
    v.data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
              static_cast<uint8_t>(n >> 24)};
    return v;
  }
  if (lower.starts_with("hex:")) {
    v.type = kRegBinary;
    if (!ParseHexBytes(data.substr(4), v.data)) return std::nullopt;
    return v;
  }
  if (lower.starts_with("hex(")) {
    const size_t close = data.find("):");
    if (close == std::string_view::npos || close == 4 || close > 12) return std::nullopt;
    uint32_t type = 0;
    for (char c : data.substr(4, close - 4)) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      type = type * 16 + static_cast<uint32_t>(d);
    }
    v.type = type;
    if (!ParseHexBytes(data.substr(close + 2), v.data)) return std::nullopt;
    return v;
  }
  return std::nullopt;
}

// Decodes the file's bytes into UTF-8 text (UTF-16LE when it starts with FF FE).

std::string DecodeFile(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    std::u16string wide;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      wide.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return Utf16ToUtf8(wide);
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// A REG_SZ that is a terminated UTF-16 string without inner NULs is written as text.
std::optional<std::string> AsPlainString(const RegValue& v) {
  if (v.type != kRegSz || v.data.size() < 2 || v.data.size() % 2 != 0) return std::nullopt;
  std::u16string wide;
  for (size_t i = 0; i + 1 < v.data.size(); i += 2)
    wide.push_back(static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8)));
  if (wide.back() != 0) return std::nullopt;
  wide.pop_back();
  if (wide.find(u'\0') != std::u16string::npos) return std::nullopt;
  return Utf16ToUtf8(wide);
}

}  // namespace

bool RegNameEquals(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

std::string RegRootedPath(RegistryRoot root, const char* subkey) {
  std::string path;
  switch (root) {
    case RegistryRoot::LocalMachine:
      path = "HKEY_LOCAL_MACHINE";
      break;
  }
  std::string_view sub = subkey ? subkey : "";
  while (!sub.empty() && sub.back() == '\\') sub.remove_suffix(1);
  if (!sub.empty()) path += "\\" + std::string(sub);
  return path;
}

bool RegPathIsAtOrBelow(std::string_view path, std::string_view key) {
  const std::string p = Lower(path), k = Lower(key);
  return p == k || (p.size() > k.size() && p.compare(0, k.size(), k) == 0 && p[k.size()] == '\\');
}

RegKeyRecord& FindOrAddRegKey(RegHive& hive, const std::string& path) {
  for (RegKeyRecord& k : hive)
    if (RegNameEquals(k.path, path)) return k;
  hive.push_back(RegKeyRecord{path, {}});
  return hive.back();
}

void SetRegValue(RegKeyRecord& key, RegValue value) {
  for (RegValue& v : key.values)
    if (RegNameEquals(v.name, value.name)) {
      v = std::move(value);
      return;
    }
  key.values.push_back(std::move(value));
}

bool DeleteRegTree(RegHive& hive, std::string_view path) {
  return std::erase_if(hive, [&](const RegKeyRecord& k) { return RegPathIsAtOrBelow(k.path, path); }) > 0;
}

std::string SerializeRegFile(const RegHive& hive) {
  std::string out = "Windows Registry Editor Version 5.00\n";
  for (const RegKeyRecord& key : hive) {
    out += "\n[" + key.path + "]\n";
    for (const RegValue& v : key.values) {
      out += v.name.empty() ? std::string("@") : "\"" + Escape(v.name) + "\"";
      out += "=";
      if (const std::optional<std::string> text = AsPlainString(v)) {
        out += "\"" + Escape(*text) + "\"";
      } else if (v.type == kRegDword && v.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      static_cast<unsigned>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                                            (static_cast<uint32_t>(v.data[3]) << 24)));
        out += buf;
      } else {
        char buf[16];
        if (v.type == kRegBinary) {
          out += "hex:";
        } else {
          std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
          out += buf;
        }
        for (size_t i = 0; i < v.data.size(); ++i) {
          std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", v.data[i]);
          out += buf;
        }
      }
      out += "\n";
    }
  }
  return out;
}

bool ParseRegFile(std::string_view bytes, RegHive* hive) {
  hive->clear();
  const std::string text = DecodeFile(std::string(bytes));

  std::vector<std::string> lines;
  std::string pending;
  std::istringstream stream(text);
  for (std::string raw; std::getline(stream, raw);) {
    std::string_view line = Trim(raw);
    if (!pending.empty()) line = Trim(line);
    // A value line ending in a backslash continues on the next line (hex data).
    if (!line.empty() && line.back() == '\\' && line.front() != '[' && line.front() != ';') {
      pending += std::string(line.substr(0, line.size() - 1));
      continue;
    }
    lines.push_back(pending + std::string(line));
    pending.clear();
  }
  if (!pending.empty()) lines.push_back(pending);

  size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  if (first == lines.size() ||
      (lines[first] != "Windows Registry Editor Version 5.00" && lines[first] != "REGEDIT4"))
    return false;

  RegKeyRecord* current = nullptr;
  for (size_t n = first + 1; n < lines.size(); ++n) {
    const std::string_view line = lines[n];
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      current = nullptr;
      if (line.back() != ']') continue;
      std::string_view inner = line.substr(1, line.size() - 2);
      const bool remove = !inner.empty() && inner.front() == '-';
      if (remove) inner.remove_prefix(1);
      const std::optional<std::string> path = NormalizeKeyPath(inner);
      if (!path) continue;
      if (remove) {
        DeleteRegTree(*hive, *path);
      } else {
        current = &FindOrAddRegKey(*hive, *path);
      }
      continue;
    }
    if (!current) continue;
    std::string name;
    size_t pos;
    if (line.front() == '@') {
      pos = 1;
    } else if (line.front() == '"') {
      pos = 1;
      if (!ReadQuoted(line, pos, name)) continue;
    } else {
      continue;
    }
    const std::string_view rest = Trim(line.substr(pos));
    if (rest.empty() || rest.front() != '=') continue;
    const std::string_view data = Trim(rest.substr(1));
    if (data == "-") {
      std::erase_if(current->values, [&](const RegValue& v) { return RegNameEquals(v.name, name); });
      continue;
    }
    std::optional<RegValue> value = ParseData(data);
    if (!value) continue;
    value->name = std::move(name);
    SetRegValue(*current, std::move(*value));
  }
  return true;
}

}  // namespace platform
