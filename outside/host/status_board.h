// kestrel-host's status board: a line of figures once a second and the end-of-run summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "outside/host/stand_in_controls.h"

using Clock = std::chrono::steady_clock;

// A client, as its status file last read.
struct ClientState {
  std::string file, key, effect, state;
  bool silent = false;  // still "running" by its file, which has not changed for over a second
  uint64_t frames = 0, framesBefore = 0;
};

// Prints the figures once a second and keeps the totals for the summary.
class StatusBoard {
 public:
  StatusBoard(VcamControls* vcam, CameraControls* camera, Deliveries* deliveries, std::string clientsDir,
              std::FILE* log);

  // Prints and logs the figures of the last second; on a terminal the line is rewritten.
  void Tick();

  // Takes the figures for the summary, while the library still runs.
  void Finish();

  // The run's length ends here (rates are per second of it).
  void EndLine();

  // The whole run, several lines.
  std::string Summary();

 private:
  void Gather();
  std::string Figures(double dt, bool);

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
