// The whole system as a person runs it: scripts/run leaves the camera's picture inverted by the
// sample client and every delivered frame once, in order; and kestrel-host keeps delivering
// when a client is killed, and serves a client that joins later in key order.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "outside/filters/test_pattern.h"
#include "platform/environment.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/subprocess.h"
#include "tests/test_names.h"

namespace {

using test_names::kGenerousMs;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The frames of a 4:2:2 Y4M clip, each as its Y, U and V planes.
struct Clip {
  uint32_t width = 0, height = 0;
  std::vector<std::string> frames;
};

bool ReadClip(const std::string& path, Clip* clip) {
  const std::string bytes = Slurp(path);
  const size_t eol = bytes.find('\n');
  if (eol == std::string::npos ||
      std::sscanf(bytes.c_str(), "YUV4MPEG2 W%u H%u", &clip->width, &clip->height) != 2 ||
      bytes.substr(0, eol).find(" C422") == std::string::npos)
    return false;
  const size_t frameBytes = static_cast<size_t>(clip->width) * clip->height * 2;
  for (size_t at = eol + 1; at < bytes.size();) {
    if (bytes.compare(at, 6, "FRAME\n") != 0 || at + 6 + frameBytes > bytes.size()) return false;
    clip->frames.push_back(bytes.substr(at + 6, frameBytes));
    at += 6 + frameBytes;
  }
  return true;
}

// A clip frame back in YUY2 rows, as the virtual camera received it.
std::vector<uint8_t> Yuy2(const Clip& clip, const std::string& planes) {
  const size_t w = clip.width, h = clip.height, luma = w * h, chroma = w / 2 * h;
  std::vector<uint8_t> out(w * 2 * h);
  for (size_t y = 0; y < h; ++y)
    for (size_t m = 0; m < w / 2; ++m) {
      uint8_t* d = &out[y * w * 2 + 4 * m];
      d[0] = static_cast<uint8_t>(planes[y * w + 2 * m]);
      d[1] = static_cast<uint8_t>(planes[luma + y * (w / 2) + m]);
      d[2] = static_cast<uint8_t>(planes[y * w + 2 * m + 1]);
      d[3] = static_cast<uint8_t>(planes[luma + chroma + y * (w / 2) + m]);
    }
  return out;
}

// The camera's frame number in every frame of the clip (-1 where none can be read).
std::vector<int64_t> FrameNumbers(const Clip& clip, uint32_t sourceWidth, uint32_t sourceHeight) {
  std::vector<int64_t> numbers;
  for (const std::string& f : clip.frames) {
    const std::vector<uint8_t> yuy2 = Yuy2(clip, f);
    uint64_t n = 0;
    numbers.push_back(filters::ReadFrameNumber(yuy2.data(), clip.width, clip.height, clip.width * 2, sourceWidth,
                                               sourceHeight, &n)
                          ? static_cast<int64_t>(n)
                          : -1);
  }
  return numbers;
}

struct Png {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

bool ReadPng(const std::string& path, Png* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  out->width = image.width;
  out->height = image.height;
  out->rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, out->rgb.data(), 0, nullptr) != 0;
}

class HostRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::JoinPath(platform::TemporaryDirectory(), test_names::UniqueName("kh", "run"));
    ASSERT_TRUE(platform::CreateDirectories(dir_.c_str()));
  }
  void TearDown() override {
    if (!HasFailure()) platform::RemoveDirectoryTree(dir_.c_str());
  }
  std::string Path(const char* name) const { return platform::JoinPath(dir_, name); }
  std::string dir_;
};

TEST_F(HostRunTest, RunShowsTheCameraInvertedAndDeliversEachFrameOnceInOrder) {
  platform::SetEnvironmentValue("KESTREL_BUILD_DIR", KESTREL_BUILD_DIR);
  platform::Subprocess run;
  ASSERT_TRUE(run.Start("/bin/bash", {KESTREL_SOURCE_DIR "/scripts/run", "--no-build", "--seconds", "4",
                                      "--camera", "YUY2:640x480", "--out", dir_}));
  int code = -1;
  ASSERT_TRUE(run.Wait(platform::kInfinite, &code));
  ASSERT_EQ(code, 0) << Slurp(Path("host.txt"));

  Png png;
  ASSERT_TRUE(ReadPng(Path("last-frame.png"), &png));
  ASSERT_EQ(png.width, 640u);
  ASSERT_EQ(png.height, 480u);
  // The eight bars across the top, each the negative of the camera's colour.
  const uint8_t bars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                              {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE("bar " + std::to_string(i));
    const size_t x = 640 * i / 8 + 40, y = 120;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(png.rgb[(y * 640 + x) * 3 + c], 255 - bars[i][c], 12);
  }

  Clip clip;
  ASSERT_TRUE(ReadClip(Path("delivered.y4m"), &clip));
  EXPECT_EQ(clip.width, 640u);
  ASSERT_GE(clip.frames.size(), 10u);
  const std::vector<int64_t> numbers = FrameNumbers(clip, 640, 480);
  for (size_t i = 0; i < numbers.size(); ++i) {
    ASSERT_GE(numbers[i], 0) << "frame " << i;
    if (i > 0) {
      ASSERT_GT(numbers[i], numbers[i - 1]) << "frame " << i;
    }
  }
}

TEST_F(HostRunTest, AMissingLibraryOrExportEndsTheHostWithItsOwnCode) {
  // A copy of the host alone in a folder, with a library of the wrong kind in Kestrel's place.
  struct Case {
    const char* name;
    const char* standIn;  // copied as libKestrel.so, or nothing
    int code;
    const char* message;
  } cases[] = {
      {"no library", nullptr, 2, "cannot load Kestrel.dll"},
      {"no export", "libOruTether.so", 3, "lacks CreatRendGraph"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = platform::JoinPath(dir_, c.name);
    ASSERT_TRUE(platform::CreateDirectories(folder.c_str()));
    const std::string host = platform::JoinPath(folder, "kestrel-host");
    std::filesystem::copy_file(KESTREL_BUILD_DIR "/tests/kestrel-host", host);
    if (c.standIn)
      std::filesystem::copy_file(std::string(KESTREL_BUILD_DIR "/tests/") + c.standIn,
                                 platform::JoinPath(folder, "libKestrel.so"));
    const std::string out = platform::JoinPath(folder, "out.txt");
    platform::Subprocess run;
    ASSERT_TRUE(run.Start("/bin/sh", {"-c", "'" + host + "' --seconds 1 2>'" + out + "'"}));
    int code = -1;
    ASSERT_TRUE(run.Wait(platform::kInfinite, &code));
    EXPECT_EQ(code, c.code);
    EXPECT_NE(Slurp(out).find(c.message), std::string::npos) << Slurp(out);
  }
}

// The sample client, reporting through its status file.
class Client {
 public:
  Client(const std::string& dir, const std::string& key, const char* effect)
      : status_(platform::JoinPath(dir, ("client-" + key.substr(2) + ".status").c_str())),
        readyName_(test_names::UniqueName("kh", "ready")) {
    ready_ = platform::Event::CreateNamed(std::u16string(readyName_.begin(), readyName_.end()).c_str(), true, false);
    process_.Start(KESTREL_BUILD_DIR "/outside/clients/oruclient",
                   {"--key", key, "--effect", effect, "--status-file", status_, "--ready-event", readyName_,
                    test_names::UniqueName("kh", "chan")});
  }
  bool WaitReady() { return ready_.Wait(kGenerousMs) == platform::kWaitObject0; }
  uint64_t Frames() const {
    unsigned long long n = 0;
    const std::string s = Slurp(status_);
    const size_t at = s.find("frames=");
    if (at != std::string::npos) n = std::strtoull(s.c_str() + at + 7, nullptr, 10);
    return n;
  }
  // Until its status shows `n` frames; false when it does not within the generous bound.
  bool WaitFrames(uint64_t n) {
    const platform::Event never = platform::Event::CreateLocal(true, false);
    for (uint32_t waited = 0; waited < kGenerousMs; waited += 50) {
      if (Frames() >= n) return true;
      never.Wait(50);
    }
    return false;
  }
  void Kill() { process_.Kill(); }

 private:
  platform::Subprocess process_;
  std::string status_, readyName_;
  platform::Event ready_;
};

TEST_F(HostRunTest, KilledClientLeavesDeliveryGoingAndALateClientIsServedInKeyOrder) {
  platform::SetEnvironmentValue("KESTREL_REGISTRY_FILE", Path("kestrel.reg").c_str());
  platform::SetEnvironmentValue("KESTREL_ROOT", Path("root").c_str());
  platform::SetEnvironmentValue("KESTREL_DEBUG_FD", "none");
  ASSERT_TRUE(platform::CreateDirectories(Path("pipe").c_str()));
  ASSERT_TRUE(platform::CreateDirectories(Path("clients").c_str()));
  platform::SetEnvironmentValue("KESTREL_PIPE_DIR", Path("pipe").c_str());
  {
    platform::Subprocess reg;
    int code = -1;
    ASSERT_TRUE(reg.Start(KESTREL_BUILD_DIR "/tests/kestrel-register", {"--clear", "--camera", "Cam|caps=YUY2:640x480"}));
    ASSERT_TRUE(reg.Wait(platform::kInfinite, &code));
    ASSERT_EQ(code, 0);
  }
  const std::string readyName = test_names::UniqueName("kh", "hostready"), quitName = test_names::UniqueName("kh", "quit");
  const platform::Event ready = platform::Event::CreateNamed(std::u16string(readyName.begin(), readyName.end()).c_str(), true, false);
  const platform::Event quit = platform::Event::CreateNamed(std::u16string(quitName.begin(), quitName.end()).c_str(), true, false);
  platform::Subprocess host;
  ASSERT_TRUE(host.Start(KESTREL_BUILD_DIR "/tests/kestrel-host",
                         {"--open", "640x480", "--ready-event", readyName, "--quit-event", quitName, "--clients",
                          Path("clients"), "--frames", Path("frames.txt"), "--clip", Path("clip.y4m"), "--log",
                          Path("host.txt")}));
  ASSERT_EQ(ready.Wait(kGenerousMs), platform::kWaitObject0);

  // Served in key order: larger keys first.
  Client inverter(Path("clients"), "1:1", "invert");
  Client doomed(Path("clients"), "1:3", "none");
  ASSERT_TRUE(inverter.WaitReady());
  ASSERT_TRUE(doomed.WaitReady());
  ASSERT_TRUE(doomed.WaitFrames(30));
  doomed.Kill();
  const uint64_t doomedFrames = doomed.Frames();
  const uint64_t inverterAtKill = inverter.Frames();
  ASSERT_TRUE(inverter.WaitFrames(inverterAtKill + 30));
  Client late(Path("clients"), "1:2", "grey");
  ASSERT_TRUE(late.WaitReady());
  ASSERT_TRUE(late.WaitFrames(30));
  // Two more status lines after the kill.
  ASSERT_TRUE(inverter.WaitFrames(inverter.Frames() + 60));
  quit.Set();
  int code = -1;
  ASSERT_TRUE(host.Wait(kGenerousMs, &code));
  EXPECT_EQ(code, 0);

  // The status shows the killed client's count standing still.
  const std::string log = Slurp(Path("host.txt"));
  const std::string stopped = "client 1:3 none " + std::to_string(doomedFrames) + " (+0/s)";
  EXPECT_NE(log.find(stopped), std::string::npos) << log;

  // No gap in delivery longer than the channel's time-out (500 ms) and the frame in flight.
  std::ifstream frames(Path("frames.txt"));
  std::string line;
  double previous = -1, widest = 0;
  while (std::getline(frames, line)) {
    if (line.empty() || line[0] == '#') continue;
    unsigned long long index = 0;
    long long number = 0;
    double arrival = 0, latency = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%llu %lld %lf %lf", &index, &number, &arrival, &latency), 4);
    if (previous >= 0) widest = std::max(widest, arrival - previous);
    previous = arrival;
  }
  EXPECT_LE(widest, 500 + 2 * 33.4);

  // The late grey client (1:2) ran before the inverter (1:1): its chroma 128 was inverted to
  // 127. The other way round it would stay 128.
  Clip clip;
  ASSERT_TRUE(ReadClip(Path("clip.y4m"), &clip));
  ASSERT_FALSE(clip.frames.empty());
  const std::string& last = clip.frames.back();
  const size_t luma = static_cast<size_t>(clip.width) * clip.height;
  EXPECT_EQ(std::count(last.begin() + static_cast<std::ptrdiff_t>(luma), last.end(), '\x7f'),
            static_cast<std::ptrdiff_t>(last.size() - luma));
}

}  // namespace
