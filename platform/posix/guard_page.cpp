// Guard-page buffers from an anonymous mapping whose last page is made inaccessible.
#include "platform/guard_page.h"

#include <sys/mman.h>
#include <unistd.h>

namespace platform {

GuardPageBuffer::GuardPageBuffer(size_t bytes) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t body = (bytes + page - 1) / page * page;
  void* base = ::mmap(nullptr, body + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return;
  uint8_t* guard = static_cast<uint8_t*>(base) + body;
  if (::mprotect(guard, page, PROT_NONE) != 0) {
    ::munmap(base, body + page);
    return;
  }
  base_ = base;
  total_ = body + page;
  data_ = guard - bytes;
  size_ = bytes;
}

GuardPageBuffer::~GuardPageBuffer() {
  if (base_) ::munmap(base_, total_);
}

}  // namespace platform
