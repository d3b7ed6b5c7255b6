// Fitter: its argument rules as tables, then the built program against the stand-in
// co-installer, which records whether it was loaded and what it was called with.
#include "installer/fitter_args.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/program.h"
#include "platform/subprocess.h"

// Ends a test that does not apply here. GTEST_SKIP would be the natural call, but it
// crashes the win32 build under Wine.
#define KESTREL_NOT_APPLICABLE(why)                  \
  do {                                               \
    std::printf("[   N/A    ] %s\n", why);           \
    return;                                          \
  } while (0)

namespace {

namespace fs = std::filesystem;

size_t SingleByte(const char*) { return 1; }

// A double-byte code page in miniature: bytes 0x81..0x9F lead a two-byte character whose
// second byte may be anything, a blank included.
size_t DoubleByte(const char* p) { return static_cast<unsigned char>(*p) >= 0x81 && static_cast<unsigned char>(*p) <= 0x9F ? 2 : 1; }

TEST(FitterArgsTest, FirstTokenOfText) {
  struct Case {
    const char* text;
    size_t (*charLength)(const char*);
    std::optional<std::string> token;
  } cases[] = {
      {nullptr, SingleByte, std::nullopt},
      {"", SingleByte, std::nullopt},
      {"install", SingleByte, std::nullopt},
      {"install ", SingleByte, std::nullopt},
      {"install    ", SingleByte, std::nullopt},
      {"install x", SingleByte, "install"},
      {"install   x y z", SingleByte, "install"},
      {"install\tx", SingleByte, std::nullopt},  // only the space character separates
      {"a\x81 b x", SingleByte, "a\x81"},
      {"a\x81 b x", DoubleByte, "a\x81 b"},     // the blank inside a character is no blank
      {"\x81 ", DoubleByte, std::nullopt},
      {"ab\x81", DoubleByte, std::nullopt},     // a lead byte at the end never steps past it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    EXPECT_EQ(fitter::FirstTokenOfText(c.text, c.charLength), c.token);
  }
}

TEST(FitterArgsTest, FirstTokenOfWords) {
  struct Case {
    std::vector<const char*> words;
    std::optional<std::string> token;
  } cases[] = {
      {{}, std::nullopt},
      {{"install"}, std::nullopt},
      {{"install", ""}, std::nullopt},
      {{"install", "   "}, std::nullopt},
      {{"install", "", "  "}, std::nullopt},
      {{"install", "x"}, "install"},
      {{"install", " ", "x"}, "install"},
      {{"", "x"}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fitter::FirstTokenOfWords(static_cast<int>(c.words.size()), c.words.data()), c.token);
  }
}

TEST(FitterArgsTest, FolderAndPathsFitTheirBuffers) {
  EXPECT_EQ(fitter::ProgramFolder("C:\\Drv\\Fitter.exe", '\\'), "C:\\Drv\\");
  EXPECT_EQ(fitter::ProgramFolder("/opt/drv/fitter", '/'), "/opt/drv/");
  EXPECT_EQ(fitter::ProgramFolder("fitter", '/'), "");

  const auto paths = fitter::DriverFilePaths("C:\\Drv\\", '\\');
  ASSERT_TRUE(paths);
  EXPECT_EQ(paths->xp, "C:\\Drv\\XP\\OruVCam.inf");
  EXPECT_EQ(paths->plain, "C:\\Drv\\OruVCam.inf");
  // 259 characters is the longest path; the XP path is the longer one.
  const std::string longest(259 - std::string("XP\\OruVCam.inf").size(), 'd');
  EXPECT_TRUE(fitter::DriverFilePaths(longest, '\\'));
  EXPECT_FALSE(fitter::DriverFilePaths(longest + "d", '\\'));

  EXPECT_EQ(fitter::BuildArgumentText("install", "C:\\Drv\\OruVCam.inf"), "install, C:\\Drv\\OruVCam.inf");
  const std::string path = "C:\\Drv\\OruVCam.inf";
  const std::string token(519 - 2 - path.size(), 't');
  EXPECT_EQ(fitter::BuildArgumentText(token, path)->size(), 519u);
  EXPECT_FALSE(fitter::BuildArgumentText(token + "t", path));
}

// The Windows version one program is told it runs on, for one test (Linux and Wine; on
// Windows itself Active() is false).
class ReportedVersion {
 public:
  ReportedVersion(const fs::path& program, const char* version)
      : name_(program.filename().string()), active_(platform::SetReportedWindowsVersion(name_.c_str(), version)) {}
  ~ReportedVersion() { platform::SetReportedWindowsVersion(name_.c_str(), nullptr); }
  ReportedVersion(const ReportedVersion&) = delete;
  ReportedVersion& operator=(const ReportedVersion&) = delete;

  bool Active() const { return active_; }

 private:
  std::string name_;
  bool active_;
};

fs::path TestProgramFolder() {
  char self[4096];
  if (!platform::ProgramFilePath(self, sizeof self)) return {};
  return fs::path(self).parent_path();
}

// A private folder holding a copy of Fitter and the stand-in co-installer.
class FitterProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    dir_ = fs::path(platform::TemporaryDirectory()) / ("kestrel-fitter-" + std::to_string(seed()) + "-" + std::to_string(counter++));
    drv_ = dir_ / "Drv";
    fs::create_directories(drv_);
    const fs::path build = TestProgramFolder().parent_path();
    fitter_ = drv_ / fs::path(KESTREL_FITTER).filename();
    fs::copy_file(build / KESTREL_FITTER, fitter_);
    fs::copy_file(build / KESTREL_COINSTALLER, drv_ / fs::path(KESTREL_COINSTALLER).filename());
    record_ = dir_ / "coinstaller.txt";
    platform::SetEnvironmentValue("KESTREL_COINSTALLER_RECORD", record_.string().c_str());
    platform::SetEnvironmentValue(platform::kWindowsVersionVariable, nullptr);
  }

  void TearDown() override {
    platform::SetEnvironmentValue("KESTREL_COINSTALLER_RECORD", nullptr);
    platform::SetEnvironmentValue(platform::kWindowsVersionVariable, nullptr);
    // The platform layer's removal, not std::filesystem's, as in the other test helpers.
    platform::RemoveDirectoryTree(dir_.string().c_str());
  }

  // Runs the program to its end; its exit code must be 0.
  void Run(const fs::path& program, const std::string& commandLine) {
    platform::Subprocess fitter;
    ASSERT_TRUE(fitter.StartWithCommandLine(program.string(), commandLine));
    int exitCode = -1;
    ASSERT_TRUE(fitter.Wait(600000, &exitCode));
    EXPECT_EQ(exitCode, 0);
  }

  void RunWords(const std::vector<std::string>& words) {
    platform::Subprocess fitter;
    ASSERT_TRUE(fitter.Start(fitter_.string(), words));
    int exitCode = -1;
    ASSERT_TRUE(fitter.Wait(600000, &exitCode));
    EXPECT_EQ(exitCode, 0);
  }

  std::optional<std::string> Record() {
    std::ifstream in(record_, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string Folder() const { return drv_.string() + platform::kPathSeparator; }

  void WriteXpFile() {
    fs::create_directories(drv_ / "XP");
    std::ofstream(drv_ / "XP" / "OruVCam.inf") << "[Version]\n";
  }

  fs::path dir_, drv_, fitter_, record_;
};

TEST_F(FitterProgramTest, WithoutASecondPartNothingIsLoaded) {
  for (const char* line : {"", "install", "install     "}) {
    SCOPED_TRACE(line);
    Run(fitter_, line);
    EXPECT_FALSE(Record());
  }
}

TEST_F(FitterProgramTest, BlankWordsAreNoSecondPart) {
  if (platform::kCommandLineIsText) KESTREL_NOT_APPLICABLE("this platform passes one command-line text");
  RunWords({"install", "   ", ""});
  EXPECT_FALSE(Record());
}

TEST_F(FitterProgramTest, PassesTheTokenAndThePlainPath) {
  const ReportedVersion version(fitter_, "6.1");
  if (!version.Active() && platform::IsWindowsVersion(5, 1)) KESTREL_NOT_APPLICABLE("this system is Windows XP");
  WriteXpFile();  // never used on another version
  Run(fitter_, "install x and more");
  EXPECT_EQ(Record(), "load\ncall install, " + Folder() + "OruVCam.inf\n");
}

TEST_F(FitterProgramTest, OnXpTheXpFileIsUsedWhenPresent) {
  const ReportedVersion version(fitter_, "5.1");
  if (!version.Active() && !platform::IsWindowsVersion(5, 1)) KESTREL_NOT_APPLICABLE("this system is not Windows XP");
  Run(fitter_, "install x");
  EXPECT_EQ(Record(), "load\ncall install, " + Folder() + "OruVCam.inf\n");
  fs::remove(record_);
  WriteXpFile();
  Run(fitter_, "install x");
  EXPECT_EQ(Record(), "load\ncall install, " + Folder() + "XP" + platform::kPathSeparator + "OruVCam.inf\n");
}

TEST_F(FitterProgramTest, OverlongTokenIsRefusedQuietly) {
  const std::string path = Folder() + "OruVCam.inf";
  const std::string fits(519 - 2 - path.size(), 't');
  Run(fitter_, fits + "t x");
  EXPECT_FALSE(Record());
  Run(fitter_, fits + " x");
  EXPECT_EQ(Record(), "load\ncall " + fits + ", " + path + "\n");
}

TEST_F(FitterProgramTest, OverlongProgramPathIsRefusedQuietly) {
  fs::path deep = dir_;
  std::error_code ec;
  while (deep.string().size() < 300) deep /= std::string(40, 'f');
  fs::create_directories(deep, ec);
  if (ec) KESTREL_NOT_APPLICABLE("this system does not take such long paths");
  const fs::path program = deep / fitter_.filename();
  fs::copy_file(fitter_, program, ec);
  fs::copy_file(drv_ / fs::path(KESTREL_COINSTALLER).filename(), deep / fs::path(KESTREL_COINSTALLER).filename(), ec);
  platform::Subprocess fitter;
  if (ec || !fitter.StartWithCommandLine(program.string(), "install x")) KESTREL_NOT_APPLICABLE("cannot start from there");
  int exitCode = -1;
  ASSERT_TRUE(fitter.Wait(600000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_FALSE(Record());
}

}  // namespace
