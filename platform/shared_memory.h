// Named shared memory: open, create or open-or-create a mapping, map a view of all of it,
// and count how many handles to it are open system-wide.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

struct MappingObject;  // opaque; a HANDLE on Windows

class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory() {
    reset();
    Unmap();
  }
  SharedMemory(SharedMemory&& o) noexcept;
  SharedMemory& operator=(SharedMemory&& o) noexcept;
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // OpenFileMapping: the mapping of that name if one exists; invalid otherwise.
  static SharedMemory OpenNamed(const char16_t* name);
  // CreateFileMapping: a new zero-filled mapping of `bytes` bytes, or the existing one of that
  // name (which keeps its own size). Every local user may open it. Invalid on failure.
  static SharedMemory CreateNamed(const char16_t* name, uint32_t bytes);

  bool valid() const { return obj_ != nullptr; }
  // Closes the mapping handle; a view stays usable until Unmap.
  void reset();

  // Maps all of the mapping read/write; null on failure. The view belongs to this object:
  // Unmap (or the destructor) releases it.
  uint8_t* Map();
  void Unmap();
  uint8_t* view() const { return view_; }
  // Bytes of the mapping (and so of the view) once mapped; 0 when unknown.
  size_t size() const { return size_; }

  // True once the view lost its memory under us: on Linux any local user may shrink the
  // file behind a mapping, and a view that faulted on the vanished part reads zeros from
  // then on (see posix/fault_guard.h). A Windows section cannot shrink: always false there.
  bool broken() const;

  // Handles open to this mapping system-wide, this one included; 0 when it cannot be
  // learned. A handle of a process that ended, even by a kill, no longer counts. On Linux a
  // view whose handle was closed still counts until it is unmapped.
  uint32_t HandleCount() const;

 private:
  explicit SharedMemory(MappingObject* obj, size_t size) : obj_(obj), size_(size) {}
  MappingObject* obj_ = nullptr;
  uint8_t* view_ = nullptr;
  size_t size_ = 0;
  int guard_ = -1;  // Linux: the view's slot in the fault guard
};

}  // namespace platform
