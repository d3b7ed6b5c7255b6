// What a host sees of the Kestrel library: the render-graph interface its CreatRendGraph hands
// out, the device notification codes NotifyDeviceChange takes, and the two exports' types.
#pragma once

#include <cstdint>

// The interface the host calls. No virtual destructor: the host never deletes through it.
class IRendGraph {
 public:
  virtual int32_t Initialize(int32_t reserved) = 0;
  virtual int32_t Uninitialize() = 0;
  virtual int32_t NotifyDeviceChange(uint32_t code, uint32_t value, const char16_t* name) = 0;

 protected:
  ~IRendGraph() = default;
};

// Device notification codes of NotifyDeviceChange.
inline constexpr uint32_t NOTIFY_IGNORED = 2025;
inline constexpr uint32_t NOTIFY_RESET = 2026;
inline constexpr uint32_t NOTIFY_ARRIVAL = 2027;
inline constexpr uint32_t NOTIFY_REMOVAL = 2028;

using CreatRendGraphFn = int32_t (*)(IRendGraph** out);
using ReleaseRendGraphFn = void (*)(IRendGraph** graph);
