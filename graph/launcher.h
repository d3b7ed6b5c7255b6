// Starts the companion application on the console user's desktop, under that user's
// identity borrowed from the user's shell process. Every step reports to the trace channel.
#pragma once

#include <cstdint>

#include "platform/user_session.h"

// Starts `path` (the whole command line, unquoted) in the console user's session; an empty
// or null path starts nothing and writes nothing. Always 0.
int LaunchCompanionApp(const char16_t* path);

// 1 when a process with an identifier above 10 runs from a file whose name equals the
// file-name part of `path`, letter case ignored; else 0 (also for a path without one).
int IsProcessRunning(const char16_t* path);

// A primary token of the console user, taken from the shell process; invalid on failure.
platform::UserToken GetActiveUserToken();

// The identifier of the first shell process in a process snapshot (on Linux, the first that
// belongs to the console user when one is known), or 0.
uint32_t FindShellProcessId();

// The console session's identifier; 0xFFFFFFFF (printed as -1) when there is none.
uint32_t GetActiveConsoleSession();

// The check after every successful resolution change: a configured application that is not
// running is started. True when LaunchCompanionApp was called.
bool EnsureCompanionAppRunning(const char16_t* path);
