// The live-object table; see live_objects.h.
#include "platform/live_objects.h"

#include <new>

namespace platform {

void LiveObjectTable::Pin::reset() {
  if (table_ == nullptr) return;
  {
    std::lock_guard<std::mutex> g(table_->lock_);
    auto it = table_->objects_.find(handle_);
    if (it != table_->objects_.end()) --it->second.pins;
  }
  table_->unpinned_.notify_all();
  table_ = nullptr;
  handle_ = 0;
  object_ = nullptr;
}

uintptr_t LiveObjectTable::Add(void* object) {
  if (object == nullptr) return 0;
  std::lock_guard<std::mutex> g(lock_);
  // After a wrap-around of the counter, skip handles still in use.
  for (size_t tries = 0; tries <= objects_.size() + 2; ++tries) {
    const uintptr_t handle = next_++;
    if (handle == 0 || handle == ~uintptr_t{0}) continue;
    try {
      if (objects_.emplace(handle, Entry{object, 0, false}).second) return handle;
    } catch (const std::bad_alloc&) {
      return 0;
    }
  }
  return 0;
}

LiveObjectTable::Pin LiveObjectTable::Acquire(uintptr_t handle) {
  std::lock_guard<std::mutex> g(lock_);
  auto it = objects_.find(handle);
  if (it == objects_.end() || it->second.removed) return Pin();
  ++it->second.pins;
  return Pin(this, handle, it->second.object);
}

bool LiveObjectTable::Remove(uintptr_t handle, int ownPins) {
  std::unique_lock<std::mutex> g(lock_);
  auto it = objects_.find(handle);
  if (it == objects_.end() || it->second.removed) return false;
  it->second.removed = true;
  unpinned_.wait(g, [&] { return objects_.find(handle)->second.pins <= ownPins; });
  objects_.erase(handle);
  return true;
}

size_t LiveObjectTable::Count() {
  std::lock_guard<std::mutex> g(lock_);
  return objects_.size();
}

}  // namespace platform
