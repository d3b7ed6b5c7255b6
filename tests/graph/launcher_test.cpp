// The companion launcher against real processes: a copy of the peer program plays the
// shell, an application that already runs, and the companion that records how it started.
#include "graph/launcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_list.h"
#include "platform/program.h"
#include "platform/subprocess.h"
#include "platform/text.h"
#include "tests/graph/test_env.h"

namespace {

namespace fs = std::filesystem;

// The command line a started program sees for `path` passed unquoted. Windows hands it over
// as passed; Wine finds the program by widening the first blank-separated token and then
// rewrites the line with the program's path in quotes.
std::string CommandLineSeenFor(const std::string& path) {
  return platform::RunningUnderWine() ? "\"" + path + "\"" : path;
}

using platform::Utf8ToUtf16;
using test::NativeFile;

constexpr const char* kTraceKey = "SOFTWARE\\Quillon\\OruVCapture\\Install\\";
constexpr uint32_t kBoundMs = 120000;

fs::path TestProgramFolder() {
  char self[4096];
  if (!platform::ProgramFilePath(self, sizeof self)) return {};
  return fs::path(self).parent_path();
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::vector<platform::ProcessEntry> Snapshot() {
  std::vector<platform::ProcessEntry> list;
  platform::SnapshotProcesses(&list);
  return list;
}

const platform::ProcessEntry* FindPid(const std::vector<platform::ProcessEntry>& list, uint32_t pid) {
  for (const auto& p : list)
    if (p.pid == pid) return &p;
  return nullptr;
}

bool ShellRunning() {
  for (const auto& p : Snapshot())
    for (const auto& name : platform::ShellProcessNames())
      if (platform::SameFileName(p.exeName, name)) return true;
  return false;
}

// Polls for something another process does; the bound is generous, the step small.
template <typename Condition>
bool WaitFor(Condition done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class LauncherTest : public test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(NativeFile("C:\\QuillonVCapture"));
    test::SetDword(kTraceKey, "Log", 1);
    // Linux only: a shell name no real desktop uses, and a private logind state folder.
    shellName_ = "kestrel-shell-" + Dir().filename().string().substr(13);
    platform::SetEnvironmentValue("KESTREL_SHELL_PROCESS", shellName_.c_str());
    platform::SetEnvironmentValue("KESTREL_LOGIND_DIR", (Dir() / "logind").string().c_str());
    platform::SetEnvironmentValue("KESTREL_PEER_RECORD", Record().string().c_str());
    peer_ = TestProgramFolder() / KESTREL_GRAPH_PEER;
    extension_ = peer_.extension().string();
    app_ = Dir() / "Companion Folder" / ("Companion App" + extension_);
    CopyPeer(app_);
  }

  void TearDown() override {
    platform::SetEnvironmentValue("KESTREL_SHELL_PROCESS", nullptr);
    platform::SetEnvironmentValue("KESTREL_LOGIND_DIR", nullptr);
    platform::SetEnvironmentValue("KESTREL_PEER_RECORD", nullptr);
    ScratchTest::TearDown();
  }

  fs::path Dir() const { return fs::path(dir_); }
  fs::path Record() const { return Dir() / "record.txt"; }

  void CopyPeer(const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(peer_, to, fs::copy_options::overwrite_existing);
  }

  // The first shell name of this platform, as a file beside the scratch folder.
  fs::path ShellCopy() {
    const fs::path shell = Dir() / "shell" / platform::Utf16ToUtf8(platform::ShellProcessNames()[0]);
    CopyPeer(shell);
    return shell;
  }

  void WriteConsoleSession(const std::string& id, uint32_t uid) {
    fs::create_directories(Dir() / "logind" / "seats");
    fs::create_directories(Dir() / "logind" / "sessions");
    test::WriteBytes((Dir() / "logind" / "seats" / "seat0").string(), "ACTIVE=" + id + "\nACTIVE_UID=" + std::to_string(uid) + "\n");
    test::WriteBytes((Dir() / "logind" / "sessions" / id).string(),
                     "UID=" + std::to_string(uid) + "\nACTIVE=1\nSEAT=seat0\nSTATE=active\n");
  }

  std::vector<std::string> TraceLines() {
    const std::optional<std::string> bytes = test::ReadBytes(NativeFile("C:\\QuillonVCapture\\Log.txt"));
    std::vector<std::string> lines;
    if (!bytes || bytes->size() < 2) return lines;
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes->size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<uint8_t>((*bytes)[i]) | (static_cast<uint8_t>((*bytes)[i + 1]) << 8)));
    const std::string utf8 = platform::Utf16ToUtf8(text);
    for (size_t start = 0; start < utf8.size();) {
      size_t end = utf8.find("\r\n", start);
      if (end == std::string::npos) end = utf8.size();
      lines.push_back(utf8.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  std::vector<std::string> ReadRecord() {
    std::vector<std::string> lines;
    const std::optional<std::string> text = test::ReadBytes(Record().string());
    if (!text) return lines;
    for (size_t start = 0; start < text->size();) {
      const size_t end = text->find('\n', start);
      lines.push_back(text->substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return lines;
  }

  std::string SessionLine() {
    return "Kestrel--active session ID = " + std::to_string(static_cast<int>(GetActiveConsoleSession()));
  }

  std::string shellName_;
  fs::path peer_;
  std::string extension_;
  fs::path app_;
};

TEST_F(LauncherTest, RunningCheckMatchesFileNameInAnyFolderAndCase) {
  const std::string name = "Kestrel-Probe" + extension_;
  const fs::path program = Dir() / "bin" / name;
  CopyPeer(program);
  platform::Subprocess running;
  ASSERT_TRUE(running.Start(program.string(), {"idle"}));
  const std::u16string elsewhere = Utf8ToUtf16((Dir() / "other folder" / Upper(name)).string());
  EXPECT_EQ(IsProcessRunning(elsewhere.c_str()), 1);
  EXPECT_EQ(IsProcessRunning(Utf8ToUtf16((Dir() / "bin" / ("Kestrel-Prob" + extension_)).string()).c_str()), 0);
  EXPECT_EQ(IsProcessRunning(u""), 0);
  EXPECT_EQ(IsProcessRunning(nullptr), 0);
  EXPECT_EQ(IsProcessRunning(Utf8ToUtf16((Dir() / "bin").string() + "/").c_str()), 0);
  running.Kill();
  EXPECT_EQ(IsProcessRunning(elsewhere.c_str()), 0);
}

TEST_F(LauncherTest, RunningCheckIgnoresProcessIdsUpToTen) {
  const std::vector<platform::ProcessEntry> list = Snapshot();
  std::vector<std::u16string> onlyLow;
  for (const auto& low : list) {
    if (low.pid > 10) continue;
    bool alsoHigh = false;
    for (const auto& p : list) alsoHigh |= p.pid > 10 && platform::SameFileName(p.exeName, low.exeName);
    if (!alsoHigh) onlyLow.push_back(low.exeName);
  }
  if (onlyLow.empty()) KESTREL_NOT_APPLICABLE("no process with an identifier up to 10 has a name of its own");
  for (const std::u16string& name : onlyLow) {
    SCOPED_TRACE(platform::Utf16ToUtf8(name));
    EXPECT_EQ(IsProcessRunning((u"/some/folder/" + name).c_str()), 0);
  }
}

TEST_F(LauncherTest, EmptyPathStartsNothingAndWritesNothing) {
  EXPECT_EQ(LaunchCompanionApp(u""), 0);
  EXPECT_EQ(LaunchCompanionApp(nullptr), 0);
  EXPECT_FALSE(EnsureCompanionAppRunning(u""));
  EXPECT_FALSE(test::ReadBytes(NativeFile("C:\\QuillonVCapture\\Log.txt")));
}

TEST_F(LauncherTest, StartsTheAppWithItsPathAsTheWholeCommandLine) {
  platform::Subprocess shell;
  ASSERT_TRUE(shell.Start(ShellCopy().string(), {"idle"}));
  const std::vector<platform::ProcessEntry> list = Snapshot();
  const platform::ProcessEntry* entry = FindPid(list, shell.Pid());
  ASSERT_NE(entry, nullptr);
  WriteConsoleSession("7", entry->ownerUid);

  const uint32_t pid = FindShellProcessId();
  ASSERT_NE(pid, 0u);
  int sameName = 0;
  for (const auto& p : list) sameName += platform::SameFileName(p.exeName, entry->exeName);
  if (sameName == 1) {
    EXPECT_EQ(pid, shell.Pid());
  }

  EXPECT_TRUE(EnsureCompanionAppRunning(Utf8ToUtf16(app_.string()).c_str()));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Record()); }));
  const std::vector<std::string> record = ReadRecord();
  ASSERT_GE(record.size(), 2u);
  EXPECT_EQ(record[0], CommandLineSeenFor(app_.string()));
  EXPECT_EQ(record[1], platform::CurrentUserName());

  const std::vector<std::string> trace = TraceLines();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(trace[0], SessionLine());
  EXPECT_EQ(trace[1], "Kestrel--Active Explorer PID = " + std::to_string(pid));
  EXPECT_TRUE(std::regex_match(trace[2], std::regex("Kestrel--DuplicateTokenEx = 0x[0-9A-F]{8},0x[0-9A-F]{8}"))) << trace[2];
  EXPECT_TRUE(std::regex_match(trace[3], std::regex("Kestrel--LaunchAppIntoCurrentLogonSession User token :0x[0-9A-F]{8} ")))
      << trace[3];
  EXPECT_EQ(trace[4], "Kestrel--CreateProcessAsUser  = 1: " + app_.string());
}

TEST_F(LauncherTest, RunningAppIsNotStartedAgain) {
  const fs::path app = Dir() / "Companion Folder" / ("Running App" + extension_);
  CopyPeer(app);
  platform::Subprocess running;
  ASSERT_TRUE(running.Start(app.string(), {"idle"}));
  const std::string other = (Dir() / "another folder" / Upper("running app" + extension_)).string();
  EXPECT_FALSE(EnsureCompanionAppRunning(Utf8ToUtf16(other).c_str()));
  EXPECT_FALSE(test::ReadBytes(NativeFile("C:\\QuillonVCapture\\Log.txt")));
  running.Kill();
  EXPECT_TRUE(EnsureCompanionAppRunning(Utf8ToUtf16(other).c_str()));
  EXPECT_FALSE(TraceLines().empty());
}

TEST_F(LauncherTest, WithoutShellTheTraceShowsSessionPidZeroAndFailure) {
  if (ShellRunning()) KESTREL_NOT_APPLICABLE("a shell process runs on this system");
  WriteConsoleSession("7", 0);
  EXPECT_EQ(LaunchCompanionApp(Utf8ToUtf16(app_.string()).c_str()), 0);
  const std::vector<std::string> expected = {SessionLine(), "Kestrel--Active Explorer PID = 0",
                                             "Kestrel--Failed to get user token,failed to launch TAVI."};
  EXPECT_EQ(TraceLines(), expected);
  EXPECT_FALSE(fs::exists(Record()));
}

TEST_F(LauncherTest, WithoutConsoleSessionNothingIsLookedFor) {
  if (GetActiveConsoleSession() != platform::kNoSession) KESTREL_NOT_APPLICABLE("this system always has a console session");
  EXPECT_EQ(LaunchCompanionApp(Utf8ToUtf16(app_.string()).c_str()), 0);
  const std::vector<std::string> expected = {"Kestrel--active session ID = -1",
                                             "Kestrel--Failed to get user token,failed to launch TAVI."};
  EXPECT_EQ(TraceLines(), expected);
}

// Linux as root: setpriv runs a process as "nobody", so both sides of the user switch are real.
class UserSwitchTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    applies_ = !platform::kWindowsBuild && fs::exists("/usr/bin/setpriv") && platform::CurrentUserName() == "root";
    if (!applies_) return;
    fs::permissions(Dir(), fs::perms::all);
    fs::permissions(NativeFile("C:\\QuillonVCapture"), fs::perms::all);
  }

  bool applies_ = false;

  static std::vector<std::string> AsNobody(std::vector<std::string> command) {
    command.insert(command.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups"});
    return command;
  }
};

TEST_F(UserSwitchTest, AppStartsAsTheConsoleUser) {
  if (!applies_) KESTREL_NOT_APPLICABLE("needs Linux, root and setpriv");
  const fs::path shellCopy = ShellCopy();
  platform::Subprocess shell;
  ASSERT_TRUE(shell.Start("/usr/bin/setpriv", AsNobody({shellCopy.string(), "idle"})));
  ASSERT_TRUE(WaitFor([&] {
    const auto list = Snapshot();
    const platform::ProcessEntry* e = FindPid(list, shell.Pid());
    return e && platform::Utf16ToUtf8(e->exeName) == shellName_;
  }));
  WriteConsoleSession("7", 65534);
  EXPECT_EQ(FindShellProcessId(), shell.Pid());
  LaunchCompanionApp(Utf8ToUtf16(app_.string()).c_str());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Record()); }));
  const std::vector<std::string> record = ReadRecord();
  ASSERT_GE(record.size(), 2u);
  EXPECT_EQ(record[0], app_.string());
  EXPECT_EQ(record[1], "nobody");
  const std::vector<std::string> trace = TraceLines();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(trace[2], "Kestrel--DuplicateTokenEx = 0x" + [&] {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", shell.Pid());
    return std::string(hex);
  }() + ",0x0000FFFE");
}

TEST_F(UserSwitchTest, WithoutPrivilegeTheTraceSaysSoAndNothingStarts) {
  if (!applies_) KESTREL_NOT_APPLICABLE("needs Linux, root and setpriv");
  platform::Subprocess shell;
  ASSERT_TRUE(shell.Start(ShellCopy().string(), {"idle"}));
  WriteConsoleSession("7", 0);
  platform::Subprocess launcher;
  ASSERT_TRUE(launcher.Start("/usr/bin/setpriv", AsNobody({peer_.string(), "launch", app_.string()})));
  int exitCode = -1;
  ASSERT_TRUE(launcher.Wait(kBoundMs, &exitCode));
  EXPECT_EQ(exitCode, 0);
  const std::vector<std::string> expected = {
      "Kestrel--active session ID = 7", "Kestrel--Active Explorer PID = " + std::to_string(shell.Pid()),
      "Kestrel--No privilege to start a process as the console user.",
      "Kestrel--Failed to get user token,failed to launch TAVI."};
  EXPECT_EQ(TraceLines(), expected);
  EXPECT_FALSE(fs::exists(Record()));
}

}  // namespace
