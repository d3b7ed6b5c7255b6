// Memory that ends exactly at an inaccessible page, so that reading or writing one byte
// past its end faults at once. Used by tests that prove a routine stays inside a buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class GuardPageBuffer {
 public:
  // `bytes` usable bytes whose last one is directly followed by a no-access page. On
  // failure data() is null.
  explicit GuardPageBuffer(size_t bytes);
  ~GuardPageBuffer();
  GuardPageBuffer(const GuardPageBuffer&) = delete;
  GuardPageBuffer& operator=(const GuardPageBuffer&) = delete;

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void* base_ = nullptr;
  size_t total_ = 0;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace platform
