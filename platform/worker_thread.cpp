// The worker-thread base: start once under the start lock, run the body between the running
// event's set and reset, join in the destructor.
#include "platform/worker_thread.h"

#include "platform/exception_guard.h"

CWorkerThread::CWorkerThread() : runningEvent_(platform::Event::CreateLocal(true, false)) {}

CWorkerThread::~CWorkerThread() { ReleaseThread(); }

int CWorkerThread::Start() {
  std::lock_guard<std::mutex> lock(startLock_);
  if (threadHandle_.load() != nullptr) return 0;
  uint32_t id = 0;
  platform::ThreadObject* t = platform::CreateThread(&CWorkerThread::Entry, this, false, &id);
  if (t == nullptr) return 0;
  threadId_.store(id);
  threadHandle_.store(t);
  return 1;
}

bool CWorkerThread::IsRunning() const { return runningEvent_.Wait(0) == platform::kWaitObject0; }

void CWorkerThread::ReleaseThread() {
  platform::ThreadObject* t = threadHandle_.exchange(nullptr);
  if (t != nullptr) {
    platform::WaitThread(t, platform::kInfinite);
    platform::CloseThread(t);
  }
  threadId_.store(0);
  runningEvent_.Reset();
}

uint32_t CWorkerThread::Entry(void* self) {
  auto* worker = static_cast<CWorkerThread*>(self);
  platform::InitializeThreadCom();
  worker->runningEvent_.Set();
  const uint32_t result = platform::Guarded(0xFFFFFFFFu, [worker] { return worker->ThreadBody(); });
  worker->runningEvent_.Reset();
  platform::UninitializeThreadCom();
  return result;
}
