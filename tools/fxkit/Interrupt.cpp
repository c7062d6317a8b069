// The SIGINT handler does only async-signal-safe work: it sets a flag, or on the second signal
// unlinks the registered temporary file, writes one line and calls _exit.
#include "tools/fxkit/Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace fxcli {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
volatile std::sig_atomic_t gPendingSet = 0;
char gPending[4096];
struct sigaction gPrevious {};
struct sigaction gPreviousFileSize {};

extern "C" void FxkitInterruptHandler(int) {
  if (!gInterrupted) {
    gInterrupted = 1;
    return;
  }
  if (gPendingSet) unlink(gPending);
  static const char kMessage[] = "fxkit: interrupted\n";
  ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
  (void)ignored;
  _exit(130);
}

}  // namespace

InterruptGuard::InterruptGuard() {
  gInterrupted = 0;
  struct sigaction action {};
  action.sa_handler = FxkitInterruptHandler;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &gPrevious);
  // A write past the file-size limit (ulimit -f) fails with EFBIG instead of killing the tool,
  // so the temporary output is removed and the error reported like any other failed write.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &gPreviousFileSize);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &gPrevious, nullptr);
  sigaction(SIGXFSZ, &gPreviousFileSize, nullptr);
  SetPendingFile(nullptr);
}

bool InterruptRequested() {
  return gInterrupted != 0;
}

void SetPendingFile(const char* path) {
  gPendingSet = 0;
  if (!path || std::strlen(path) >= sizeof(gPending)) return;
  std::memcpy(gPending, path, std::strlen(path) + 1);
  gPendingSet = 1;
}

}  // namespace fxcli
