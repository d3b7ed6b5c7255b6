// oruclient, the sample client of the video plug-in: registers a channel with the capture
// service through OruTether in the receiver role, applies an effect in place to every frame
// that comes through it, counts the frames and reports the count when it ends.
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "ipc/registration.h"
#include "ipc/tether.h"
#include "outside/clients/frame_effects.h"
#include "platform/event.h"
#include "platform/stop_request.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

using oruclient::Effect;

constexpr uint32_t kUnlimited = 0xFFFFFFFFu;

constexpr char kUsage[] =
    "usage: oruclient [options] <channel>\n"
    "  -k, --key KEY        ordering key: a number (0x... for hex) or LEVEL:RANK, each 0..65535;\n"
    "                       only the highest level registered gets frames, larger keys first\n"
    "                       (default 1:0)\n"
    "  -e, --effect NAME    none, invert (every pixel byte), mirror (left to right) or grey\n"
    "                       (chroma 128) (default none)\n"
    "  -n, --frames N       stop after N frames; 0 unregisters right after registering\n"
    "      --cycles N       register, take the frames, unregister, N times (default 1)\n"
    "      --capacity BYTES largest message the channel carries (default: a 1920x1080 frame\n"
    "                       with its 40-byte header); a longer frame arrives cut short\n"
    "      --timeout MS     channel wait time-out (default 500)\n"
    "      --count-file F   also write the frame count to file F at the end\n"
    "      --status-file F  keep file F up to date (every 250 ms and at the end) with a line\n"
    "                       \"pid=P key=LEVEL:RANK effect=NAME frames=N state=running|ended\"\n"
    "      --ready-event E  set the named event E once the channel is open\n"
    "      --quit-event E   stop when the named event E is set\n"
    "      --pipe NAME      registration pipe (default the capture service's)\n"
    "Ctrl-C or SIGTERM stops it; it unregisters and prints the count.\n";

struct Options {
  std::string channel;
  uint32_t key = 0x00010000u;
  Effect effect = Effect::kNone;
  uint32_t frames = kUnlimited;
  uint32_t cycles = 1;
  uint32_t capacity = 40 + 1920 * 1080 * 2;
  uint32_t timeoutMs = 500;
  std::string countFile, statusFile, readyEvent, quitEvent, pipe;
};

constexpr uint32_t kStatusPeriodMs = 250;

std::optional<uint32_t> ParseNumber(std::string_view text, uint64_t max) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  const std::string s(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (errno != 0 || end == s.c_str() || *end != '\0' || v > max) return std::nullopt;
  return static_cast<uint32_t>(v);
}

// A whole key, or LEVEL:RANK.
std::optional<uint32_t> ParseKey(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return ParseNumber(text, 0xFFFFFFFFu);
  const auto level = ParseNumber(text.substr(0, colon), 0xFFFF);
  const auto rank = ParseNumber(text.substr(colon + 1), 0xFFFF);
  if (!level || !rank) return std::nullopt;
  return *level << 16 | *rank;
}

// False, with a message on stderr, for a bad command line.
bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a.empty() || a[0] != '-') {
      if (!o->channel.empty()) {
        std::fprintf(stderr, "oruclient: one channel only\n");
        return false;
      }
      o->channel = argv[i];
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "oruclient: %s needs a value\n", argv[i]);
      return false;
    }
    const std::string_view v = argv[++i];
    std::optional<uint32_t> n;
    if (a == "-k" || a == "--key") {
      n = ParseKey(v);
      if (n) o->key = *n;
    } else if (a == "-e" || a == "--effect") {
      const auto e = oruclient::ParseEffect(v);
      if (e) o->effect = *e;
      n = e ? std::optional<uint32_t>(0) : std::nullopt;
    } else if (a == "-n" || a == "--frames") {
      n = ParseNumber(v, 0xFFFFFFFEu);
      if (n) o->frames = *n;
    } else if (a == "--cycles") {
      n = ParseNumber(v, 0xFFFFFFFFu);
      if (n) o->cycles = *n;
    } else if (a == "--capacity") {
      n = ParseNumber(v, 0xFFFFFFFFu - 24);
      if (n) o->capacity = *n;
    } else if (a == "--timeout") {
      n = ParseNumber(v, 0xFFFFFFFFu);
      if (n) o->timeoutMs = *n;
    } else {
      std::string* text = a == "--count-file"    ? &o->countFile
                          : a == "--status-file" ? &o->statusFile
                          : a == "--ready-event" ? &o->readyEvent
                          : a == "--quit-event"  ? &o->quitEvent
                          : a == "--pipe"        ? &o->pipe
                                                 : nullptr;
      if (text == nullptr) {
        std::fprintf(stderr, "oruclient: unknown option %s\n", argv[i - 1]);
        return false;
      }
      *text = argv[i];
      n = 0;
    }
    if (!n) {
      std::fprintf(stderr, "oruclient: bad value for %s: %s\n", argv[i - 1], argv[i]);
      return false;
    }
  }
  if (o->channel.empty()) {
    std::fprintf(stderr, "oruclient: no channel name\n");
    return false;
  }
  if (platform::Utf8ToUtf16(o->channel).size() > 63) {
    std::fprintf(stderr, "oruclient: the channel name is longer than 63 characters\n");
    return false;
  }
  return true;
}

// Shared with the watcher thread, which runs the callback.
struct Session {
  Effect effect = Effect::kNone;
  uint32_t limit = kUnlimited;       // frames per cycle
  std::atomic<uint32_t> taken{0};    // frames of this cycle
  std::atomic<uint64_t> total{0};
  platform::Event enough;            // set when a cycle has its frames
};

int32_t OnFrame(TetherMessageInfo* info, void* payload, void* context) {
  auto* s = static_cast<Session*>(context);
  // Past the limit the frame goes back untouched until the channel is gone.
  uint32_t taken = s->taken.load();
  do {
    if (taken >= s->limit) return 0;
  } while (!s->taken.compare_exchange_weak(taken, taken + 1));
  oruclient::ApplyEffect(s->effect, static_cast<uint8_t*>(payload), payload != nullptr ? info->payloadLength : 0);
  s->total.fetch_add(1);
  if (taken + 1 == s->limit) s->enough.Set();
  return 0;
}

bool WriteCount(const std::string& path, uint64_t count) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok = std::fprintf(f, "%llu\n", static_cast<unsigned long long>(count)) > 0;
  return std::fclose(f) == 0 && ok;
}

// The status line a host reads; rewritten whole each time.
void WriteStatus(const Options& o, uint64_t frames, bool ended) {
  if (o.statusFile.empty()) return;
  std::FILE* f = std::fopen(o.statusFile.c_str(), "w");
  if (f == nullptr) return;
  std::fprintf(f, "pid=%u key=%u:%u effect=%s frames=%llu state=%s\n", platform::CurrentProcessId(),
               static_cast<unsigned>(o.key >> 16), static_cast<unsigned>(o.key & 0xFFFF),
               oruclient::EffectName(o.effect), static_cast<unsigned long long>(frames),
               ended ? "ended" : "running");
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!ParseOptions(argc, argv, &o)) {
    std::fputs(kUsage, stderr);
    return 1;
  }

  platform::Event stop = platform::Event::CreateLocal(true, false);
  if (!platform::SetStopRequestEvent(stop)) std::fprintf(stderr, "oruclient: Ctrl-C will not stop cleanly\n");
  platform::Event quit, ready;
  if (!o.quitEvent.empty()) quit = platform::Event::CreateNamed(platform::Utf8ToUtf16(o.quitEvent).c_str(), true, false);
  if (!o.readyEvent.empty())
    ready = platform::Event::CreateNamed(platform::Utf8ToUtf16(o.readyEvent).c_str(), true, false);
  if ((!o.quitEvent.empty() && !quit.valid()) || (!o.readyEvent.empty() && !ready.valid()) || !stop.valid()) {
    std::fprintf(stderr, "oruclient: cannot create the events\n");
    return 1;
  }
  const std::u16string pipe = platform::Utf8ToUtf16(o.pipe);
  if (!pipe.empty()) SetRegistrationPipeName(pipe.c_str());

  Session session;
  session.effect = o.effect;
  session.limit = o.frames;
  session.enough = platform::Event::CreateLocal(true, false);

  TetherCreateParams p;
  std::memset(&p, 0, sizeof p);
  p.size = sizeof p;
  const std::u16string name = platform::Utf8ToUtf16(o.channel);
  std::memcpy(p.name, name.data(), name.size() * sizeof(char16_t));
  p.capacity = o.capacity;
  p.role = kTetherRoleReceiver;
  p.timeoutMs = o.timeoutMs;
  p.callback = &OnFrame;
  p.context = &session;
  p.orderingKey = o.key;

  const platform::Event* waits[] = {&stop, &session.enough, &quit};
  const uint32_t waitCount = quit.valid() ? 3 : 2;
  int result = 0;
  bool stopped = false;
  for (uint32_t cycle = 0; cycle < o.cycles && !stopped; ++cycle) {
    session.enough.Reset();
    session.taken.store(0);
    const TetherHandle h = Tether_CreateInstance(p);
    if (h == kTetherNoHandle) {
      std::fprintf(stderr, "oruclient: cannot register channel %s (is the capture service running?)\n",
                   o.channel.c_str());
      result = 2;
      break;
    }
    if (cycle == 0)
      std::printf("oruclient: channel %s registered, key 0x%08x, effect %s\n", o.channel.c_str(),
                  static_cast<unsigned>(o.key), oruclient::EffectName(o.effect));
    std::fflush(stdout);
    ready.Set();
    WriteStatus(o, session.total.load(), false);
    if (o.frames != 0) {
      const uint32_t period = o.statusFile.empty() ? platform::kInfinite : kStatusPeriodMs;
      uint32_t w;
      while ((w = platform::WaitForAnyEvent(waits, waitCount, period)) == platform::kWaitTimeout)
        WriteStatus(o, session.total.load(), false);
      stopped = w != platform::kWaitObject0 + 1;
    } else {
      stopped = stop.Wait(0) == platform::kWaitObject0 || (quit.valid() && quit.Wait(0) == platform::kWaitObject0);
    }
    Tether_DeleteInstance(h);
  }

  const uint64_t total = session.total.load();
  WriteStatus(o, total, true);
  std::printf("oruclient: channel %s: %llu frames\n", o.channel.c_str(), static_cast<unsigned long long>(total));
  std::fflush(stdout);
  if (!o.countFile.empty() && !WriteCount(o.countFile, total)) {
    std::fprintf(stderr, "oruclient: cannot write %s\n", o.countFile.c_str());
    if (result == 0) result = 1;
  }
  return result;
}
