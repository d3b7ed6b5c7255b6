// The console on Windows: a handle with a console mode is a console.
#include "platform/console.h"

#include <windows.h>

namespace platform {

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace platform
