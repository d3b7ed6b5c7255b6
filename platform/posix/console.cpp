// The console on Linux.
#include "platform/console.h"

#include <unistd.h>

namespace platform {

bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

}  // namespace platform
