// Threads: create (suspended or not), priority, join with a time-out, forced end, and a
// per-thread message queue with a wait that wakes on the queue or on events.
#pragma once

#include <cstdint>

#include "platform/event.h"
#include "platform/wait.h"

namespace platform {

struct ThreadObject;  // opaque; a HANDLE on Windows

// A thread's body; its result becomes the thread's exit code.
using ThreadProc = uint32_t (*)(void* arg);

// The Windows priority levels with their values.
enum class ThreadPriority : int {
  Idle = -15,
  Lowest = -2,
  BelowNormal = -1,
  Normal = 0,
  AboveNormal = 1,
  Highest = 2,
  TimeCritical = 15,
};

// Starts `proc(arg)` on a new thread with the default stack; with `suspended` it waits for
// ResumeThread before running. Every thread started here has a message queue from its first
// instruction. Returns the handle (and its id in *threadId when given), or null on failure.
// The handle must be closed with CloseThread; the thread runs on when it is closed.
ThreadObject* CreateThread(ThreadProc proc, void* arg, bool suspended, uint32_t* threadId);
// Lets a thread created suspended run. False when it was not suspended.
bool ResumeThread(ThreadObject* thread);
// On Linux a raise above Normal needs privileges; without them the level is recorded, the
// scheduler is left alone and the call still succeeds.
bool SetThreadPriority(ThreadObject* thread, ThreadPriority priority);
ThreadPriority GetThreadPriority(ThreadObject* thread);
// Waits for the thread to end: kWaitObject0, kWaitTimeout or kWaitFailed.
uint32_t WaitThread(ThreadObject* thread, uint32_t timeoutMs);
// Waits until `event` is signalled (kWaitObject0) or the thread has ended (kWaitObject0 + 1),
// or kWaitTimeout / kWaitFailed.
uint32_t WaitEventOrThread(const Event& event, ThreadObject* thread, uint32_t timeoutMs);
// The exit code of an ended thread; false while it runs.
bool GetThreadExitCode(ThreadObject* thread, uint32_t* exitCode);
// Forced end, a last resort: the thread stops without finishing its work. On Linux it ends at
// its next wait or other cancellation point, unwinding its stack. Waiting for the handle then
// succeeds and the exit code is `exitCode`.
bool TerminateThread(ThreadObject* thread, uint32_t exitCode);
// Processor time the thread has used so far (user + kernel), in microseconds; false once it
// has ended on Linux, or on failure.
bool GetThreadCpuTimeUs(ThreadObject* thread, uint64_t* microseconds);
// Releases the handle; null is ignored.
void CloseThread(ThreadObject* thread);

uint32_t CurrentThreadId();
uint32_t CurrentProcessId();

// Move-only owner of a thread handle.
class UniqueThread {
 public:
  UniqueThread() = default;
  explicit UniqueThread(ThreadObject* t) : t_(t) {}
  ~UniqueThread() { CloseThread(t_); }
  UniqueThread(UniqueThread&& o) noexcept : t_(o.release()) {}
  UniqueThread& operator=(UniqueThread&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  UniqueThread(const UniqueThread&) = delete;
  UniqueThread& operator=(const UniqueThread&) = delete;
  ThreadObject* get() const { return t_; }
  ThreadObject* release() {
    ThreadObject* t = t_;
    t_ = nullptr;
    return t;
  }
  void reset(ThreadObject* t = nullptr) {
    CloseThread(t_);
    t_ = t;
  }

 private:
  ThreadObject* t_ = nullptr;
};

// Thread messages, shaped like the Windows ones.
inline constexpr uint32_t kQuitMessage = 0x0012;  // WM_QUIT
inline constexpr uint32_t kUserMessage = 0x0400;  // WM_USER

struct ThreadMessage {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// Appends a message to the queue of thread `threadId`. False when no thread of that id has a
// queue (a thread not started by CreateThread gets one at its first Peek or wait).
bool PostThreadMessageTo(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Takes (with `remove`) or copies the oldest message of the calling thread's queue; false when
// the queue is empty.
bool PeekThreadMessage(ThreadMessage* out, bool remove);
// Waits until any of `count` events (0..kMaxWaitObjects-1) is signalled or the calling
// thread's queue holds a message: kWaitObject0 + index for an event, kWaitObject0 + count for
// the queue, kWaitTimeout or kWaitFailed. Any message already waiting wakes it, not only one
// that arrived since the last peek (MWMO_INPUTAVAILABLE).
uint32_t MsgWaitForEvents(const Event* const* events, uint32_t count, uint32_t timeoutMs);

// For a catch (...) guard at a thread's entry: rethrows when the exception in flight is the
// unwinding of a forced end (TerminateThread on Linux), which must reach the thread's start.
void RethrowIfThreadEnd();

// COM for the calling thread (single-threaded apartment); nothing to do on Linux.
void InitializeThreadCom();
void UninitializeThreadCom();

}  // namespace platform
