#include "cli/stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace twcli {
namespace {

std::atomic<int> pendingSignals{0};
std::mutex wakeMutex;
std::function<void()> wakeOnSignal;  // under wakeMutex

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// Runs until the process ends.
void* WatchStopSignals(void*) {
  const sigset_t set = StopSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) {
      continue;
    }
    pendingSignals.fetch_add(1, std::memory_order_acq_rel);
    std::lock_guard<std::mutex> lock(wakeMutex);
    if (wakeOnSignal) {
      wakeOnSignal();
    }
  }
}

}  // namespace

bool BlockStopSignals() {
  sigset_t set = StopSignals();
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
    return false;
  }
  pthread_t watcher;
  if (pthread_create(&watcher, nullptr, WatchStopSignals, nullptr) != 0) {
    return false;
  }
  pthread_detach(watcher);
  return true;
}

bool TakeStopSignal() {
  int pending = pendingSignals.load(std::memory_order_acquire);
  while (pending > 0 &&
         !pendingSignals.compare_exchange_weak(pending, pending - 1, std::memory_order_acq_rel)) {
  }
  return pending > 0;
}

bool StopSignalPending() { return pendingSignals.load(std::memory_order_acquire) > 0; }

StopSignalWaker::StopSignalWaker(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(wakeMutex);
  wakeOnSignal = std::move(wake);
}

StopSignalWaker::~StopSignalWaker() {
  std::lock_guard<std::mutex> lock(wakeMutex);
  wakeOnSignal = nullptr;
}

}  // namespace twcli
