// The channel instance: creation, the send protocol, the watcher and tear-down.
#include "ipc/tether_instance.h"

#include <cstring>

#include "ipc/registration.h"
#include "platform/exception_guard.h"
#include "platform/text.h"
#include "platform/thread.h"

platform::LiveObjectTable& CTetherInstance::LiveTable() {
  static auto* table = new platform::LiveObjectTable;
  return *table;
}

CTetherInstance::CTetherInstance()
    : stopEvent_(platform::Event::CreateLocal(true, false)),
      stoppedEvent_(platform::Event::CreateLocal(true, false)),
      pauseEvent_(platform::Event::CreateLocal(true, false)) {}

CTetherInstance::~CTetherInstance() {
  // The watcher is stopped by TearDown; this only frees what is left.
  channel_.Close();
}

bool CTetherInstance::Create(const TetherCreateParams& params) {
  if (!stopEvent_.valid() || !stoppedEvent_.valid() || !pauseEvent_.valid() || !runningEvent().valid()) return false;
  char16_t name[platform::kNameUnits];
  platform::CopyName(name, params.name);
  if (params.role == kTetherRoleReceiver &&
      !SendRegistrationRequest(name, params.orderingKey, params.capacity, false)) {
    // The role is not stored yet, so this tear-down sends no unregistration.
    TearDown();
    return false;
  }
  bool opened = false;
  {
    std::lock_guard<std::recursive_mutex> lock(instanceLock_);
    role_ = params.role == kTetherRoleReceiver ? kTetherRoleReceiver : kTetherRoleSender;
    ownProcessId_ = platform::CurrentProcessId();
    callback_ = params.callback;
    context_ = params.context;
    timeoutMs_ = params.timeoutMs;
    std::memcpy(name_, name, sizeof name_);
    if (channel_.Open(params.capacity, name)) {
      stopEvent_.Reset();
      opened = Start() == 1;
    }
    peerCount_.store(0);
    RefreshPeerCount();
  }
  if (!opened) {
    TearDown();
    return false;
  }
  return true;
}

int32_t CTetherInstance::peerCount() const { return peerCount_.load(); }

int32_t CTetherInstance::RefreshPeerCount() {
  const uint32_t handles = channel_.HandleCount();
  const int32_t peers = handles == 0 ? 0 : static_cast<int32_t>(handles - 1);
  peerCount_.store(peers);
  return peers;
}

int32_t CTetherInstance::Send(void* buffer, uint32_t length, bool reply) {
  if (role_ == kTetherRoleReceiver) return kTetherReceiverOrLocked;
  // A block that a peer cut short faults like unreadable memory would on Windows.
  if (channel_.broken()) return kTetherBadHandle;
  if (peerCount() < 1) return kTetherNoPeerOrTimeout;
  std::lock_guard<std::recursive_mutex> lock(instanceLock_);
  if (!channel_.Lock(timeoutMs_)) {
    RefreshPeerCount();
    return channel_.broken() ? kTetherBadHandle : kTetherReceiverOrLocked;
  }
  int32_t result = static_cast<int32_t>(channel_.Write(buffer, length));
  if (channel_.broken()) {
    channel_.UnlockAndSignal(CTetherChannel::Direction::Forward, false, timeoutMs_);
    return kTetherBadHandle;
  }
  if (!channel_.UnlockAndSignal(CTetherChannel::Direction::Forward, true, timeoutMs_))
    result = kTetherNoPeerOrTimeout;
  if (reply) {
    pauseEvent_.Wait(2);
    if (channel_.Lock(timeoutMs_)) {
      uint32_t available = 0;
      const uint8_t* payload = channel_.Payload(&available);
      if (payload != nullptr && buffer != nullptr) std::memcpy(buffer, payload, length < available ? length : available);
      const bool foreign = channel_.header()->senderProcessId != ownProcessId_;
      channel_.UnlockAndSignal(CTetherChannel::Direction::Backward, foreign, timeoutMs_);
    }
  }
  // What was read back may be zeros from the cut on: the caller must not take it.
  if (channel_.broken()) return kTetherBadHandle;
  return result;
}

void CTetherInstance::HandleData() {
  if (!channel_.Lock(timeoutMs_)) {
    RefreshPeerCount();
    return;
  }
  const TetherMessageHeader* h = channel_.header();
  if (h->senderProcessId == ownProcessId_) {
    // Our own message stays posted: leave it for the other end and stop watching the data
    // event until the next poll, or the watcher would spin on it.
    channel_.UnlockAndSignal(CTetherChannel::Direction::Backward, false, timeoutMs_);
    ownMessagePending_ = true;
    return;
  }
  const uint32_t code = h->messageCode;
  TetherMessageInfo info{sizeof(TetherMessageInfo), h->senderProcessId, code, 0};
  uint8_t* payload = channel_.Payload(&info.payloadLength);
  if (callback_ != nullptr) platform::GuardedVoid([&] { callback_(&info, payload, context_); });
  if (code == kTetherRecountPeers) RefreshPeerCount();
  channel_.UnlockAndSignal(CTetherChannel::Direction::Backward, true, timeoutMs_);
}

uint32_t CTetherInstance::ThreadBody() {
  const uint32_t poll = pollIntervalMs();
  for (;;) {
    uint32_t w;
    // A broken block carries nothing more; its data event would only wake us in vain.
    const bool watchData = role_ == kTetherRoleReceiver && !ownMessagePending_ && !channel_.broken();
    if (watchData) {
      const platform::Event* events[] = {&stopEvent_, &channel_.dataEvent()};
      w = platform::WaitForAnyEvent(events, 2, poll);
    } else {
      w = stopEvent_.Wait(poll);
    }
    if (w == platform::kWaitObject0) break;
    if (w == platform::kWaitObject0 + 1) {
      HandleData();
    } else if (w == platform::kWaitTimeout) {
      ownMessagePending_ = false;
      const int32_t before = peerCount();
      const uint32_t handles = channel_.HandleCount();
      const int32_t now = handles == 0 ? 0 : static_cast<int32_t>(handles - 1);
      // Stored before the acknowledge event is set, so a send released by it already sees
      // the new count. A sender still waiting for a peer that has gone stops waiting.
      peerCount_.store(now);
      if (now != before && before >= 1) channel_.SetAcknowledge();
    } else if (w == platform::kWaitFailed) {
      // Should an object have gone bad, do not spin on it.
      stopEvent_.Wait(poll);
    }
  }
  stoppedEvent_.Set();
  return 0;
}

void CTetherInstance::TearDown() {
  {
    std::lock_guard<std::recursive_mutex> lock(instanceLock_);
    channel_.SetAcknowledge();
    // A watcher that was started but has not reached its body yet (thread start-up can be
    // slow) is asked to stop as well and waited for, rather than forced to end below while
    // it may be inside the loader: it sees the stop event at its first wait.
    platform::ThreadObject* watcher = threadHandle();
    bool acknowledged = false;
    if (IsRunning() || (watcher != nullptr && platform::WaitThread(watcher, 0) == platform::kWaitTimeout)) {
      stoppedEvent_.Reset();
      stopEvent_.Set();
      if (watcher != nullptr)
        acknowledged = platform::WaitEventOrThread(stoppedEvent_, watcher, platform::kInfinite) == platform::kWaitObject0;
      else
        acknowledged = stoppedEvent_.Wait(platform::kInfinite) == platform::kWaitObject0;
    } else {
      stopEvent_.Set();
    }
    // A watcher that acknowledged the stop is only leaving its thread (COM clean-up, slow
    // under emulation): ending it by force there would leave the process's COM and loader
    // state broken, so it is waited for. The forced end stays for one that never answered.
    if (platform::ThreadObject* t = threadHandle()) {
      if (!acknowledged && platform::WaitThread(t, 3000) != platform::kWaitObject0) platform::TerminateThread(t, 0);
    }
    ReleaseThread();
    channel_.Close();
  }
  if (role_ == kTetherRoleReceiver && name_[0] != 0) SendRegistrationRequest(name_, 0xFFFFFFFFu, 0, true);
}
