// The process-wide table of live objects behind the handles that exports take. A handle is
// used only while its object is in the table, never by probing memory, so a stale or forged
// handle is refused without being touched. Handles are numbers drawn from a counter, not
// addresses: an object created where a deleted one lived gets a new handle, so a stale
// handle can never reach it.
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
    Pin(LiveObjectTable* table, uintptr_t handle, void* object) : table_(table), handle_(handle), object_(object) {}
    ~Pin() { reset(); }
    Pin(Pin&& o) noexcept : table_(o.table_), handle_(o.handle_), object_(o.object_) {
      o.table_ = nullptr;
      o.object_ = nullptr;
    }
    Pin& operator=(Pin&&) = delete;
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    void* get() const { return object_; }
    uintptr_t handle() const { return handle_; }
    explicit operator bool() const { return object_ != nullptr; }
    void reset();

   private:
    LiveObjectTable* table_ = nullptr;
    uintptr_t handle_ = 0;
    void* object_ = nullptr;
  };

  // Enters `object` and returns its new handle, never 0 or all ones (-1) and never one in
  // use; 0 when the object is null or the table cannot grow.
  uintptr_t Add(void* object);
  // The object pinned when `handle` names a live one; an empty pin otherwise.
  Pin Acquire(uintptr_t handle);
  // Takes the object of `handle` out of the table (new Acquire calls fail at once), then
  // waits until every pin on it, except `ownPins` of the caller, has been released. False
  // when absent or already being removed.
  bool Remove(uintptr_t handle, int ownPins = 0);
  // Objects in the table, those being removed included.
  size_t Count();

 private:
  struct Entry {
    void* object = nullptr;
    int pins = 0;
    bool removed = false;
  };
  std::mutex lock_;
  std::condition_variable unpinned_;
  std::unordered_map<uintptr_t, Entry> objects_;
  uintptr_t next_ = 0x100;
};

}  // namespace platform
