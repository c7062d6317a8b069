#include "tools/fxkit/Progress.h"

#include <csignal>
#include <cstdio>

#include "tools/fxkit/Interrupt.h"

namespace fxcli {

namespace {
constexpr int kBarWidth = 40;
constexpr int kLineWidth = 9 + kBarWidth + 7;
}  // namespace

ProgressBar::ProgressBar(bool enabled, std::chrono::milliseconds delay)
    : enabled_(enabled), delay_(delay), start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() {
  if (shown_) {
    std::fprintf(stderr, "\r%*s\r", kLineWidth, "");
    std::fflush(stderr);
  }
}

void ProgressBar::Phase(const std::string& label) {
  phase_ = label;
  last_ = -1;
  raised_ = false;
}

bool ProgressBar::Report(int32_t percent) {
  if (interruptAt_ >= 0 && phase_ == interruptPhase_ && percent >= interruptAt_ && !raised_) {
    raised_ = true;
    std::raise(SIGINT);
  }
  if (InterruptRequested()) return false;
  if (!enabled_ || percent == last_) return true;
  if (std::chrono::steady_clock::now() - start_ < delay_) return true;
  last_ = percent;
  shown_ = true;
  const int p = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  const int filled = p * kBarWidth / 100;
  std::fprintf(stderr, "\r%-8s [%.*s%*s] %3d%%", phase_.c_str(), filled,
               "########################################", kBarWidth - filled, "", p);
  std::fflush(stderr);
  return true;
}

int32_t ProgressBar::HostCallback(int32_t percent, void* user) {
  return static_cast<ProgressBar*>(user)->Report(percent) ? SUCCESS : ERROR_HOST_CANCELLED;
}

}  // namespace fxcli
