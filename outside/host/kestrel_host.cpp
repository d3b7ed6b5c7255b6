// kestrel-host, the host service program: loads the Kestrel library by its file name, creates
// its render-graph object, initialises it and runs until told to stop (Ctrl-C, SIGTERM, a
// named quit event or --seconds), passing device notifications on; then uninitialises and
// releases it. With the virtual-camera stand-in it also plays the consumer (opens the camera
// at a size), keeps the delivered frames as a Y4M clip and the last one as a PNG, and prints
// once a second what the camera, the virtual camera and the clients did.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "graph/rend_graph_api.h"
#include "outside/filters/test_pattern.h"
#include "outside/host/host_options.h"
#include "outside/vcam/oru_vcapture.h"
#include "platform/console.h"
#include "platform/device_signals.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/stop_request.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The stand-in controls of the virtual-camera library, when it is the stand-in.
struct VcamControls {
  platform::UniqueModule module;
  int (*consumerOpen)(uint32_t, uint32_t, int64_t) = nullptr;
  int (*consumerClose)() = nullptr;
  uint32_t (*countCalls)(const char*) = nullptr;
  int (*waitForCall)(const char*, uint32_t, uint32_t) = nullptr;
  void (*setListener)(OruStandInFrameListener, void*) = nullptr;
  int (*startClip)(const char*) = nullptr;
  uint64_t (*stopClip)() = nullptr;
  void (*getStatus)(OruStandInStatus*) = nullptr;
  int (*writePng)(const char*) = nullptr;

  bool Load() {
    module.reset(platform::LoadModule("OruVCapture.dll"));
    return module && platform::BindModuleSymbol(module.get(), "OruStandIn_ConsumerOpen", &consumerOpen) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_ConsumerClose", &consumerClose) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_CountCalls", &countCalls) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_WaitForCall", &waitForCall) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_SetFrameListener", &setListener) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_StartClip", &startClip) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_StopClip", &stopClip) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_GetStatus", &getStatus) &&
           platform::BindModuleSymbol(module.get(), "OruStandIn_WriteLastFramePNG", &writePng);
  }
};

// The synthetic camera's module: its frame stamps and its call record.
struct CameraControls {
  platform::UniqueModule module;
  uint64_t (*framesSent)() = nullptr;
  int32_t (*frameSent)(uint64_t, uint64_t*, int64_t*, uint32_t*, uint32_t*) = nullptr;
  uint32_t (*recordCount)() = nullptr;
  uint32_t (*readRecord)(uint32_t, char*, uint32_t) = nullptr;

  bool Load() {
    module.reset(platform::LoadModule("KestrelCam.dll"));
    return module && platform::BindModuleSymbol(module.get(), "KestrelFilters_FramesSent", &framesSent) &&
           platform::BindModuleSymbol(module.get(), "KestrelFilters_FrameSent", &frameSent) &&
           platform::BindModuleSymbol(module.get(), "KestrelFilters_RecordCount", &recordCount) &&
           platform::BindModuleSymbol(module.get(), "KestrelFilters_ReadRecord", &readRecord);
  }
  // The format of the camera's last SetFormat ("MJPG 1280x720 333333"), empty before one.
  std::string Format() {
    std::string found;
    const uint32_t n = recordCount();
    for (uint32_t i = seen; i < n; ++i) {
      char line[256];
      readRecord(i, line, sizeof line);
      const char* at = std::strstr(line, " SetFormat ");
      if (at && std::strstr(at, "refused") == nullptr) found = at + 11;
    }
    seen = n;
    if (!found.empty()) format = found;
    return format;
  }
  uint32_t seen = 0;
  std::string format;
};

// The p-th percentile of `v` (sorted in place), in ms.
double PercentileMs(std::vector<int64_t>& v, double p) {
  if (v.empty()) return 0;
  const size_t k = std::min(v.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(v.size())));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return static_cast<double>(v[k]) / 1e6;
}

// What the host sees of each delivered frame, filled on the delivering thread.
struct Deliveries {
  std::mutex lock;
  CameraControls* camera = nullptr;
  std::FILE* framesLog = nullptr;
  int64_t startNs = 0;
  uint64_t count = 0;
  uint32_t width = 0, height = 0;
  std::vector<int64_t> window, all;  // latencies, ns
  bool haveNumber = false;
  uint64_t firstNumber = 0, lastNumber = 0;
  uint64_t repeated = 0, unreadable = 0;
};

void OnFrame(const BitmapInfoHeader* header, const uint8_t* pixels, uint32_t size, int64_t arrivalNs,
             void* context) {
  auto* d = static_cast<Deliveries*>(context);
  if (!header || !pixels) return;
  const uint32_t w = static_cast<uint32_t>(header->biWidth);
  const uint32_t h = static_cast<uint32_t>(header->biHeight < 0 ? -header->biHeight : header->biHeight);
  const uint32_t stride = DibStride(w, 16);
  // The camera's frame number, read from the picture, gives the time it left the camera.
  uint32_t sw = 0, sh = 0;
  uint64_t latest = 0, number = 0;
  int64_t sentNs = 0;
  bool read = false, stamped = false;
  if (d->camera && static_cast<uint64_t>(stride) * h <= size &&
      d->camera->frameSent(UINT64_MAX, &latest, &sentNs, &sw, &sh) == 1) {
    read = filters::ReadFrameNumber(pixels, w, h, stride, sw, sh, &number);
    stamped = read && d->camera->frameSent(number, nullptr, &sentNs, nullptr, nullptr) == 1;
  }
  std::lock_guard<std::mutex> g(d->lock);
  const uint64_t index = d->count++;
  d->width = w;
  d->height = h;
  if (stamped) {
    d->window.push_back(arrivalNs - sentNs);
    d->all.push_back(arrivalNs - sentNs);
  }
  if (read) {
    if (d->haveNumber && number == d->lastNumber) ++d->repeated;
    if (!d->haveNumber) d->firstNumber = number;
    d->haveNumber = true;
    d->lastNumber = number;
  } else {
    ++d->unreadable;
  }
  if (d->framesLog) {
    std::fprintf(d->framesLog, "%llu %lld %.3f %.3f\n", static_cast<unsigned long long>(index),
                 read ? static_cast<long long>(number) : -1LL, static_cast<double>(arrivalNs - d->startNs) / 1e6,
                 stamped ? static_cast<double>(arrivalNs - sentNs) / 1e6 : -1.0);
  }
}

struct ClientState {
  std::string file, key, effect, state;
  bool silent = false;  // still "running" by its file, which has not changed for over a second
  uint64_t frames = 0, framesBefore = 0;
};

// Reads every "*.status" file in `dir` (oruclient --status-file); keeps what it knew of a
// client whose file cannot be read this time.
void ReadClients(const std::string& dir, std::vector<ClientState>* clients) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.path().extension() != ".status") continue;
    const std::string path = entry.path().string();
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) continue;
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    unsigned pid = 0, level = 0, rank = 0;
    unsigned long long frames = 0;
    char effect[32] = {}, state[32] = {};
    if (!got || std::sscanf(line, "pid=%u key=%u:%u effect=%31s frames=%llu state=%31s", &pid, &level, &rank,
                            effect, &frames, state) != 6)
      continue;
    auto it = std::find_if(clients->begin(), clients->end(), [&](const ClientState& c) { return c.file == path; });
    if (it == clients->end()) {
      clients->push_back(ClientState{path, "", "", "", 0, 0});
      it = clients->end() - 1;
    }
    it->key = std::to_string(level) + ":" + std::to_string(rank);
    it->effect = effect;
    it->frames = frames;
    it->state = state;
    const auto age = std::filesystem::file_time_type::clock::now() - std::filesystem::last_write_time(entry.path(), ec);
    it->silent = !ec && it->state == "running" && age > std::chrono::seconds(1);
  }
  // Larger keys are served first.
  std::sort(clients->begin(), clients->end(), [](const ClientState& a, const ClientState& b) {
    const auto value = [](const std::string& k) {
      unsigned l = 0, r = 0;
      std::sscanf(k.c_str(), "%u:%u", &l, &r);
      return (static_cast<uint64_t>(l) << 16) | r;
    };
    return value(a.key) > value(b.key);
  });
}

const char* ModeName(uint32_t mode) {
  return mode == 0 ? "idle" : mode == 1 ? "streaming" : mode == 2 ? "failed" : "?";
}

std::string SizeText(uint32_t packed) {
  return packed ? std::to_string(packed >> 16) + "x" + std::to_string(packed & 0xFFFF) : std::string("none");
}

// Prints the figures once a second and keeps the totals for the summary.
class StatusBoard {
 public:
  StatusBoard(VcamControls* vcam, CameraControls* camera, Deliveries* deliveries, std::string clientsDir,
              std::FILE* log)
      : vcam_(vcam), camera_(camera), d_(deliveries), clientsDir_(std::move(clientsDir)), log_(log),
        terminal_(platform::StandardOutputIsTerminal()) {
    start_ = lastTick_ = Clock::now();
    sentStart_ = sentBefore_ = camera_ ? camera_->framesSent() : 0;
  }

  void Tick() {
    const auto now = Clock::now();
    const double dt = std::chrono::duration<double>(now - lastTick_).count();
    lastTick_ = now;
    const std::string line = Figures(dt, false);
    if (terminal_) {
      std::printf("\r%s\x1b[K", line.c_str());
    } else {
      std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    if (log_) {
      std::fprintf(log_, "%s\n", line.c_str());
      std::fflush(log_);
    }
  }

  // Takes the figures for the summary, while the library still runs.
  void Finish() {
    Gather();
    if (!ticked_) {
      runMode_ = status_.workMode;
      runAsked_ = status_.requestedResolution;
    }
  }

  // The run's length ends here (rates are per second of it).
  void EndLine() {
    seconds_ = std::chrono::duration<double>(Clock::now() - start_).count();
    if (terminal_) std::printf("\n");
  }

  // The whole run, several lines.
  std::string Summary() {
    const double seconds = seconds_;
    std::string s;
    char buf[512];
    std::snprintf(buf, sizeof buf, "kestrel-host summary: %.1f s\n", seconds);
    s += buf;
    const uint64_t captured = sent_ - sentStart_;
    std::lock_guard<std::mutex> g(d_->lock);
    std::vector<int64_t> all = d_->all;
    std::snprintf(buf, sizeof buf, "  camera      %s\n", camera_ ? (format_.empty() ? "no format set" : format_.c_str())
                                                                  : "not the synthetic camera: no capture figures");
    s += buf;
    std::snprintf(buf, sizeof buf, "  captured    %llu frames, %.1f/s\n", static_cast<unsigned long long>(captured),
                  static_cast<double>(captured) / seconds);
    s += buf;
    std::snprintf(buf, sizeof buf, "  delivered   %llu frames, %.1f/s, %ux%u (asked %s)\n",
                  static_cast<unsigned long long>(d_->count), static_cast<double>(d_->count) / seconds, d_->width,
                  d_->height, SizeText(runAsked_).c_str());
    s += buf;
    std::snprintf(buf, sizeof buf, "  dropped     %llu\n",
                  static_cast<unsigned long long>(captured > d_->count ? captured - d_->count : 0));
    s += buf;
    std::snprintf(buf, sizeof buf, "  latency     median %.2f ms, p99 %.2f ms over %zu frames\n",
                  PercentileMs(all, 50), PercentileMs(all, 99), all.size());
    s += buf;
    std::snprintf(buf, sizeof buf, "  frames      numbers %llu..%llu, %llu repeated, %llu unreadable\n",
                  static_cast<unsigned long long>(d_->firstNumber), static_cast<unsigned long long>(d_->lastNumber),
                  static_cast<unsigned long long>(d_->repeated), static_cast<unsigned long long>(d_->unreadable));
    s += buf;
    std::snprintf(buf, sizeof buf, "  work mode   %s while running, %s at the end\n", ModeName(runMode_),
                  ModeName(status_.workMode));
    s += buf;
    for (const ClientState& c : clients_) {
      std::snprintf(buf, sizeof buf, "  client %s %s: %llu frames (%s)\n", c.key.c_str(), c.effect.c_str(),
                    static_cast<unsigned long long>(c.frames), c.silent ? "silent: gone or hung" : c.state.c_str());
      s += buf;
    }
    return s;
  }

 private:
  void Gather() {
    if (vcam_) vcam_->getStatus(&status_);
    if (camera_) {
      sent_ = camera_->framesSent();
      format_ = camera_->Format();
    }
    if (!clientsDir_.empty()) ReadClients(clientsDir_, &clients_);
  }

  std::string Figures(double dt, bool) {
    Gather();
    std::vector<int64_t> window;
    uint64_t delivered, dropped;
    uint32_t w, h;
    {
      std::lock_guard<std::mutex> g(d_->lock);
      window.swap(d_->window);
      delivered = d_->count;
      w = d_->width;
      h = d_->height;
      const uint64_t captured = sent_ - sentStart_;
      dropped = captured > delivered ? captured - delivered : 0;
    }
    char buf[1024];
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    int n = std::snprintf(buf, sizeof buf,
                          "[%4.0fs] captured %.1f/s delivered %.1f/s dropped %llu | %s -> %ux%u (asked %s) | "
                          "latency %.1f/%.1f ms | %s",
                          seconds, static_cast<double>(sent_ - sentBefore_) / dt,
                          static_cast<double>(delivered - deliveredBefore_) / dt,
                          static_cast<unsigned long long>(dropped), format_.empty() ? "-" : format_.c_str(), w, h,
                          SizeText(status_.requestedResolution).c_str(), PercentileMs(window, 50),
                          PercentileMs(window, 99), ModeName(status_.workMode));
    sentBefore_ = sent_;
    deliveredBefore_ = delivered;
    ticked_ = true;
    runMode_ = status_.workMode;
    runAsked_ = status_.requestedResolution;
    std::string line(buf, static_cast<size_t>(std::max(n, 0)) < sizeof buf ? static_cast<size_t>(std::max(n, 0))
                                                                           : sizeof buf - 1);
    for (ClientState& c : clients_) {
      std::snprintf(buf, sizeof buf, " | client %s %s %llu (+%.0f/s)%s", c.key.c_str(), c.effect.c_str(),
                    static_cast<unsigned long long>(c.frames), static_cast<double>(c.frames - c.framesBefore) / dt,
                    c.state == "ended" ? " ended" : c.silent ? " silent" : "");
      c.framesBefore = c.frames;
      line += buf;
    }
    return line;
  }

  VcamControls* vcam_;
  CameraControls* camera_;
  Deliveries* d_;
  std::string clientsDir_;
  std::FILE* log_;
  bool terminal_;
  Clock::time_point start_, lastTick_;
  uint64_t sentStart_ = 0, sentBefore_ = 0, sent_ = 0, deliveredBefore_ = 0;
  std::string format_;
  OruStandInStatus status_{};
  double seconds_ = 0;
  bool ticked_ = false;
  uint32_t runMode_ = 0, runAsked_ = 0;
  std::vector<ClientState> clients_;
};

// The events the host waits on: a stop request (Ctrl-C, SIGTERM), device signals and the
// named quit event when one was asked for.
struct HostEvents {
  platform::Event stop = platform::Event::CreateLocal(true, false);
  platform::Event devices = platform::Event::CreateLocal(false, false);
  platform::Event quit;
  bool watchingDevices = false;
};

// 0, or the exit code after a message.
int InstallEvents(const Options& o, HostEvents* e) {
  if (!e->stop.valid() || !e->devices.valid() || !platform::SetStopRequestEvent(e->stop)) {
    std::fprintf(stderr, "kestrel-host: cannot install the stop handler\n");
    return 1;
  }
  e->watchingDevices = platform::WatchDeviceSignals(e->devices);
  if (!o.quitEvent.empty()) {
    e->quit = platform::Event::CreateNamed(platform::Utf8ToUtf16(o.quitEvent).c_str(), true, false);
    if (!e->quit.valid()) {
      std::fprintf(stderr, "kestrel-host: cannot create the quit event %s\n", o.quitEvent.c_str());
      return 1;
    }
  }
  return 0;
}

struct KestrelLibrary {
  platform::UniqueModule module;
  CreatRendGraphFn create = nullptr;
  ReleaseRendGraphFn release = nullptr;
};

// 0, or the exit code after a message.
int LoadKestrel(KestrelLibrary* k) {
  k->module.reset(platform::LoadModule("Kestrel.dll"));
  if (!k->module) {
    std::fprintf(stderr, "kestrel-host: cannot load Kestrel.dll (%s)\n",
                 platform::kModuleNamesMapped ? "libKestrel.so beside this program or on the library path"
                                              : "beside this program or on the DLL search path");
    return 2;
  }
  if (!platform::BindModuleSymbol(k->module.get(), "CreatRendGraph", &k->create) ||
      !platform::BindModuleSymbol(k->module.get(), "ReleaseRendGraph", &k->release)) {
    std::fprintf(stderr, "kestrel-host: Kestrel.dll lacks %s\n", k->create ? "ReleaseRendGraph" : "CreatRendGraph");
    return 3;
  }
  return 0;
}

// The stand-ins, when they are what the library drives: figures and the consumer's side.
struct StandIns {
  VcamControls vcam;
  bool standIn = false;
  CameraControls camera;
  bool haveCamera = false;
  Deliveries deliveries;
};

// Loads the stand-ins' controls, opens the frame log and the clip, and asks for the consumer's
// size; 0, or the exit code after a message.
int PrepareStandIns(const Options& o, StandIns* s) {
  VcamControls& vcam = s->vcam;
  Deliveries& deliveries = s->deliveries;
  s->standIn = vcam.Load();
  const bool wantsStandIn = o.openWidth != 0 || !o.clip.empty() || !o.png.empty() || !o.frames.empty();
  if (wantsStandIn && !s->standIn) {
    std::fprintf(stderr, "kestrel-host: --open, --clip, --png and --frames need the virtual-camera stand-in "
                         "(OruVCapture.dll with its OruStandIn_ controls)\n");
    return 6;
  }
  s->haveCamera = s->camera.Load();
  deliveries.camera = s->haveCamera ? &s->camera : nullptr;
  deliveries.startNs = NowNs();
  if (!o.frames.empty()) {
    deliveries.framesLog = std::fopen(o.frames.c_str(), "w");
    if (!deliveries.framesLog) {
      std::fprintf(stderr, "kestrel-host: cannot write %s\n", o.frames.c_str());
      return 1;
    }
    std::fputs("# index frame_number arrival_ms latency_ms\n", deliveries.framesLog);
  }
  if (s->standIn) {
    vcam.setListener(&OnFrame, &deliveries);
    if (!o.clip.empty() && vcam.startClip(o.clip.c_str()) != 1) {
      std::fprintf(stderr, "kestrel-host: cannot write %s\n", o.clip.c_str());
      return 1;
    }
    // Asked for before the library starts: its first resolution poll opens the camera.
    if (o.openWidth) vcam.consumerOpen(o.openWidth, o.openHeight, 0);
  }
  return 0;
}

// Creates and initialises the render graph, then sets the ready event; 0, or the exit code
// after a message.
int StartGraph(const Options& o, const KestrelLibrary& k, IRendGraph** graph) {
  if (k.create(graph) != 1 || *graph == nullptr) {
    std::fprintf(stderr, "kestrel-host: CreatRendGraph gave no render graph\n");
    return 4;
  }
  if ((*graph)->Initialize(0) != 1) {
    std::fprintf(stderr, "kestrel-host: Initialize failed (is OruVCapture.dll there? see c:\\QuillonVCapture.log "
                         "with the Log switch on)\n");
    (*graph)->Uninitialize();
    k.release(graph);
    return 5;
  }
  if (!o.readyEvent.empty()) {
    const platform::Event ready =
        platform::Event::CreateNamed(platform::Utf8ToUtf16(o.readyEvent).c_str(), true, false);
    ready.Set();
  }
  return 0;
}

// Ticks the status board once a second and passes device signals on until a stop request,
// the quit event or the end of --seconds.
void RunUntilStopped(const Options& o, const HostEvents& e, IRendGraph* graph, StatusBoard* board) {
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(o.seconds);
  auto nextTick = start + std::chrono::seconds(1);
  const platform::Event* waits[] = {&e.stop, &e.devices, &e.quit};
  const uint32_t waitCount = e.quit.valid() ? 3 : 2;
  for (;;) {
    const auto now = Clock::now();
    if (o.seconds && now >= end) break;
    auto until = nextTick;
    if (o.seconds && end < until) until = end;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
    const uint32_t w = platform::WaitForAnyEvent(waits, waitCount, static_cast<uint32_t>(std::max<int64_t>(ms, 0)));
    if (w == platform::kWaitObject0 || w == platform::kWaitObject0 + 2) break;
    if (w == platform::kWaitObject0 + 1) {
      uint32_t arrivals = 0, removals = 0;
      platform::TakeDeviceSignals(&arrivals, &removals);
      for (uint32_t i = 0; i < arrivals; ++i) graph->NotifyDeviceChange(NOTIFY_ARRIVAL, 0, u"");
      for (uint32_t i = 0; i < removals; ++i) graph->NotifyDeviceChange(NOTIFY_REMOVAL, 0, u"");
    } else if (w == platform::kWaitFailed) {
      std::fprintf(stderr, "kestrel-host: waiting failed; stopping\n");
      break;
    }
    if (Clock::now() >= nextTick) {
      board->Tick();
      nextTick += std::chrono::seconds(1);
    }
  }
  board->EndLine();
}

// Stops the clip, writes the PNG and closes the frame log; 0, or 6 when no PNG was written.
int FinishStandIns(const Options& o, StandIns* s) {
  int result = 0;
  if (s->standIn) {
    s->vcam.setListener(nullptr, nullptr);
    if (!o.clip.empty()) s->vcam.stopClip();
    if (!o.png.empty() && s->vcam.writePng(o.png.c_str()) != 1) {
      std::fprintf(stderr, "kestrel-host: no PNG written to %s (no frame, or no PNG support in this build)\n",
                   o.png.c_str());
      result = 6;
    }
  }
  if (s->deliveries.framesLog) std::fclose(s->deliveries.framesLog);
  return result;
}

// Prints the summary and writes it to the log (closing it) and the --summary file; false when
// that file could not be written.
bool WriteSummary(const Options& o, const std::string& summary, std::FILE* log) {
  bool ok = true;
  std::fputs(summary.c_str(), stdout);
  if (log) {
    std::fputs(summary.c_str(), log);
    std::fclose(log);
  }
  if (!o.summary.empty()) {
    std::FILE* f = std::fopen(o.summary.c_str(), "w");
    if (!f || std::fputs(summary.c_str(), f) < 0) {
      std::fprintf(stderr, "kestrel-host: cannot write %s\n", o.summary.c_str());
      ok = false;
    }
    if (f) std::fclose(f);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const int parsed = ParseOptions(argc, argv, &o);
  if (parsed == 1) return 0;
  if (parsed == 2) return 1;

  HostEvents events;
  if (const int failed = InstallEvents(o, &events)) return failed;
  KestrelLibrary kestrel;
  if (const int failed = LoadKestrel(&kestrel)) return failed;
  StandIns standIns;
  if (const int failed = PrepareStandIns(o, &standIns)) return failed;
  IRendGraph* graph = nullptr;
  if (const int failed = StartGraph(o, kestrel, &graph)) return failed;
  std::printf("kestrel-host: running%s%s\n", o.seconds ? (" for " + std::to_string(o.seconds) + " s").c_str() : "",
              events.watchingDevices ? "; SIGUSR1 device arrival, SIGUSR2 removal" : "");
  std::fflush(stdout);

  std::FILE* log = nullptr;
  if (!o.log.empty() && (log = std::fopen(o.log.c_str(), "w")) == nullptr) {
    std::fprintf(stderr, "kestrel-host: cannot write %s\n", o.log.c_str());
    graph->Uninitialize();
    kestrel.release(&graph);
    return 1;
  }
  VcamControls& vcam = standIns.vcam;
  StatusBoard board(standIns.standIn ? &vcam : nullptr, standIns.haveCamera ? &standIns.camera : nullptr,
                    &standIns.deliveries, o.clients, log);
  RunUntilStopped(o, events, graph, &board);

  // The consumer leaves first, so the clients' counts stand still and reach their status
  // files (each writes its own every 250 ms) before the figures are taken.
  if (standIns.standIn && o.openWidth) {
    const uint32_t idle = vcam.countCalls("OruVCapSetWorkMode(0)");
    vcam.consumerClose();
    vcam.waitForCall("OruVCapSetWorkMode(0)", idle + 1, 5000);
    if (!o.clients.empty()) platform::Event::CreateLocal(true, false).Wait(600);
  }
  board.Finish();

  graph->Uninitialize();
  kestrel.release(&graph);
  int result = FinishStandIns(o, &standIns);
  if (!WriteSummary(o, board.Summary(), log)) result = 1;
  return result;
}
