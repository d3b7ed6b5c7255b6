// Test images whose rows sit at a stride with padding, behind a guard zone and ending at a
// guard page, all filled with seeded random bytes, so a kernel's writes can be compared byte
// for byte with a reference, padding and guard included, and any access past the end faults.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "platform/guard_page.h"

namespace test {

class GuardedImage {
 public:
  static constexpr size_t kGuard = 64;

  // rowBytes bytes of pixels per row, `rows` rows, `pad` extra bytes per row; `shift`
  // offsets the first row from the front guard so rows start unaligned. The last row's
  // last pixel byte ends a page and a no-access page follows, so reading or writing one
  // byte past the image faults at once; guard bytes stand only in front of it.
  GuardedImage(size_t rowBytes, size_t rows, size_t pad, uint32_t seed, size_t shift = 0)
      : stride_(rowBytes + pad),
        rows_(rows),
        shift_(shift),
        size_(kGuard + shift + (rows == 0 ? 0 : stride_ * (rows - 1) + rowBytes)),
        mem_(std::make_unique<platform::GuardPageBuffer>(size_)) {
    if (mem_->data() == nullptr) std::abort();
    std::mt19937 rng(seed);
    for (size_t i = 0; i < size_; ++i) mem_->data()[i] = static_cast<uint8_t>(rng());
  }

  uint8_t* data() { return mem_->data() + kGuard + shift_; }
  const uint8_t* data() const { return mem_->data() + kGuard + shift_; }
  uint8_t* row(size_t y) { return data() + y * stride_; }
  const uint8_t* row(size_t y) const { return data() + y * stride_; }
  int32_t stride() const { return static_cast<int32_t>(stride_); }
  size_t rows() const { return rows_; }
  // Every byte, the front guard included.
  std::vector<uint8_t> bytes() const { return std::vector<uint8_t>(mem_->data(), mem_->data() + size_); }

 private:
  size_t stride_;
  size_t rows_;
  size_t shift_;
  size_t size_;
  std::unique_ptr<platform::GuardPageBuffer> mem_;
};

// Index of the first differing byte, or -1 when equal.
inline long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 0;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return static_cast<long>(i);
  return -1;
}

// Widths every packed kernel is checked at.
inline std::vector<uint32_t> KernelTestWidths() {
  std::vector<uint32_t> w;
  for (uint32_t i = 0; i <= 70; ++i) w.push_back(i);
  for (uint32_t i : {127u, 176u, 333u, 640u, 1920u}) w.push_back(i);
  return w;
}

inline std::vector<int32_t> KernelTestHeights() { return {-17, -3, -2, -1, 0, 1, 2, 3, 5}; }

}  // namespace test
