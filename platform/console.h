// The console a program writes to.
#pragma once

namespace platform {

// Whether standard output is a terminal (a console on Windows), so a status line can be
// rewritten in place rather than logged line by line.
bool StandardOutputIsTerminal();

}  // namespace platform
