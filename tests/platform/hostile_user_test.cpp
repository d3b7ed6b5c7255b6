// What another local user can do to the named objects on Linux, where every channel file is
// open to all: cut a live client's block or mutex file short, hold the directory's lock
// file, plant symbolic links, fill a slot range with locks. The hostile user is this program
// run again as a peer ("--peer <mode> ..."), the client is tether_peer. Linux only: Windows
// sections cannot shrink and its named objects have no files.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "graph/rend_graph.h"
#include "ipc/tether_channel.h"
#include "platform/child_process.h"
#include "platform/environment.h"
#include "platform/event.h"
#include "platform/program.h"
#include "platform/shared_memory.h"
#include "plugin/fanout_plugin.h"
#include "plugin/frameport.h"
#include "tests/ipc/tether_test_support.h"

namespace {

using namespace tether_test;

std::string SiblingPath(const char* name) {
  const std::string self = platform::CurrentExecutablePath();
  return self.substr(0, self.find_last_of('/') + 1) + name;
}

// A peer process (this program or tether_peer), ended if the test ends before it does.
class Peer {
 public:
  Peer(const std::string& program, const std::vector<std::string>& args)
      : p_(platform::SpawnProcess(program, args)) {}
  explicit Peer(const std::vector<std::string>& args) : Peer(platform::CurrentExecutablePath(), Prefixed(args)) {}
  ~Peer() { Kill(); }
  bool started() const { return p_ != nullptr; }
  int Wait() {
    uint32_t code = 0xFFFF;
    if (p_ == nullptr || platform::WaitProcess(p_, kGenerousMs) != platform::kWaitObject0) return -1;
    platform::GetProcessExitCode(p_, &code);
    return static_cast<int>(code);
  }
  void Kill() {
    if (p_ == nullptr) return;
    if (platform::WaitProcess(p_, 0) != platform::kWaitObject0) platform::KillProcess(p_);
    platform::WaitProcess(p_, kGenerousMs);
    platform::CloseProcess(p_);
    p_ = nullptr;
  }

 private:
  static std::vector<std::string> Prefixed(std::vector<std::string> args) {
    args.insert(args.begin(), "--peer");
    return args;
  }
  platform::ProcessObject* p_;
};

// The channel objects live in a directory of this test's own, so holding its lock file
// stalls no other test on the machine. Signal events live in a second one, out of the
// hostile peer's way.
class HostileUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char objects[] = "/tmp/kestrel-hostile-XXXXXX";
    char signals[] = "/tmp/kestrel-signals-XXXXXX";
    ASSERT_NE(::mkdtemp(objects), nullptr);
    ASSERT_NE(::mkdtemp(signals), nullptr);
    objects_ = objects;
    signals_ = signals;
    UseObjects();
  }
  void TearDown() override {
    platform::SetEnvironmentValue("KESTREL_OBJECT_DIR", nullptr);
    std::system(("rm -rf '" + objects_ + "' '" + signals_ + "'").c_str());
  }
  void UseObjects() { platform::SetEnvironmentValue("KESTREL_OBJECT_DIR", objects_.c_str()); }
  void UseSignals() { platform::SetEnvironmentValue("KESTREL_OBJECT_DIR", signals_.c_str()); }
  std::string LockFile() const { return objects_ + "/kestrel..lock"; }
  // The file of a channel object: the channel's base name, then `suffix`.
  std::string ChannelFile(const std::string& channel, const char* suffix) const {
    return objects_ + "/kestrel." + U8(kTetherObjectPrefix) + "_" + channel + suffix;
  }

  std::string objects_;
  std::string signals_;
};

// A frame of 64x8 YUY2 pixels, each byte its index.
struct Frame {
  uint8_t header[40] = {};
  std::vector<uint8_t> pixels = std::vector<uint8_t>(64 * 2 * 8);
  Frame() {
    const uint32_t forty = 40, size = static_cast<uint32_t>(pixels.size());
    std::memcpy(header, &forty, 4);
    std::memcpy(header + 20, &size, 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i);
  }
};

TEST_F(HostileUserTest, CutBlockOrMutexFailsTheSendAndLeavesTheFrameAlone) {
  for (const char* suffix : {"", "_Mutex"}) {
    SCOPED_TRACE(std::string("file cut: base name") + suffix);
    const std::string pipe = U8(TestPipeName());
    const std::u16string pipe16 = U16(pipe);
    SetFrameportPipeName(pipe16.c_str());
    const uintptr_t plugin = Frameport_Initialize();
    ASSERT_NE(plugin, 0u);
    const std::string channel = UniqueName("cut"), ready = UniqueName("ready"), quit = UniqueName("quit");
    platform::Event readyEvent = platform::Event::CreateNamed(U16(ready).c_str(), true, false);
    platform::Event quitEvent = platform::Event::CreateNamed(U16(quit).c_str(), true, false);
    Peer client(SiblingPath("tether_peer"), {"receive", pipe, channel, "4096", "500", "invert", ready, quit});
    ASSERT_TRUE(client.started());
    ASSERT_EQ(readyEvent.Wait(kGenerousMs), platform::kWaitObject0);

    // Frames flow: the client inverts each (its end sees the client at its next poll).
    platform::Event never = platform::Event::CreateLocal(true, false);
    Frame f;
    int32_t sent = 0;
    for (int i = 0; i < 1000 && sent <= 0; ++i) {
      f = Frame();
      sent = Frameport_ProcessVideoFrame(plugin, f.header, f.pixels.data());
      if (sent <= 0) never.Wait(10);
    }
    ASSERT_EQ(sent, static_cast<int32_t>(40 + f.pixels.size()));
    EXPECT_EQ(f.pixels[1], static_cast<uint8_t>(~1));

    Peer cutter({"truncate", ChannelFile(channel, suffix)});
    ASSERT_EQ(cutter.Wait(), 0);
    // The next frames fault on the vanished pages: the send fails, this process lives on and
    // the frame is handed on as it came.
    for (int i = 0; i < 3; ++i) {
      Frame g;
      EXPECT_EQ(Frameport_ProcessVideoFrame(plugin, g.header, g.pixels.data()), -1000);
      EXPECT_EQ(g.pixels, Frame().pixels);
    }
    quitEvent.Set();
    EXPECT_EQ(client.Wait(), 0);
    Frameport_UnInitialize(plugin);
  }
}

TEST_F(HostileUserTest, LockHeldByAnotherUserBoundsEveryWait) {
  // The directory's lock file (every step with named objects takes it), and an event's
  // node (every opener holds it shared).
  struct Case {
    const char* what;
    const char* kind;
    bool blocksChannels;
  };
  const Case cases[] = {{"directory lock", "file", true}, {"event node", "fifo", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string event = UniqueName("ev");
    const std::string file = c.blocksChannels ? LockFile() : objects_ + "/kestrel." + event;
    UseSignals();
    const std::string ready = UniqueName("ready");
    platform::Event readyEvent = platform::Event::CreateNamed(U16(ready).c_str(), true, false);
    Peer holder({"flock", c.kind, file, signals_, ready});
    ASSERT_EQ(readyEvent.Wait(kGenerousMs), platform::kWaitObject0);
    UseObjects();
    // Refused after a bounded wait while the lock is held...
    const std::u16string channel = U16(UniqueName("held"));
    EXPECT_FALSE(platform::Event::CreateNamed(U16(event).c_str(), true, false).valid());
    if (c.blocksChannels) {
      EXPECT_EQ(Tether_CreateInstance(MakeParams(channel, 64, kTetherRoleSender, 500)), kTetherNoHandle);
    }
    // ...and had once the holder is gone.
    holder.Kill();
    EXPECT_TRUE(platform::Event::CreateNamed(U16(event).c_str(), true, false).valid());
    const TetherHandle h = Tether_CreateInstance(MakeParams(channel, 64, kTetherRoleSender, 500));
    EXPECT_NE(h, kTetherNoHandle);
    Tether_DeleteInstance(h);
  }
}

TEST_F(HostileUserTest, PlantedLinksAreNeverFollowed) {
  // A file only its owner may touch, the link's target.
  const std::string target = signals_ + "/private";
  { std::ofstream(target) << "secret"; }
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  const std::string event = UniqueName("link");
  struct Case {
    const char* what;
    std::string link;
  };
  const Case cases[] = {{"directory lock", LockFile()}, {"event node", objects_ + "/kestrel." + event}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(::symlink(target.c_str(), c.link.c_str()), 0);
    EXPECT_FALSE(platform::Event::CreateNamed(U16(event).c_str(), true, false).valid());
    struct stat st{};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::unlink(c.link.c_str()), 0);
  }
}

TEST_F(HostileUserTest, LocksInTheSlotRangeDoNotCountAsHandles) {
  const std::u16string name = U16(UniqueName("slots"));
  platform::SharedMemory first = platform::SharedMemory::CreateNamed(name.c_str(), 4096);
  ASSERT_TRUE(first.valid());
  UseSignals();
  const std::string ready = UniqueName("ready");
  platform::Event readyEvent = platform::Event::CreateNamed(U16(ready).c_str(), true, false);
  // Every other byte of what was once the slot range, locked by one process.
  Peer locker({"slotlocks", objects_ + "/kestrel." + U8(name), "2000", signals_, ready});
  ASSERT_EQ(readyEvent.Wait(kGenerousMs), platform::kWaitObject0);
  UseObjects();
  const uint32_t before = first.HandleCount();
  platform::SharedMemory second = platform::SharedMemory::OpenNamed(name.c_str());
  ASSERT_TRUE(second.valid());
  // Another opener still counts once; one process's locks count as at most the few
  // hundred slots there are, not as thirty thousand handles.
  EXPECT_EQ(first.HandleCount(), before + 1);
  EXPECT_LE(before, 257u);
}

TEST_F(HostileUserTest, HugeBusyPictureHeaderCostsNothing) {
  // 54 bytes claiming 32768 x 32768 pixels of 24 bits; loaded where memory is limited.
  const std::string bmp = signals_ + "/DevBusy.bmp";
  uint8_t file[54] = {'B', 'M'};
  const uint32_t values[][2] = {{2, 54}, {10, 54}, {14, 40}, {18, 32768}, {22, 32768}};
  for (const auto& v : values) std::memcpy(file + v[0], &v[1], 4);
  const uint16_t planes = 1, bits = 24;
  std::memcpy(file + 26, &planes, 2);
  std::memcpy(file + 28, &bits, 2);
  { std::ofstream(bmp, std::ios::binary).write(reinterpret_cast<const char*>(file), sizeof file); }
  Peer loader({"busypicture", bmp});
  EXPECT_EQ(loader.Wait(), 0);
}

TEST_F(HostileUserTest, ProfileTheServiceMayNotWriteIsStillRead) {
  // Switch on, one entry; read-only to everyone, read by a user other than its owner.
  std::vector<uint8_t> bytes(2280 + 520, 0);
  const uint32_t on = 1, count = 1;
  std::memcpy(bytes.data() + 2272, &on, 4);
  std::memcpy(bytes.data() + 2276, &count, 4);
  for (size_t i = 0; i < 8; ++i) bytes[2280 + 2 * i] = static_cast<uint8_t>("vid_046d"[i]);
  const std::string profile = signals_ + "/oruVCapture.pfg";
  { std::ofstream(profile, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size()); }
  ASSERT_EQ(::chmod(profile.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(signals_.c_str(), 0755), 0);
  Peer reader({"profile", profile});
  EXPECT_EQ(reader.Wait(), 0);
}

// ---- the hostile peer ----

int Truncate(const std::string& path) { return ::truncate(path.c_str(), 0) == 0 ? 0 : 2; }

// Signals `ready` (an event in `signals`) and then waits to be killed.
[[noreturn]] void ReadyThenWait(const std::string& signals, const std::string& ready) {
  platform::SetEnvironmentValue("KESTREL_OBJECT_DIR", signals.c_str());
  platform::Event e = platform::Event::OpenNamed(U16(ready).c_str());
  e.Set();
  for (;;) ::pause();
}

// Holds an exclusive flock on `path`, made first as a regular file or a FIFO.
int Flock(const std::string& kind, const std::string& path, const std::string& signals, const std::string& ready) {
  if (kind == "fifo" && ::mkfifo(path.c_str(), 0666) != 0) return 2;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0 || ::flock(fd, LOCK_EX) != 0) return 2;
  ReadyThenWait(signals, ready);
}

int SlotLocks(const std::string& path, int count, const std::string& signals, const std::string& ready) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return 2;
  for (int i = 0; i < count; ++i) {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = (off_t{1} << 40) + 2 * i;
    fl.l_len = 1;
    ::fcntl(fd, F_OFD_SETLK, &fl);  // a slot a handle holds stays theirs
  }
  ReadyThenWait(signals, ready);
}

// Loads the picture with 1 GiB more address space than now; 0 when the black frame stands in.
int BusyPicture(const std::string& path) {
  long pages = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  const rlim_t limit = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (rlim_t{1} << 30);
  const struct rlimit rl{limit, limit};
  ::setrlimit(RLIMIT_AS, &rl);
  CVDRendGraphImpl graph;
  graph.LoadBusyPicture(path.c_str());
  return graph.busyHeader.biWidth == 320 && graph.busyHeader.biHeight == 240 ? 0 : 3;
}

// Reads the profile as a user who may not write it (root cannot be kept out: it becomes
// nobody first); 0 when the allow-list is on with its one entry.
int Profile(const std::string& path) {
  if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
  CVDRendGraphImpl graph;
  graph.LoadCaptureProfile(path.c_str());
  return graph.allowListEnabled == 1 && graph.allowList.size() == 1 ? 0 : 3;
}

int RunPeer(int argc, char** argv) {
  const std::string mode = argv[2];
  if (mode == "truncate" && argc == 4) return Truncate(argv[3]);
  if (mode == "flock" && argc == 7) return Flock(argv[3], argv[4], argv[5], argv[6]);
  if (mode == "slotlocks" && argc == 7) return SlotLocks(argv[3], std::atoi(argv[4]), argv[5], argv[6]);
  if (mode == "busypicture" && argc == 4) return BusyPicture(argv[3]);
  if (mode == "profile" && argc == 4) return Profile(argv[3]);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--peer") == 0) return RunPeer(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
