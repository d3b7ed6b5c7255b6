// The local wall-clock time, for time stamps in diagnostics.
#pragma once

#include <ctime>

namespace platform {

// The current time converted to local time; false when the conversion fails.
bool LocalTimeNow(std::tm* out);

}  // namespace platform
