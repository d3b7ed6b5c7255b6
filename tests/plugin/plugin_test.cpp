// The video plug-in: handle checks, the registration server's replies and list order, the
// fan-out by level and key with sample-client processes, truncated and lying answers, a client
// killed while frames flow, hanging or killed in its callback or killed at any other step of
// its life, a frame buffer or a registration that cannot be had, registration cycles that
// must leak nothing, clients that end cleanly, and shutdown with a silent client connected.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ipc/registration.h"
#include "ipc/tether_channel.h"
#include "ipc/tether_instance.h"
#include "outside/clients/frame_effects.h"
#include "pixel/frame_format.h"
#include "plugin/fanout_plugin.h"
#include "plugin/frameport.h"
#include "platform/child_process.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/message_pipe.h"
#include "platform/process_usage.h"
#include "platform/program.h"
#include "platform/thread.h"
#include "tests/plugin/plugin_test_support.h"

// Allocation failure on demand: the next nothrow array allocation of exactly this many
// bytes (the fan-out's frame buffer) fails; every other one is served as usual.
std::atomic<size_t> g_failArrayOf{0};

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  size_t armed = n;
  if (n != 0 && g_failArrayOf.compare_exchange_strong(armed, 0)) return nullptr;
  try {
    return ::operator new[](n);
  } catch (...) {
    return nullptr;
  }
}

// The same for single objects: the next nothrow allocation of exactly this many bytes fails.
std::atomic<size_t> g_failObjectOf{0};

void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  size_t armed = n;
  if (n != 0 && g_failObjectOf.compare_exchange_strong(armed, 0)) return nullptr;
  try {
    return ::operator new(n);
  } catch (...) {
    return nullptr;
  }
}

namespace {

using namespace plugin_test;
using oruclient::Effect;

const test_names::PrivatePipeFolder g_pipes;

std::string PeerPath() { return BuildPath(std::string("tests/") + KESTREL_FRAMEPORT_PEER); }

// A YUY2 frame: the 40-byte header and its pixels, filled with a pattern.
struct Frame {
  uint8_t header[40] = {};
  std::vector<uint8_t> pixels;
  // A frame of width x height pixels.
  Frame(int32_t width, int32_t height) { Fill(width, height, DibStride(static_cast<uint32_t>(width), 16) * height); }
  // Only the size is known: no effect changes it.
  explicit Frame(uint32_t sizeImage) { Fill(0, 0, sizeImage); }
  uint32_t message() const { return 40 + static_cast<uint32_t>(pixels.size()); }

 private:
  void Fill(int32_t width, int32_t height, uint32_t sizeImage) {
    pixels.resize(sizeImage);
    const uint32_t forty = 40, yuy2 = 0x32595559;
    const uint16_t planes = 1, bits = 16;
    std::memcpy(header, &forty, 4);
    std::memcpy(header + 4, &width, 4);
    std::memcpy(header + 8, &height, 4);
    std::memcpy(header + 12, &planes, 2);
    std::memcpy(header + 14, &bits, 2);
    std::memcpy(header + 16, &yuy2, 4);
    std::memcpy(header + 20, &sizeImage, 4);
    for (uint32_t i = 0; i < sizeImage; ++i) pixels[i] = static_cast<uint8_t>(i * 13 + 5);
  }
};

// The pixels after the clients' effects, in this order, each on the one before's result.
std::vector<uint8_t> Chain(const Frame& f, std::initializer_list<Effect> effects) {
  std::vector<uint8_t> m(f.header, f.header + 40);
  m.insert(m.end(), f.pixels.begin(), f.pixels.end());
  for (Effect e : effects) oruclient::ApplyEffect(e, m.data(), static_cast<uint32_t>(m.size()));
  return std::vector<uint8_t>(m.begin() + 40, m.end());
}

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

// The name of one kernel object of channel `channel`.
std::u16string ChannelObject(const std::string& channel, const char16_t* suffix) {
  return std::u16string(kTetherObjectPrefix) + u"_" + U16(channel) + suffix;
}

// A child process, ended by force if the test leaves before it has ended.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args)
      : p_(platform::SpawnProcess(program, args)) {}
  ~Process() {
    if (p_ != nullptr && platform::WaitProcess(p_, 0) != platform::kWaitObject0) {
      platform::KillProcess(p_);
      platform::WaitProcess(p_, platform::kInfinite);
    }
    platform::CloseProcess(p_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  platform::ProcessObject* get() const { return p_; }
  bool Ended() const { return p_ == nullptr || platform::WaitProcess(p_, 0) == platform::kWaitObject0; }
  // The exit code once it has ended (within the generous bound), else -1.
  int64_t ExitCode() const {
    uint32_t code = 0;
    if (p_ == nullptr || platform::WaitProcess(p_, kGenerousMs) != platform::kWaitObject0 ||
        !platform::GetProcessExitCode(p_, &code))
      return -1;
    return code;
  }

 private:
  platform::ProcessObject* p_;
};

struct ClientOptions {
  const char* key = "1:0";
  const char* effect = "none";
  uint32_t capacity = 1 << 16;
  int64_t frames = -1;  // until told to stop
  uint32_t cycles = 1;
};

// The sample client, oruclient, on the test's registration pipe.
class Client {
 public:
  Client(const std::u16string& pipe, const ClientOptions& o)
      : channel_(UniqueName("ch")), ready_(UniqueName("ready")), quit_(UniqueName("quit")),
        countFile_(platform::JoinPath(platform::TemporaryDirectory(), UniqueName("count") + ".txt")),
        readyEvent_(platform::Event::CreateNamed(U16(ready_).c_str(), true, false)),
        quitEvent_(platform::Event::CreateNamed(U16(quit_).c_str(), true, false)),
        process_(BuildPath(KESTREL_ORUCLIENT), Arguments(pipe, o)) {}
  ~Client() {
    quitEvent_.Set();
    process_.ExitCode();
    platform::DeleteFileAt(countFile_.c_str());
  }

  bool WaitReady() {
    const platform::Event* events[] = {&readyEvent_};
    for (int i = 0; i < 1200; ++i) {
      if (platform::WaitForAnyEvent(events, 1, 100) == platform::kWaitObject0) return true;
      if (process_.Ended()) return false;
    }
    return false;
  }
  // Asks it to stop through its quit event; its exit code, or -1 when it did not end.
  int64_t Quit() {
    quitEvent_.Set();
    return process_.ExitCode();
  }
  void Kill() {
    platform::KillProcess(process_.get());
    platform::WaitProcess(process_.get(), kGenerousMs);
  }
  // The frame count it wrote when it ended, or -1.
  int64_t Count() const {
    std::FILE* f = std::fopen(countFile_.c_str(), "r");
    if (f == nullptr) return -1;
    unsigned long long n = 0;
    const bool ok = std::fscanf(f, "%llu", &n) == 1;
    std::fclose(f);
    return ok ? static_cast<int64_t>(n) : -1;
  }
  const std::string& channel() const { return channel_; }
  Process& process() { return process_; }
  const platform::Event& quitEvent() const { return quitEvent_; }

 private:
  std::vector<std::string> Arguments(const std::u16string& pipe, const ClientOptions& o) const {
    std::vector<std::string> a = {"--pipe",     U8(pipe),        "--key",         o.key,
                                  "--effect",   o.effect,        "--capacity",    std::to_string(o.capacity),
                                  "--cycles",   std::to_string(o.cycles), "--ready-event", ready_,
                                  "--quit-event", quit_,         "--count-file",  countFile_};
    if (o.frames >= 0) {
      a.push_back("--frames");
      a.push_back(std::to_string(o.frames));
    }
    a.push_back(channel_);
    return a;
  }

  std::string channel_, ready_, quit_, countFile_;
  platform::Event readyEvent_, quitEvent_;
  Process process_;
};

// The hostile client: claims a huge biSizeImage and fills the pixels with `tag`; or, as
// "hold", never returns from its first callback.
class Liar {
 public:
  Liar(const std::u16string& pipe, uint32_t key, uint8_t tag, const char* mode = "liar")
      : ready_(UniqueName("ready")), quit_(UniqueName("quit")),
        readyEvent_(platform::Event::CreateNamed(U16(ready_).c_str(), true, false)),
        quitEvent_(platform::Event::CreateNamed(U16(quit_).c_str(), true, false)),
        heldEvent_(platform::Event::CreateNamed(U16(ready_ + "_held").c_str(), true, false)),
        process_(PeerPath(), {mode, U8(pipe), UniqueName("liar"), std::to_string(key), "4096", std::to_string(tag),
                              ready_, quit_}) {}
  ~Liar() {
    quitEvent_.Set();
    process_.ExitCode();
  }
  bool WaitReady() { return readyEvent_.Wait(kGenerousMs) == platform::kWaitObject0 && !process_.Ended(); }
  // Set once a "hold" client is inside its callback.
  const platform::Event& held() const { return heldEvent_; }
  void Kill() {
    platform::KillProcess(process_.get());
    platform::WaitProcess(process_.get(), kGenerousMs);
  }

 private:
  std::string ready_, quit_;
  platform::Event readyEvent_, quitEvent_, heldEvent_;
  Process process_;
};

using ProcessFn = int32_t (*)(void* target, Frame& f);

int32_t ThroughObject(void* plugin, Frame& f) {
  return static_cast<CFanoutPlugin*>(plugin)->ProcessVideoFrame(f.header, f.pixels.data());
}

int32_t ThroughExport(void* handle, Frame& f) {
  return Frameport_ProcessVideoFrame(reinterpret_cast<uintptr_t>(handle), f.header, f.pixels.data());
}

// Sends copies of `model` until one comes back as `expected` with the result `result`; false
// when none does within a generous bound.
bool WaitForResult(ProcessFn process, void* target, const Frame& model, const std::vector<uint8_t>& expected,
                   int32_t result) {
  platform::Event never = platform::Event::CreateLocal(true, false);
  for (int i = 0; i < 12000; ++i) {
    Frame f = model;
    if (process(target, f) == result && f.pixels == expected) return true;
    never.Wait(10);
  }
  return false;
}

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
    Frame f(64u);
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
  Frame f(640, 4);
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

TEST_F(PluginTest, RequestIsReadOnlyFromTheBytesThatCame) {
  CFanoutPlugin plugin(pipe_.c_str());
  RegistrationMessage m = Request(0, 3, U16(UniqueName("exact")), 4096);
  m.totalLength = 60;
  // Exactly 60 bytes: a read of a later field is caught by the sanitizer build.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[60]);
  std::memcpy(exact.get(), &m, 60);
  EXPECT_EQ(plugin.HandleRequest(exact.get(), 60), 1u);
  EXPECT_EQ(plugin.ClientCount(), 1u);
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

TEST_F(PluginTest, OnlyHighestLevelIsServedLargestKeyFirstAsAChain) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  // A and B at level 2 (A's key larger), C at level 1 with a larger low half than both.
  // Inverting, then greying, gives chroma 128; the other order 127; B on the original frame
  // keeps the luma; C, had it run last, would mirror the rows.
  Client a(pipe_, {.key = "2:9", .effect = "invert"});
  Client b(pipe_, {.key = "2:5", .effect = "grey"});
  Client c(pipe_, {.key = "1:65535", .effect = "mirror"});
  ASSERT_TRUE(a.WaitReady());
  ASSERT_TRUE(b.WaitReady());
  ASSERT_TRUE(c.WaitReady());
  ASSERT_EQ(plugin.ClientCount(), 3u);

  const Frame model(32, 8);
  const std::vector<uint8_t> chain = Chain(model, {Effect::kInvert, Effect::kGrey});
  ASSERT_TRUE(WaitForResult(ThroughObject, &plugin, model, chain, static_cast<int32_t>(model.message())));
  for (int n = 0; n < 20; ++n) {
    Frame f = model;
    EXPECT_EQ(plugin.ProcessVideoFrame(f.header, f.pixels.data()), static_cast<int32_t>(model.message()));
    EXPECT_EQ(f.pixels, chain);
  }
  EXPECT_EQ(a.Quit(), 0);
  EXPECT_EQ(b.Quit(), 0);
  EXPECT_EQ(c.Quit(), 0);
  EXPECT_GE(a.Count(), 21);
  EXPECT_GE(b.Count(), 21);
  EXPECT_EQ(c.Count(), 0);
  EXPECT_EQ(plugin.ClientCount(), 0u);  // each unregistered on its way out
  plugin.Shutdown();
}

TEST_F(PluginTest, MessageCutToTheClientsCapacityLeavesTheRestUnchanged) {
  const Frame model(16, 4);  // 128 pixel bytes, a message of 168
  struct Case {
    const char* what;
    uint32_t capacity;
    uint32_t inverted;  // leading pixel bytes the inverting client gets
  };
  const Case cases[] = {{"cut inside the header", 20, 0},
                        {"cut inside the pixels", 40 + 50, 48},  // whole pixel pairs only
                        {"one pixel pair short", 40 + 124, 124}};
  for (const Case& c : cases) {
    CFanoutPlugin plugin(pipe_.c_str());
    plugin.StartServer();
    Client client(pipe_, {.effect = "invert", .capacity = c.capacity});
    ASSERT_TRUE(client.WaitReady()) << c.what;
    std::vector<uint8_t> expected = model.pixels;
    for (uint32_t i = 0; i < c.inverted; ++i) expected[i] = static_cast<uint8_t>(255 - expected[i]);
    EXPECT_TRUE(WaitForResult(ThroughObject, &plugin, model, expected, static_cast<int32_t>(c.capacity))) << c.what;
    plugin.Shutdown();
  }
}

TEST_F(PluginTest, CopyBackIgnoresAHeaderThatClaimsMore) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  const Frame model(100u);
  Liar liar(pipe_, 5, 0x5A);
  ASSERT_TRUE(liar.WaitReady());
  // Exactly 100 pixel bytes: a copy past them is caught by the sanitizer build.
  ASSERT_TRUE(WaitForResult(ThroughObject, &plugin, model, std::vector<uint8_t>(100, 0x5A), 140));
  plugin.Shutdown();
}

// Frames sent on another thread until told to stop; notes when the expected result comes,
// and counts the frames watched and those that did not come back as expected.
struct FrameFlow {
  FrameFlow(uintptr_t h, const Frame& m, const std::vector<uint8_t>& e, bool watching)
      : handle(h), model(&m), expected(&e), watch(watching) {}
  // The thread sending the frames.
  platform::UniqueThread Start() { return platform::UniqueThread(platform::CreateThread(&Run, this, false, nullptr)); }

  uintptr_t handle = 0;
  const Frame* model = nullptr;
  const std::vector<uint8_t>* expected = nullptr;
  std::atomic<bool> watch{false};  // look for `expected` from now on
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> watched{0}, unexpected{0};
  platform::Event seen = platform::Event::CreateLocal(true, false);

  static uint32_t Run(void* self) {
    auto* flow = static_cast<FrameFlow*>(self);
    while (!flow->stop.load()) {
      const bool watching = flow->watch.load();
      Frame f = *flow->model;
      const int32_t r = Frameport_ProcessVideoFrame(flow->handle, f.header, f.pixels.data());
      if (!watching) continue;
      const bool asExpected = r == static_cast<int32_t>(f.message()) && f.pixels == *flow->expected;
      if (asExpected) flow->seen.Set();
      ++flow->watched;
      if (!asExpected) ++flow->unexpected;
    }
    return 0;
  }
};

TEST_F(PluginTest, KilledClientLeavesTheChainToTheOthers) {
  const size_t channelsBefore = CTetherInstance::LiveTable().Count();
  const uintptr_t h = Frameport_Initialize();
  ASSERT_NE(h, 0u);
  Client a(pipe_, {.key = "3:9", .effect = "invert"});
  Client k(pipe_, {.key = "3:7", .effect = "mirror"});
  Client b(pipe_, {.key = "3:5", .effect = "grey"});
  ASSERT_TRUE(a.WaitReady());
  ASSERT_TRUE(k.WaitReady());
  ASSERT_TRUE(b.WaitReady());
  const Frame model(32, 8);
  const int32_t full = static_cast<int32_t>(model.message());
  const std::vector<uint8_t> all = Chain(model, {Effect::kInvert, Effect::kMirror, Effect::kGrey});
  const std::vector<uint8_t> rest = Chain(model, {Effect::kInvert, Effect::kGrey});
  void* target = reinterpret_cast<void*>(h);
  ASSERT_TRUE(WaitForResult(ThroughExport, target, model, all, full));

  // The middle client dies while frames flow, perhaps holding its channel's mutex.
  FrameFlow flow(h, model, rest, false);
  platform::UniqueThread sender = flow.Start();
  ASSERT_NE(sender.get(), nullptr);
  k.Kill();
  flow.watch.store(true);
  EXPECT_EQ(flow.seen.Wait(kGenerousMs), platform::kWaitObject0);
  flow.stop.store(true);
  ASSERT_EQ(platform::WaitThread(sender.get(), kGenerousMs), platform::kWaitObject0);
  EXPECT_EQ(k.process().ExitCode(), 137);  // SIGKILL, or TerminateProcess with 137

  // Every frame now goes through the two live clients and comes back to the caller.
  for (int n = 0; n < 10; ++n) {
    Frame f = model;
    EXPECT_EQ(ThroughExport(target, f), full);
    EXPECT_EQ(f.pixels, rest);
  }

  Frameport_UnInitialize(h);
  EXPECT_EQ(CTetherInstance::LiveTable().Count(), channelsBefore);  // every channel deleted
  // The dead client's channel objects went with the last handle to them.
  EXPECT_FALSE(platform::Event::OpenNamed(ChannelObject(k.channel(), u"_Event").c_str()).valid());
  EXPECT_FALSE(platform::Event::OpenNamed(ChannelObject(k.channel(), u"_Event_Read").c_str()).valid());
  EXPECT_EQ(a.Quit(), 0);
  EXPECT_EQ(b.Quit(), 0);
  EXPECT_GT(a.Count(), 10);
  EXPECT_GT(b.Count(), 10);
}

TEST_F(PluginTest, ClientHangingOrKilledInItsCallbackCostsTheOthersNoFrame) {
  for (const bool kill : {false, true}) {
    SCOPED_TRACE(kill ? "killed in its callback" : "hanging in its callback");
    const uintptr_t h = Frameport_Initialize();
    ASSERT_NE(h, 0u);
    Client good(pipe_, {.key = "2:1", .effect = "invert"});
    Liar holder(pipe_, 0x20009, 0, "hold");  // served first
    ASSERT_TRUE(good.WaitReady());
    ASSERT_TRUE(holder.WaitReady());
    const Frame model(32, 8);
    const int32_t full = static_cast<int32_t>(model.message());
    const std::vector<uint8_t> inverted = Chain(model, {Effect::kInvert});
    void* target = reinterpret_cast<void*>(h);
    // Frames pass the holder by until its end of the channel sees it; then it takes one
    // and never gives it back.
    ASSERT_TRUE(WaitForResult(ThroughExport, target, model, inverted, full));
    for (int n = 0; n < 10000 && holder.held().Wait(0) != platform::kWaitObject0; ++n) {
      Frame f = model;
      ThroughExport(target, f);
    }
    ASSERT_EQ(holder.held().Wait(0), platform::kWaitObject0);
    if (kill) holder.Kill();
    // Every frame still reaches the live client whole and comes back: the stuck or dead one
    // costs only its channel's time-outs.
    for (int n = 0; n < 4; ++n) {
      Frame f = model;
      EXPECT_EQ(ThroughExport(target, f), full) << "frame " << n;
      EXPECT_EQ(f.pixels, inverted) << "frame " << n;
    }
    Frameport_UnInitialize(h);
    EXPECT_EQ(good.Quit(), 0);
    holder.Kill();  // a hanging one would never end its watcher
  }
}

TEST_F(PluginTest, ClientKilledAtAnyStepOfItsLifeCostsTheOthersNothing) {
  struct Case {
    const char* step;  // where the peer stops to be killed
    size_t left;       // list entries it leaves behind: answered registrations never withdrawn
    bool settle;       // let the server act on what was sent before the kill
  };
  const Case cases[] = {{"register-connected", 0, false},
                        {"register-sent", 1, true},
                        {"acknowledged", 1, false},
                        {"unregister-connected", 1, false},
                        {"unregister-sent", 0, true}};
  const Frame model(32, 8);
  const int32_t full = static_cast<int32_t>(model.message());
  const std::vector<uint8_t> inverted = Chain(model, {Effect::kInvert});
  platform::Event never = platform::Event::CreateLocal(true, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    const size_t channelsBefore = CTetherInstance::LiveTable().Count();
    const uintptr_t h = Frameport_Initialize();
    ASSERT_NE(h, 0u);
    auto* plugin = static_cast<CFanoutPlugin*>(CFanoutPlugin::LiveTable().Acquire(h).get());
    Client good(pipe_, {.key = "2:1", .effect = "invert"});
    ASSERT_TRUE(good.WaitReady());
    ASSERT_TRUE(WaitForResult(ThroughExport, reinterpret_cast<void*>(h), model, inverted, full));
    FrameFlow flow(h, model, inverted, true);
    platform::UniqueThread sender = flow.Start();
    ASSERT_NE(sender.get(), nullptr);

    // Served before the good client: any of its rewritten pixels that got through would show.
    const std::string at = UniqueName("at");
    const platform::Event atEvent = platform::Event::CreateNamed(U16(at).c_str(), true, false);
    Process peer(PeerPath(), {"die-at", c.step, U8(pipe_), UniqueName("dying"), "0x20009", "4096", "90", at});
    ASSERT_EQ(atEvent.Wait(kGenerousMs), platform::kWaitObject0);
    for (int i = 0; c.settle && i < 12000 && plugin->ClientCount() != 1 + c.left; ++i) never.Wait(10);
    platform::KillProcess(peer.get());
    EXPECT_EQ(peer.ExitCode(), 137);

    const uint64_t killedAt = flow.watched.load();
    for (int i = 0; i < 12000 && flow.watched.load() < killedAt + 20; ++i) never.Wait(10);
    const RegistrationMessage later = Request(0, 1, U16(UniqueName("later")), 64);
    EXPECT_EQ(Call(pipe_, &later, sizeof later), 1);
    EXPECT_EQ(plugin->ClientCount(), 2 + c.left);
    flow.stop.store(true);
    ASSERT_EQ(platform::WaitThread(sender.get(), kGenerousMs), platform::kWaitObject0);
    EXPECT_GE(flow.watched.load(), killedAt + 20);
    EXPECT_EQ(flow.unexpected.load(), 0u);  // every frame came back whole through the good client
    EXPECT_EQ(good.Quit(), 0);
    EXPECT_EQ(plugin->ClientCount(), 1 + c.left);
    Frameport_UnInitialize(h);
    EXPECT_EQ(CTetherInstance::LiveTable().Count(), channelsBefore);
  }
}

TEST_F(PluginTest, FrameBufferThatCannotBeHadDeliversNothing) {
  const uintptr_t h = Frameport_Initialize();
  ASSERT_NE(h, 0u);
  Client a(pipe_, {.key = "1:2", .effect = "invert"});
  Client b(pipe_, {.key = "1:1", .effect = "grey"});
  ASSERT_TRUE(a.WaitReady());
  ASSERT_TRUE(b.WaitReady());
  void* target = reinterpret_cast<void*>(h);
  const Frame small(32, 8);
  ASSERT_TRUE(WaitForResult(ThroughExport, target, small, Chain(small, {Effect::kInvert, Effect::kGrey}),
                            static_cast<int32_t>(small.message())));
  // A larger frame needs a larger buffer, which is refused once: no client sees it, the
  // result says so, and the caller's pixels are as they came.
  const Frame large(52, 6);
  g_failArrayOf.store(large.message());
  Frame f = large;
  EXPECT_EQ(ThroughExport(target, f), 0);
  EXPECT_EQ(f.pixels, large.pixels);
  EXPECT_EQ(g_failArrayOf.load(), 0u);  // the failure was spent on that buffer
  // The next one gets its buffer and the whole chain.
  f = large;
  EXPECT_EQ(ThroughExport(target, f), static_cast<int32_t>(large.message()));
  EXPECT_EQ(f.pixels, Chain(large, {Effect::kInvert, Effect::kGrey}));
  Frameport_UnInitialize(h);
  EXPECT_EQ(a.Quit(), 0);
  EXPECT_EQ(b.Quit(), 0);
}

TEST_F(PluginTest, RegistrationThatCannotAllocateIsRefusedWhole) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  struct Case {
    const char* what;
    size_t bytes;
  };
  const Case cases[] = {{"the client entry", sizeof(ClientEntry)}, {"the channel", sizeof(CTetherInstance)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t channelsBefore = CTetherInstance::LiveTable().Count();
    const std::string name = UniqueName("nomem");
    const RegistrationMessage m = Request(0, 1, U16(name), 64);
    g_failObjectOf.store(c.bytes);
    EXPECT_EQ(Call(pipe_, &m, sizeof m), 0);
    EXPECT_EQ(g_failObjectOf.exchange(0), 0u);  // the failure was spent on that allocation
    EXPECT_EQ(plugin.ClientCount(), 0u);
    EXPECT_EQ(CTetherInstance::LiveTable().Count(), channelsBefore);
    EXPECT_FALSE(platform::Event::OpenNamed(ChannelObject(name, u"_Event").c_str()).valid());
    // Asked again, it is registered in full.
    EXPECT_EQ(Call(pipe_, &m, sizeof m), 1);
    EXPECT_EQ(plugin.ClientCount(), 1u);
    EXPECT_EQ(CTetherInstance::LiveTable().Count(), channelsBefore + 1);
    const RegistrationMessage gone = Request(1, 0xFFFFFFFF, U16(name), 0);
    EXPECT_EQ(Call(pipe_, &gone, sizeof gone), 1);
    EXPECT_EQ(plugin.ClientCount(), 0u);
  }
  plugin.Shutdown();
}

// What the plug-in's process holds, read once the registration server is idle.
struct Usage {
  uint32_t handles;
  uint64_t heap;
};

Usage Measure(const std::u16string& pipe) {
  // The server answers one request at a time, so once it has hung up on this one, every
  // connection it had is closed on its side.
  const RegistrationMessage idle = Request(1, 0xFFFFFFFF, U16(UniqueName("idle")), 0);
  if (auto c = platform::MessagePipeConnection::Connect(pipe.c_str())) {
    uint32_t reply = 0;
    if (c->Write(&idle, sizeof idle) && c->Read(&reply, sizeof reply) == 4) c->Read(&reply, sizeof reply);
  }
  return {platform::ProcessHandleCount(), platform::HeapBytesInUse()};
}

TEST_F(PluginTest, RegistrationCyclesWhileFramesFlowLeakNothing) {
  const uintptr_t h = Frameport_Initialize();
  ASSERT_NE(h, 0u);
  void* target = reinterpret_cast<void*>(h);
  auto* plugin = static_cast<CFanoutPlugin*>(CFanoutPlugin::LiveTable().Acquire(h).get());
  // A steady client gets every frame; the cycling one, at the same level with a larger key,
  // registers and unregisters again and again in its own process.
  Client steady(pipe_, {.key = "2:0", .effect = "invert"});
  ASSERT_TRUE(steady.WaitReady());
  const Frame model(64, 16);
  const int32_t full = static_cast<int32_t>(model.message());
  const std::vector<uint8_t> inverted = Chain(model, {Effect::kInvert});
  ASSERT_TRUE(WaitForResult(ThroughExport, target, model, inverted, full));

  // Sends frames, each checked, until the cycling client has ended; its exit code.
  const auto cycle = [&](uint32_t cycles) -> int64_t {
    Client cycling(pipe_, {.key = "2:1", .frames = 0, .cycles = cycles});
    int bad = 0;
    for (uint64_t n = 0; !cycling.process().Ended() && n < 10000000; ++n) {
      Frame f = model;
      if (ThroughExport(target, f) != full || f.pixels != inverted) ++bad;
    }
    EXPECT_EQ(bad, 0) << cycles << " cycles";
    EXPECT_EQ(cycling.Count(), 0);
    return cycling.process().ExitCode();
  };

  ASSERT_EQ(cycle(10), 0);  // warm-up: arenas, thread caches, the first channels
  platform::Event never = platform::Event::CreateLocal(true, false);  // before the count
  const Usage before = Measure(pipe_);
  ASSERT_EQ(cycle(200), 0);
  EXPECT_EQ(plugin->ClientCount(), 1u);

  // A handle or a client entry per cycle would show; the allocator's caches are allowed a
  // little slack. Measured again a few times, in case a thread was still between two steps.
  constexpr uint64_t kHeapSlack = 12 * 1024;
  Usage after{};
  for (int i = 0; i < 100; ++i) {
    Frame f = model;
    ThroughExport(target, f);
    after = Measure(pipe_);
    if (after.handles <= before.handles && after.heap <= before.heap + kHeapSlack) break;
    never.Wait(20);
  }
  EXPECT_LE(after.handles, before.handles);
  EXPECT_LE(after.heap, before.heap + kHeapSlack) << "heap before " << before.heap;
  EXPECT_EQ(steady.Quit(), 0);
  Frameport_UnInitialize(h);
}

TEST_F(PluginTest, ClientEndsCleanlyAndUnregisters) {
  enum class End { kAfterFrames, kQuitEvent, kStopRequest };
  struct Case {
    const char* what;
    End end;
  };
  const Case cases[] = {{"after 5 frames", End::kAfterFrames},
                        {"quit event", End::kQuitEvent},
                        {"stop request (SIGTERM)", End::kStopRequest}};
  const Frame model(32, 4);
  const std::vector<uint8_t> inverted = Chain(model, {Effect::kInvert});
  for (const Case& c : cases) {
    const size_t channelsBefore = CTetherInstance::LiveTable().Count();
    CFanoutPlugin plugin(pipe_.c_str());
    plugin.StartServer();
    ClientOptions o{.effect = "invert"};
    if (c.end == End::kAfterFrames) o.frames = 5;
    Client client(pipe_, o);
    ASSERT_TRUE(client.WaitReady()) << c.what;
    ASSERT_EQ(plugin.ClientCount(), 1u) << c.what;
    int changed = 0;
    if (c.end != End::kAfterFrames) {
      ASSERT_TRUE(WaitForResult(ThroughObject, &plugin, model, inverted, static_cast<int32_t>(model.message())));
      ++changed;
      if (c.end == End::kQuitEvent) {
        client.quitEvent().Set();
      } else if (!platform::RequestProcessStop(client.process().get())) {
        client.Quit();
        plugin.Shutdown();
        continue;  // no such request to a console program here (Windows)
      }
    }
    // Frames keep coming while it ends.
    for (uint64_t n = 0; !client.process().Ended() && n < 10000000; ++n) {
      Frame f = model;
      plugin.ProcessVideoFrame(f.header, f.pixels.data());
      if (f.pixels == inverted) ++changed;
    }
    EXPECT_EQ(client.process().ExitCode(), 0) << c.what;
    EXPECT_EQ(client.Count(), changed) << c.what;
    if (c.end == End::kAfterFrames) {
      EXPECT_EQ(changed, 5);
    }
    EXPECT_EQ(plugin.ClientCount(), 0u) << c.what;
    EXPECT_EQ(CTetherInstance::LiveTable().Count(), channelsBefore) << c.what;
    plugin.Shutdown();
  }
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

TEST_F(PluginTest, HostileConnectionsStopNeitherRegistrationsNorFrames) {
  const uintptr_t h = Frameport_Initialize();
  ASSERT_NE(h, 0u);
  platform::MessagePipeConnection::Connect(pipe_.c_str()).reset();  // likely before the server listens
  Client steady(pipe_, {.key = "2:0", .effect = "invert"});
  ASSERT_TRUE(steady.WaitReady());
  const Frame model(64, 16);
  const std::vector<uint8_t> inverted = Chain(model, {Effect::kInvert});
  ASSERT_TRUE(WaitForResult(ThroughExport, reinterpret_cast<void*>(h), model, inverted,
                            static_cast<int32_t>(model.message())));
  FrameFlow flow(h, model, inverted, true);
  platform::UniqueThread sender = flow.Start();
  ASSERT_NE(sender.get(), nullptr);

  struct Case {
    const char* what;
    int hangUps;          // connect-and-close clients in one burst, from another process
    bool silent;          // a client that connects and never writes
    uint32_t extraBytes;  // a request this long, more than the server takes
  };
  const Case cases[] = {{"20 connect-and-close in a burst", 20, false, 0},
                        {"a client that never writes", 0, true, 0},
                        {"a request of 2000 bytes", 0, false, 2000}};
  for (const Case& c : cases) {
    // Real registrations (a lower level: no frames for it) while the hostile client acts.
    Client cycling(pipe_, {.key = "1:0", .frames = 0, .cycles = 3});
    std::unique_ptr<platform::MessagePipeConnection> silent;
    if (c.silent) silent = platform::MessagePipeConnection::Connect(pipe_.c_str());
    if (c.hangUps > 0) {
      Process hangUps(PeerPath(), {"hangup", U8(pipe_), std::to_string(c.hangUps)});
      EXPECT_EQ(hangUps.ExitCode(), 0) << c.what;
    }
    if (c.extraBytes > 0) {
      RegistrationMessage big = Request(0, 1, U16(UniqueName("big")), 64);
      std::vector<uint8_t> bytes(c.extraBytes, 0);
      big.totalLength = c.extraBytes;
      std::memcpy(bytes.data(), &big, sizeof big);
      EXPECT_EQ(Call(pipe_, bytes.data(), c.extraBytes), -1) << c.what;  // no reply
    }
    EXPECT_EQ(cycling.process().ExitCode(), 0) << c.what;  // each of its registrations answered 1
    if (silent) {
      uint32_t reply = 0;
      EXPECT_EQ(silent->Read(&reply, sizeof reply), -1) << c.what;  // dropped without a reply
    }
  }
  flow.stop.store(true);
  ASSERT_EQ(platform::WaitThread(sender.get(), kGenerousMs), platform::kWaitObject0);
  EXPECT_GT(flow.watched.load(), 0u);
  EXPECT_EQ(flow.unexpected.load(), 0u);  // the registered client had every frame
  {
    // A handle is a number, not the object's address: the object comes from the live table.
    platform::LiveObjectTable::Pin pin = CFanoutPlugin::LiveTable().Acquire(h);
    ASSERT_TRUE(pin);
    EXPECT_EQ(static_cast<CFanoutPlugin*>(pin.get())->ClientCount(), 1u);
  }
  EXPECT_EQ(steady.Quit(), 0);
  Frameport_UnInitialize(h);
}

TEST_F(PluginTest, RefusalsLeaveTheRegisteredClientsAlone) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  Client steady(pipe_, {.key = "2:0", .effect = "invert"});
  ASSERT_TRUE(steady.WaitReady());
  struct Case {
    const char* what;
    uint32_t capacity;
    int64_t reply;
  };
  const uint32_t largest = 40 + 7680 * 4320 * 2;  // a 7680x4320 YUY2 frame and its header
  const Case cases[] = {{"capacity 0xFFFFFFFF", 0xFFFFFFFFu, 0},
                        {"one byte past the largest frame", largest + 1, 0},
                        {"the largest frame", largest, 1}};
  for (const Case& c : cases) {
    const size_t before = plugin.ClientCount();
    const RegistrationMessage m = Request(0, 1, U16(UniqueName("cap")), c.capacity);
    EXPECT_EQ(Call(pipe_, &m, sizeof m), c.reply) << c.what;
    EXPECT_EQ(plugin.ClientCount(), before + c.reply) << c.what;
  }
  // Up to the process's bound; then only names already registered are answered 1.
  const size_t bound = ClientLimit(platform::DescriptorLimit());
  ASSERT_GE(bound, 32u);
  std::vector<RegistrationMessage> more;
  while (plugin.ClientCount() < bound) {
    more.push_back(Request(0, 1, U16(UniqueName("fill")), 64));
    ASSERT_EQ(Call(pipe_, &more.back(), sizeof more.back()), 1);
  }
  const RegistrationMessage extra = Request(0, 1, U16(UniqueName("extra")), 64);
  EXPECT_EQ(Call(pipe_, &extra, sizeof extra), 0);
  EXPECT_EQ(Call(pipe_, &more[0], sizeof more[0]), 1);
  EXPECT_EQ(plugin.ClientCount(), bound);

  const Frame model(32, 4);
  EXPECT_TRUE(WaitForResult(ThroughObject, &plugin, model, Chain(model, {Effect::kInvert}),
                            static_cast<int32_t>(model.message())));
  RegistrationMessage gone = more[0];
  gone.command = 1;
  EXPECT_EQ(Call(pipe_, &gone, sizeof gone), 1);
  EXPECT_EQ(Call(pipe_, &extra, sizeof extra), 1);  // a place is free again
  EXPECT_EQ(steady.Quit(), 0);
  plugin.Shutdown();
}

TEST_F(PluginTest, ConcurrentClientsAreAllRegistered) {
  CFanoutPlugin plugin(pipe_.c_str());
  plugin.StartServer();
  // 32 processes at once, each creating and deleting its receiver 10 times: every one of the
  // 640 registrations must be answered 1 (a refused one ends its process with 4).
  std::vector<std::unique_ptr<Process>> clients;
  std::vector<std::string> usage;
  for (int i = 0; i < 32; ++i) {
    usage.push_back(platform::JoinPath(platform::TemporaryDirectory(), UniqueName("burst")));
    clients.push_back(std::make_unique<Process>(
        PeerPath(), std::vector<std::string>{"cycles", U8(pipe_), UniqueName("burst"), "10", usage.back()}));
  }
  for (size_t i = 0; i < clients.size(); ++i) {
    EXPECT_EQ(clients[i]->ExitCode(), 0) << "client " << i;
    platform::DeleteFileAt(usage[i].c_str());
  }
  EXPECT_EQ(plugin.ClientCount(), 0u);
  plugin.Shutdown();
}

TEST_F(PluginTest, RegistrationsNearTheDescriptorLimitAreRefusedNotLeftWithoutAChannel) {
  // A host allowed 128 descriptors (where the platform has such a limit), sending frames.
  const std::string ready = UniqueName("ready"), quit = UniqueName("quit");
  platform::Event readyEvent = platform::Event::CreateNamed(U16(ready).c_str(), true, false);
  platform::Event quitEvent = platform::Event::CreateNamed(U16(quit).c_str(), true, false);
  Process host(PeerPath(), {"serve", U8(pipe_), "128", ready, quit});
  ASSERT_EQ(readyEvent.Wait(kGenerousMs), platform::kWaitObject0);

  // Registrations that never open their end, until one is refused.
  std::vector<std::string> names;
  int64_t reply = 1;
  for (int i = 0; i < 200 && reply == 1; ++i) {
    names.push_back(UniqueName("fd"));
    const RegistrationMessage m = Request(0, 0x10000, U16(names.back()), 4096);
    reply = Call(pipe_, &m, sizeof m);
  }
  ASSERT_EQ(reply, 0);
  names.pop_back();
  for (const std::string& name : names)
    EXPECT_TRUE(platform::Event::OpenNamed(ChannelObject(name, u"_Event").c_str()).valid()) << name;

  // One place given back: a client taking it gets its frames.
  const RegistrationMessage gone = Request(1, 0xFFFFFFFF, U16(names.back()), 0);
  EXPECT_EQ(Call(pipe_, &gone, sizeof gone), 1);
  Client late(pipe_, {.key = "2:0", .frames = 20});
  EXPECT_EQ(late.process().ExitCode(), 0);
  EXPECT_EQ(late.Count(), 20);
  quitEvent.Set();
  EXPECT_EQ(host.ExitCode(), 0);
}

TEST_F(PluginTest, ServerTakesItsNameOnceAnotherListenerLetsGo) {
  auto holder = platform::MessagePipeServer::Create(pipe_.c_str(), 16);
  ASSERT_NE(holder, nullptr);
  const uintptr_t h = Frameport_Initialize();
  ASSERT_NE(h, 0u);  // handed out all the same
  holder.reset();
  const RegistrationMessage m = Request(0, 1, U16(UniqueName("late")), 64);
  platform::Event never = platform::Event::CreateLocal(true, false);
  bool registered = false;
  for (int i = 0; i < 12000 && !registered; ++i) {
    registered = Call(pipe_, &m, sizeof m) == 1;
    if (!registered) never.Wait(10);
  }
  EXPECT_TRUE(registered);
  Frameport_UnInitialize(h);
}

}  // namespace
