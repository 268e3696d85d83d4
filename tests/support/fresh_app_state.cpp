#include "tests/support/fresh_app_state.h"

#include "core/app_state.h"

namespace twtest {

void ResetAppState() {
  appState.mainWindow.store(nullptr);
  appState.statusLine.store(nullptr);
  appState.bufferMeter.store(nullptr);
  appState.runState.store(kRunIdle);
  appState.stopRequested.store(0);
  appState.volume.store(0);
  appState.appliedVolume.store(-1);
  appState.stalledPeerMs.store(kStalledPeerMs);
}

}  // namespace twtest
