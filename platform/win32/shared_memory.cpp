// Named shared memory on Windows: a paging-file backed mapping; the handle count and the
// mapping's size come from ntdll's object and section queries, found at run time.
#include "platform/shared_memory.h"

#include <windows.h>

#include <utility>

#include "platform/win32/world_access.h"

namespace platform {
namespace {

HANDLE H(MappingObject* m) { return reinterpret_cast<HANDLE>(m); }
MappingObject* M(HANDLE h) { return reinterpret_cast<MappingObject*>(win32::NullIfInvalid(h)); }

using NtQueryObjectFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using NtQuerySectionFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

struct Ntdll {
  NtQueryObjectFn queryObject = nullptr;
  NtQuerySectionFn querySection = nullptr;
  Ntdll() {
    if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
      queryObject = reinterpret_cast<NtQueryObjectFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
      querySection = reinterpret_cast<NtQuerySectionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySection")));
    }
  }
};

const Ntdll& NtApi() {
  static Ntdll api;
  return api;
}

// The section's size (SectionBasicInformation); the view's region size when that fails.
size_t MappingSize(HANDLE h, void* view) {
  struct {
    PVOID base;
    ULONG attributes;
    LARGE_INTEGER size;
  } info{};
  ULONG used = 0;
  if (NtApi().querySection != nullptr && NtApi().querySection(h, 0, &info, sizeof info, &used) >= 0 &&
      info.size.QuadPart > 0)
    return static_cast<size_t>(info.size.QuadPart);
  MEMORY_BASIC_INFORMATION mbi{};
  if (view != nullptr && VirtualQuery(view, &mbi, sizeof mbi) == sizeof mbi) return mbi.RegionSize;
  return 0;
}

}  // namespace

SharedMemory SharedMemory::OpenNamed(const char16_t* name) {
  if (name == nullptr) return SharedMemory();
  HANDLE h = win32::NullIfInvalid(OpenFileMappingW(FILE_MAP_ALL_ACCESS, TRUE, reinterpret_cast<const wchar_t*>(name)));
  return h ? SharedMemory(M(h), 0) : SharedMemory();
}

SharedMemory SharedMemory::CreateNamed(const char16_t* name, uint32_t bytes) {
  if (name == nullptr || bytes == 0) return SharedMemory();
  HANDLE h = win32::NullIfInvalid(CreateFileMappingW(INVALID_HANDLE_VALUE, win32::WorldAccessAttributes(),
                                                     PAGE_READWRITE, 0, bytes, reinterpret_cast<const wchar_t*>(name)));
  return h ? SharedMemory(M(h), 0) : SharedMemory();
}

void SharedMemory::reset() {
  if (obj_ != nullptr) CloseHandle(H(obj_));
  obj_ = nullptr;
}

uint8_t* SharedMemory::Map() {
  if (view_ != nullptr) return view_;
  if (obj_ == nullptr) return nullptr;
  void* p = MapViewOfFile(H(obj_), FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (p == nullptr) return nullptr;
  view_ = static_cast<uint8_t*>(p);
  size_ = MappingSize(H(obj_), view_);
  return view_;
}

void SharedMemory::Unmap() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  view_ = nullptr;
}

bool SharedMemory::broken() const { return false; }

uint32_t SharedMemory::HandleCount() const {
  if (obj_ == nullptr || NtApi().queryObject == nullptr) return 0;
  // OBJECT_BASIC_INFORMATION: 56 bytes, the handle count at bytes 8 to 11.
  unsigned char info[56] = {};
  ULONG used = 0;
  if (NtApi().queryObject(H(obj_), 0, info, sizeof info, &used) < 0) return 0;
  uint32_t count;
  memcpy(&count, info + 8, sizeof count);
  return count;
}

}  // namespace platform
