// Child processes on Linux: posix_spawn, and a pidfd to wait with a time-out.
#include "platform/child_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "platform/posix/posix_common.h"

extern char** environ;

namespace platform {

struct ProcessObject {
  pid_t pid = 0;
  int pidfd = -1;
  bool reaped = false;
  int status = 0;
};

namespace {

void Reap(ProcessObject* p) {
  if (p->reaped) return;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(p->pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  p->reaped = true;
  p->status = status;
}

}  // namespace

ProcessObject* SpawnProcess(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return nullptr;
  auto* p = new (std::nothrow) ProcessObject;
  if (p == nullptr) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return nullptr;
  }
  p->pid = pid;
  p->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  return p;
}

ProcessObject* SpawnProcessWithCommandLine(const std::string& program, const std::string& text) {
  std::vector<std::string> words;
  for (size_t start = text.find_first_not_of(' '); start != std::string::npos;) {
    const size_t end = text.find(' ', start);
    words.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? end : text.find_first_not_of(' ', end);
  }
  return SpawnProcess(program, words);
}

uint32_t WaitProcess(ProcessObject* p, uint32_t timeoutMs) {
  if (p == nullptr) return kWaitFailed;
  if (p->reaped) return kWaitObject0;
  if (p->pidfd < 0) return kWaitFailed;
  pollfd fd{p->pidfd, POLLIN, 0};
  const uint64_t deadline = timeoutMs == kInfinite ? 0 : posix::NowMs() + timeoutMs;
  for (;;) {
    const int n = ::poll(&fd, 1, posix::RemainingMs(timeoutMs, deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return kWaitFailed;
    if (n == 0) return kWaitTimeout;
    Reap(p);
    return kWaitObject0;
  }
}

bool GetProcessExitCode(ProcessObject* p, uint32_t* exitCode) {
  if (p == nullptr || exitCode == nullptr || WaitProcess(p, 0) != kWaitObject0) return false;
  if (WIFEXITED(p->status))
    *exitCode = static_cast<uint32_t>(WEXITSTATUS(p->status));
  else if (WIFSIGNALED(p->status))
    *exitCode = 128u + static_cast<uint32_t>(WTERMSIG(p->status));
  else
    *exitCode = 0xFFFFFFFFu;
  return true;
}

uint32_t GetProcessId(ProcessObject* p) { return p == nullptr ? 0 : static_cast<uint32_t>(p->pid); }

bool KillProcess(ProcessObject* p) { return p != nullptr && !p->reaped && ::kill(p->pid, SIGKILL) == 0; }

bool RequestProcessStop(ProcessObject* p) { return p != nullptr && !p->reaped && ::kill(p->pid, SIGTERM) == 0; }

void CloseProcess(ProcessObject* p) {
  if (p == nullptr) return;
  if (p->pidfd >= 0) ::close(p->pidfd);
  delete p;
}

std::string CurrentExecutablePath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace platform
