// The PNG snapshot in a build without libpng (the win32 build): the stand-in writes Y4M only.
#include "outside/vcam/png_snapshot.h"

bool WriteYuy2AsPng(const char*, const uint8_t*, uint32_t, uint32_t, uint32_t) { return false; }
