// The console user from logind's state files, identities copied from /proc, and a
// double-forked start under that identity, so the new program belongs to no one here.
#include "platform/user_session.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

#include "platform/environment.h"
#include "platform/text.h"

extern char** environ;

namespace platform {

namespace {

// "KEY=value" lines of a logind state file.
std::map<std::string, std::string> ReadStateFile(const std::string& path) {
  std::map<std::string, std::string> fields;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

std::string LogindDir() {
  const std::optional<std::string> dir = GetEnvironmentValue(kLogindDirVariable);
  return dir && !dir->empty() ? *dir : kDefaultLogindDir;
}

struct ActiveSession {
  std::string id;
  std::optional<uint32_t> uid;
};

std::optional<uint32_t> ParseUint(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long n = std::strtoul(text.c_str(), &end, 10);
  if (*end || errno || n > 0xFFFFFFFFul) return std::nullopt;
  return static_cast<uint32_t>(n);
}

std::optional<ActiveSession> FindActiveSession() {
  const std::string dir = LogindDir();
  std::map<std::string, std::string> seat = ReadStateFile(dir + "/seats/seat0");
  if (!seat["ACTIVE"].empty()) {
    ActiveSession s{seat["ACTIVE"], ParseUint(seat["ACTIVE_UID"])};
    if (!s.uid) s.uid = ParseUint(ReadStateFile(dir + "/sessions/" + s.id)["UID"]);
    return s;
  }
  // No seat file: the first active session that sits on a seat.
  DIR* sessions = ::opendir((dir + "/sessions").c_str());
  if (!sessions) return std::nullopt;
  std::optional<ActiveSession> found;
  std::string best;
  while (const dirent* e = ::readdir(sessions)) {
    if (e->d_name[0] == '.') continue;
    std::map<std::string, std::string> f = ReadStateFile(dir + "/sessions/" + e->d_name);
    if (f["ACTIVE"] != "1" || f["SEAT"].empty()) continue;
    if (found && best <= e->d_name) continue;  // readdir order is arbitrary: take the least name
    best = e->d_name;
    found = ActiveSession{e->d_name, ParseUint(f["UID"])};
  }
  ::closedir(sessions);
  return found;
}

struct Identity {
  uintptr_t traceValue = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::vector<std::string> environment;  // the source process's variables
  bool environmentRead = false;
};

// Real ids and supplementary groups from /proc/<pid>/status.
bool ReadIdentity(uint32_t pid, Identity* id) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  if (!status) return false;
  bool haveUid = false, haveGid = false;
  for (std::string line; std::getline(status, line);) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    if (key == "Uid:") {
      unsigned long v;
      haveUid = static_cast<bool>(fields >> v);
      id->uid = static_cast<uid_t>(v);
    } else if (key == "Gid:") {
      unsigned long v;
      haveGid = static_cast<bool>(fields >> v);
      id->gid = static_cast<gid_t>(v);
    } else if (key == "Groups:") {
      for (unsigned long g; fields >> g;) id->groups.push_back(static_cast<gid_t>(g));
    }
  }
  // Another user's variables are readable only with the right to trace that process.
  std::ifstream envFile("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  if (envFile) {
    const std::string all(std::istreambuf_iterator<char>(envFile), {});
    id->environmentRead = true;
    for (size_t start = 0; start < all.size();) {
      size_t end = all.find('\0', start);
      if (end == std::string::npos) end = all.size();
      if (end > start) id->environment.push_back(all.substr(start, end - start));
      start = end + 1;
    }
  }
  return haveUid && haveGid;
}

bool HasCapability(int bit) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    const unsigned long long caps = std::strtoull(line.c_str() + 7, nullptr, 16);
    return (caps >> bit) & 1;
  }
  return false;
}

bool MaySwitchIds() {
  constexpr int kCapSetgid = 6, kCapSetuid = 7;
  return ::geteuid() == 0 || (HasCapability(kCapSetuid) && HasCapability(kCapSetgid));
}

bool IsSelf(const Identity& id) { return id.uid == ::geteuid() && id.gid == ::getegid(); }

Identity* AsIdentity(void* handle) { return static_cast<Identity*>(handle); }

}  // namespace

struct UserTokenAccess {
  static void*& Handle(UserToken& t) { return t.handle_; }
  static void* Handle(const UserToken& t) { return t.handle_; }
};

uint32_t ActiveConsoleSessionId() {
  const std::optional<ActiveSession> s = FindActiveSession();
  if (!s) return kNoSession;
  // logind ids are numbers, or a letter and a number ("c1") for greeter sessions.
  const size_t digits = s->id.find_first_of("0123456789");
  if (digits == std::string::npos) return kNoSession;
  const std::optional<uint32_t> n = ParseUint(s->id.substr(digits));
  return n && *n != kNoSession ? *n : kNoSession;
}

std::optional<uint32_t> ConsoleUserId() {
  const std::optional<ActiveSession> s = FindActiveSession();
  return s ? s->uid : std::nullopt;
}

std::vector<std::u16string> ShellProcessNames() {
  const std::optional<std::string> name = GetEnvironmentValue(kShellProcessVariable);
  if (name && !name->empty()) return {Utf8ToUtf16(*name)};
  // The process that draws each desktop environment's shell, as explorer.exe does on Windows.
  return {u"gnome-shell", u"plasmashell", u"xfce4-panel", u"mate-panel", u"cinnamon", u"lxpanel", u"lxqt-panel"};
}

uintptr_t UserToken::TraceValue() const { return handle_ ? AsIdentity(handle_)->traceValue : 0; }

void UserToken::Reset() {
  delete AsIdentity(handle_);
  handle_ = nullptr;
}

TokenResult OpenProcessUserToken(uint32_t pid, UserToken* out) {
  out->Reset();
  auto id = std::make_unique<Identity>();
  if (pid == 0 || !ReadIdentity(pid, id.get())) return TokenResult::Failed;
  if (!IsSelf(*id) && !MaySwitchIds()) return TokenResult::NoPrivilege;
  id->traceValue = pid;
  UserTokenAccess::Handle(*out) = id.release();
  return TokenResult::Ok;
}

bool DuplicatePrimaryToken(const UserToken& source, UserToken* out) {
  out->Reset();
  const Identity* from = AsIdentity(UserTokenAccess::Handle(source));
  if (!from) return false;
  auto copy = std::make_unique<Identity>(*from);
  copy->traceValue = copy->uid;
  UserTokenAccess::Handle(*out) = copy.release();
  return true;
}

namespace {

// NUL-separated "NAME=value" strings ending in an empty one, as a Windows block is laid out.
struct EnvironmentBlock {
  std::vector<std::string> entries;
};

void SetEntry(std::vector<std::string>& entries, const std::string& entry) {
  const size_t eq = entry.find('=');
  if (eq == std::string::npos || eq == 0) return;
  const std::string prefix = entry.substr(0, eq + 1);
  for (std::string& e : entries)
    if (e.compare(0, prefix.size(), prefix) == 0) {
      e = entry;
      return;
    }
  entries.push_back(entry);
}

}  // namespace

UserEnvironment::~UserEnvironment() { delete static_cast<EnvironmentBlock*>(block_); }

bool UserEnvironment::Create(const UserToken& token) {
  delete static_cast<EnvironmentBlock*>(block_);
  block_ = nullptr;
  const Identity* id = AsIdentity(UserTokenAccess::Handle(token));
  if (!id || !id->environmentRead) return false;
  auto block = std::make_unique<EnvironmentBlock>();
  for (char** e = environ; e && *e; ++e) SetEntry(block->entries, *e);
  struct passwd pw;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(id->uid, &pw, buffer, sizeof buffer, &found) == 0 && found) {
    SetEntry(block->entries, std::string("HOME=") + pw.pw_dir);
    SetEntry(block->entries, std::string("USER=") + pw.pw_name);
    SetEntry(block->entries, std::string("LOGNAME=") + pw.pw_name);
    SetEntry(block->entries, std::string("SHELL=") + pw.pw_shell);
  }
  for (const std::string& e : id->environment) SetEntry(block->entries, e);
  block_ = block.release();
  return true;
}

bool StartProcessAsUser(const UserToken& token, std::u16string_view commandLine, uint32_t,
                        const UserEnvironment* environment) {
  const Identity* id = AsIdentity(UserTokenAccess::Handle(token));
  if (!id || commandLine.empty()) return false;
  // Everything the children need is built before fork: after it only async-signal-safe calls.
  const std::string path = Utf16ToUtf8(commandLine);
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
  std::vector<char*> envp;
  const EnvironmentBlock* block =
      environment && environment->IsValid() ? static_cast<const EnvironmentBlock*>(environment->Block()) : nullptr;
  if (block) {
    for (const std::string& e : block->entries) envp.push_back(const_cast<char*>(e.c_str()));
  } else {
    for (char** e = environ; e && *e; ++e) envp.push_back(*e);
  }
  envp.push_back(nullptr);
  const bool switchIds = !IsSelf(*id) || ::geteuid() == 0;

  int report[2];  // the grandchild writes its errno here when it cannot start the program
  if (::pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (child == 0) {
    ::close(report[0]);
    const pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);  // the grandchild runs on, adopted by init
    int error = 0;
    const int null = ::open("/dev/null", O_RDWR);
    if (::setsid() < 0 || null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0) {
      error = errno;
    } else if (switchIds && (::setgroups(id->groups.size(), id->groups.data()) != 0 || ::setgid(id->gid) != 0 ||
                             ::setuid(id->uid) != 0)) {
      error = errno;
    } else {
      ::execve(path.c_str(), argv, envp.data());
      error = errno;
    }
    ssize_t ignored = ::write(report[1], &error, sizeof error);
    (void)ignored;
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  // Nothing read: the pipe closed at exec, so the program runs. A failed second fork also
  // reads nothing; the first child then exited non-zero.
  return n == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace platform
