// The channel library end to end: result codes, handle checks, the registration requests,
// two processes exchanging messages, a receiver killed inside its callback, the watcher's
// idle cost and a block smaller than the channel's capacity.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ipc/registration.h"
#include "ipc/tether.h"
#include "ipc/tether_channel.h"
#include "ipc/tether_instance.h"
#include "platform/child_process.h"
#include "platform/environment.h"
#include "platform/message_pipe.h"
#include "platform/shared_memory.h"
#include "platform/thread.h"
#include "tests/ipc/tether_test_support.h"

namespace {

using namespace tether_test;

const test_names::PrivatePipeFolder g_pipes;

std::string PeerPath() {
  std::string self = platform::CurrentExecutablePath();
  const size_t slash = self.find_last_of("\\/");
  const std::string dir = slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
  const bool exe = self.size() > 4 && self.compare(self.size() - 4, 4, ".exe") == 0;
  return dir + "tether_peer" + (exe ? ".exe" : "");
}

// A peer process, killed if the test ends before it does.
class Peer {
 public:
  explicit Peer(const std::vector<std::string>& args) : p_(platform::SpawnProcess(PeerPath(), args)) {}
  ~Peer() {
    if (p_ != nullptr && platform::WaitProcess(p_, 0) != platform::kWaitObject0) {
      platform::KillProcess(p_);
      platform::WaitProcess(p_, platform::kInfinite);
    }
    platform::CloseProcess(p_);
  }
  platform::ProcessObject* get() const { return p_; }
  // The exit code, or -1 when it did not end within the bound.
  int64_t Join() {
    if (platform::WaitProcess(p_, kGenerousMs) != platform::kWaitObject0) return -1;
    uint32_t code = 0;
    platform::GetProcessExitCode(p_, &code);
    return code;
  }

 private:
  platform::ProcessObject* p_;
};

// Restores the default registration pipe after each test.
class TetherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pipe_ = TestPipeName();
    SetRegistrationPipeName(pipe_.c_str());
  }
  void TearDown() override { SetRegistrationPipeName(nullptr); }
  std::u16string pipe_;
};

int32_t Invert(TetherMessageInfo* info, void* payload, void* context) {
  auto* p = static_cast<uint8_t*>(payload);
  for (uint32_t i = 0; p != nullptr && i < info->payloadLength; ++i) p[i] = static_cast<uint8_t>(~p[i]);
  if (context != nullptr) {
    auto* seen = static_cast<std::vector<TetherMessageInfo>*>(context);
    seen->push_back(*info);
  }
  return 0;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 13 + seed);
  return v;
}

std::vector<uint8_t> Inverted(std::vector<uint8_t> v) {
  for (auto& b : v) b = static_cast<uint8_t>(~b);
  return v;
}

TEST(TetherLayout, RegistrationRequestBytes) {
  struct Case {
    uint32_t command, key, capacity;
    const char16_t* name;
    size_t nameUnits;  // units expected in the field before the terminator
  };
  const std::u16string longName(80, u'x');
  const Case cases[] = {
      {0, 0x01020304, 614400, u"cam", 3},
      {1, 0xFFFFFFFF, 0, u"cam", 3},
      {0, 5, 1, longName.c_str(), 63},
      {0, 0, 0, u"", 0},
  };
  for (const Case& c : cases) {
    const RegistrationMessage m = BuildRegistrationMessage(c.command, c.key, c.name, c.capacity);
    uint8_t bytes[152];
    std::memcpy(bytes, &m, sizeof bytes);
    uint8_t expected[152] = {};
    const auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) expected[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, 12);
    put32(4, c.command);
    put32(8, 152);
    put32(12, 140);
    put32(16, c.key);
    for (size_t i = 0; i < c.nameUnits; ++i) {
      expected[20 + 2 * i] = static_cast<uint8_t>(c.name[i]);
      expected[21 + 2 * i] = static_cast<uint8_t>(c.name[i] >> 8);
    }
    put32(148, c.capacity);
    EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes)) << "command " << c.command << " units " << c.nameUnits;
  }
}

TEST_F(TetherTest, ReceiverCreationFailsWithoutARegistrationServer) {
  EXPECT_EQ(Tether_CreateInstance(MakeParams(U16(UniqueName("nosrv")), 64, kTetherRoleReceiver, 100)), kTetherNoHandle);
}

TEST_F(TetherTest, ReceiverCreationFailsWhenTheServerRefuses) {
  FakeRegistrationServer server(pipe_, 0, false, 0);
  ASSERT_TRUE(server.ok());
  EXPECT_EQ(Tether_CreateInstance(MakeParams(U16(UniqueName("refused")), 64, kTetherRoleReceiver, 100)), kTetherNoHandle);
  ASSERT_GE(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0][4], 0);  // the register request
}

TEST_F(TetherTest, RegistersOnCreateAndUnregistersOnDelete) {
  FakeRegistrationServer server(pipe_, 1, false, 0);
  ASSERT_TRUE(server.ok());
  const std::string name = UniqueName("reg");
  const TetherHandle h =
      Tether_CreateInstance(MakeParams(U16(name), 0x1234, kTetherRoleReceiver, 100, nullptr, nullptr, 0xA1B2C3D4));
  ASSERT_NE(h, kTetherNoHandle);
  Tether_DeleteInstance(h);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  for (int which = 0; which < 2; ++which) {
    std::vector<uint8_t> expected(152, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) expected[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, 12);
    put32(4, which == 0 ? 0 : 1);
    put32(8, 152);
    put32(12, 140);
    put32(16, which == 0 ? 0xA1B2C3D4 : 0xFFFFFFFF);
    for (size_t i = 0; i < name.size(); ++i) expected[20 + 2 * i] = static_cast<uint8_t>(name[i]);
    put32(148, which == 0 ? 0x1234 : 0);
    EXPECT_EQ(requests[which], expected) << (which == 0 ? "register" : "unregister");
  }
}

TEST_F(TetherTest, ResultCodesForRolesAndMissingPeers) {
  const std::u16string name = U16(UniqueName("codes"));
  const TetherHandle sender = Tether_CreateInstance(MakeParams(name, 16, kTetherRoleSender, 100));
  ASSERT_NE(sender, kTetherNoHandle);
  uint8_t buf[32] = {};
  // No receiver has opened the channel: -1 at once.
  EXPECT_EQ(Tether_SendMessage(sender, buf, sizeof buf, 0), -1);

  FakeRegistrationServer server(pipe_, 1, false, 0);
  ASSERT_TRUE(server.ok());
  const TetherHandle receiver = Tether_CreateInstance(MakeParams(name, 16, kTetherRoleReceiver, 100));
  ASSERT_NE(receiver, kTetherNoHandle);
  EXPECT_EQ(Tether_SendMessage(receiver, buf, sizeof buf, 0), -2);
  EXPECT_EQ(Tether_SendMessage(0, buf, sizeof buf, 0), -5);
  EXPECT_EQ(Tether_SendMessage(-1, buf, sizeof buf, 0), -5);
  Tether_DeleteInstance(receiver);
  Tether_DeleteInstance(sender);
}

TEST_F(TetherTest, HandlesOfNoLiveInstanceAreRefusedWithoutBeingTouched) {
  uint8_t buf[8] = {};
  // Never handed out: an address of something else, and a value that is no address at all.
  std::vector<uint8_t> fake(sizeof(CTetherInstance), 0xFF);
  for (TetherHandle bogus : {reinterpret_cast<TetherHandle>(fake.data()), TetherHandle{0x10}, TetherHandle{-2}}) {
    EXPECT_EQ(Tether_SendMessage(bogus, buf, sizeof buf, 1), -1000);
    Tether_Abort(bogus);
    Tether_DeleteInstance(bogus);
  }
  Tether_Abort(0);
  Tether_Abort(-1);
  Tether_DeleteInstance(0);
  Tether_DeleteInstance(-1);

  const TetherHandle h = Tether_CreateInstance(MakeParams(U16(UniqueName("stale")), 8, kTetherRoleSender, 100));
  ASSERT_NE(h, kTetherNoHandle);
  const TetherHandle other = Tether_CreateInstance(MakeParams(U16(UniqueName("live")), 8, kTetherRoleSender, 100));
  ASSERT_NE(other, kTetherNoHandle);
  Tether_DeleteInstance(h);
  // Deleted: refused, and deleting or aborting again is quiet.
  EXPECT_EQ(Tether_SendMessage(h, buf, sizeof buf, 0), -1000);
  Tether_Abort(h);
  Tether_DeleteInstance(h);
  // The other instance is untouched by all of it.
  EXPECT_EQ(Tether_SendMessage(other, buf, sizeof buf, 0), -1);
  Tether_DeleteInstance(other);
  EXPECT_EQ(Tether_SendMessage(other, buf, sizeof buf, 0), -1000);
}

TEST_F(TetherTest, StaleHandleNeverReachesAnInstanceCreatedInItsPlace) {
  uint8_t buf[8] = {};
  const TetherHandle stale = Tether_CreateInstance(MakeParams(U16(UniqueName("gone")), 8, kTetherRoleSender, 100));
  ASSERT_NE(stale, kTetherNoHandle);
  Tether_DeleteInstance(stale);
  // New instances of the same size take the freed memory sooner or later.
  std::vector<TetherHandle> live;
  for (int i = 0; i < 16; ++i) {
    live.push_back(Tether_CreateInstance(MakeParams(U16(UniqueName("new")), 8, kTetherRoleSender, 100)));
    ASSERT_NE(live.back(), kTetherNoHandle);
    EXPECT_NE(live.back(), stale);
    EXPECT_NE(live.back(), 0);
  }
  EXPECT_EQ(Tether_SendMessage(stale, buf, sizeof buf, 0), -1000);
  for (TetherHandle h : live) EXPECT_EQ(Tether_SendMessage(h, buf, sizeof buf, 0), -1);  // no peer yet
  for (TetherHandle h : live) Tether_DeleteInstance(h);
}

TEST_F(TetherTest, ReceiverThatNeverAcknowledgesTimesOut) {
  // Both ends in one process: the receiver leaves its own process's messages alone.
  FakeRegistrationServer server(pipe_, 1, true, 150);
  ASSERT_TRUE(server.ok());
  const TetherHandle receiver = Tether_CreateInstance(MakeParams(U16(UniqueName("noack")), 32, kTetherRoleReceiver, 150));
  ASSERT_NE(receiver, kTetherNoHandle);
  const TetherHandle sender = server.sender();
  ASSERT_NE(sender, kTetherNoHandle);
  ASSERT_TRUE(WaitForPeers(sender, 1));
  std::vector<uint8_t> buf = Pattern(32, 1);
  EXPECT_EQ(Tether_SendMessage(sender, buf.data(), 32, 0), -1);
  EXPECT_EQ(Tether_SendMessage(sender, buf.data(), 32, 1), -1);
  EXPECT_EQ(buf, Pattern(32, 1));
  Tether_DeleteInstance(receiver);
}

struct AbortProbe {
  TetherHandle handle;
  platform::Event dataEvent;
};

uint32_t AbortWhenPosted(void* p) {
  auto* probe = static_cast<AbortProbe*>(p);
  if (probe->dataEvent.Wait(kGenerousMs) != platform::kWaitObject0) return 1;
  Tether_Abort(probe->handle);
  return 0;
}

TEST_F(TetherTest, AbortReleasesAWaitingSendWhichCountsAsAcknowledged) {
  FakeRegistrationServer server(pipe_, 1, true, 60000);
  ASSERT_TRUE(server.ok());
  const std::u16string name = U16(UniqueName("abort"));
  const TetherHandle receiver = Tether_CreateInstance(MakeParams(name, 32, kTetherRoleReceiver, 60000));
  ASSERT_NE(receiver, kTetherNoHandle);
  const TetherHandle sender = server.sender();
  ASSERT_TRUE(WaitForPeers(sender, 1));
  AbortProbe probe{sender, platform::Event::OpenNamed(
                               (std::u16string(Instance(sender)->channel().baseName()) + u"_Event").c_str())};
  ASSERT_TRUE(probe.dataEvent.valid());
  platform::UniqueThread aborter(platform::CreateThread(AbortWhenPosted, &probe, false, nullptr));
  std::vector<uint8_t> buf = Pattern(20, 2);
  EXPECT_EQ(Tether_SendMessage(sender, buf.data(), 20, 0), 20);
  ASSERT_EQ(platform::WaitThread(aborter.get(), kGenerousMs), platform::kWaitObject0);
  uint32_t code = 9;
  platform::GetThreadExitCode(aborter.get(), &code);
  EXPECT_EQ(code, 0u);
  Tether_DeleteInstance(receiver);
}

TEST_F(TetherTest, WatcherDoesNotSpinOnItsOwnPendingMessage) {
  FakeRegistrationServer server(pipe_, 1, true, 100);
  ASSERT_TRUE(server.ok());
  const TetherHandle receiver = Tether_CreateInstance(MakeParams(U16(UniqueName("spin")), 32, kTetherRoleReceiver, 100));
  ASSERT_NE(receiver, kTetherNoHandle);
  const TetherHandle sender = server.sender();
  ASSERT_TRUE(WaitForPeers(sender, 1));
  uint8_t buf[32] = {};
  ASSERT_EQ(Tether_SendMessage(sender, buf, sizeof buf, 0), -1);  // the data event stays set
  platform::ThreadObject* watcher = Instance(receiver)->watcherThread();
  uint64_t before = 0, after = 0;
  ASSERT_TRUE(platform::GetThreadCpuTimeUs(watcher, &before));
  platform::Event::CreateLocal(true, false).Wait(2000);  // the measured interval
  ASSERT_TRUE(platform::GetThreadCpuTimeUs(watcher, &after));
  EXPECT_LT(after - before, 200000u) << "watcher used " << (after - before) << " us of 2 s";
  Tether_DeleteInstance(receiver);
}

TEST_F(TetherTest, ExistingBlockSmallerThanCapacityIsNeverWrittenPastItsEnd) {
  const std::u16string name = U16(UniqueName("small"));
  const std::u16string base = std::u16string(kTetherObjectPrefix) + u"_" + name;
  constexpr uint32_t kBlock = 24 + 40;
  platform::SharedMemory existing = platform::SharedMemory::CreateNamed(base.c_str(), kBlock);
  ASSERT_TRUE(existing.valid());
  ASSERT_NE(existing.Map(), nullptr);
  ASSERT_GE(existing.size(), kBlock);
  const size_t room = existing.size() - 24;  // the block as the platform sized it

  const TetherHandle sender = Tether_CreateInstance(MakeParams(name, 4096, kTetherRoleSender, 50));
  ASSERT_NE(sender, kTetherNoHandle);
  CTetherChannel& channel = Instance(sender)->channel();
  EXPECT_EQ(channel.blockSize(), existing.size());
  std::vector<uint8_t> msg = Pattern(4096, 3);
  ASSERT_TRUE(channel.Lock(1000));
  EXPECT_EQ(channel.Write(msg.data(), 4096), room);
  channel.UnlockAndSignal(CTetherChannel::Direction::Backward, false, 0);
  TetherMessageHeader h;
  std::memcpy(&h, existing.view(), sizeof h);
  EXPECT_EQ(h.payloadLength, room);
  EXPECT_EQ(0, std::memcmp(existing.view() + 24, msg.data(), room));

  // Through the export the test's own handle is the peer; nobody acknowledges.
  ASSERT_TRUE(WaitForPeers(sender, 1));
  EXPECT_EQ(Tether_SendMessage(sender, msg.data(), 4096, 0), -1);
  std::memcpy(&h, existing.view(), sizeof h);
  EXPECT_EQ(h.payloadLength, room);
  Tether_DeleteInstance(sender);
}

TEST_F(TetherTest, TwoProcessesExchangeMessagesAndRepliesAreReadBackOnlyOnRequest) {
  FakeRegistrationServer server(pipe_, 1, true, 10000);
  ASSERT_TRUE(server.ok());
  const std::string channel = UniqueName("xchg"), ready = UniqueName("ready"), quit = UniqueName("quit");
  platform::Event readyEvent = platform::Event::CreateNamed(U16(ready).c_str(), true, false);
  platform::Event quitEvent = platform::Event::CreateNamed(U16(quit).c_str(), true, false);
  constexpr uint32_t kCapacity = 1000;
  Peer peer({"receive", U8(pipe_), channel, std::to_string(kCapacity), "10000", "invert", ready, quit});
  ASSERT_NE(peer.get(), nullptr);
  ASSERT_EQ(readyEvent.Wait(kGenerousMs), platform::kWaitObject0);
  const TetherHandle sender = server.sender();
  ASSERT_NE(sender, kTetherNoHandle);
  ASSERT_TRUE(WaitForPeers(sender, 1));

  std::vector<uint8_t> buf = Pattern(kCapacity, 4);
  EXPECT_EQ(Tether_SendMessage(sender, buf.data(), kCapacity, 1), static_cast<int32_t>(kCapacity));
  EXPECT_EQ(buf, Inverted(Pattern(kCapacity, 4)));

  buf = Pattern(kCapacity, 5);
  EXPECT_EQ(Tether_SendMessage(sender, buf.data(), kCapacity, 0), static_cast<int32_t>(kCapacity));
  EXPECT_EQ(buf, Pattern(kCapacity, 5));

  // Longer than the capacity: cut, and only the part sent comes back rewritten.
  std::vector<uint8_t> big = Pattern(kCapacity + 100, 6);
  EXPECT_EQ(Tether_SendMessage(sender, big.data(), kCapacity + 100, 1), static_cast<int32_t>(kCapacity));
  std::vector<uint8_t> expected = Pattern(kCapacity + 100, 6);
  for (uint32_t i = 0; i < kCapacity; ++i) expected[i] = static_cast<uint8_t>(~expected[i]);
  EXPECT_EQ(big, expected);

  // Empty message: acknowledged with length 0.
  EXPECT_EQ(Tether_SendMessage(sender, buf.data(), 0, 1), 0);

  quitEvent.Set();
  EXPECT_EQ(peer.Join(), 0);
  // The receiver's deletion unregistered the name, which deleted the sender end.
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1][4], 1);
}

TEST_F(TetherTest, ReceiverCallbackSeesMessagesFromASenderProcess) {
  FakeRegistrationServer server(pipe_, 1, false, 0);
  ASSERT_TRUE(server.ok());
  const std::string channel = UniqueName("rev"), ready = UniqueName("ready");
  platform::Event readyEvent = platform::Event::CreateNamed(U16(ready).c_str(), true, false);
  constexpr uint32_t kCapacity = 256;
  constexpr int kCount = 5;
  Peer peer({"send", channel, std::to_string(kCapacity), "10000", std::to_string(kCount), ready});
  ASSERT_NE(peer.get(), nullptr);
  ASSERT_EQ(readyEvent.Wait(kGenerousMs), platform::kWaitObject0);  // the sender end exists
  std::vector<TetherMessageInfo> seen;
  const TetherHandle receiver =
      Tether_CreateInstance(MakeParams(U16(channel), kCapacity, kTetherRoleReceiver, 10000, Invert, &seen));
  ASSERT_NE(receiver, kTetherNoHandle);
  EXPECT_EQ(peer.Join(), 0);
  Tether_DeleteInstance(receiver);
  ASSERT_EQ(seen.size(), static_cast<size_t>(kCount));
  for (const TetherMessageInfo& info : seen) {
    EXPECT_EQ(info.size, 16u);
    EXPECT_EQ(info.senderProcessId, platform::GetProcessId(peer.get()));
    EXPECT_EQ(info.messageCode, 0u);
    EXPECT_EQ(info.payloadLength, kCapacity);
  }
}

struct SendJob {
  TetherHandle handle;
  std::vector<uint8_t> buf;
  std::atomic<int32_t> result{12345};
};

uint32_t RunSend(void* p) {
  auto* job = static_cast<SendJob*>(p);
  job->result = Tether_SendMessage(job->handle, job->buf.data(), static_cast<uint32_t>(job->buf.size()), 0);
  return 0;
}

TEST_F(TetherTest, ReceiverKilledInsideItsCallbackCostsOneLockAndDropsThePeer) {
  FakeRegistrationServer server(pipe_, 1, true, 20000);
  ASSERT_TRUE(server.ok());
  const std::string channel = UniqueName("kill"), ready = UniqueName("ready"), quit = UniqueName("quit");
  platform::Event readyEvent = platform::Event::CreateNamed(U16(ready).c_str(), true, false);
  platform::Event heldEvent = platform::Event::CreateNamed(U16(ready + "_held").c_str(), true, false);
  platform::Event quitEvent = platform::Event::CreateNamed(U16(quit).c_str(), true, false);
  Peer peer({"receive", U8(pipe_), channel, "64", "20000", "hold", ready, quit});
  ASSERT_NE(peer.get(), nullptr);
  ASSERT_EQ(readyEvent.Wait(kGenerousMs), platform::kWaitObject0);
  const TetherHandle sender = server.sender();
  ASSERT_TRUE(WaitForPeers(sender, 1));

  SendJob job;
  job.handle = sender;
  job.buf = Pattern(64, 7);
  platform::UniqueThread sending(platform::CreateThread(RunSend, &job, false, nullptr));
  ASSERT_EQ(heldEvent.Wait(kGenerousMs), platform::kWaitObject0);  // the peer holds the mutex
  ASSERT_TRUE(platform::KillProcess(peer.get()));
  ASSERT_EQ(platform::WaitProcess(peer.get(), kGenerousMs), platform::kWaitObject0);
  // The sender's watcher sees the peer go within one poll and releases the waiting send.
  ASSERT_EQ(platform::WaitThread(sending.get(), kGenerousMs), platform::kWaitObject0);
  EXPECT_EQ(job.result, 64);
  EXPECT_EQ(Instance(sender)->peerCount(), 0);
  EXPECT_EQ(Tether_SendMessage(sender, job.buf.data(), 64, 0), -1);

  CTetherChannel& ch = Instance(sender)->channel();
  EXPECT_FALSE(ch.Lock(1000));  // abandoned: released, reported as a failure
  ASSERT_TRUE(ch.Lock(1000));
  ch.UnlockAndSignal(CTetherChannel::Direction::Backward, false, 0);
}

TEST(TetherPipe, SocketPathFollowsThePipeNameAndTheDirectoryVariable) {
  if (platform::PipeSocketPath(u"\\\\.\\Pipe\\x").empty()) GTEST_SKIP() << "named pipes have no socket path";
  const auto saved = platform::GetEnvironmentValue("KESTREL_PIPE_DIR");
  platform::SetEnvironmentValue("KESTREL_PIPE_DIR", nullptr);
  EXPECT_EQ(platform::PipeSocketPath(kRegistrationPipeName), "/run/kestrel/OruVLM_E34F4402-4513-4c27-A78B-A25BFB1CCC8B");
  platform::SetEnvironmentValue("KESTREL_PIPE_DIR", "/srv/pipes");
  EXPECT_EQ(platform::PipeSocketPath(u"\\\\.\\pipe\\abc"), "/srv/pipes/abc");
  platform::SetEnvironmentValue("KESTREL_PIPE_DIR", saved ? saved->c_str() : nullptr);
}

}  // namespace
