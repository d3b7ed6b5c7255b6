// The log and trace channels byte for byte, the switches and their caching, the registry
// helpers' defaults, and the .reg file syntax behind the Linux registry.
#include "graph/diagnostics.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "platform/file.h"
#include "platform/local_time.h"
#include "platform/reg_file.h"
#include "tests/graph/test_env.h"

namespace {

using platform::RegistryRoot;
using test::NativeFile;
using test::ReadBytes;
using test::SetDword;
using test::SetRaw;
using test::SetString;
using test::Utf16Le;

constexpr const char* kLogKey = "SOFTWARE\\Quillon\\OruVCapture\\";
constexpr const char* kTraceKey = "SOFTWARE\\Quillon\\OruVCapture\\Install\\";
constexpr const char* kAppKey = "SOFTWARE\\Quillon\\Photoria 5\\Photoria";
const std::string kLe(platform::kTextLineEnd);

std::string TimeText() {
  std::tm local{};
  char text[128] = "";
  if (platform::LocalTimeNow(&local)) std::strftime(text, sizeof text, "%X", &local);
  return text;
}

class LogTest : public test::ScratchTest {
 protected:
  std::optional<std::string> LogFile() { return ReadBytes(NativeFile("c:\\QuillonVCapture.log")); }
};

TEST_F(LogTest, NoFileWhileTheSwitchIsAbsentOrZero) {
  struct Case {
    const char* name;
    bool createKey;
    bool setValue;
  } cases[] = {{"no key", false, false}, {"no value", true, false}, {"zero", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clean();
    if (c.createKey) SetDword(kLogKey, c.setValue ? "Log" : "Other", 0);
    EXPECT_EQ(IsLogEnabled(), 0);
    LogMessage("Physical device status: %u!", 1u);
    WriteLogLine("plain");
    EXPECT_FALSE(LogFile());
  }
}

TEST_F(LogTest, LogMessageLineHasTimeTagMessageAndEmptyLine) {
  SetDword(kLogKey, "Log", 1);
  const std::string before = TimeText();
  LogMessage("Physical device status: %u!", 1u);
  const std::string after = TimeText();
  const std::optional<std::string> file = LogFile();
  ASSERT_TRUE(file);
  const size_t tab = file->find('\t');
  ASSERT_NE(tab, std::string::npos);
  const std::string stamp = file->substr(0, tab);
  std::string time = stamp;
  while (!time.empty() && time.back() == ' ') time.pop_back();
  EXPECT_TRUE(time == before || time == after) << stamp;
  EXPECT_EQ(stamp.size(), std::max<size_t>(10, time.size()));
  EXPECT_EQ(file->substr(tab), "\tKESTREL - Physical device status: 1!" + kLe + kLe);
}

TEST_F(LogTest, WriteLogLineWritesTheMessageUnchanged) {
  SetDword(kLogKey, "Log", 1);
  WriteLogLine("100% sure: %s %d %n");
  WriteLogLine("second");
  const std::optional<std::string> file = LogFile();
  ASSERT_TRUE(file);
  const size_t first = file->find('\t');
  const size_t second = file->find('\t', first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(file->substr(first, file->find(kLe) + kLe.size() - first), "\tKESTREL - 100% sure: %s %d %n" + kLe);
  EXPECT_EQ(file->substr(second), "\tKESTREL - second" + kLe);
}

TEST_F(LogTest, LogMessageIsCutAt510Characters) {
  SetDword(kLogKey, "Log", 1);
  LogMessage("%s", std::string(600, 'a').c_str());
  const std::optional<std::string> file = LogFile();
  ASSERT_TRUE(file);
  EXPECT_EQ(file->substr(file->find('\t')), "\tKESTREL - " + std::string(510, 'a') + kLe + kLe);
}

TEST_F(LogTest, SwitchesKeepTheirFirstAnswer) {
  SetDword(kLogKey, "Log", 1);
  WriteLogLine("one");
  SetDword(kLogKey, "Log", 0);
  WriteLogLine("two");
  LogMessage("three");
  const std::optional<std::string> file = LogFile();
  ASSERT_TRUE(file);
  EXPECT_NE(file->find("KESTREL - two"), std::string::npos);
  EXPECT_NE(file->find("KESTREL - three"), std::string::npos);

  Clean();
  SetDword(kLogKey, "Log", 0);
  WriteLogLine("off");
  SetDword(kLogKey, "Log", 1);
  WriteLogLine("still off");
  EXPECT_FALSE(LogFile());
}

TEST_F(LogTest, IsLogEnabledRetriesUntilTheKeyOpens) {
  EXPECT_EQ(IsLogEnabled(), 0);
  SetDword(kLogKey, "Log", 1);
  EXPECT_EQ(IsLogEnabled(), 1);
  SetDword(kLogKey, "Log", 0);
  EXPECT_EQ(IsLogEnabled(), 1);
}

TEST_F(LogTest, LogSwitchTypeIsNotChecked) {
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;
    int expected;
  } cases[] = {
      {"dword 1", platform::kRegDword, std::string("\x01\0\0\0", 4), 1},
      {"dword 0", platform::kRegDword, std::string(4, '\0'), 0},
      {"string \"1\" fills four bytes", platform::kRegSz, std::string("1\0\0\0", 4), 1},
      {"one binary byte", platform::kRegBinary, std::string("\x01", 1), 1},
      {"string \"10\" is too long", platform::kRegSz, std::string("1\0" "0\0\0\0", 6), 0},
      {"four zero bytes", platform::kRegBinary, std::string(4, '\0'), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clean();
    SetRaw(kLogKey, "Log", c.type, c.data);
    EXPECT_EQ(IsLogEnabled(), c.expected);
  }
}

class TraceTest : public test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    platform::CreateDirectories(NativeFile("C:\\QuillonVCapture").c_str());
  }
  std::optional<std::string> TraceFile() { return ReadBytes(NativeFile("C:\\QuillonVCapture\\Log.txt")); }
};

TEST_F(TraceTest, LinesAreUtf16WithMarkAndTrimmedLineEnds) {
  SetDword(kTraceKey, "Log", 1);
  TraceMessage("Kestrel--active session ID = %d\n", 3);
  TraceMessage("\r\n\nsecond %s\r\n", "line");
  TraceMessage("%s", "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(TraceFile(), "\xFF\xFE" + Utf16Le(u"Kestrel--active session ID = 3\r\nsecond line\r\ncaf\u00E9 \u20AC\r\n"));
}

TEST_F(TraceTest, MessageIsCutAt511Characters) {
  SetDword(kTraceKey, "Log", 1);
  TraceMessage("%s", std::string(600, 'b').c_str());
  EXPECT_EQ(TraceFile(), "\xFF\xFE" + Utf16Le(std::u16string(511, u'b') + u"\r\n"));
}

TEST_F(TraceTest, TraceChannelStaysOffWithoutADwordSwitch) {
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;
  } cases[] = {
      {"no key", platform::kRegNone, ""},
      {"zero", platform::kRegDword, std::string(4, '\0')},
      {"string \"1\"", platform::kRegSz, std::string("1\0\0\0", 4)},
      {"binary 1", platform::kRegBinary, std::string("\x01\0\0\0", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clean();
    platform::CreateDirectories(NativeFile("C:\\QuillonVCapture").c_str());
    if (c.type != platform::kRegNone) SetRaw(kTraceKey, "Log", c.type, c.data);
    TraceMessage("hello");
    EXPECT_FALSE(TraceFile());
  }
}

TEST_F(TraceTest, NothingIsWrittenWithoutTheFolder) {
  SetDword(kTraceKey, "Log", 1);
  ASSERT_TRUE(platform::RemoveDirectoryTree(NativeFile("C:\\QuillonVCapture").c_str()));
  TraceMessage("lost");
  EXPECT_FALSE(platform::FileExists(NativeFile("C:\\QuillonVCapture").c_str()));
}

TEST_F(TraceTest, FlagReportsAKeyThatDoesNotOpen) {
  SetDword(kTraceKey, "Log", 1);
  EXPECT_EQ(ReadRegistryFlag(RegistryRoot::LocalMachine, "SOFTWARE\\Quillon\\Missing", "Any", 7), 7u);
  EXPECT_EQ(TraceFile(), "\xFF\xFE" + Utf16Le(u"Kestrel--Failed to open key: SOFTWARE\\Quillon\\Missing!Error Code = 2\r\n"));
}

TEST_F(TraceTest, AppendRecreatesOnlyWhatLacksTheMark) {
  const char* path = "C:\\QuillonVCapture\\append.txt";
  const std::string line = Utf16Le(u"line\r\n");
  struct Case {
    const char* name;
    std::optional<std::string> before;
    std::string after;
  } cases[] = {
      {"absent", std::nullopt, "\xFF\xFE" + line},
      {"empty", std::string(), "\xFF\xFE" + line},
      {"one byte is left", std::string("x"), "x" + line},
      {"two bytes are left", std::string("ab"), "ab" + line},
      {"mark alone", std::string("\xFF\xFE"), "\xFF\xFE" + line},
      {"three bytes without mark", std::string("abc"), "\xFF\xFE" + line},
      {"swapped mark", std::string("\xFE\xFF" "a\0", 4), "\xFF\xFE" + line},
      {"marked text grows", "\xFF\xFE" + Utf16Le(u"old\r\n"), "\xFF\xFE" + Utf16Le(u"old\r\n") + line},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::DeleteFileAt(NativeFile(path).c_str());
    if (c.before) test::WriteBytes(NativeFile(path), *c.before);
    EXPECT_EQ(AppendTraceFile(path, u"line", true), 1);
    EXPECT_EQ(ReadBytes(NativeFile(path)), c.after);
  }
  EXPECT_EQ(AppendTraceFile(path, u"x", false), 1);
  EXPECT_EQ(ReadBytes(NativeFile(path)), "\xFF\xFE" + Utf16Le(u"old\r\nline\r\nx"));
  EXPECT_EQ(AppendTraceFile("C:\\NoSuchFolder\\t.txt", u"x", true), 1);
}

TEST_F(TraceTest, FileIsEmptiedAt20MiB) {
  const char* path = "C:\\QuillonVCapture\\Log.txt";
  const std::string file = NativeFile(path);
  SetDword(kTraceKey, "Log", 1);
  constexpr size_t kLimit = 0x1400000;
  std::string marked = "\xFF\xFE";
  marked.resize(kLimit - 1, 'x');

  ASSERT_TRUE(test::WriteBytes(file, marked));
  TraceMessage("below");
  const std::string below = Utf16Le(u"below\r\n");
  const std::optional<std::string> grown = ReadBytes(file);
  ASSERT_TRUE(grown);
  EXPECT_EQ(grown->size(), kLimit - 1 + below.size());
  EXPECT_EQ(grown->substr(kLimit - 1), below);

  marked.push_back('x');
  ASSERT_TRUE(test::WriteBytes(file, marked));
  TraceMessage("at the limit");
  EXPECT_EQ(TraceFile(), "\xFF\xFE" + Utf16Le(u"at the limit\r\n"));
}

class RegistryTest : public test::ScratchTest {};

TEST_F(RegistryTest, DwordNeedsKeyValueAndType) {
  const char* key = "SOFTWARE\\Quillon\\Velmora";
  struct Case {
    const char* name;
    uint32_t type;  // kRegNone: no value written
    std::string data;
    uint32_t expected;
  } cases[] = {
      {"no value", platform::kRegNone, "", 7},
      {"dword 2", platform::kRegDword, std::string("\x02\0\0\0", 4), 2},
      {"dword 0x12345678", platform::kRegDword, "\x78\x56\x34\x12", 0x12345678},
      {"string", platform::kRegSz, std::string("2\0\0\0", 4), 7},
      {"binary", platform::kRegBinary, std::string("\x02\0\0\0", 4), 7},
  };
  EXPECT_EQ(ReadRegistryDword(RegistryRoot::LocalMachine, key, "Resize", 7), 7u);  // no key
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clean();
    SetDword(key, "Other", 1);
    if (c.type != platform::kRegNone) SetRaw(key, "Resize", c.type, c.data);
    EXPECT_EQ(ReadRegistryDword(RegistryRoot::LocalMachine, key, "Resize", 7), c.expected);
  }
}

TEST_F(RegistryTest, ResizeModeDefaultsToZero) {
  EXPECT_EQ(ReadResizeMode(), 0u);
  SetDword("SOFTWARE\\Quillon\\Velmora", "Resize", 2);
  EXPECT_EQ(ReadResizeMode(), 2u);
}

TEST_F(RegistryTest, FlagIsZeroOrOneOrTheDefault) {
  const char* key = "SOFTWARE\\Quillon\\Flags";
  SetDword(key, "Zero", 0);
  SetDword(key, "Five", 5);
  SetString(key, "Text", u"1");
  EXPECT_EQ(ReadRegistryFlag(RegistryRoot::LocalMachine, key, "Zero", 9), 0u);
  EXPECT_EQ(ReadRegistryFlag(RegistryRoot::LocalMachine, key, "Five", 9), 1u);
  EXPECT_EQ(ReadRegistryFlag(RegistryRoot::LocalMachine, key, "Text", 9), 9u);
  EXPECT_EQ(ReadRegistryFlag(RegistryRoot::LocalMachine, key, "Missing", 9), 9u);
  EXPECT_EQ(ReadRegistryFlag(RegistryRoot::LocalMachine, "SOFTWARE\\Quillon\\Nope", "Zero", 9), 9u);
}

TEST_F(RegistryTest, AppNameOf259CharactersIsReadWhole) {
  const std::u16string name259 = u"C:\\Program Files\\" + std::u16string(259 - 17, u'n');
  ASSERT_EQ(name259.size(), 259u);
  SetString(kAppKey, "AppName", name259);
  char16_t out[260];
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, kAppKey, "AppName", u"", out, sizeof out), 1);
  EXPECT_EQ(std::u16string(out), name259);

  SetString(kAppKey, "AppName", name259 + u"x");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, kAppKey, "AppName", u"", out, sizeof out), 0);
  EXPECT_EQ(std::u16string(out), u"");
}

TEST_F(RegistryTest, StringFallsBackToTheDefault) {
  const char* key = "SOFTWARE\\Quillon\\Strings";
  SetDword(key, "Number", 1);
  SetString(key, "Bare", u"abcd", false);
  char16_t out[8] = u"junk";
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Number", u"dflt", out, sizeof out), 0);
  EXPECT_EQ(std::u16string(out), u"dflt");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Missing", u"other", out, sizeof out), 0);
  EXPECT_EQ(std::u16string(out), u"other");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, "SOFTWARE\\Quillon\\Nope", "X", u"none", out, sizeof out), 0);
  EXPECT_EQ(std::u16string(out), u"none");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Number", u"x", nullptr, 16), 0);
  // A default longer than the buffer is cut, still terminated.
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Missing", u"0123456789", out, 8), 0);
  EXPECT_EQ(std::u16string(out), u"012");
  // A string stored without its terminator fits only when one can be added.
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Bare", u"d", out, 8), 0);
  EXPECT_EQ(std::u16string(out), u"d");
  EXPECT_EQ(ReadRegistryString(RegistryRoot::LocalMachine, key, "Bare", u"d", out, 10), 1);
  EXPECT_EQ(std::u16string(out), u"abcd");
}

// The .reg syntax itself, on every build.
TEST(RegFileTest, ParsesRegeditExports) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\OruVCapture]\r\n"
      "\"Log\"=dword:0000002a\r\n"
      "\"Path\"=\"C:\\\\Program Files\\\\A \\\"b\\\"\"\r\n"
      "@=\"default\"\r\n"
      "\"Bin\"=hex:01,02,ff\r\n"
      "\"Multi\"=hex(7):61,00,00,00,\\\r\n"
      "  00,00\r\n"
      "\"Bad1\"=dword:xyz\r\n"
      "\"Bad2\"=dword:123456789\r\n"
      "\"Bad3\"=\"open\r\n"
      "\"Gone\"=dword:1\r\n"
      "\"Gone\"=-\r\n"
      "[hklm\\SOFTWARE\\Quillon\\Doomed\\Child]\r\n"
      "\"x\"=dword:1\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\Doomed]\r\n";
  platform::RegHive hive;
  ASSERT_TRUE(platform::ParseRegFile(text, &hive));
  ASSERT_EQ(hive.size(), 1u);
  EXPECT_EQ(hive[0].path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\OruVCapture");
  const auto& v = hive[0].values;
  ASSERT_EQ(v.size(), 5u);
  EXPECT_EQ(v[0].name, "Log");
  EXPECT_EQ(v[0].type, platform::kRegDword);
  EXPECT_EQ(v[0].data, (std::vector<uint8_t>{0x2a, 0, 0, 0}));
  EXPECT_EQ(v[1].type, platform::kRegSz);
  const std::string path = Utf16Le(u"C:\\Program Files\\A \"b\"") + std::string(2, '\0');
  EXPECT_EQ(std::string(v[1].data.begin(), v[1].data.end()), path);
  EXPECT_EQ(v[2].name, "");
  EXPECT_EQ(v[3].type, platform::kRegBinary);
  EXPECT_EQ(v[3].data, (std::vector<uint8_t>{1, 2, 0xff}));
  EXPECT_EQ(v[4].type, platform::kRegMultiSz);
  EXPECT_EQ(v[4].data, (std::vector<uint8_t>{0x61, 0, 0, 0, 0, 0}));

  // The same export as regedit writes it, in UTF-16LE with a mark, reads the same.
  platform::RegHive wide;
  std::u16string text16;
  for (char ch : text) text16.push_back(static_cast<unsigned char>(ch));
  ASSERT_TRUE(platform::ParseRegFile("\xFF\xFE" + Utf16Le(text16), &wide));
  ASSERT_EQ(wide.size(), 1u);
  EXPECT_EQ(wide[0].values.size(), 5u);

  // What we write reads back the same.
  platform::RegHive again;
  ASSERT_TRUE(platform::ParseRegFile(platform::SerializeRegFile(hive), &again));
  ASSERT_EQ(again.size(), 1u);
  ASSERT_EQ(again[0].values.size(), v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(again[0].values[i].name, v[i].name);
    EXPECT_EQ(again[0].values[i].type, v[i].type);
    EXPECT_EQ(again[0].values[i].data, v[i].data);
  }
}

TEST(RegFileTest, RejectsTextWithoutHeader) {
  platform::RegHive hive;
  EXPECT_FALSE(platform::ParseRegFile("[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:1\n", &hive));
  EXPECT_TRUE(platform::ParseRegFile("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n", &hive));
}

TEST(NativePathTest, DrivePathsGoBelowTheRoot) {
  if (platform::NativePath("c:\\x") == "c:\\x") KESTREL_NOT_APPLICABLE("drive paths are native on this platform");
  const std::optional<std::string> saved = platform::GetEnvironmentValue("KESTREL_ROOT");
  struct Case {
    const char* root;
    const char* in;
    const char* out;
  } cases[] = {
      {"/r", "c:\\QuillonVCapture.log", "/r/c/QuillonVCapture.log"},
      {"/r/", "C:\\QuillonVCapture\\Log.txt", "/r/c/QuillonVCapture/Log.txt"},
      {"/r", "D:", "/r/d"},
      {"/r", "d:rel\\x", "/r/d/rel/x"},
      {"/r", "rel\\a\\b", "rel/a/b"},
      {"/r", "1:\\x", "1:/x"},
      {nullptr, "c:\\x", "/var/lib/kestrel/c/x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    platform::SetEnvironmentValue("KESTREL_ROOT", c.root);
    EXPECT_EQ(platform::NativePath(c.in), c.out);
  }
  platform::SetEnvironmentValue("KESTREL_ROOT", saved ? saved->c_str() : nullptr);
}

}  // namespace
