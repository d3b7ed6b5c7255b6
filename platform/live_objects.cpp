// The live-object table; see live_objects.h.
#include "platform/live_objects.h"

#include <new>

namespace platform {

void LiveObjectTable::Pin::reset() {
  if (table_ == nullptr) return;
  {
    std::lock_guard<std::mutex> g(table_->lock_);
    auto it = table_->objects_.find(object_);
    if (it != table_->objects_.end()) --it->second.pins;
  }
  table_->unpinned_.notify_all();
  table_ = nullptr;
  object_ = nullptr;
}

bool LiveObjectTable::Add(void* object) {
  if (object == nullptr) return false;
  std::lock_guard<std::mutex> g(lock_);
  try {
    return objects_.emplace(object, Entry{}).second;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

LiveObjectTable::Pin LiveObjectTable::Acquire(uintptr_t handle) {
  void* object = reinterpret_cast<void*>(handle);
  std::lock_guard<std::mutex> g(lock_);
  auto it = objects_.find(object);
  if (it == objects_.end() || it->second.removed) return Pin();
  ++it->second.pins;
  return Pin(this, object);
}

bool LiveObjectTable::Remove(void* object, int ownPins) {
  std::unique_lock<std::mutex> g(lock_);
  auto it = objects_.find(object);
  if (it == objects_.end() || it->second.removed) return false;
  it->second.removed = true;
  unpinned_.wait(g, [&] { return objects_.find(object)->second.pins <= ownPins; });
  objects_.erase(object);
  return true;
}

size_t LiveObjectTable::Count() {
  std::lock_guard<std::mutex> g(lock_);
  return objects_.size();
}

}  // namespace platform
