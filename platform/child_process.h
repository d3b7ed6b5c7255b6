// Child processes for tests and peers: start a program with arguments, wait for it with a
// time-out, ask it to stop, and end it abruptly (TerminateProcess / SIGKILL).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wait.h"

namespace platform {

struct ProcessObject;  // opaque

// Starts `program` with `args` (argv[1]...), inheriting the environment and standard
// streams. Null on failure.
ProcessObject* SpawnProcess(const std::string& program, const std::vector<std::string>& args);
// Starts `program` with a command-line text after its name: on Windows the text is passed
// as it is; on Linux it is split into words at blanks (no quoting).
ProcessObject* SpawnProcessWithCommandLine(const std::string& program, const std::string& text);
// kWaitObject0 once it has ended, kWaitTimeout or kWaitFailed.
uint32_t WaitProcess(ProcessObject* process, uint32_t timeoutMs);
// The exit code of an ended process (128 + signal number for one ended by a signal on Linux).
bool GetProcessExitCode(ProcessObject* process, uint32_t* exitCode);
uint32_t GetProcessId(ProcessObject* process);
// Ends it at once, without any clean-up of its own.
bool KillProcess(ProcessObject* process);
// Asks it to stop as a user's Ctrl-C would (SIGTERM on Linux), leaving it time to clean up.
// False when that cannot be done: always on Windows, where a console control event reaches
// only processes started in their own group on the same console.
bool RequestProcessStop(ProcessObject* process);
// Releases the handle; a child still running is left running.
void CloseProcess(ProcessObject* process);

// The running program's own file.
std::string CurrentExecutablePath();

}  // namespace platform
