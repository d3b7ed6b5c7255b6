// kestrel-host's status board: reads the stand-ins' figures and the clients' status files.
#include "outside/host/status_board.h"

#include <algorithm>
#include <filesystem>

#include "platform/console.h"

namespace {

// The p-th percentile of `v` (sorted in place), in ms.
double PercentileMs(std::vector<int64_t>& v, double p) {
  if (v.empty()) return 0;
  const size_t k = std::min(v.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(v.size())));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return static_cast<double>(v[k]) / 1e6;
}

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

}  // namespace

StatusBoard::StatusBoard(VcamControls* vcam, CameraControls* camera, Deliveries* deliveries, std::string clientsDir,
                         std::FILE* log)
    : vcam_(vcam), camera_(camera), d_(deliveries), clientsDir_(std::move(clientsDir)), log_(log),
      terminal_(platform::StandardOutputIsTerminal()) {
  start_ = lastTick_ = Clock::now();
  sentStart_ = sentBefore_ = camera_ ? camera_->framesSent() : 0;
}

void StatusBoard::Tick() {
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

void StatusBoard::Finish() {
  Gather();
  if (!ticked_) {
    runMode_ = status_.workMode;
    runAsked_ = status_.requestedResolution;
  }
}

void StatusBoard::EndLine() {
  seconds_ = std::chrono::duration<double>(Clock::now() - start_).count();
  if (terminal_) std::printf("\n");
}

std::string StatusBoard::Summary() {
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

void StatusBoard::Gather() {
  if (vcam_) vcam_->getStatus(&status_);
  if (camera_) {
    sent_ = camera_->framesSent();
    format_ = camera_->Format();
  }
  if (!clientsDir_.empty()) ReadClients(clientsDir_, &clients_);
}

std::string StatusBoard::Figures(double dt, bool) {
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
