// Named shared memory on Linux: a file in the object directory (tmpfs by default), mapped
// shared; the handle count comes from the per-handle slot locks of named_file.h.
#include "platform/shared_memory.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <utility>

#include "platform/posix/fault_guard.h"
#include "platform/posix/named_file.h"
#include "platform/posix/posix_common.h"

namespace platform {

struct MappingObject {
  posix::NamedFile file;
};

namespace {

MappingObject* OpenFile(const char16_t* name, uint32_t createBytes, size_t* size) {
  if (name == nullptr) return nullptr;
  auto* m = new (std::nothrow) MappingObject;
  if (m == nullptr) return nullptr;
  bool created = false;
  if (!posix::OpenNamedFile(posix::NamedObjectPath(name), createBytes, nullptr, nullptr, &m->file, &created)) {
    delete m;
    return nullptr;
  }
  struct stat st{};
  if (::fstat(m->file.fd, &st) != 0) {
    posix::CloseNamedFile(&m->file);
    delete m;
    return nullptr;
  }
  // No block of this protocol exceeds a 32-bit capacity plus its header; a larger file is
  // not ours to map.
  if (st.st_size <= 0 || static_cast<uint64_t>(st.st_size) > uint64_t{0xFFFFFFFF} + 24) {
    posix::CloseNamedFile(&m->file);
    delete m;
    return nullptr;
  }
  *size = static_cast<size_t>(st.st_size);
  return m;
}

}  // namespace

SharedMemory SharedMemory::OpenNamed(const char16_t* name) {
  size_t size = 0;
  MappingObject* m = OpenFile(name, 0, &size);
  return m ? SharedMemory(m, size) : SharedMemory();
}

SharedMemory SharedMemory::CreateNamed(const char16_t* name, uint32_t bytes) {
  if (bytes == 0) return SharedMemory();
  size_t size = 0;
  MappingObject* m = OpenFile(name, bytes, &size);
  return m ? SharedMemory(m, size) : SharedMemory();
}

void SharedMemory::reset() {
  if (obj_ == nullptr) return;
  posix::CloseNamedFile(&obj_->file);
  delete obj_;
  obj_ = nullptr;
}

uint8_t* SharedMemory::Map() {
  if (view_ != nullptr) return view_;
  if (obj_ == nullptr || size_ == 0) return nullptr;
  void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, obj_->file.fd, 0);
  if (p == MAP_FAILED) return nullptr;
  view_ = static_cast<uint8_t*>(p);
  // Every local user may shrink the file under us; a fault past its new end must not kill
  // this process.
  guard_ = posix::GuardView(view_, size_);
  return view_;
}

void SharedMemory::Unmap() {
  posix::UnguardView(guard_);
  guard_ = -1;
  if (view_ != nullptr) ::munmap(view_, size_);
  view_ = nullptr;
}

bool SharedMemory::broken() const { return view_ != nullptr && posix::ViewBroken(guard_); }

uint32_t SharedMemory::HandleCount() const {
  return obj_ == nullptr ? 0 : posix::CountHandles(obj_->file.fd);
}

}  // namespace platform
