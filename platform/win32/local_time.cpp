// localtime_s, safe for concurrent callers.
#include "platform/local_time.h"

namespace platform {

bool LocalTimeNow(std::tm* out) {
  const std::time_t now = std::time(nullptr);
  return out && localtime_s(out, &now) == 0;
}

}  // namespace platform
