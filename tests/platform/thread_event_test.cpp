// Threads, events, thread messages and the worker-thread base.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>

#include "platform/event.h"
#include "platform/thread.h"
#include "platform/worker_thread.h"

namespace {

using namespace platform;

constexpr uint32_t kGenerous = 120000;  // ms; a bound that only a hang reaches (Wine under emulation is slow)

std::u16string UniqueName(const char* tag) {
  static int counter = 0;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::string s = std::string("kestrel-test-") + tag + "-" + std::to_string(CurrentProcessId()) + "-" +
                  std::to_string(now) + "-" + std::to_string(++counter);
  return std::u16string(s.begin(), s.end());
}

uint32_t ReturnArg(void* arg) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg)); }

TEST(Thread, RunsBodyAndReportsItsResult) {
  uint32_t id = 0;
  UniqueThread t(CreateThread(ReturnArg, reinterpret_cast<void*>(uintptr_t{42}), false, &id));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, CurrentThreadId());
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  uint32_t code = 0;
  ASSERT_TRUE(GetThreadExitCode(t.get(), &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(WaitThread(t.get(), 0), kWaitObject0);  // an ended thread stays signalled
}

struct Flag {
  std::atomic<bool> ran{false};
  Event release = Event::CreateLocal(true, false);
};

uint32_t SetFlag(void* p) {
  static_cast<Flag*>(p)->ran = true;
  return 7;
}

// A thread-local object whose destructor runs as its thread leaves: it waits until the test
// lets it go, then records that it finished.
struct LastSteps {
  Event* release = nullptr;
  std::atomic<bool>* done = nullptr;
  ~LastSteps() {
    if (release != nullptr) release->Wait(kGenerous);
    if (done != nullptr) done->store(true);
  }
};

struct LastStepsArgs {
  Event entered;
  Event release;
  std::atomic<bool> done{false};
};

uint32_t BodyWithLastSteps(void* arg) {
  auto* a = static_cast<LastStepsArgs*>(arg);
  thread_local LastSteps steps;
  steps.release = &a->release;
  steps.done = &a->done;
  a->entered.Set();
  return 7;
}

TEST(Thread, WaitReturnsOnlyOnceTheThreadHasLeftAllItsCode) {
  // Whoever waits for a thread may unload the library it ran in next: the wait must not
  // return while the thread still runs its thread-local destructors.
  LastStepsArgs args;
  args.entered = Event::CreateLocal(true, false);
  args.release = Event::CreateLocal(true, false);
  UniqueThread t(CreateThread(BodyWithLastSteps, &args, false, nullptr));
  ASSERT_NE(t.get(), nullptr);
  ASSERT_EQ(args.entered.Wait(kGenerous), kWaitObject0);
  // Released from this thread: on Windows a thread started now could not begin while the
  // ending one runs its destructors under the loader lock.
  EXPECT_EQ(WaitThread(t.get(), 100), kWaitTimeout);
  EXPECT_FALSE(args.done.load());
  args.release.Set();
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  EXPECT_TRUE(args.done.load());
}

TEST(Thread, SuspendedThreadRunsOnlyAfterResume) {
  Flag flag;
  UniqueThread t(CreateThread(SetFlag, &flag, true, nullptr));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(WaitThread(t.get(), 50), kWaitTimeout);
  EXPECT_FALSE(flag.ran);
  uint32_t code = 0;
  EXPECT_FALSE(GetThreadExitCode(t.get(), &code));
  ASSERT_TRUE(ResumeThread(t.get()));
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  EXPECT_TRUE(flag.ran);
  EXPECT_FALSE(ResumeThread(t.get()));
}

uint32_t BlockForever(void* p) {
  static_cast<Flag*>(p)->ran = true;
  static_cast<Flag*>(p)->release.Wait(kInfinite);
  return 1;
}

TEST(Thread, TerminateEndsABlockedThreadWithTheGivenCode) {
  Flag flag;
  UniqueThread t(CreateThread(BlockForever, &flag, false, nullptr));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(WaitThread(t.get(), 20), kWaitTimeout);
  ASSERT_TRUE(TerminateThread(t.get(), 99));
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  uint32_t code = 0;
  ASSERT_TRUE(GetThreadExitCode(t.get(), &code));
  EXPECT_EQ(code, 99u);
}

TEST(Thread, WaitEventOrThreadReportsWhichCameFirst) {
  Flag flag;
  UniqueThread t(CreateThread(BlockForever, &flag, false, nullptr));
  Event e = Event::CreateLocal(true, false);
  EXPECT_EQ(WaitEventOrThread(e, t.get(), 10), kWaitTimeout);
  e.Set();
  EXPECT_EQ(WaitEventOrThread(e, t.get(), kGenerous), kWaitObject0);
  e.Reset();
  flag.release.Set();
  EXPECT_EQ(WaitEventOrThread(e, t.get(), kGenerous), kWaitObject0 + 1);
  EXPECT_EQ(WaitEventOrThread(Event(), t.get(), 0), kWaitFailed);
}

TEST(Thread, PriorityIsKept) {
  Flag flag;
  UniqueThread t(CreateThread(BlockForever, &flag, true, nullptr));
  ASSERT_NE(t.get(), nullptr);
  for (ThreadPriority p : {ThreadPriority::BelowNormal, ThreadPriority::TimeCritical, ThreadPriority::Normal}) {
    EXPECT_TRUE(SetThreadPriority(t.get(), p));
    EXPECT_EQ(GetThreadPriority(t.get()), p);
  }
  ResumeThread(t.get());
  flag.release.Set();
  EXPECT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
  Event e = Event::CreateLocal(true, false);
  ASSERT_TRUE(e.valid());
  EXPECT_EQ(e.Wait(0), kWaitTimeout);
  ASSERT_TRUE(e.Set());
  EXPECT_EQ(e.Wait(0), kWaitObject0);
  EXPECT_EQ(e.Wait(0), kWaitObject0);
  ASSERT_TRUE(e.Reset());
  EXPECT_EQ(e.Wait(10), kWaitTimeout);
  EXPECT_EQ(Event::CreateLocal(true, true).Wait(0), kWaitObject0);
}

TEST(Event, AutoResetReleasesOneWaitPerSet) {
  Event e = Event::CreateLocal(false, true);
  EXPECT_EQ(e.Wait(0), kWaitObject0);
  EXPECT_EQ(e.Wait(0), kWaitTimeout);
  e.Set();
  e.Set();  // sets do not add up
  EXPECT_EQ(e.Wait(0), kWaitObject0);
  EXPECT_EQ(e.Wait(0), kWaitTimeout);
}

TEST(Event, InvalidEventFails) {
  Event e;
  EXPECT_FALSE(e.Set());
  EXPECT_FALSE(e.Reset());
  EXPECT_EQ(e.Wait(0), kWaitFailed);
}

TEST(Event, WaitForAnyReportsTheLowestSignalledIndex) {
  struct Case {
    bool set[3];
    uint32_t expected;
  };
  const Case cases[] = {
      {{false, false, false}, kWaitTimeout},
      {{false, true, false}, kWaitObject0 + 1},
      {{false, true, true}, kWaitObject0 + 1},
      {{true, true, true}, kWaitObject0},
      {{false, false, true}, kWaitObject0 + 2},
  };
  for (const Case& c : cases) {
    Event a = Event::CreateLocal(true, c.set[0]), b = Event::CreateLocal(false, c.set[1]),
          d = Event::CreateLocal(true, c.set[2]);
    const Event* all[] = {&a, &b, &d};
    EXPECT_EQ(WaitForAnyEvent(all, 3, 5), c.expected);
  }
  EXPECT_EQ(WaitForAnyEvent(nullptr, 0, 0), kWaitFailed);
}

uint32_t SetAfterStart(void* p) {
  static_cast<Event*>(p)->Set();
  return 0;
}

TEST(Event, WaitWakesWhenAnotherThreadSets) {
  Event quiet = Event::CreateLocal(true, false);
  Event e = Event::CreateLocal(false, false);
  UniqueThread t(CreateThread(SetAfterStart, &e, false, nullptr));
  const Event* all[] = {&quiet, &e};
  EXPECT_EQ(WaitForAnyEvent(all, 2, kGenerous), kWaitObject0 + 1);
  EXPECT_EQ(e.Wait(0), kWaitTimeout);  // the auto-reset event was consumed by the wait
  WaitThread(t.get(), kGenerous);
}

TEST(NamedEvent, SecondCreateOpensTheSameEvent) {
  const std::u16string name = UniqueName("ev");
  EXPECT_FALSE(Event::OpenNamed(name.c_str()).valid());
  Event first = Event::CreateNamed(name.c_str(), true, false);
  ASSERT_TRUE(first.valid());
  Event second = Event::CreateNamed(name.c_str(), false, true);  // kind and state are kept
  ASSERT_TRUE(second.valid());
  Event opened = Event::OpenNamed(name.c_str());
  ASSERT_TRUE(opened.valid());
  EXPECT_EQ(second.Wait(0), kWaitTimeout);
  first.Set();
  EXPECT_EQ(second.Wait(0), kWaitObject0);
  EXPECT_EQ(opened.Wait(0), kWaitObject0);  // manual-reset: still set
  opened.Reset();
  EXPECT_EQ(first.Wait(0), kWaitTimeout);
}

TEST(NamedEvent, AutoResetKindIsSeenByOpeners) {
  const std::u16string name = UniqueName("auto");
  Event owner = Event::CreateNamed(name.c_str(), false, true);
  Event opened = Event::OpenNamed(name.c_str());
  ASSERT_TRUE(opened.valid());
  EXPECT_EQ(opened.Wait(0), kWaitObject0);
  EXPECT_EQ(owner.Wait(0), kWaitTimeout);
}

TEST(NamedEvent, GoneWhenTheLastHandleCloses) {
  const std::u16string name = UniqueName("gone");
  {
    Event e = Event::CreateNamed(name.c_str(), true, true);
    ASSERT_TRUE(e.valid());
  }
  EXPECT_FALSE(Event::OpenNamed(name.c_str()).valid());
  Event fresh = Event::CreateNamed(name.c_str(), true, false);
  EXPECT_EQ(fresh.Wait(0), kWaitTimeout);
}

struct QueueProbe {
  Event ready = Event::CreateLocal(true, false);
  Event go = Event::CreateLocal(true, false);
  std::atomic<uint32_t> received{0};
  std::atomic<uint32_t> firstWait{0};
  std::atomic<uintptr_t> sum{0};
};

// Counts messages until WM_QUIT; the first wait must wake on the queue, not time out.
uint32_t MessageLoop(void* p) {
  auto* probe = static_cast<QueueProbe*>(p);
  probe->ready.Set();
  for (;;) {
    const uint32_t r = MsgWaitForEvents(nullptr, 0, kGenerous);
    if (probe->firstWait == 0) probe->firstWait = r + 1;
    ThreadMessage m;
    while (PeekThreadMessage(&m, true)) {
      if (m.message == kQuitMessage) return static_cast<uint32_t>(m.wParam);
      probe->received++;
      probe->sum += m.wParam + static_cast<uintptr_t>(m.lParam);
    }
    if (r == kWaitTimeout || r == kWaitFailed) return 0xDEAD;
  }
}

TEST(ThreadMessages, MessagesPostedAtOnceAreDeliveredInOrderUntilQuit) {
  QueueProbe probe;
  uint32_t id = 0;
  UniqueThread t(CreateThread(MessageLoop, &probe, false, &id));
  ASSERT_NE(t.get(), nullptr);
  // Posted right after creation: the queue already exists.
  for (uintptr_t i = 1; i <= 5; ++i) ASSERT_TRUE(PostThreadMessageTo(id, kUserMessage, i, 10));
  ASSERT_TRUE(PostThreadMessageTo(id, kQuitMessage, 77, 0));
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  uint32_t code = 0;
  GetThreadExitCode(t.get(), &code);
  EXPECT_EQ(code, 77u);
  EXPECT_EQ(probe.received, 5u);
  EXPECT_EQ(probe.sum, 15u + 50u);
  EXPECT_EQ(probe.firstWait, kWaitObject0 + 1);
}

TEST(ThreadMessages, PostToAnUnknownThreadFails) {
  UniqueThread t(CreateThread(ReturnArg, nullptr, false, nullptr));
  EXPECT_FALSE(PostThreadMessageTo(0, kUserMessage, 0, 0));
  WaitThread(t.get(), kGenerous);
}

TEST(ThreadMessages, PeekWithoutRemoveKeepsTheMessage) {
  ThreadMessage m{};
  EXPECT_FALSE(PeekThreadMessage(&m, true));  // makes this thread's queue
  ASSERT_TRUE(PostThreadMessageTo(CurrentThreadId(), kUserMessage + 1, 3, 4));
  ASSERT_TRUE(PeekThreadMessage(&m, false));
  ASSERT_TRUE(PeekThreadMessage(&m, true));
  EXPECT_EQ(m.message, kUserMessage + 1);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(m.lParam, 4);
  EXPECT_FALSE(PeekThreadMessage(&m, true));
}

TEST(ThreadMessages, WaitReportsAnEventBeforeAnEmptyQueueAndTimesOut) {
  ThreadMessage m{};
  while (PeekThreadMessage(&m, true)) {
  }
  Event a = Event::CreateLocal(true, false), b = Event::CreateLocal(true, true);
  const Event* all[] = {&a, &b};
  EXPECT_EQ(MsgWaitForEvents(all, 2, kGenerous), kWaitObject0 + 1);
  b.Reset();
  EXPECT_EQ(MsgWaitForEvents(all, 2, 10), kWaitTimeout);
  ASSERT_TRUE(PostThreadMessageTo(CurrentThreadId(), kUserMessage, 0, 0));
  EXPECT_EQ(MsgWaitForEvents(all, 2, kGenerous), kWaitObject0 + 2);
  EXPECT_TRUE(PeekThreadMessage(&m, true));
}

class Worker : public CWorkerThread {
 public:
  Event stop = Event::CreateLocal(true, false);
  Event inBody = Event::CreateLocal(true, false);
  bool throwInBody = false;
  bool sawRunning = false;
  ~Worker() override {
    stop.Set();
    ReleaseThread();
  }
  using CWorkerThread::threadHandle;

 protected:
  uint32_t ThreadBody() override {
    sawRunning = IsRunning();
    inBody.Set();
    if (throwInBody) throw std::runtime_error("body failed");
    stop.Wait(kInfinite);
    return 5;
  }
};

TEST(WorkerThread, StartCreatesTheThreadOnlyOnce) {
  Worker w;
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(w.threadId(), 0u);
  EXPECT_EQ(w.Start(), 1);
  EXPECT_EQ(w.Start(), 0);
  ASSERT_EQ(w.inBody.Wait(kGenerous), kWaitObject0);
  EXPECT_TRUE(w.sawRunning);
  EXPECT_TRUE(w.IsRunning());
  EXPECT_NE(w.threadId(), 0u);
  w.stop.Set();
  ASSERT_EQ(WaitThread(w.threadHandle(), kGenerous), kWaitObject0);
  uint32_t code = 0;
  GetThreadExitCode(w.threadHandle(), &code);
  EXPECT_EQ(code, 5u);
  EXPECT_FALSE(w.IsRunning());
}

TEST(WorkerThread, ExceptionInBodyEndsThreadWithAllBitsSet) {
  Worker w;
  w.throwInBody = true;
  ASSERT_EQ(w.Start(), 1);
  ASSERT_EQ(WaitThread(w.threadHandle(), kGenerous), kWaitObject0);
  uint32_t code = 0;
  GetThreadExitCode(w.threadHandle(), &code);
  EXPECT_EQ(code, 0xFFFFFFFFu);
  EXPECT_FALSE(w.IsRunning());
}

TEST(WorkerThread, DestructorOfANeverStartedWorkerReturns) {
  Worker w;
  EXPECT_EQ(w.threadHandle(), nullptr);
}

}  // namespace
