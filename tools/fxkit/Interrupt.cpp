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
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &gPrevious, nullptr);
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
