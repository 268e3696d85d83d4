#include "cli/stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <ctime>

namespace twcli {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

bool BlockStopSignals() {
  sigset_t set = StopSignals();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

bool TakeStopSignal() {
  sigset_t set = StopSignals();
  timespec noWait{0, 0};
  return sigtimedwait(&set, nullptr, &noWait) > 0;
}

}  // namespace twcli
