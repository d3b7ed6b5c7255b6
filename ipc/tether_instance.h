// The object behind a channel handle: one channel end, its watcher thread, and the send,
// abort and tear-down steps. Handles are checked against the table of live instances.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "ipc/tether.h"
#include "ipc/tether_channel.h"
#include "platform/event.h"
#include "platform/live_objects.h"
#include "platform/worker_thread.h"

class CTetherInstance : public CWorkerThread {
 public:
  CTetherInstance();
  ~CTetherInstance() override;

  // Registers (receiver role), opens the channel and starts the watcher. False on failure,
  // after tearing down what was built.
  bool Create(const TetherCreateParams& params);
  int32_t Send(void* buffer, uint32_t length, bool reply);
  void Abort() { channel_.SetAcknowledge(); }
  // Stops the watcher (forcing it after 3000 ms), closes the channel and, in the receiver
  // role, unregisters the name.
  void TearDown();

  // Recomputes the peer count: handles to the block minus this one's own.
  int32_t RefreshPeerCount();
  int32_t peerCount() const;
  CTetherChannel& channel() { return channel_; }
  platform::ThreadObject* watcherThread() const { return threadHandle(); }
  uint32_t pollIntervalMs() const { return timeoutMs_ < 500u ? timeoutMs_ : 500u; }

  // The table of live instances that every export consults.
  static platform::LiveObjectTable& LiveTable();

 protected:
  uint32_t ThreadBody() override;  // the watcher

 private:
  void HandleData();

  CTetherChannel channel_;
  std::recursive_mutex instanceLock_;
  platform::Event stopEvent_;
  platform::Event stoppedEvent_;
  platform::Event pauseEvent_;  // never set: the pause before a read-back waits on it, so a send allocates nothing
  uint32_t ownProcessId_ = 0;
  TetherReceiveCallback callback_ = nullptr;
  void* context_ = nullptr;
  std::atomic<int32_t> peerCount_{0};
  int32_t role_ = kTetherRoleReceiver;
  uint32_t timeoutMs_ = 0xFFFFFFFFu;
  char16_t name_[64] = {};
  bool ownMessagePending_ = false;  // watcher only: the block holds this process's own message
};
