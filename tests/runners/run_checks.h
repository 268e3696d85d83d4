// Checks every run ends with, whatever its role and its way out.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "core/stream_header.h"
#include "tests/runners/run_harness.h"

namespace twtest {

inline std::string StoredMagic() {
  const StreamHeader header = appState.currentHeader.Get();
  return std::string(header.magic, sizeof header.magic);
}

// The worker has ended, WM_RUN_FINISHED reached the window exactly once, and
// the stored header's magic is the invalid marker.
inline void ExpectRunEndedOnce(RunHarness& harness) {
  EXPECT_TRUE(harness.WaitForWorkerEnd(5000));
  EXPECT_TRUE(harness.WaitForFinishedCount(1, 2000));
  // Every post of the run comes before its worker ends; 50 ms lets the
  // window handle whatever is still queued.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(1, harness.FinishedCount());
  EXPECT_EQ("BOGUSSTR", StoredMagic());
  EXPECT_EQ(kRunFinished, appState.runState.load());
  EXPECT_EQ(0, appState.stopRequested.load());
}

}  // namespace twtest
