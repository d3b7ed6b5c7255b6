// Helpers for the channel tests and the peer program: unique names, creation records, and a
// fake registration server that records every request.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ipc/registration.h"
#include "ipc/tether.h"
#include "ipc/tether_instance.h"
#include "platform/event.h"
#include "platform/message_pipe.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "tests/test_names.h"

namespace tether_test {

using test_names::kGenerousMs;
using test_names::U16;
using test_names::U8;

inline std::string UniqueName(const char* tag) { return test_names::UniqueName("kt", tag); }

inline TetherCreateParams MakeParams(const std::u16string& name, uint32_t capacity, uint8_t role, uint32_t timeoutMs,
                                     TetherReceiveCallback callback = nullptr, void* context = nullptr,
                                     uint32_t orderingKey = 0) {
  TetherCreateParams p;
  std::memset(&p, 0, sizeof p);
  p.size = sizeof p;
  platform::CopyName(p.name, name.c_str());
  p.capacity = capacity;
  p.role = role;
  p.timeoutMs = timeoutMs;
  p.callback = callback;
  p.context = context;
  p.orderingKey = orderingKey;
  return p;
}

// The instance behind a live handle (the test keeps it alive meanwhile).
inline CTetherInstance* Instance(TetherHandle h) {
  return static_cast<CTetherInstance*>(CTetherInstance::LiveTable().Acquire(static_cast<uintptr_t>(h)).get());
}

// Refreshes the peer count until it reaches `want` (the watcher refreshes it once per poll
// interval); false when it does not within a generous bound.
inline bool WaitForPeers(TetherHandle h, int32_t want) {
  platform::Event never = platform::Event::CreateLocal(true, false);
  for (int i = 0; i < 12000; ++i) {
    if (Instance(h)->RefreshPeerCount() == want) return true;
    never.Wait(10);
  }
  return false;
}

// Answers every request with `reply`; with `createSender`, a register creates the sender end
// of the channel (as the capture service does) and an unregister deletes it.
class FakeRegistrationServer {
 public:
  FakeRegistrationServer(const std::u16string& pipeName, uint32_t reply, bool createSender, uint32_t senderTimeoutMs)
      : pipeName_(pipeName), reply_(reply), createSender_(createSender), senderTimeoutMs_(senderTimeoutMs) {
    server_ = platform::MessagePipeServer::Create(pipeName_.c_str(), 1024);
    if (server_) thread_.reset(platform::CreateThread(&FakeRegistrationServer::Run, this, false, nullptr));
  }
  ~FakeRegistrationServer() {
    stop_.Set();
    if (thread_.get()) platform::WaitThread(thread_.get(), platform::kInfinite);
    if (sender_ != 0 && sender_ != kTetherNoHandle) Tether_DeleteInstance(sender_);
  }
  bool ok() const { return server_ && thread_.get() != nullptr; }

  std::vector<std::vector<uint8_t>> requests() {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
  }
  TetherHandle sender() {
    std::lock_guard<std::mutex> g(lock_);
    return sender_;
  }
  // Set after each request has been answered.
  const platform::Event& answered() const { return answered_; }

 private:
  static uint32_t Run(void* self) {
    auto* s = static_cast<FakeRegistrationServer*>(self);
    s->server_->Serve(s->stop_, &FakeRegistrationServer::Handle, s);
    return 0;
  }
  static uint32_t Handle(void* self, const uint8_t* request, uint32_t bytes, uint8_t* reply, uint32_t) {
    auto* s = static_cast<FakeRegistrationServer*>(self);
    {
      std::lock_guard<std::mutex> g(s->lock_);
      s->requests_.emplace_back(request, request + bytes);
    }
    if (s->createSender_ && bytes >= sizeof(RegistrationMessage)) {
      RegistrationMessage m;
      std::memcpy(&m, request, sizeof m);
      if (m.command == kRegistrationRegister) {
        std::u16string name(m.name, m.name + 63);
        name.resize(std::char_traits<char16_t>::length(name.c_str()));
        const TetherHandle h = Tether_CreateInstance(MakeParams(name, m.capacity, kTetherRoleSender, s->senderTimeoutMs_));
        std::lock_guard<std::mutex> g(s->lock_);
        s->sender_ = h;
      } else if (m.command == kRegistrationUnregister) {
        TetherHandle h;
        {
          std::lock_guard<std::mutex> g(s->lock_);
          h = s->sender_;
          s->sender_ = 0;
        }
        Tether_DeleteInstance(h);
      }
    }
    std::memcpy(reply, &s->reply_, 4);
    s->answered_.Set();
    return 4;
  }

  std::u16string pipeName_;
  uint32_t reply_;
  bool createSender_;
  uint32_t senderTimeoutMs_;
  std::unique_ptr<platform::MessagePipeServer> server_;
  platform::Event stop_ = platform::Event::CreateLocal(true, false);
  platform::Event answered_ = platform::Event::CreateLocal(false, false);
  platform::UniqueThread thread_;
  std::mutex lock_;
  std::vector<std::vector<uint8_t>> requests_;
  TetherHandle sender_ = 0;
};

// The pipe name a test's fake server listens on.
inline std::u16string TestPipeName() { return U16("\\\\.\\pipe\\" + UniqueName("pipe")); }

}  // namespace tether_test
