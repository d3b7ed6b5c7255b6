// Test images whose rows sit at a stride with padding, between guard zones, all filled
// with seeded random bytes, so a kernel's writes can be compared byte for byte with a
// reference, padding and guards included.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace test {

class GuardedImage {
 public:
  static constexpr size_t kGuard = 64;

  // rowBytes bytes of pixels per row, `rows` rows, `pad` extra bytes per row; `shift`
  // offsets the first row from the allocation so rows start unaligned.
  GuardedImage(size_t rowBytes, size_t rows, size_t pad, uint32_t seed, size_t shift = 0)
      : stride_(rowBytes + pad), rows_(rows), shift_(shift) {
    mem_.resize(kGuard + shift_ + stride_ * rows_ + kGuard);
    std::mt19937 rng(seed);
    for (auto& b : mem_) b = static_cast<uint8_t>(rng());
  }

  uint8_t* data() { return mem_.data() + kGuard + shift_; }
  const uint8_t* data() const { return mem_.data() + kGuard + shift_; }
  uint8_t* row(size_t y) { return data() + y * stride_; }
  const uint8_t* row(size_t y) const { return data() + y * stride_; }
  int32_t stride() const { return static_cast<int32_t>(stride_); }
  size_t rows() const { return rows_; }
  const std::vector<uint8_t>& bytes() const { return mem_; }

 private:
  size_t stride_;
  size_t rows_;
  size_t shift_;
  std::vector<uint8_t> mem_;
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
