// Structured-storage documents (the diagnostic graph file): the system's compound files on
// Windows; the Linux runtime has none, so there every open answers STG_E_INVALIDFUNCTION.
#pragma once

#include "media/dshow.h"

namespace media {

// StgOpenStorage of `path` with `mode`.
HRESULT OpenStorageDocument(const char16_t* path, DWORD mode, IStorage** storage);
// StgCreateDocfile of `path` with `mode`.
HRESULT CreateStorageDocument(const char16_t* path, DWORD mode, IStorage** storage);

}  // namespace media
