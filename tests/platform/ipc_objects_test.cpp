// Named mutexes, named shared memory with its handle count, and the message pipe.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/message_pipe.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"
#include "platform/thread.h"
#include "tests/test_names.h"

namespace {

const test_names::PrivatePipeFolder g_pipes;

using namespace platform;

constexpr uint32_t kGenerous = 120000;  // ms; only a hang reaches it

std::u16string UniqueName(const char* tag) {
  static int counter = 0;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count() % 100000000;
  const std::string s = std::string("kpt") + tag + std::to_string(CurrentProcessId()) + "_" + std::to_string(now) +
                        "_" + std::to_string(++counter);
  return std::u16string(s.begin(), s.end());
}

struct MutexJob {
  const NamedMutex* mutex;
  uint32_t waitResult = 0;
  bool released = false;
  Event holding = Event::CreateLocal(true, false);
  Event finish = Event::CreateLocal(true, false);
};

// Takes the mutex and ends without releasing it.
uint32_t TakeAndEnd(void* p) {
  auto* job = static_cast<MutexJob*>(p);
  job->waitResult = job->mutex->Wait(kGenerous);
  return 0;
}

// Takes the mutex and holds it until told to finish.
uint32_t TakeAndHold(void* p) {
  auto* job = static_cast<MutexJob*>(p);
  job->waitResult = job->mutex->Wait(kGenerous);
  job->holding.Set();
  job->finish.Wait(kGenerous);
  job->released = job->mutex->Release();
  return 0;
}

uint32_t TryRelease(void* p) {
  auto* job = static_cast<MutexJob*>(p);
  job->released = job->mutex->Release();
  return 0;
}

TEST(NamedMutex, OpenNeedsAnExistingMutexAndBothNamesShareIt) {
  const std::u16string name = UniqueName("mx");
  EXPECT_FALSE(NamedMutex::OpenNamed(name.c_str()).valid());
  NamedMutex a = NamedMutex::CreateNamed(name.c_str());
  ASSERT_TRUE(a.valid());
  NamedMutex b = NamedMutex::OpenNamed(name.c_str());
  ASSERT_TRUE(b.valid());
  MutexJob job{&b};
  UniqueThread holder(CreateThread(TakeAndHold, &job, false, nullptr));
  ASSERT_EQ(job.holding.Wait(kGenerous), kWaitObject0);
  EXPECT_EQ(job.waitResult, kWaitObject0);
  EXPECT_EQ(a.Wait(20), kWaitTimeout);  // held by the other thread through the other handle
  job.finish.Set();
  ASSERT_EQ(WaitThread(holder.get(), kGenerous), kWaitObject0);
  EXPECT_TRUE(job.released);
  EXPECT_EQ(a.Wait(kGenerous), kWaitObject0);
  EXPECT_EQ(a.Wait(0), kWaitObject0);  // the owner may take it again
  EXPECT_TRUE(a.Release());
  EXPECT_TRUE(a.Release());
  EXPECT_FALSE(a.Release());  // no longer owned
}

TEST(NamedMutex, ReleaseByAThreadThatDoesNotOwnItFails) {
  NamedMutex m = NamedMutex::CreateNamed(UniqueName("own").c_str());
  ASSERT_EQ(m.Wait(0), kWaitObject0);
  MutexJob job{&m};
  UniqueThread other(CreateThread(TryRelease, &job, false, nullptr));
  ASSERT_EQ(WaitThread(other.get(), kGenerous), kWaitObject0);
  EXPECT_FALSE(job.released);
  EXPECT_TRUE(m.Release());
}

TEST(NamedMutex, OwnerThatEndsHoldingItLeavesItAbandonedOnce) {
  NamedMutex m = NamedMutex::CreateNamed(UniqueName("abandon").c_str());
  MutexJob job{&m};
  UniqueThread t(CreateThread(TakeAndEnd, &job, false, nullptr));
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  ASSERT_EQ(job.waitResult, kWaitObject0);
  EXPECT_EQ(m.Wait(kGenerous), kWaitAbandoned0);  // owned now, but reported
  EXPECT_TRUE(m.Release());
  EXPECT_EQ(m.Wait(kGenerous), kWaitObject0);
  EXPECT_TRUE(m.Release());
}

TEST(NamedMutex, InvalidMutexFails) {
  NamedMutex m;
  EXPECT_EQ(m.Wait(0), kWaitFailed);
  EXPECT_FALSE(m.Release());
  EXPECT_FALSE(NamedMutex::CreateNamed(nullptr).valid());
}

TEST(SharedMemory, CreateOpenShareBytesAndCountHandles) {
  const std::u16string name = UniqueName("shm");
  EXPECT_FALSE(SharedMemory::OpenNamed(name.c_str()).valid());
  SharedMemory a = SharedMemory::CreateNamed(name.c_str(), 5000);
  ASSERT_TRUE(a.valid());
  uint8_t* va = a.Map();
  ASSERT_NE(va, nullptr);
  // Windows may round the mapping up to whole pages.
  EXPECT_GE(a.size(), 5000u);
  EXPECT_LT(a.size(), 5000u + 65536u);
  EXPECT_EQ(va[0], 0);
  EXPECT_EQ(va[4999], 0);
  std::memcpy(va, "kestrel", 8);
  EXPECT_EQ(a.HandleCount(), 1u);
  {
    // A second create opens the same mapping, which keeps its size.
    SharedMemory b = SharedMemory::CreateNamed(name.c_str(), 100);
    ASSERT_TRUE(b.valid());
    ASSERT_NE(b.Map(), nullptr);
    EXPECT_EQ(b.size(), a.size());
    EXPECT_STREQ(reinterpret_cast<const char*>(b.view()), "kestrel");
    SharedMemory c = SharedMemory::OpenNamed(name.c_str());
    ASSERT_TRUE(c.valid());
    EXPECT_EQ(a.HandleCount(), 3u);
    b.view()[10] = 42;
  }
  EXPECT_EQ(va[10], 42);
  EXPECT_EQ(a.HandleCount(), 1u);
  // Closing the handle leaves the view usable.
  a.reset();
  EXPECT_EQ(va[10], 42);
  a.Unmap();
  EXPECT_EQ(a.view(), nullptr);
  EXPECT_FALSE(SharedMemory::OpenNamed(name.c_str()).valid());  // gone with its last handle
}

TEST(SharedMemory, BadArgumentsFail) {
  EXPECT_FALSE(SharedMemory::CreateNamed(nullptr, 10).valid());
  EXPECT_FALSE(SharedMemory::CreateNamed(UniqueName("zero").c_str(), 0).valid());
  SharedMemory none;
  EXPECT_EQ(none.Map(), nullptr);
  EXPECT_EQ(none.HandleCount(), 0u);
}

struct ServerRun {
  std::unique_ptr<MessagePipeServer> server;
  Event stop = Event::CreateLocal(true, false);
  Event gotRequest = Event::CreateLocal(true, false);
  std::vector<uint8_t> last;
  bool stopInHandler = false;
  bool result = false;
};

uint32_t Answer(void* p, const uint8_t* request, uint32_t bytes, uint8_t* reply, uint32_t capacity) {
  auto* run = static_cast<ServerRun*>(p);
  run->last.assign(request, request + bytes);
  run->gotRequest.Set();
  if (run->stopInHandler) run->stop.Set();
  if (capacity < 4 || bytes == 0) return 0;
  const uint32_t answer = bytes * 10;
  std::memcpy(reply, &answer, 4);
  return 4;
}

uint32_t Serve(void* p) {
  auto* run = static_cast<ServerRun*>(p);
  run->result = run->server->Serve(run->stop, Answer, run);
  return 0;
}

std::u16string PipeName() { return u"\\\\.\\pipe\\" + UniqueName("pipe"); }

TEST(MessagePipe, OneRequestOneReplyPerCall) {
  const std::u16string name = PipeName();
  EXPECT_EQ(CallMessagePipe(name.c_str(), "x", 1, nullptr, 0), -1);  // no server
  ServerRun run;
  run.server = MessagePipeServer::Create(name.c_str(), 200);
  ASSERT_NE(run.server, nullptr);
  EXPECT_EQ(MessagePipeServer::Create(name.c_str(), 200), nullptr);  // the name is taken
  // A client that connects before the server serves is still served.
  uint32_t reply = 0;
  UniqueThread t;
  {
    auto early = MessagePipeConnection::Connect(name.c_str());
    ASSERT_NE(early, nullptr);
    t.reset(CreateThread(Serve, &run, false, nullptr));
    // A pipe without buffer space may hold the write until the server reads.
    ASSERT_TRUE(early->Write("abc", 3));
    EXPECT_EQ(early->Read(&reply, sizeof reply), 4);
    EXPECT_EQ(reply, 30u);
  }
  for (uint32_t n : {1u, 152u, 64u}) {
    std::vector<uint8_t> req(n, static_cast<uint8_t>(n));
    reply = 0;
    EXPECT_EQ(CallMessagePipe(name.c_str(), req.data(), n, &reply, sizeof reply), 4) << n;
    EXPECT_EQ(reply, n * 10);
    EXPECT_EQ(run.last, req);
  }
  // Longer than the server's message size: no reply.
  std::vector<uint8_t> tooLong(201, 1);
  EXPECT_EQ(CallMessagePipe(name.c_str(), tooLong.data(), 201, &reply, sizeof reply), -1);
  run.stop.Set();
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  EXPECT_TRUE(run.result);
}

TEST(MessagePipe, StopEndsAnIdleServer) {
  ServerRun run;
  run.server = MessagePipeServer::Create(PipeName().c_str(), 16);
  ASSERT_NE(run.server, nullptr);
  UniqueThread t(CreateThread(Serve, &run, false, nullptr));
  run.stop.Set();
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  EXPECT_TRUE(run.result);
}

TEST(MessagePipe, StopEndsAServerWhoseClientNeverWrites) {
  const std::u16string name = PipeName();
  ServerRun run;
  run.server = MessagePipeServer::Create(name.c_str(), 16);
  ASSERT_NE(run.server, nullptr);
  UniqueThread t(CreateThread(Serve, &run, false, nullptr));
  auto silent = MessagePipeConnection::Connect(name.c_str());
  ASSERT_NE(silent, nullptr);
  EXPECT_EQ(WaitThread(t.get(), 50), kWaitTimeout);
  run.stop.Set();
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.gotRequest.Wait(0), kWaitTimeout);
}

TEST(MessagePipe, StopDuringARequestEndsTheServerAfterItsReply) {
  const std::u16string name = PipeName();
  ServerRun run;
  run.stopInHandler = true;
  run.server = MessagePipeServer::Create(name.c_str(), 16);
  ASSERT_NE(run.server, nullptr);
  UniqueThread t(CreateThread(Serve, &run, false, nullptr));
  uint32_t reply = 0;
  EXPECT_EQ(CallMessagePipe(name.c_str(), "hello", 5, &reply, sizeof reply), 4);
  EXPECT_EQ(reply, 50u);
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  EXPECT_TRUE(run.result);
}

TEST(MessagePipe, NoClientBehaviourEndsOrWedgesTheServer) {
  const std::u16string name = PipeName();
  ServerRun run;
  run.server = MessagePipeServer::Create(name.c_str(), 200);
  ASSERT_NE(run.server, nullptr);
  MessagePipeConnection::Connect(name.c_str()).reset();  // gone before the server listens
  UniqueThread t(CreateThread(Serve, &run, false, nullptr));
  struct Case {
    const char* what;
    int connections;
    const char* request;  // null: writes nothing
    bool keepOpen;        // still connected while the next client calls
  };
  const Case cases[] = {{"20 hang up at once", 20, nullptr, false},
                        {"hangs up after its request", 1, "abc", false},
                        {"never writes", 1, nullptr, true},
                        {"never reads its reply", 1, "abc", true}};
  for (const Case& c : cases) {
    std::vector<std::unique_ptr<MessagePipeConnection>> open;
    for (int i = 0; i < c.connections; ++i) {
      auto conn = MessagePipeConnection::Connect(name.c_str());
      ASSERT_NE(conn, nullptr) << c.what;
      if (c.request != nullptr) {
        EXPECT_TRUE(conn->Write(c.request, 3)) << c.what;
      }
      if (c.keepOpen) open.push_back(std::move(conn));
    }
    uint32_t reply = 0;
    EXPECT_EQ(CallMessagePipe(name.c_str(), "next", 4, &reply, sizeof reply), 4) << c.what;
    EXPECT_EQ(reply, 40u) << c.what;
    if (c.request == nullptr && c.keepOpen) {
      EXPECT_EQ(open[0]->Read(&reply, sizeof reply), -1) << c.what;  // dropped without a reply
    }
  }
  EXPECT_EQ(WaitThread(t.get(), 0), kWaitTimeout);
  run.stop.Set();
  ASSERT_EQ(WaitThread(t.get(), kGenerous), kWaitObject0);
  EXPECT_TRUE(run.result);
}

TEST(MessagePipe, ACallToAServerThatNeverAnswersGivesUp) {
  const std::u16string name = PipeName();
  const auto listening = MessagePipeServer::Create(name.c_str(), 16);  // never serves
  ASSERT_NE(listening, nullptr);
  uint32_t reply = 0;
  EXPECT_EQ(CallMessagePipe(name.c_str(), "x", 1, &reply, sizeof reply), -1);
}

}  // namespace
