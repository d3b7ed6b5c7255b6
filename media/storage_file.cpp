// Structured-storage documents through ole32 on Windows; none on Linux.
#include "media/storage_file.h"

namespace media {

#ifdef _WIN32

HRESULT OpenStorageDocument(const char16_t* path, DWORD mode, IStorage** storage) {
  return StgOpenStorage(reinterpret_cast<const OLECHAR*>(path), nullptr, mode, nullptr, 0, storage);
}

HRESULT CreateStorageDocument(const char16_t* path, DWORD mode, IStorage** storage) {
  return StgCreateDocfile(reinterpret_cast<const OLECHAR*>(path), mode, 0, storage);
}

#else

HRESULT OpenStorageDocument(const char16_t*, DWORD, IStorage** storage) {
  if (storage) *storage = nullptr;
  return STG_E_INVALIDFUNCTION;
}

HRESULT CreateStorageDocument(const char16_t*, DWORD, IStorage** storage) {
  if (storage) *storage = nullptr;
  return STG_E_INVALIDFUNCTION;
}

#endif

}  // namespace media
