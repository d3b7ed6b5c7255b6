// The process-wide table of live objects behind the handles that exports take. A handle is
// used only while its object is in the table, never by probing memory, so a stale or forged
// handle is refused without being touched.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace platform {

class LiveObjectTable {
 public:
  // An object in use: while a pin lives, Remove of that object waits.
  class Pin {
   public:
    Pin() = default;
    Pin(LiveObjectTable* table, void* object) : table_(table), object_(object) {}
    ~Pin() { reset(); }
    Pin(Pin&& o) noexcept : table_(o.table_), object_(o.object_) {
      o.table_ = nullptr;
      o.object_ = nullptr;
    }
    Pin& operator=(Pin&&) = delete;
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    void* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void reset();

   private:
    LiveObjectTable* table_ = nullptr;
    void* object_ = nullptr;
  };

  // False when the object is already present or the table cannot grow.
  bool Add(void* object);
  // The object pinned when `handle` names a live one; an empty pin otherwise.
  Pin Acquire(uintptr_t handle);
  // Takes the object out of the table (new Acquire calls fail at once), then waits until
  // every pin on it, except `ownPins` of the caller, has been released. False when absent.
  bool Remove(void* object, int ownPins = 0);
  // Objects in the table, those being removed included.
  size_t Count();

 private:
  struct Entry {
    int pins = 0;
    bool removed = false;
  };
  std::mutex lock_;
  std::condition_variable unpinned_;
  std::unordered_map<void*, Entry> objects_;
};

}  // namespace platform
