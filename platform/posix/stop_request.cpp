// Stop requests on Linux: SIGINT, SIGTERM and SIGHUP set the event from the signal handler.
#include "platform/stop_request.h"

#include "platform/posix/signal_event.h"

namespace platform {
namespace {

SignalEventTarget g_stop;

void OnStopSignal(int) { g_stop.SetFromHandler(); }

}  // namespace

bool SetStopRequestEvent(const Event& event) {
  return g_stop.Point(event) && InstallSignalHandler({SIGINT, SIGTERM, SIGHUP}, OnStopSignal);
}

}  // namespace platform
