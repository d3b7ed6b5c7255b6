// The log and trace channels and the registry helpers. Nothing here reports its own
// failures or lets an exception out: a line that cannot be written is lost.
#include "graph/diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "pixel/frame_format.h"
#include "platform/debug_output.h"
#include "platform/exception_guard.h"
#include "platform/file.h"
#include "platform/local_time.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

using platform::RegistryAccess;
using platform::RegistryKey;
using platform::RegistryRoot;

constexpr const char* kLogKey = "SOFTWARE\\Quillon\\OruVCapture\\";
constexpr const char* kTraceKey = "SOFTWARE\\Quillon\\OruVCapture\\Install\\";
constexpr const char* kSwitchValue = "Log";
constexpr const char* kLogFile = "c:\\QuillonVCapture.log";
constexpr const char* kTraceFile = "C:\\QuillonVCapture\\Log.txt";
constexpr int64_t kTraceFileLimit = 0x1400000;
constexpr size_t kFormatChars = 512;

// A switch read once at first use. A caller that arrives while the first read is still
// running (or from inside it) sees the channel off for that one call.
class CachedSwitch {
 public:
  template <typename Read>
  bool On(Read read) {
    int state = state_.load(std::memory_order_acquire);
    if (state == kUnknown && state_.compare_exchange_strong(state, kReading, std::memory_order_acq_rel)) {
      const bool on = read() != 0;
      state_.store(on ? kOn : kOff, std::memory_order_release);
      return on;
    }
    return state == kOn;
  }
  void Reset() { state_.store(kUnknown, std::memory_order_release); }

 private:
  enum : int { kUnknown, kReading, kOff, kOn };
  std::atomic<int> state_{kUnknown};
};

CachedSwitch g_writeLogSwitch;
CachedSwitch g_logMessageSwitch;
CachedSwitch g_traceSwitch;
std::atomic<int> g_logEnabled{-1};  // -1 until the log key could be opened once

int ReadTraceSwitch() { return static_cast<int>(ReadRegistryFlag(RegistryRoot::LocalMachine, kTraceKey, kSwitchValue, 0)); }

bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

}  // namespace

int IsLogEnabled() {
  const int cached = g_logEnabled.load(std::memory_order_acquire);
  if (cached >= 0) return cached;
  RegistryKey key;
  if (key.Open(RegistryRoot::LocalMachine, kLogKey, RegistryAccess::Default) != platform::kErrorSuccess) return 0;
  // The type is not checked: any value of up to four bytes counts by its bytes.
  uint8_t data[4] = {0, 0, 0, 0};
  uint32_t size = sizeof data;
  if (key.Query(kSwitchValue, nullptr, data, &size) != platform::kErrorSuccess) std::memset(data, 0, sizeof data);
  int expected = -1;
  g_logEnabled.compare_exchange_strong(expected, ReadLe32(data) != 0 ? 1 : 0, std::memory_order_acq_rel);
  return g_logEnabled.load(std::memory_order_acquire);
}

void WriteLogLine(const char* message) {
  platform::GuardedVoid([message] {
    if (!g_writeLogSwitch.On(IsLogEnabled)) return;
    char timeText[128] = "";
    std::tm local{};
    if (!platform::LocalTimeNow(&local) || std::strftime(timeText, sizeof timeText, "%X", &local) == 0)
      timeText[0] = '\0';
    const char* text = message ? message : "";
    const int length = std::snprintf(nullptr, 0, "%-10s\t%s - %s\n", timeText, "KESTREL", text);
    if (length < 0) return;
    std::string line(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(line.data(), line.size(), "%-10s\t%s - %s\n", timeText, "KESTREL", text);
    line.pop_back();
    platform::AppendTextFile(kLogFile, line);
  });
}

void LogMessage(const char* format, ...) {
  if (!format || !g_logMessageSwitch.On(IsLogEnabled)) return;
  char text[kFormatChars];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, kFormatChars - 1, format, args);  // at most 510 characters
  va_end(args);
  if (n < 0) return;
  const size_t length = std::strlen(text);
  text[length] = '\n';
  text[length + 1] = '\0';
  WriteLogLine(text);
}

void TraceMessage(const char* format, ...) {
  if (!format) return;
  // UTF-8 may take four bytes per character; the character limit is applied after decoding.
  char narrow[kFormatChars * 4];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(narrow, sizeof narrow, format, args);
  va_end(args);
  if (n < 0) return;
  platform::GuardedVoid([&narrow] {
    if (!g_traceSwitch.On(ReadTraceSwitch)) return;
    std::u16string text = platform::Utf8ToUtf16(narrow);
    if (text.size() > kFormatChars - 1) {
      text.resize(kFormatChars - 1);
      if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();  // no half pairs
    }
    platform::DebugOutput(text);
    std::u16string_view trimmed = text;
    while (!trimmed.empty() && IsLineBreak(trimmed.front())) trimmed.remove_prefix(1);
    while (!trimmed.empty() && IsLineBreak(trimmed.back())) trimmed.remove_suffix(1);
    AppendTraceFile(kTraceFile, trimmed, true);
  });
}

int AppendTraceFile(const char* path, std::u16string_view text, bool addLineEnd) {
  platform::GuardedVoid([&] {
    using platform::File;
    using platform::FileOpen;
    using platform::FileShare;
    static constexpr uint8_t kMark[2] = {0xFF, 0xFE};
    bool recreate = !platform::FileExists(path);
    bool reachable = true;
    if (!recreate) {
      File probe;
      if (probe.Open(path, FileOpen::ReadOpenAlways, FileShare::Read)) {
        const int64_t size = probe.Size();
        if (size == 0) recreate = true;
        if (size > 2) {
          uint8_t head[2] = {0, 0};
          const long got = probe.Read(head, 2);
          recreate = !(got == 2 && head[0] == kMark[0] && head[1] == kMark[1] && size < kTraceFileLimit);
        }
      } else {
        reachable = false;
      }
    }
    if (reachable && recreate) {
      File fresh;
      if (fresh.Open(path, FileOpen::WriteCreateAlways, FileShare::None)) fresh.Write(kMark, sizeof kMark);
    }
    File out;
    if (!out.Open(path, FileOpen::AppendOpenAlways, FileShare::None) || !out.SeekEnd()) return;
    std::string bytes;
    bytes.reserve((text.size() + 2) * 2);
    auto put = [&bytes](char16_t c) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    };
    for (char16_t c : text) put(c);
    if (addLineEnd) {
      put(u'\r');
      put(u'\n');
    }
    out.Write(bytes.data(), bytes.size());
  });
  return 1;
}

uint32_t ReadRegistryDword(RegistryRoot root, const char* subkey, const char* valueName, uint32_t defaultValue) {
  RegistryKey key;
  if (key.Open(root, subkey, RegistryAccess::Read) != platform::kErrorSuccess) return defaultValue;
  uint8_t data[4] = {0, 0, 0, 0};
  uint32_t size = sizeof data;
  uint32_t type = platform::kRegNone;
  if (key.Query(valueName, &type, data, &size) != platform::kErrorSuccess || type != platform::kRegDword)
    return defaultValue;
  return ReadLe32(data);
}

uint32_t ReadRegistryFlag(RegistryRoot root, const char* subkey, const char* valueName, uint32_t defaultValue) {
  RegistryKey key;
  const long rc = key.Open(root, subkey, RegistryAccess::Read);
  if (rc != platform::kErrorSuccess) {
    TraceMessage("Kestrel--Failed to open key: %s!Error Code = %d\n", subkey ? subkey : "", static_cast<int>(rc));
    return defaultValue;
  }
  uint8_t data[4] = {0, 0, 0, 0};
  uint32_t size = sizeof data;
  uint32_t type = platform::kRegNone;
  if (key.Query(valueName, &type, data, &size) != platform::kErrorSuccess || type != platform::kRegDword)
    return defaultValue;
  return ReadLe32(data) != 0 ? 1 : 0;
}

int ReadRegistryString(RegistryRoot root, const char* subkey, const char* valueName, const char16_t* defaultValue,
                       char16_t* out, uint32_t outBytes) {
  if (!out) return 0;
  const size_t units = outBytes / sizeof(char16_t);
  RegistryKey key;
  bool touched = false;
  if (key.Open(root, subkey, RegistryAccess::Read) == platform::kErrorSuccess) {
    // Type and size first, so a value of another type never touches `out`.
    uint32_t type = platform::kRegNone;
    uint32_t size = 0;
    if (key.Query(valueName, &type, nullptr, &size) == platform::kErrorSuccess && type == platform::kRegSz &&
        size <= units * sizeof(char16_t)) {
      size = static_cast<uint32_t>(units * sizeof(char16_t));
      touched = true;
      if (key.Query(valueName, &type, out, &size) == platform::kErrorSuccess && type == platform::kRegSz) {
        // A stored string need not carry its terminator; it fits only when one can follow.
        const size_t got = size / sizeof(char16_t);
        if (got > 0 && out[got - 1] == 0) return 1;
        if (got < units) {
          out[got] = 0;
          return 1;
        }
      }
    }
  }
  if (defaultValue) {
    platform::CopyCut(out, units, defaultValue);
  } else if (touched && units > 0) {
    out[0] = 0;
  }
  return 0;
}

uint32_t ReadResizeMode() { return ReadRegistryDword(RegistryRoot::LocalMachine, "SOFTWARE\\Quillon\\Velmora", "Resize", 0); }

void ResetDiagnosticSwitchesForTesting() {
  g_writeLogSwitch.Reset();
  g_logMessageSwitch.Reset();
  g_traceSwitch.Reset();
  g_logEnabled.store(-1, std::memory_order_release);
}
