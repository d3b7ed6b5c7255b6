// The console user's session and the start of a process under that user's identity.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr uint32_t kNoSession = 0xFFFFFFFF;

// Linux keeps its login state where logind does; tests point this variable elsewhere.
constexpr const char* kLogindDirVariable = "KESTREL_LOGIND_DIR";
constexpr const char* kDefaultLogindDir = "/run/systemd";
// Linux: overrides the shell process name (one name).
constexpr const char* kShellProcessVariable = "KESTREL_SHELL_PROCESS";

// Windows: WTSGetActiveConsoleSessionId, found at run time in "kernel32.dll"; kNoSession
// when the module or the entry point is missing. Linux: the numeric part of the id of
// seat0's active session (logind's seats/seat0 file, else the first active session with a
// seat in sessions/); kNoSession when there is none.
uint32_t ActiveConsoleSessionId();

// Linux: the user id of that active session; nullopt on Windows (any session's shell
// counts there) and when Linux has no active session.
std::optional<uint32_t> ConsoleUserId();

// The names of the desktop shell's process, compared case-insensitively. Windows:
// "explorer.exe". Linux: the common desktop shells' processes (gnome-shell, plasmashell,
// ...), or the one name in KESTREL_SHELL_PROCESS.
std::vector<std::u16string> ShellProcessNames();

// A user identity to start a process with: a primary token on Windows; on Linux the ids,
// groups and environment copied from a process of that user. Move-only.
class UserToken {
 public:
  UserToken() = default;
  ~UserToken();
  UserToken(UserToken&& other) noexcept;
  UserToken& operator=(UserToken&& other) noexcept;
  UserToken(const UserToken&) = delete;
  UserToken& operator=(const UserToken&) = delete;

  bool IsValid() const { return handle_ != nullptr; }
  // The number traces show: the handle value on Windows; on Linux the process id for a
  // process's token and the user id for a duplicate.
  uintptr_t TraceValue() const;
  void Reset();

 private:
  friend struct UserTokenAccess;
  void* handle_ = nullptr;
};

enum class TokenResult { Ok, Failed, NoPrivilege };

// Windows: OpenProcess (query information, virtual-memory read) and OpenProcessToken for
// duplication. Linux: reads the process's user, groups and environment; NoPrivilege when
// this process could not start processes as that user (neither the same user nor allowed
// to change user and group ids).
TokenResult OpenProcessUserToken(uint32_t pid, UserToken* out);

// DuplicateTokenEx: maximum allowed access, SecurityImpersonation, primary token.
bool DuplicatePrimaryToken(const UserToken& source, UserToken* out);

// An environment block for the token's user, over this process's own environment
// (CreateEnvironmentBlock with inherit set). Linux: this process's variables, then the
// user's HOME, USER, LOGNAME and SHELL, then the variables of the process the token was
// taken from.
class UserEnvironment {
 public:
  UserEnvironment() = default;
  ~UserEnvironment();
  UserEnvironment(const UserEnvironment&) = delete;
  UserEnvironment& operator=(const UserEnvironment&) = delete;
  bool Create(const UserToken& token);
  bool IsValid() const { return block_ != nullptr; }
  void* Block() const { return block_; }

 private:
  void* block_ = nullptr;
};

constexpr uint32_t kCreateUnicodeEnvironment = 0x400;
constexpr uint32_t kNormalPriorityClass = 0x20;
constexpr uint32_t kCreateNewConsole = 0x10;

// CreateProcessAsUserW with no application name, `commandLine` as the whole command line,
// no inherited handles, `flags`, the environment (null: the system default), this process's
// current directory, and start-up information that only shows the window (SW_SHOW) on the
// desktop "". Linux: `commandLine` is the program's path, run as it is (argv[0] is the same
// text, no splitting at blanks), in a new session (setsid) with standard streams on
// /dev/null, under the token's user, group and supplementary groups. True when the
// process was started.
bool StartProcessAsUser(const UserToken& token, std::u16string_view commandLine, uint32_t flags,
                        const UserEnvironment* environment);

}  // namespace platform
