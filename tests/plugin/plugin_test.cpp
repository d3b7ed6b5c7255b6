// The video plug-in: handle checks, the registration server's replies and list order, the
// fan-out by level and key with client processes, the bounded copy back and shutdown with a
// silent client connected.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ipc/registration.h"
#include "plugin/fanout_plugin.h"
#include "plugin/frameport.h"
#include "platform/child_process.h"
#include "platform/event.h"
#include "platform/message_pipe.h"
#include "platform/thread.h"
#include "tests/plugin/plugin_test_support.h"

namespace {

using namespace plugin_test;

std::string PeerPath() {
  std::string self = platform::CurrentExecutablePath();
  const size_t slash = self.find_last_of("\\/");
  const std::string dir = slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
  const bool exe = self.size() > 4 && self.compare(self.size() - 4, 4, ".exe") == 0;
  return dir + "frameport_peer" + (exe ? ".exe" : "");
}

// A YUY2 frame: the 40-byte header and its pixels, filled with a pattern.
struct Frame {
  uint8_t header[40] = {};
  std::vector<uint8_t> pixels;
  explicit Frame(uint32_t sizeImage) : pixels(sizeImage) {
    const uint32_t yuy2 = 0x32595559;
    const uint32_t forty = 40;
    std::memcpy(header, &forty, 4);
    std::memcpy(header + 16, &yuy2, 4);
    std::memcpy(header + 20, &sizeImage, 4);
    for (uint32_t i = 0; i < sizeImage; ++i) pixels[i] = static_cast<uint8_t>(i * 13 + 5);
  }
};

RegistrationMessage Request(uint32_t command, uint32_t key, const std::u16string& name, uint32_t capacity) {
  RegistrationMessage m;
  std::memset(&m, 0, sizeof m);
  m.headerSize = 12;
  m.command = command;
  m.totalLength = sizeof m;
  m.payloadLength = 140;
  m.orderingKey = key;
  for (size_t i = 0; i < name.size() && i < 64; ++i) m.name[i] = name[i];
  m.capacity = capacity;
  return m;
}

// The reply to `bytes` bytes of `request`, or -1 when none came.
int64_t Call(const std::u16string& pipe, const void* request, uint32_t bytes) {
  uint32_t reply = 0xDEADBEEF;
  const int32_t got = platform::CallMessagePipe(pipe.c_str(), request, bytes, &reply, sizeof reply);
  return got == 4 ? static_cast<int64_t>(reply) : -1;
}

// A client process, killed if the test ends before it does.
class Client {
 public:
  Client(const std::u16string& pipe, const std::string& channel, uint32_t key, uint32_t capacity, const char* mode,
         uint8_t tag)
      : ready_(UniqueName("ready")), quit_(UniqueName("quit")) {
    readyEvent_ = platform::Event::CreateNamed(U16(ready_).c_str(), true, false);
    quitEvent_ = platform::Event::CreateNamed(U16(quit_).c_str(), true, false);
    p_ = platform::SpawnProcess(PeerPath(), {"client", std::string(pipe.begin(), pipe.end()), channel,
                                             std::to_string(key), std::to_string(capacity), mode,
                                             std::to_string(tag), ready_, quit_});
  }
  ~Client() {
    quitEvent_.Set();
    if (p_ != nullptr && platform::WaitProcess(p_, kGenerousMs) != platform::kWaitObject0) {
      platform::KillProcess(p_);
      platform::WaitProcess(p_, platform::kInfinite);
    }
    platform::CloseProcess(p_);
  }
  bool WaitReady() {
    const platform::Event* events[] = {&readyEvent_};
    for (int i = 0; i < 1200; ++i) {
      if (platform::WaitForAnyEvent(events, 1, 100) == platform::kWaitObject0) return true;
      if (p_ == nullptr || platform::WaitProcess(p_, 0) == platform::kWaitObject0) return false;
    }
    return false;
  }

 private:
  std::string ready_, quit_;
  platform::Event readyEvent_, quitEvent_;
  platform::ProcessObject* p_ = nullptr;
};

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pipe_ = U16("\\\\.\\pipe\\" + UniqueName("pipe"));
    SetFrameportPipeName(pipe_.c_str());
  }
  void TearDown() override { SetFrameportPipeName(nullptr); }
  std::u16string pipe_;
};

TEST_F(PluginTest, InvalidHandlesAreRefusedWithoutEffect) {
  const uintptr_t destroyed = Frameport_Initialize();
  ASSERT_NE(destroyed, 0u);
  Frameport_UnInitialize(destroyed);
  int neverIssued = 0;
  const uintptr_t handles[] = {0, reinterpret_cast<uintptr_t>(&neverIssued), destroyed, static_cast<uintptr_t>(-1)};
  for (uintptr_t h : handles) {
    Frame f(64);
    const std::vector<uint8_t> before = f.pixels;
    EXPECT_EQ(Frameport_ProcessVideoFrame(h, f.header, f.pixels.data()), 1) << h;
    EXPECT_EQ(f.pixels, before);
    Frameport_Abort(h);
    Frameport_UnInitialize(h);
  }
  EXPECT_EQ(neverIssued, 0);
}

TEST_F(PluginTest, NoClientReturnsZeroAndLeavesPixels) {
  const uintptr_t h = Frameport_Initialize();
  ASSERT_NE(h, 0u);
  Frame f(640 * 2 * 4);
  const std::vector<uint8_t> before = f.pixels;
  EXPECT_EQ(Frameport_ProcessVideoFrame(h, f.header, f.pixels.data()), 0);
  EXPECT_EQ(f.pixels, before);
  EXPECT_EQ(Frameport_ProcessVideoFrame(h, nullptr, f.pixels.data()), 0);
  EXPECT_EQ(Frameport_ProcessVideoFrame(h, f.header, nullptr), 0);
  Frameport_Abort(h);
  Frameport_UnInitialize(h);
}

TEST_F(PluginTest, RegistrationReplies) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  const std::u16string name = U16(UniqueName("reg"));
  const RegistrationMessage reg = Request(0, 0x10005, name, 4096);

  EXPECT_EQ(Call(pipe_, &reg, sizeof reg), 1);
  EXPECT_EQ(plugin.ClientCount(), 1u);
  EXPECT_EQ(Call(pipe_, &reg, sizeof reg), 1);
  EXPECT_EQ(plugin.ClientCount(), 1u);

  const std::u16string other = U16(UniqueName("other"));
  RegistrationMessage m = Request(0, 1, other, 4096);
  struct Case {
    const char* what;
    uint32_t command;
    uint32_t bytes;
  };
  const Case rejected[] = {{"100 bytes claiming 152", 0, 100}, {"exactly 12 bytes", 0, 12}, {"command 2", 2, 152}};
  for (const Case& c : rejected) {
    m.command = c.command;
    EXPECT_EQ(Call(pipe_, &m, c.bytes), 0) << c.what;
    EXPECT_EQ(plugin.ClientCount(), 1u) << c.what;
  }

  const RegistrationMessage unknown = Request(1, 0xFFFFFFFF, U16(UniqueName("unknown")), 0);
  EXPECT_EQ(Call(pipe_, &unknown, sizeof unknown), 1);
  EXPECT_EQ(plugin.ClientCount(), 1u);
  const RegistrationMessage unreg = Request(1, 0xFFFFFFFF, name, 0);
  EXPECT_EQ(Call(pipe_, &unreg, sizeof unreg), 1);
  EXPECT_EQ(plugin.ClientCount(), 0u);
  plugin.Shutdown();
}

TEST_F(PluginTest, ShortRequestWithMatchingLengthReadsZerosBeyondIt) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  // 60 bytes: the name's first 20 characters arrive, the rest and the capacity read as 0.
  RegistrationMessage m = Request(0, 3, U16(UniqueName("short") + "_padding_padding_padding_padding"), 4096);
  m.totalLength = 60;
  EXPECT_EQ(Call(pipe_, &m, 60), 1);
  ASSERT_EQ(plugin.ClientCount(), 1u);
  EXPECT_EQ(plugin.ClientNames()[0].size(), 20u);
  plugin.Shutdown();
}

TEST_F(PluginTest, NameWithoutTerminatorIsCutTo63) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  std::string base = UniqueName("long");
  while (base.size() < 64) base += 'x';
  const RegistrationMessage m = Request(0, 3, U16(base.substr(0, 64)), 4096);
  ASSERT_NE(m.name[63], 0);
  EXPECT_EQ(Call(pipe_, &m, sizeof m), 1);
  ASSERT_EQ(plugin.ClientCount(), 1u);
  EXPECT_EQ(plugin.ClientNames()[0], U16(base.substr(0, 63)));
  // The unregister of the same unterminated field finds the entry.
  RegistrationMessage u = m;
  u.command = 1;
  EXPECT_EQ(Call(pipe_, &u, sizeof u), 1);
  EXPECT_EQ(plugin.ClientCount(), 0u);
  plugin.Shutdown();
}

TEST_F(PluginTest, LargerKeyIsServedFirstComparedUnsigned) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  const std::u16string five = U16(UniqueName("five")), nine = U16(UniqueName("nine")), high = U16(UniqueName("hi"));
  const RegistrationMessage a = Request(0, 0x70005, five, 256), b = Request(0, 0x70009, nine, 256),
                            c = Request(0, 0x80000001u, high, 256);
  EXPECT_EQ(Call(pipe_, &a, sizeof a), 1);
  EXPECT_EQ(Call(pipe_, &b, sizeof b), 1);
  EXPECT_EQ(plugin.ClientNames(), (std::vector<std::u16string>{nine, five}));
  EXPECT_EQ(Call(pipe_, &c, sizeof c), 1);
  EXPECT_EQ(plugin.ClientNames(), (std::vector<std::u16string>{high, nine, five}));
  plugin.Shutdown();
  EXPECT_EQ(plugin.ClientCount(), 0u);
}

TEST_F(PluginTest, FrameBufferGrowsToExactMessageAndNeverShrinks) {
  CFanoutPlugin plugin(pipe_.c_str());
  ASSERT_EQ(plugin.Register(U16(UniqueName("grow")).c_str(), 1, 4096), 1u);
  struct Step {
    uint32_t sizeImage;
    uint32_t capacity;
  };
  const Step steps[] = {{100, 140}, {50, 140}, {1000, 1040}, {999, 1040}};
  for (const Step& s : steps) {
    Frame f(s.sizeImage);
    const std::vector<uint8_t> before = f.pixels;
    // Nobody has the channel open: the send fails at once and the pixels stay.
    EXPECT_EQ(plugin.ProcessVideoFrame(f.header, f.pixels.data()), -1);
    EXPECT_EQ(plugin.FrameBufferCapacity(), s.capacity) << s.sizeImage;
    EXPECT_EQ(f.pixels, before);
  }
  plugin.Shutdown();
}

// Sends frames until the result equals `expected`; false when it never does.
bool WaitForResult(CFanoutPlugin& plugin, uint32_t sizeImage, const std::vector<uint8_t>& expected) {
  platform::Event never = platform::Event::CreateLocal(true, false);
  for (int i = 0; i < 12000; ++i) {
    Frame f(sizeImage);
    plugin.ProcessVideoFrame(f.header, f.pixels.data());
    if (f.pixels == expected) return true;
    never.Wait(10);
  }
  return false;
}

TEST_F(PluginTest, OnlyHighestLevelIsServedLargestKeyFirstAsAChain) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  const uint32_t sizeImage = 32 * 2 * 8;
  const uint8_t tagA = 11, tagB = 29, tagC = 71;
  Client a(pipe_, UniqueName("A"), 0x00020009, 4096, "stamp", tagA);
  Client b(pipe_, UniqueName("B"), 0x00020005, 4096, "stamp", tagB);
  Client c(pipe_, UniqueName("C"), 0x0001FFFF, 4096, "stamp", tagC);
  ASSERT_TRUE(a.WaitReady());
  ASSERT_TRUE(b.WaitReady());
  ASSERT_TRUE(c.WaitReady());
  ASSERT_EQ(plugin.ClientCount(), 3u);

  Frame original(sizeImage);
  std::vector<uint8_t> chain = original.pixels;
  for (uint8_t& p : chain) p = Stamp(Stamp(p, tagA), tagB);  // A, then B on A's result
  ASSERT_TRUE(WaitForResult(plugin, sizeImage, chain));
  for (int n = 0; n < 20; ++n) {
    Frame f(sizeImage);
    EXPECT_EQ(plugin.ProcessVideoFrame(f.header, f.pixels.data()), static_cast<int32_t>(40 + sizeImage));
    EXPECT_EQ(f.pixels, chain);
  }
  plugin.Shutdown();
}

TEST_F(PluginTest, CopyBackIgnoresAHeaderThatClaimsMore) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  const uint32_t sizeImage = 100;
  Client liar(pipe_, UniqueName("liar"), 5, 4096, "liar", 0x5A);
  ASSERT_TRUE(liar.WaitReady());
  // Exactly sizeImage bytes: a copy past them is caught by the sanitizer build.
  ASSERT_TRUE(WaitForResult(plugin, sizeImage, std::vector<uint8_t>(sizeImage, 0x5A)));
  plugin.Shutdown();
}

TEST_F(PluginTest, UnInitializeReturnsWhileAClientIsConnectedAndSilent) {
  const uintptr_t h = Frameport_Initialize();
  ASSERT_NE(h, 0u);
  auto silent = platform::MessagePipeConnection::Connect(pipe_.c_str());
  ASSERT_TRUE(silent);
  struct Ctx {
    uintptr_t h;
  } ctx{h};
  platform::UniqueThread t(platform::CreateThread(
      [](void* p) -> uint32_t {
        Frameport_UnInitialize(static_cast<Ctx*>(p)->h);
        return 0;
      },
      &ctx, false, nullptr));
  ASSERT_NE(t.get(), nullptr);
  EXPECT_EQ(platform::WaitThread(t.get(), kGenerousMs), platform::kWaitObject0);
  uint32_t reply = 0;
  EXPECT_EQ(silent->Read(&reply, sizeof reply), -1);  // closed without a reply
}

}  // namespace
