// Ctrl-C for the command line. While an InterruptGuard is alive the first SIGINT only raises a
// flag that the progress callbacks of loading, the effect and saving turn into a prompt stop;
// a second SIGINT ends the process at once (exit 130), removing a temporary output file first.
#pragma once

namespace fxcli {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// True once SIGINT has arrived under a guard.
bool InterruptRequested();

// The temporary file being written, removed by the handler on a second Ctrl-C; null when none.
// The path is copied into a fixed buffer (paths longer than it are not registered).
void SetPendingFile(const char* path);

}  // namespace fxcli
