// Named shared memory on Linux: a file in the object directory (tmpfs by default), mapped
// shared; the handle count comes from the per-handle slot locks of named_file.h.
#include "platform/shared_memory.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <utility>

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
  return view_;
}

void SharedMemory::Unmap() {
  if (view_ != nullptr) ::munmap(view_, size_);
  view_ = nullptr;
}

uint32_t SharedMemory::HandleCount() const {
  return obj_ == nullptr ? 0 : posix::CountHandles(obj_->file.fd);
}

}  // namespace platform
