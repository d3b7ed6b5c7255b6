// The Linux COM runtime's own bookkeeping: a count of its live objects, so tests can check
// that everything they obtained was released.
#pragma once

#include "media/dshow.h"

namespace media {

// COM objects of this runtime (graph managers, builders, allocators, samples, clocks,
// enumerators, monikers, the running object table's entries, ...) alive right now.
long LiveRuntimeObjects();

// Base of every runtime object: counted while it exists.
class RuntimeObject {
 public:
  RuntimeObject();
  RuntimeObject(const RuntimeObject&) = delete;
  RuntimeObject& operator=(const RuntimeObject&) = delete;
  virtual ~RuntimeObject();
};

}  // namespace media
