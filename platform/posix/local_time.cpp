// localtime_r, safe for concurrent callers.
#include "platform/local_time.h"

namespace platform {

bool LocalTimeNow(std::tm* out) {
  const std::time_t now = std::time(nullptr);
  return out && localtime_r(&now, out) != nullptr;
}

}  // namespace platform
