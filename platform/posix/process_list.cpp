// Processes from /proc.
#include "platform/process_list.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/text.h"

namespace platform {

namespace {

std::string BaseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExeName(const std::string& dir) {
  char target[4096];
  const ssize_t n = ::readlink((dir + "/exe").c_str(), target, sizeof target - 1);
  if (n > 0) {
    std::string_view link(target, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (link.ends_with(kDeleted)) link.remove_suffix(kDeleted.size());
    return BaseName(link);
  }
  std::ifstream cmdline(dir + "/cmdline", std::ios::binary);
  std::string argv0;
  std::getline(cmdline, argv0, '\0');
  if (!argv0.empty()) return BaseName(argv0);
  std::ifstream comm(dir + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// A process that has ended but was not yet reaped ('Z') or is being torn down ('X') no
// longer runs, as Windows' snapshots leave ended processes out.
bool HasEnded(const std::string& dir) {
  std::ifstream stat(dir + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t paren = line.rfind(')');
  if (paren == std::string::npos || paren + 2 >= line.size()) return true;
  const char state = line[paren + 2];
  return state == 'Z' || state == 'X';
}

}  // namespace

bool SnapshotProcesses(std::vector<ProcessEntry>* out) {
  out->clear();
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
    if (*end || pid == 0 || pid > 0xFFFFFFFFul) continue;
    const std::string dir = std::string("/proc/") + entry->d_name;
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || HasEnded(dir)) continue;
    ProcessEntry p;
    p.pid = static_cast<uint32_t>(pid);
    p.ownerUid = st.st_uid;
    p.exeName = Utf8ToUtf16(ExeName(dir));
    if (!p.exeName.empty()) out->push_back(std::move(p));
  }
  ::closedir(proc);
  return true;
}

std::u16string_view FileNamePart(std::u16string_view path) {
  const size_t slash = path.rfind(u'/');
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

bool SameFileName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace platform
