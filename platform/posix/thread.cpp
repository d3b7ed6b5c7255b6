// Threads on Linux: pthreads behind a reference-counted object whose "finished" event makes
// the handle waitable, and message queues kept in a process-wide table by id. A wait that sees
// the thread finished also joins it, so the thread has left every library's code by then (a
// caller may unload the library that started it); closing a handle not joined detaches it.
#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cxxabi.h>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/posix/posix_common.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace platform {
namespace {

struct MessageQueue {
  std::mutex lock;
  std::deque<ThreadMessage> messages;
  Event available = Event::CreateLocal(true, false);  // set while messages is not empty
};

std::mutex& QueueTableLock() {
  static std::mutex m;
  return m;
}
std::unordered_map<uint32_t, std::shared_ptr<MessageQueue>>& QueueTable() {
  static auto* table = new std::unordered_map<uint32_t, std::shared_ptr<MessageQueue>>;
  return *table;
}

std::atomic<uint32_t> g_nextThreadId{0x104};
thread_local uint32_t t_threadId = 0;

uint32_t NewThreadId() { return g_nextThreadId.fetch_add(4); }

std::shared_ptr<MessageQueue> FindQueue(uint32_t id) {
  std::lock_guard<std::mutex> g(QueueTableLock());
  auto it = QueueTable().find(id);
  return it == QueueTable().end() ? nullptr : it->second;
}

void RegisterQueue(uint32_t id, std::shared_ptr<MessageQueue> q) {
  std::lock_guard<std::mutex> g(QueueTableLock());
  QueueTable()[id] = std::move(q);
}

void UnregisterQueue(uint32_t id) {
  std::lock_guard<std::mutex> g(QueueTableLock());
  QueueTable().erase(id);
}

// A queue for a thread that CreateThread did not start, made at its first use and dropped
// when the thread ends.
struct ForeignQueue {
  uint32_t id = 0;
  ~ForeignQueue() {
    if (id != 0) UnregisterQueue(id);
  }
};
thread_local ForeignQueue t_foreignQueue;

std::shared_ptr<MessageQueue> CurrentQueue() {
  const uint32_t id = CurrentThreadId();
  if (auto q = FindQueue(id)) return q;
  auto q = std::make_shared<MessageQueue>();
  RegisterQueue(id, q);
  t_foreignQueue.id = id;
  return q;
}

int NiceFor(ThreadPriority p) {
  switch (p) {
    case ThreadPriority::Idle: return 19;
    case ThreadPriority::Lowest: return 10;
    case ThreadPriority::BelowNormal: return 5;
    case ThreadPriority::Normal: return 0;
    case ThreadPriority::AboveNormal: return -5;
    case ThreadPriority::Highest: return -10;
    case ThreadPriority::TimeCritical: return -20;
  }
  return 0;
}

}  // namespace

struct ThreadObject {
  std::atomic<int> refs{2};  // the handle and the running thread
  ThreadProc proc = nullptr;
  void* arg = nullptr;
  uint32_t id = 0;
  pthread_t thread{};
  std::atomic<pid_t> kernelTid{0};
  Event resume = Event::CreateLocal(true, false);
  Event finished = Event::CreateLocal(true, false);
  std::atomic<bool> suspended{false};
  std::mutex lock;          // guards cancelable, terminated and the cancel itself
  bool cancelable = true;   // false once the thread is finishing
  bool terminated = false;
  uint32_t terminateCode = 0;
  std::atomic<uint32_t> exitCode{0};
  std::atomic<bool> ended{false};
  std::atomic<int> priority{0};
  std::shared_ptr<MessageQueue> queue;
  std::mutex reapLock;      // guards reaped and the join or detach
  bool reaped = false;      // joined or detached
};

namespace {

void Release(ThreadObject* t) {
  if (t->refs.fetch_sub(1) == 1) delete t;
}

// Joins a finished thread (which waits only for its last steps inside the C library and its
// thread-local destructors) within `timeoutMs`, or detaches one the handle no longer waits
// for (join false); once either way. False when the join timed out.
bool Reap(ThreadObject* t, bool join, uint32_t timeoutMs = kInfinite) {
  std::lock_guard<std::mutex> g(t->reapLock);
  if (t->reaped) return true;
  if (join && pthread_equal(t->thread, pthread_self())) return true;
  if (!join) {
    pthread_detach(t->thread);
  } else if (timeoutMs == kInfinite) {
    pthread_join(t->thread, nullptr);
  } else {
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    until.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000L;
    }
    if (pthread_timedjoin_np(t->thread, nullptr, &until) != 0) return false;
  }
  t->reaped = true;
  return true;
}

// A wait that saw `finished` also waits, in what is left of `timeoutMs`, for the join.
uint32_t ReapWithin(ThreadObject* t, uint32_t timeoutMs, uint64_t deadline) {
  const int left = posix::RemainingMs(timeoutMs, deadline);
  return Reap(t, true, left < 0 ? kInfinite : static_cast<uint32_t>(left)) ? kWaitObject0 : kWaitTimeout;
}

void ApplyPriority(ThreadObject* t) {
  const pid_t tid = t->kernelTid.load();
  if (tid == 0) return;
  // Raising needs CAP_SYS_NICE; without it the level is only recorded.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid),
                NiceFor(static_cast<ThreadPriority>(t->priority.load())));
}

// Runs at the end of the thread, also when a forced end unwinds it.
struct Finisher {
  ThreadObject* t;
  uint32_t result = 0;
  ~Finisher() {
    int old;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);
    {
      std::lock_guard<std::mutex> g(t->lock);
      t->cancelable = false;
      t->exitCode.store(t->terminated ? t->terminateCode : result);
    }
    UnregisterQueue(t->id);
    t->ended.store(true);
    t->finished.Set();
    Release(t);
  }
};

void* Trampoline(void* p) {
  auto* t = static_cast<ThreadObject*>(p);
  t_threadId = t->id;
  t->kernelTid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
  Finisher fin{t};
  if (t->priority.load() != 0) ApplyPriority(t);
  if (t->suspended.load()) t->resume.Wait(kInfinite);
  fin.result = t->proc(t->arg);
  return nullptr;
}

}  // namespace

ThreadObject* CreateThread(ThreadProc proc, void* arg, bool suspended, uint32_t* threadId) {
  if (proc == nullptr) return nullptr;
  auto* t = new (std::nothrow) ThreadObject;
  if (t == nullptr) return nullptr;
  if (!t->resume.valid() || !t->finished.valid()) {
    delete t;
    return nullptr;
  }
  t->proc = proc;
  t->arg = arg;
  t->id = NewThreadId();
  t->suspended.store(suspended);
  t->queue = std::make_shared<MessageQueue>();
  RegisterQueue(t->id, t->queue);
  const int rc = pthread_create(&t->thread, nullptr, Trampoline, t);
  if (rc != 0) {
    UnregisterQueue(t->id);
    delete t;
    return nullptr;
  }
  if (threadId != nullptr) *threadId = t->id;
  return t;
}

bool ResumeThread(ThreadObject* t) {
  if (t == nullptr || !t->suspended.exchange(false)) return false;
  return t->resume.Set();
}

bool SetThreadPriority(ThreadObject* t, ThreadPriority priority) {
  if (t == nullptr) return false;
  t->priority.store(static_cast<int>(priority));
  ApplyPriority(t);
  return true;
}

ThreadPriority GetThreadPriority(ThreadObject* t) {
  return t == nullptr ? ThreadPriority::Normal : static_cast<ThreadPriority>(t->priority.load());
}

uint32_t WaitThread(ThreadObject* t, uint32_t timeoutMs) {
  if (t == nullptr) return kWaitFailed;
  const uint64_t deadline = timeoutMs == kInfinite ? 0 : posix::NowMs() + timeoutMs;
  const uint32_t r = t->finished.Wait(timeoutMs);
  return r == kWaitObject0 ? ReapWithin(t, timeoutMs, deadline) : r;
}

uint32_t WaitEventOrThread(const Event& event, ThreadObject* t, uint32_t timeoutMs) {
  if (t == nullptr || !event.valid()) return kWaitFailed;
  const Event* both[] = {&event, &t->finished};
  const uint64_t deadline = timeoutMs == kInfinite ? 0 : posix::NowMs() + timeoutMs;
  const uint32_t r = WaitForAnyEvent(both, 2, timeoutMs);
  if (r != kWaitObject0 + 1) return r;
  return ReapWithin(t, timeoutMs, deadline) == kWaitObject0 ? r : kWaitTimeout;
}

bool GetThreadExitCode(ThreadObject* t, uint32_t* exitCode) {
  if (t == nullptr || exitCode == nullptr || !t->ended.load()) return false;
  *exitCode = t->exitCode.load();
  return true;
}

bool TerminateThread(ThreadObject* t, uint32_t exitCode) {
  if (t == nullptr) return false;
  std::lock_guard<std::mutex> g(t->lock);
  if (!t->cancelable) return true;  // already ending
  if (!t->terminated) {
    t->terminated = true;
    t->terminateCode = exitCode;
    pthread_cancel(t->thread);
    // A suspended thread ends at its wait for the resume.
  }
  return true;
}

bool GetThreadCpuTimeUs(ThreadObject* t, uint64_t* microseconds) {
  if (t == nullptr || microseconds == nullptr) return false;
  std::lock_guard<std::mutex> g(t->lock);
  if (!t->cancelable) return false;  // finishing: its pthread_t may no longer be valid
  clockid_t clock;
  timespec ts{};
  if (pthread_getcpuclockid(t->thread, &clock) != 0 || clock_gettime(clock, &ts) != 0) return false;
  *microseconds = static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
  return true;
}

void CloseThread(ThreadObject* t) {
  if (t == nullptr) return;
  Reap(t, false);
  Release(t);
}

uint32_t CurrentThreadId() {
  if (t_threadId == 0) t_threadId = NewThreadId();
  return t_threadId;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

bool PostThreadMessageTo(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto q = FindQueue(threadId);
  if (!q) return false;
  std::lock_guard<std::mutex> g(q->lock);
  q->messages.push_back(ThreadMessage{message, wParam, lParam});
  q->available.Set();
  return true;
}

bool PeekThreadMessage(ThreadMessage* out, bool remove) {
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> g(q->lock);
  if (q->messages.empty()) return false;
  if (out != nullptr) *out = q->messages.front();
  if (remove) {
    q->messages.pop_front();
    if (q->messages.empty()) q->available.Reset();
  }
  return true;
}

uint32_t MsgWaitForEvents(const Event* const* events, uint32_t count, uint32_t timeoutMs) {
  if (count >= kMaxWaitObjects || (count > 0 && events == nullptr)) return kWaitFailed;
  auto q = CurrentQueue();
  EventObject* objs[kMaxWaitObjects];
  for (uint32_t i = 0; i < count; ++i) {
    if (events[i] == nullptr) return kWaitFailed;
    objs[i] = events[i]->get();
  }
  objs[count] = q->available.get();
  return posix::WaitForAny(objs, count + 1, timeoutMs);
}

namespace {

// A forced end unwinds from inside the C library, past frames whose stack redzones
// AddressSanitizer never got to clear; its bookkeeping at the rethrow below would then land
// on them and fail. The thread's whole stack is cleared first: live frames lose only their
// redzone checks, and only on this rare path.
void ClearStaleStackPoison() {
#if defined(__SANITIZE_ADDRESS__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* low = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attr, &low, &size) == 0) ASAN_UNPOISON_MEMORY_REGION(low, size);
  pthread_attr_destroy(&attr);
#endif
}

}  // namespace

// The forced unwind carries no C++ object: its handler's reference is null by design, which
// the null-reference check of UBSan would report.
__attribute__((no_sanitize("null"))) void RethrowIfThreadEnd() {
  ClearStaleStackPoison();
  try {
    throw;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
  }
}

void InitializeThreadCom() {}
void UninitializeThreadCom() {}

}  // namespace platform
