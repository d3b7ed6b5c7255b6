// Reading and writing regedit's export syntax ("Windows Registry Editor Version 5.00").
#include "platform/reg_file.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <unordered_map>
#include <cstdio>
#include <optional>
#include <sstream>

#include "pixel/frame_format.h"
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

// A REG_SZ is written as quoted text only when that text reads back to the same bytes: a
// terminated UTF-16 string without inner NULs, line breaks (a line ends the text) or
// unpaired surrogates. Anything else is written as hex(1): data, as regedit does.
std::optional<std::string> AsPlainString(const RegValue& v) {
  if (v.type != kRegSz || v.data.size() < 2 || v.data.size() % 2 != 0) return std::nullopt;
  std::u16string wide;
  for (size_t i = 0; i + 1 < v.data.size(); i += 2)
    wide.push_back(static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8)));
  if (wide.back() != 0) return std::nullopt;
  wide.pop_back();
  if (wide.find_first_of(std::u16string_view(u"\0\r\n", 3)) != std::u16string::npos) return std::nullopt;
  std::string text = Utf16ToUtf8(wide);
  if (Utf16Bytes(text) != v.data) return std::nullopt;
  return text;
}

}  // namespace

bool RegNameEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

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
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(ReadLe32(v.data.data())));
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

namespace {

std::atomic<uint64_t> gParseCount{0};

// The hive as the parser builds it: keys and values are found through indexes and deleted
// ones are only marked, so a file of n keys is read in O(n log n), whatever it deletes.
class HiveBuilder {
 public:
  // The key of `path` (normalized), created at the end when it is not there.
  size_t Key(const std::string& path) {
    std::string lower = Lower(path);
    if (const auto it = keys_.find(lower); it != keys_.end()) return it->second;
    records_.push_back(Record{RegKeyRecord{path, {}}, {}, true, nullptr});
    keys_.emplace(std::move(lower), records_.size() - 1);
    return records_.size() - 1;
  }

  // Marks the key and every key below it deleted.
  void DeleteTree(const std::string& path) {
    const std::string lower = Lower(path);
    if (const auto it = keys_.find(lower); it != keys_.end()) {
      records_[it->second].alive = false;
      keys_.erase(it);
    }
    // Every path below "p" starts with "p\", so the descendants are one run of the map.
    const std::string prefix = lower + "\\";
    auto it = keys_.lower_bound(prefix);
    while (it != keys_.end() && it->first.starts_with(prefix)) {
      records_[it->second].alive = false;
      it = keys_.erase(it);
    }
  }

  void SetValue(size_t key, RegValue value) {
    Record& r = records_[key];
    if (const std::optional<size_t> at = FindValue(r, value.name)) {
      r.record.values[*at] = std::move(value);
      return;
    }
    const size_t at = r.record.values.size();
    if (r.index) r.index->emplace(Lower(value.name), at);
    r.record.values.push_back(std::move(value));
    r.valueAlive.push_back(true);
    if (!r.index && at + 1 == kIndexedFrom) {
      r.index = std::make_unique<std::unordered_map<std::string, size_t>>();
      for (size_t i = 0; i <= at; ++i)
        if (r.valueAlive[i]) r.index->emplace(Lower(r.record.values[i].name), i);
    }
  }

  void DeleteValue(size_t key, const std::string& name) {
    Record& r = records_[key];
    const std::optional<size_t> at = FindValue(r, name);
    if (!at) return;
    r.valueAlive[*at] = false;
    if (r.index) r.index->erase(Lower(name));
  }

  void Finish(RegHive* hive) {
    hive->clear();
    for (Record& r : records_) {
      if (!r.alive) continue;
      RegKeyRecord& out = hive->emplace_back(RegKeyRecord{std::move(r.record.path), {}});
      for (size_t i = 0; i < r.record.values.size(); ++i)
        if (r.valueAlive[i]) out.values.push_back(std::move(r.record.values[i]));
    }
  }

 private:
  // Keys with few values are searched in order; from this many on, through an index.
  static constexpr size_t kIndexedFrom = 16;

  struct Record {
    RegKeyRecord record;
    std::vector<bool> valueAlive;
    bool alive;
    std::unique_ptr<std::unordered_map<std::string, size_t>> index;  // lower-case name -> position
  };

  static std::optional<size_t> FindValue(const Record& r, std::string_view name) {
    if (r.index) {
      const auto it = r.index->find(Lower(name));
      return it == r.index->end() ? std::nullopt : std::optional<size_t>(it->second);
    }
    for (size_t i = 0; i < r.record.values.size(); ++i)
      if (r.valueAlive[i] && RegNameEquals(r.record.values[i].name, name)) return i;
    return std::nullopt;
  }

  std::vector<Record> records_;
  std::map<std::string, size_t> keys_;              // lower-case path -> record
};

}  // namespace

uint64_t RegFileParseCount() { return gParseCount.load(); }

bool ParseRegFile(std::string_view bytes, RegHive* hive) {
  hive->clear();
  gParseCount.fetch_add(1);
  const std::string text = DecodeFile(std::string(bytes));

  std::vector<std::string> lines;
  std::string pending;
  std::istringstream stream(text);
  for (std::string raw; std::getline(stream, raw);) {
    std::string_view line = Trim(raw);
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

  HiveBuilder builder;
  constexpr size_t kNoKey = static_cast<size_t>(-1);
  size_t current = kNoKey;  // the key the value lines belong to
  for (size_t n = first + 1; n < lines.size(); ++n) {
    const std::string_view line = lines[n];
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      current = kNoKey;
      if (line.back() != ']') continue;
      std::string_view inner = line.substr(1, line.size() - 2);
      const bool remove = !inner.empty() && inner.front() == '-';
      if (remove) inner.remove_prefix(1);
      const std::optional<std::string> path = NormalizeKeyPath(inner);
      if (!path) continue;
      if (remove) {
        builder.DeleteTree(*path);
      } else {
        current = builder.Key(*path);
      }
      continue;
    }
    if (current == kNoKey) continue;
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
      builder.DeleteValue(current, name);
      continue;
    }
    std::optional<RegValue> value = ParseData(data);
    if (!value) continue;
    value->name = std::move(name);
    builder.SetValue(current, std::move(*value));
  }
  builder.Finish(hive);
  return true;
}

}  // namespace platform
