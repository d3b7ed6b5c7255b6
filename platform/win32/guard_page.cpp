// Guard-page buffers from VirtualAlloc with the last page set to PAGE_NOACCESS.
#include "platform/guard_page.h"

#include <windows.h>

namespace platform {

GuardPageBuffer::GuardPageBuffer(size_t bytes) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  const size_t body = (bytes + page - 1) / page * page;
  void* base = VirtualAlloc(nullptr, body + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!base) return;
  uint8_t* guard = static_cast<uint8_t*>(base) + body;
  DWORD old = 0;
  if (!VirtualProtect(guard, page, PAGE_NOACCESS, &old)) {
    VirtualFree(base, 0, MEM_RELEASE);
    return;
  }
  base_ = base;
  total_ = body + page;
  data_ = guard - bytes;
  size_ = bytes;
}

GuardPageBuffer::~GuardPageBuffer() {
  if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

}  // namespace platform
