// The run state a runner publishes, the end-of-run message, and the status
// line written from either thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "core/run_state.h"
#include "core/stream_header.h"
#include "res/resource.h"
#include "tests/support/cd_format.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_host.h"

namespace {

class RunState : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }

  static void Reset() {
    appState.mainWindow.store(nullptr);
    appState.statusLine.store(nullptr);
    appState.runState.store(kRunIdle);
    appState.stopRequested.store(0);
  }

  // Removes and counts the WM_RUN_FINISHED messages queued for window.
  static int TakeRunFinished(HWND window) {
    int count = 0;
    MSG message;
    while (PeekMessageA(&message, window, WM_RUN_FINISHED, WM_RUN_FINISHED, PM_REMOVE)) {
      if (message.message == WM_RUN_FINISHED) {
        EXPECT_EQ(message.wParam, 0u);
        EXPECT_EQ(message.lParam, 0);
        ++count;
      }
    }
    return count;
  }

  static std::string StatusText(HWND window) {
    char text[64];
    GetDlgItemTextA(window, IDC_STATUS, text, sizeof text);
    return text;
  }

  twtest::TestHost host_;
};

StreamHeader LastReceivedHeader() { return twtest::CdHeader(kBlockBytes); }

TEST_F(RunState, RunnerThatFailsAtOncePassesThroughRunningAndFinished) {
  twtest::RunInsideDialog([&](HWND window) {
    appState.mainWindow.store(window);
    appState.currentHeader.Store(EncodeHeader(LastReceivedHeader()));
    appState.stopRequested.store(1);  // left set by an earlier Stop that timed out

    std::atomic<LONG> stateInside{-1};
    std::atomic<LONG> stopInside{-1};
    std::thread worker([&] {
      RunGuard guard;
      stateInside.store(appState.runState.load());
      stopInside.store(appState.stopRequested.load());
      appState.stopRequested.store(1);  // a Stop that arrives during the run
    });
    worker.join();

    EXPECT_EQ(stateInside.load(), kRunRunning);
    EXPECT_EQ(stopInside.load(), 0);
    EXPECT_EQ(appState.runState.load(), kRunFinished);
    EXPECT_EQ(appState.stopRequested.load(), 0);
    EXPECT_EQ(TakeRunFinished(window), 1);
  });
}

TEST_F(RunState, AfterARunTheHeaderMagicIsInvalidAndTheFormatKept) {
  appState.currentHeader.Store(EncodeHeader(LastReceivedHeader()));
  { RunGuard guard; }
  StreamHeader after = appState.currentHeader.Get();
  EXPECT_EQ(std::string(after.magic, sizeof after.magic), "BOGUSSTR");
  EXPECT_EQ(after.samplesPerSecond, 44100u);
  EXPECT_EQ(after.channels, 2u);
  EXPECT_EQ(after.bitsPerSample, 16u);
  EXPECT_EQ(after.averageBytesPerSecond, 176400u);
  EXPECT_EQ(after.blockAlign, 4u);
  EXPECT_EQ(after.blockLength, kBlockBytes);
  // Without a main window nothing is posted, and the run still finishes.
  EXPECT_EQ(appState.runState.load(), kRunFinished);
}

TEST_F(RunState, EachRunPostsItsOwnEndOnce) {
  twtest::RunInsideDialog([&](HWND window) {
    appState.mainWindow.store(window);
    for (int run = 0; run < 3; ++run) {
      std::thread worker([] { RunGuard guard; });
      worker.join();
    }
    EXPECT_EQ(TakeRunFinished(window), 3);
  });
}

TEST_F(RunState, StatusBeforeTheWindowExistsShowsNothingAndIsLookedUpLater) {
  SetStatus("Client ready");
  EXPECT_EQ(appState.statusLine.load(), nullptr);

  twtest::RunInsideDialog([&](HWND window) {
    HWND statusLine = GetDlgItem(window, IDC_STATUS);
    EXPECT_EQ(StatusText(window), "Ready");
    appState.mainWindow.store(window);
    SetStatus("Server ready");
    EXPECT_EQ(appState.statusLine.load(), statusLine);
    EXPECT_EQ(StatusText(window), "Server ready");
    EXPECT_EQ(host_.Texts(statusLine), (std::vector<std::string>{"Ready", "Server ready"}));
  });
}

TEST_F(RunState, StatusFromTheWorkerWaitsUntilTheWindowShowsIt) {
  twtest::RunInsideDialog([&](HWND window) {
    appState.mainWindow.store(window);
    SetStatus("Client ready");  // the window's thread looks the status line up
    std::atomic<bool> returned{false};
    std::thread worker([&] {
      SetStatus("Transmitting");
      returned.store(true);
    });
    Sleep(50);
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(StatusText(window), "Client ready");
    EXPECT_TRUE(twtest::PumpUntil([&] { return returned.load(); }, 10000));
    worker.join();
    EXPECT_EQ(StatusText(window), "Transmitting");
  });
}

}  // namespace
