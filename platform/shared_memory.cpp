#include "platform/shared_memory.h"

#include <utility>

namespace platform {

SharedMemory::SharedMemory(SharedMemory&& o) noexcept
    : obj_(std::exchange(o.obj_, nullptr)), view_(std::exchange(o.view_, nullptr)), size_(std::exchange(o.size_, 0)),
      guard_(std::exchange(o.guard_, -1)) {}

SharedMemory& SharedMemory::operator=(SharedMemory&& o) noexcept {
  if (this != &o) {
    reset();
    Unmap();
    obj_ = std::exchange(o.obj_, nullptr);
    view_ = std::exchange(o.view_, nullptr);
    size_ = std::exchange(o.size_, 0);
    guard_ = std::exchange(o.guard_, -1);
  }
  return *this;
}

}  // namespace platform
