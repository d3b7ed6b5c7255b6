// Guards shared views that another process can shrink. Any local user may truncate the file
// behind a named mapping; touching a page past the new end raises SIGBUS. The way display
// servers treat client-supplied shared memory: a SIGBUS inside a guarded view maps anonymous
// zero pages over the whole view and marks it broken, so the access completes and the owner
// learns afterwards that the view is gone. A SIGBUS anywhere else goes to the handler that
// was there before.
#pragma once

#include <cstddef>

namespace platform::posix {

// Guards [start, start + bytes); a slot for the calls below, or -1 when every slot is taken
// or the handler cannot be installed (the view is then unguarded).
int GuardView(void* start, size_t bytes);
// Ends the guard before the view is unmapped.
void UnguardView(int slot);
// True once a fault in the view replaced it with zero pages.
bool ViewBroken(int slot);

}  // namespace platform::posix
