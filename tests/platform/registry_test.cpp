// Subkey enumeration, strings that must survive the registry file, and the Linux backend's
// cached hive following changes made behind its back.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/reg_file.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

using namespace platform;

std::vector<uint8_t> Utf16Z(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  File f;
  return f.Open(path.c_str(), FileOpen::WriteCreateAlways, FileShare::None) && f.Write(bytes.data(), bytes.size());
}

// A key of its own below HKLM (and on Linux a registry file of its own), removed afterwards.
class RegistryScratch : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string tag =
        std::to_string(CurrentProcessId()) + "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    file_ = JoinPath(TemporaryDirectory(), "kestrel-registry-" + tag + ".reg");
    SetEnvironmentValue(kRegistryFileVariable, file_.c_str());
    base_ = "SOFTWARE\\KestrelTests\\Registry" + tag;
  }
  void TearDown() override {
    DeleteRegistryTree(RegistryRoot::LocalMachine, base_.c_str());
    DeleteFileAt(file_.c_str());
    SetEnvironmentValue(kRegistryFileVariable, nullptr);
  }
  std::string Key(const std::string& below) const { return below.empty() ? base_ : base_ + "\\" + below; }
  std::vector<uint8_t> Read(const std::string& below, const char* name, uint32_t* type) const {
    RegistryKey key;
    if (key.Open(RegistryRoot::LocalMachine, Key(below).c_str(), RegistryAccess::Read) != kErrorSuccess) return {};
    std::vector<uint8_t> data(4096);
    uint32_t size = static_cast<uint32_t>(data.size());
    if (key.Query(name, type, data.data(), &size) != kErrorSuccess) return {};
    data.resize(size);
    return data;
  }

  std::string file_;
  std::string base_;
};

TEST_F(RegistryScratch, SubkeysComeSortedWithoutRegardToCase) {
  const char* written[] = {"Gamma", "alpha\\deep\\deeper", "Beta", "0010", "0002", "beta\\child", "Doomed\\x"};
  for (const char* below : written) ASSERT_EQ(SetRegistryString(RegistryRoot::LocalMachine, Key(below).c_str(), "V", "x"), 0);
  ASSERT_EQ(DeleteRegistryTree(RegistryRoot::LocalMachine, Key("Doomed").c_str()), 0);

  // "alpha" exists only as the parent of what was written; "beta" and "Beta" are one key.
  EXPECT_EQ(RegistrySubkeys(RegistryRoot::LocalMachine, base_.c_str()),
            (std::vector<std::string>{"0002", "0010", "alpha", "Beta", "Gamma"}));
  EXPECT_EQ(RegistrySubkeys(RegistryRoot::LocalMachine, Key("alpha").c_str()), (std::vector<std::string>{"deep"}));
  EXPECT_EQ(RegistrySubkeys(RegistryRoot::LocalMachine, Key("BETA").c_str()), (std::vector<std::string>{"child"}));
  EXPECT_TRUE(RegistrySubkeys(RegistryRoot::LocalMachine, Key("Gamma").c_str()).empty());
  EXPECT_TRUE(RegistrySubkeys(RegistryRoot::LocalMachine, Key("Missing").c_str()).empty());

  RegistryKey key;
  ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, base_.c_str(), RegistryAccess::Read), kErrorSuccess);
  std::string name;
  EXPECT_EQ(key.EnumSubkey(4, &name), kErrorSuccess);
  EXPECT_EQ(name, "Gamma");
  EXPECT_EQ(key.EnumSubkey(5, &name), kErrorNoMoreItems);
}

// Every string written reads back byte for byte: through the registry and through the file
// syntax itself (a line feed used to end the quoted text and lose the value).
TEST_F(RegistryScratch, StringsReadBackUnchanged) {
  const struct {
    const char* name;
    std::u16string text;
  } cases[] = {
      {"line feed", u"first\nsecond"},
      {"carriage return and line feed", u"a\r\nb\r\n"},
      {"trailing carriage return", u"ends\r"},
      {"quotes and backslashes", u"C:\\a \"b\"\\"},
      {"tab and non-ASCII", u"\tcaf\u00e9 \u20ac"},
      {"unpaired surrogate", std::u16string(u"x") + char16_t(0xD800) + u"y"},
      {"empty", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes = Utf16Z(c.text);
    ASSERT_EQ(SetRegistryValue(RegistryRoot::LocalMachine, Key("s").c_str(), "Text", kRegSz, bytes.data(),
                               static_cast<uint32_t>(bytes.size())),
              0);
    ASSERT_EQ(SetRegistryString(RegistryRoot::LocalMachine, Key("s").c_str(), "After", "still here"), 0);
    uint32_t type = 0;
    EXPECT_EQ(Read("s", "Text", &type), bytes);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(Read("s", "After", &type), Utf16Z(u"still here"));

    RegHive hive{RegKeyRecord{"HKEY_LOCAL_MACHINE\\K", {RegValue{"Text", kRegSz, bytes}}}};
    RegHive again;
    ASSERT_TRUE(ParseRegFile(SerializeRegFile(hive), &again));
    ASSERT_EQ(again.size(), 1u);
    ASSERT_EQ(again[0].values.size(), 1u);
    EXPECT_EQ(again[0].values[0].type, kRegSz);
    EXPECT_EQ(again[0].values[0].data, bytes);
  }
}

// The file is parsed once and parsed again only after it changed, however it was changed.
TEST_F(RegistryScratch, CachedHiveFollowsChangesToTheFile) {
  if (!kRegistryIsFile) {
    std::printf("[   N/A    ] the registry is not a file here\n");
    return;
  }
  const auto fileWith = [&](const char* dword) {
    return "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" + base_ + "]\n\"N\"=dword:" + dword + "\n";
  };
  const auto readN = [&] {
    uint32_t type = 0;
    const std::vector<uint8_t> v = Read("", "N", &type);
    return v.size() == 4 ? static_cast<int>(v[0]) : -1;
  };
  ASSERT_TRUE(WriteFileBytes(file_, fileWith("00000001")));
  EXPECT_EQ(readN(), 1);
  const uint64_t parses = RegFileParseCount();
  EXPECT_EQ(readN(), 1);
  EXPECT_EQ(readN(), 1);
  EXPECT_EQ(RegFileParseCount(), parses);  // unchanged file, no parse

  const struct {
    const char* name;
    bool replace;  // a new file renamed over the old one, else rewritten in place
    const char* dword;
    int expected;
  } changes[] = {
      {"same size in place", false, "00000002", 2},
      {"shorter in place", false, "3", 3},
      {"replaced", true, "00000004", 4},
      {"replaced by the same bytes", true, "00000004", 4},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.name);
    if (c.replace) {
      ASSERT_TRUE(WriteFileBytes(file_ + ".tmp", fileWith(c.dword)));
      ASSERT_EQ(std::rename((file_ + ".tmp").c_str(), file_.c_str()), 0);
    } else {
      ASSERT_TRUE(WriteFileBytes(file_, fileWith(c.dword)));
    }
    EXPECT_EQ(readN(), c.expected);
    const uint64_t after = RegFileParseCount();
    EXPECT_EQ(readN(), c.expected);
    EXPECT_EQ(RegFileParseCount(), after);
  }
  ASSERT_TRUE(DeleteFileAt(file_.c_str()));
  EXPECT_EQ(readN(), -1);
}

}  // namespace
