// kestrel-host, the host service program: loads the Kestrel library by its file name, creates
// its render-graph object, initialises it and runs until told to stop (Ctrl-C, SIGTERM, a
// named quit event or --seconds), passing device notifications on; then uninitialises and
// releases it. With the virtual-camera stand-in it also plays the consumer (opens the camera
// at a size), keeps the delivered frames as a Y4M clip and the last one as a PNG, and prints
// once a second what the camera, the virtual camera and the clients did.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "graph/rend_graph_api.h"
#include "outside/host/host_options.h"
#include "outside/host/stand_in_controls.h"
#include "outside/host/status_board.h"
#include "platform/device_signals.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/stop_request.h"
#include "platform/text.h"

namespace {

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

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
