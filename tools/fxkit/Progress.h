// The command line's progress bar: one line on stderr naming the phase (loading, applying,
// saving) with a bar and a percentage. Drawn only when enabled (stderr is a terminal and not
// --quiet) and once the command has run longer than a delay, so quick runs stay silent. Every
// report also answers whether Ctrl-C asked the run to stop.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "tools/fxkit/ImageIO.h"

namespace fxcli {

class ProgressBar {
 public:
  ProgressBar(bool enabled, std::chrono::milliseconds delay);
  ~ProgressBar();  // clears the line it drew
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Starts a phase: "loading", "applying", "saving".
  void Phase(const std::string& label);
  // Shows `percent` of the current phase; false once an interrupt was requested.
  bool Report(int32_t percent);
  // The host's status callback form: ERROR_HOST_CANCELLED once an interrupt was requested.
  static int32_t HostCallback(int32_t percent, void* user);
  // The image files' form.
  IoProgress Io() {
    return [this](int32_t percent) { return Report(percent); };
  }

  // Test hook: raise a real SIGINT when `phase` reaches `percent`.
  void InterruptAt(const std::string& phase, int32_t percent) {
    interruptPhase_ = phase;
    interruptAt_ = percent;
  }

 private:
  bool enabled_;
  std::chrono::milliseconds delay_;
  std::chrono::steady_clock::time_point start_;
  std::string phase_, interruptPhase_;
  int32_t interruptAt_ = -1;
  int32_t last_ = -1;
  bool shown_ = false, raised_ = false;
};

}  // namespace fxcli
