// Folder and file removal of the platform layer, which the test helpers build on.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/thread.h"

namespace {

using namespace platform;

std::string ScratchFolder() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return JoinPath(TemporaryDirectory(), "kestrel-file-" + std::to_string(CurrentProcessId()) + "-" + std::to_string(now));
}

bool MakeFile(const std::string& path) {
  File f;
  return f.Open(path.c_str(), FileOpen::WriteCreateAlways, FileShare::None) && f.Write("x", 1);
}

TEST(Files, TreesAreCreatedAndRemovedWhole) {
  struct Case {
    const char* name;
    std::vector<std::string> folders;  // below the root
    std::vector<std::string> files;
  } cases[] = {
      {"empty folder", {}, {}},
      {"files only", {}, {"a.txt", "b"}},
      {"nested", {"one", "one/two/three", "four"}, {"one/two/x", "one/two/three/y", "four/z", "top"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string root = ScratchFolder();
    ASSERT_FALSE(TemporaryDirectory().empty());
    ASSERT_TRUE(CreateDirectories(root.c_str()));
    EXPECT_TRUE(CreateDirectories(root.c_str()));  // already there
    auto below = [&](const std::string& rel) {
      std::string path = root;
      size_t start = 0;
      for (size_t slash; (slash = rel.find('/', start)) != std::string::npos; start = slash + 1)
        path = JoinPath(path, rel.substr(start, slash - start));
      return JoinPath(path, rel.substr(start));
    };
    for (const auto& d : c.folders) ASSERT_TRUE(CreateDirectories(below(d).c_str())) << d;
    for (const auto& f : c.files) ASSERT_TRUE(MakeFile(below(f))) << f;
    for (const auto& f : c.files) EXPECT_TRUE(FileExists(below(f).c_str())) << f;
    EXPECT_TRUE(RemoveDirectoryTree(root.c_str()));
    EXPECT_FALSE(FileExists(root.c_str()));
    EXPECT_TRUE(RemoveDirectoryTree(root.c_str()));  // nothing left to remove
  }
}

TEST(Files, DeleteFileAtTakesFilesOnly) {
  const std::string root = ScratchFolder();
  ASSERT_TRUE(CreateDirectories(root.c_str()));
  const std::string file = JoinPath(root, "f.txt");
  ASSERT_TRUE(MakeFile(file));
  EXPECT_FALSE(CreateDirectories(JoinPath(file, "sub").c_str()));  // a file is in the way
  EXPECT_FALSE(DeleteFileAt(root.c_str()));
  EXPECT_TRUE(DeleteFileAt(file.c_str()));
  EXPECT_FALSE(FileExists(file.c_str()));
  EXPECT_FALSE(DeleteFileAt(file.c_str()));
  EXPECT_FALSE(DeleteFileAt(nullptr));
  EXPECT_TRUE(RemoveDirectoryTree(root.c_str()));
}

}  // namespace
