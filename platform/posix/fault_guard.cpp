// The SIGBUS guard of shared views; see fault_guard.h. The handler reads only a fixed table
// of atomics and calls only mmap, both safe in a signal handler.
#include "platform/posix/fault_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace platform::posix {
namespace {

constexpr int kSlots = 256;

struct Slot {
  std::atomic<uintptr_t> start{0};
  std::atomic<size_t> bytes{0};
  std::atomic<bool> broken{false};
};

Slot g_slots[kSlots];
struct sigaction g_previous {};
std::atomic<bool> g_installed{false};
std::mutex g_slotLock;

void OnBusError(int sig, siginfo_t* info, void* context) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot& s : g_slots) {
    const uintptr_t start = s.start.load(std::memory_order_acquire);
    const size_t bytes = s.bytes.load(std::memory_order_acquire);
    if (start == 0 || at < start || at - start >= bytes) continue;
    void* p = ::mmap(reinterpret_cast<void*>(start), bytes, PROT_READ | PROT_WRITE,
                     MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      s.broken.store(true, std::memory_order_release);
      return;  // the access is retried on the zero pages
    }
    break;
  }
  // Not ours: what was there before decides.
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(sig, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(sig);
  } else {
    // Back to the default action: the faulting access repeats and ends the process as it
    // would have without us.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigemptyset(&dfl.sa_mask);
    ::sigaction(SIGBUS, &dfl, nullptr);
  }
}

// Puts the previous handler back when this copy of the code is unloaded, so a later SIGBUS
// never jumps into a library that is gone.
struct Uninstaller {
  ~Uninstaller() {
    if (!g_installed.load()) return;
    struct sigaction current {};
    if (::sigaction(SIGBUS, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) != 0 &&
        current.sa_sigaction == &OnBusError) {
      ::sigaction(SIGBUS, &g_previous, nullptr);
    }
  }
} g_uninstaller;

bool Install() {
  if (g_installed.load()) return true;
  struct sigaction sa {};
  sa.sa_sigaction = &OnBusError;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  ::sigemptyset(&sa.sa_mask);
  if (::sigaction(SIGBUS, &sa, &g_previous) != 0) return false;
  g_installed.store(true);
  return true;
}

}  // namespace

int GuardView(void* start, size_t bytes) {
  if (start == nullptr || bytes == 0) return -1;
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t rounded = (bytes + page - 1) / page * page;
  std::lock_guard<std::mutex> g(g_slotLock);
  if (!Install()) return -1;
  for (int i = 0; i < kSlots; ++i) {
    Slot& s = g_slots[i];
    if (s.start.load() != 0) continue;
    s.broken.store(false);
    s.bytes.store(rounded, std::memory_order_release);
    s.start.store(reinterpret_cast<uintptr_t>(start), std::memory_order_release);
    return i;
  }
  return -1;
}

void UnguardView(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  std::lock_guard<std::mutex> g(g_slotLock);
  g_slots[slot].start.store(0, std::memory_order_release);
  g_slots[slot].bytes.store(0, std::memory_order_release);
}

bool ViewBroken(int slot) {
  return slot >= 0 && slot < kSlots && g_slots[slot].broken.load(std::memory_order_acquire);
}

}  // namespace platform::posix
