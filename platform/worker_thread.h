// The base of an object that owns one worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/event.h"
#include "platform/thread.h"

class CWorkerThread {
 public:
  CWorkerThread();
  // Waits without limit for the thread, so a derived class must tell its thread to stop
  // before it is destroyed.
  virtual ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // Starts the thread unless one is held: 1 only when this call created it, else 0 (also
  // when creation fails).
  int Start();

  // True while the body runs (the running event is set).
  bool IsRunning() const;
  uint32_t threadId() const { return threadId_.load(); }

 protected:
  // The thread body; its result is the thread's exit code. An exception that escapes it
  // ends the thread with 0xFFFFFFFF.
  virtual uint32_t ThreadBody() = 0;

  platform::ThreadObject* threadHandle() const { return threadHandle_.load(); }
  const platform::Event& runningEvent() const { return runningEvent_; }
  // Takes the handle by atomic exchange; if one was held, waits for the thread without a
  // time limit and closes the handle. Then clears the id and resets the running event.
  void ReleaseThread();

 private:
  static uint32_t Entry(void* self);

  std::atomic<platform::ThreadObject*> threadHandle_{nullptr};
  std::atomic<uint32_t> threadId_{0};
  platform::Event runningEvent_;
  std::mutex startLock_;
};
