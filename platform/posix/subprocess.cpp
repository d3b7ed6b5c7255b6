// posix_spawn, and a pidfd to wait for the end with a bound.
#include "platform/subprocess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace platform {

Subprocess::~Subprocess() { Kill(); }

bool Subprocess::Start(const std::string& program, const std::vector<std::string>& args) {
  if (pid_ != 0) return false;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  pid_ = static_cast<uint32_t>(pid);
  handle_ = ::syscall(SYS_pidfd_open, pid, 0);
  ended_ = false;
  return true;
}

bool Subprocess::StartWithCommandLine(const std::string& program, const std::string& text) {
  std::vector<std::string> words;
  for (size_t start = text.find_first_not_of(' '); start != std::string::npos;) {
    const size_t end = text.find(' ', start);
    words.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? end : text.find_first_not_of(' ', end);
  }
  return Start(program, words);
}

bool Subprocess::Wait(uint32_t timeoutMs, int* exitCode) {
  if (pid_ == 0) return false;
  if (!ended_) {
    if (handle_ >= 0) {
      pollfd fd{static_cast<int>(handle_), POLLIN, 0};
      int n;
      do {
        n = ::poll(&fd, 1, timeoutMs > 0x7FFFFFFF ? -1 : static_cast<int>(timeoutMs));
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return false;
    }
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(static_cast<pid_t>(pid_), &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return false;
    ended_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
  if (exitCode) *exitCode = exitCode_;
  return true;
}

void Subprocess::Kill() {
  if (pid_ == 0 || ended_) return;
  ::kill(static_cast<pid_t>(pid_), SIGKILL);
  Wait(0xFFFFFFFF, nullptr);
}

}  // namespace platform
