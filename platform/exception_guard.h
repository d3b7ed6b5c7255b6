// The one guard for every boundary an exception must not cross (exports, COM methods,
// callbacks, thread bodies): any exception becomes the boundary's failure result, except the
// unwinding of a forced thread end, which passes on to the thread's start.
#pragma once

#include <type_traits>
#include <utility>

#include "platform/thread.h"

namespace platform {

// Runs `fn` and returns its result, or `onException` when it throws.
template <typename Result, typename Fn>
Result Guarded(Result onException, Fn&& fn) {
  try {
    return std::forward<Fn>(fn)();
  } catch (...) {
    RethrowIfThreadEnd();
    return onException;
  }
}

// The same for a boundary without a result: an exception is swallowed. True when `fn` ran
// to its end.
template <typename Fn>
bool GuardedVoid(Fn&& fn) {
  try {
    std::forward<Fn>(fn)();
    return true;
  } catch (...) {
    RethrowIfThreadEnd();
    return false;
  }
}

}  // namespace platform
