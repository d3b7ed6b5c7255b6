// Stop requests on Windows: a console control handler that sets the event.
#include "platform/stop_request.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<HANDLE> g_event{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      const HANDLE e = g_event.load();
      if (e == nullptr) return FALSE;
      SetEvent(e);
      // The process ends when the handler returns from a close, log-off or shut-down: give the
      // program the system's grace time to clean up; its own exit ends the wait.
      if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) Sleep(5000);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

bool SetStopRequestEvent(const Event& event) {
  if (!event.valid()) return false;
  g_event.store(reinterpret_cast<HANDLE>(event.get()));
  return SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

}  // namespace platform
