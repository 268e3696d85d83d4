// SIGINT and SIGTERM as requests to close the window. They are blocked in
// every thread (call BlockStopSignals before any thread starts) and taken
// by a watcher thread of their own, so no handler runs inside the window
// system and the driver sleeps until a signal or a change wakes it.
#pragma once

#include <functional>

namespace twcli {

// Blocks the signals and starts their watcher. False when the signal mask
// cannot be set or the watcher cannot start.
bool BlockStopSignals();
// True when SIGINT or SIGTERM has arrived and was not taken yet; takes one.
// Never waits.
bool TakeStopSignal();
// True while a signal waits to be taken.
bool StopSignalPending();

// While it lives, wake runs on the watcher's thread after each signal.
class StopSignalWaker {
 public:
  explicit StopSignalWaker(std::function<void()> wake);
  ~StopSignalWaker();
  StopSignalWaker(const StopSignalWaker&) = delete;
  StopSignalWaker& operator=(const StopSignalWaker&) = delete;
};

}  // namespace twcli
