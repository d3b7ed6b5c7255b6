// The companion-application launcher: find the console user's shell, borrow its token,
// build the user's environment and create the process with them.
#include "graph/launcher.h"

#include <string>
#include <vector>

#include "graph/diagnostics.h"
#include "platform/exception_guard.h"
#include "platform/process_list.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

constexpr uint32_t kHighestSystemPid = 10;

}  // namespace

uint32_t GetActiveConsoleSession() { return platform::ActiveConsoleSessionId(); }

uint32_t FindShellProcessId() {
  std::vector<platform::ProcessEntry> processes;
  if (!platform::SnapshotProcesses(&processes)) return 0;
  const std::vector<std::u16string> names = platform::ShellProcessNames();
  const std::optional<uint32_t> consoleUser = platform::ConsoleUserId();
  for (const platform::ProcessEntry& p : processes) {
    if (consoleUser && p.ownerUid != *consoleUser) continue;
    for (const std::u16string& name : names)
      if (platform::SameFileName(p.exeName, name)) return p.pid;
  }
  return 0;
}

int IsProcessRunning(const char16_t* path) {
  if (!path) return 0;
  const std::u16string_view name = platform::FileNamePart(path);
  if (name.empty()) return 0;
  std::vector<platform::ProcessEntry> processes;
  if (!platform::SnapshotProcesses(&processes)) return 0;
  for (const platform::ProcessEntry& p : processes)
    if (p.pid > kHighestSystemPid && platform::SameFileName(p.exeName, name)) return 1;
  return 0;
}

platform::UserToken GetActiveUserToken() {
  platform::UserToken token;
  const uint32_t session = GetActiveConsoleSession();
  TraceMessage("Kestrel--active session ID = %d\n", static_cast<int>(session));
  if (session == platform::kNoSession) return token;
  const uint32_t pid = FindShellProcessId();
  TraceMessage("Kestrel--Active Explorer PID = %d\n", static_cast<int>(pid));
  if (pid == 0) return token;
  platform::UserToken source;
  switch (platform::OpenProcessUserToken(pid, &source)) {
    case platform::TokenResult::Ok:
      platform::DuplicatePrimaryToken(source, &token);
      TraceMessage("Kestrel--DuplicateTokenEx = 0x%08X,0x%08X\n", static_cast<unsigned>(source.TraceValue()),
                   static_cast<unsigned>(token.TraceValue()));
      break;
    case platform::TokenResult::NoPrivilege:
      TraceMessage("Kestrel--No privilege to start a process as the console user.\n");
      break;
    case platform::TokenResult::Failed:
      break;
  }
  return token;
}

int LaunchCompanionApp(const char16_t* path) {
  platform::GuardedVoid([path] {
    if (!path || !*path) return;
    platform::UserToken token = GetActiveUserToken();
    if (!token.IsValid()) {
      TraceMessage("Kestrel--Failed to get user token,failed to launch TAVI.\n");
      return;
    }
    platform::UserEnvironment environment;
    uint32_t flags = platform::kNormalPriorityClass | platform::kCreateNewConsole;
    if (environment.Create(token)) flags |= platform::kCreateUnicodeEnvironment;
    TraceMessage("Kestrel--LaunchAppIntoCurrentLogonSession User token :0x%08X \n",
                 static_cast<unsigned>(token.TraceValue()));
    const bool started = platform::StartProcessAsUser(token, path, flags, &environment);
    TraceMessage("Kestrel--CreateProcessAsUser  = %d: %s\n", started ? 1 : 0,
                 platform::Utf16ToUtf8(path).c_str());
  });
  return 0;
}

bool EnsureCompanionAppRunning(const char16_t* path) {
  if (!path || !*path || IsProcessRunning(path)) return false;
  LaunchCompanionApp(path);
  return true;
}
