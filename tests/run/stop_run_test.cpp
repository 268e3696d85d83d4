// StopRun against a worker the test controls, on the real main-window
// template: a Stop that comes before the worker has made its RunGuard.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/app_state.h"
#include "core/run_state.h"
#include "res/resource.h"
#include "run/run_commands.h"
#include "tests/support/test_dialog.h"

namespace twtest {
namespace {

// Makes its RunGuard only once the test lets it, then runs until stopped.
DWORD WINAPI GuardedWorker(LPVOID makeGuard) {
  WaitForSingleObject(static_cast<HANDLE>(makeGuard), INFINITE);
  RunGuard guard;
  while (appState.stopRequested.load() == 0) {
    Sleep(10);
  }
  return 0;
}

std::string StatusText(HWND dialog) {
  char text[64] = {};
  GetDlgItemTextA(dialog, IDC_STATUS, text, sizeof text);
  return text;
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

TEST(StopRun, AStopBeforeTheWorkersGuardChangesNothingAndALaterStopEndsTheRun) {
  RunInsideDialog([](HWND dialog) {
    appState.mainWindow.store(dialog);
    appState.statusLine.store(nullptr);
    appState.runState.store(kRunIdle);
    SetStatus("Server ready");
    // The running look, as Start leaves it once the thread exists.
    EnableWindow(GetDlgItem(dialog, IDC_START), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_STOP), TRUE);
    HANDLE makeGuard = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE worker = CreateThread(nullptr, 0, GuardedWorker, makeGuard, 0, nullptr);
    ASSERT_NE(worker, nullptr);
    const HANDLE previous = appState.workerThread;
    appState.workerThread = worker;

    StopRun(dialog);
    EXPECT_EQ(StatusText(dialog), "Server ready");
    EXPECT_EQ(appState.stopRequested.load(), 0);
    EXPECT_TRUE(Enabled(dialog, IDC_STOP));
    EXPECT_FALSE(Enabled(dialog, IDC_START));

    SetEvent(makeGuard);
    for (int waited = 0; appState.runState.load() != kRunRunning && waited < 10000; ++waited) {
      Sleep(1);
    }
    ASSERT_EQ(appState.runState.load(), kRunRunning);
    StopRun(dialog);
    EXPECT_EQ(StatusText(dialog), "Stopped");
    EXPECT_EQ(appState.runState.load(), kRunIdle);
    EXPECT_TRUE(Enabled(dialog, IDC_START));
    EXPECT_FALSE(Enabled(dialog, IDC_STOP));
    EXPECT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0);

    appState.workerThread = previous;
    appState.mainWindow.store(nullptr);
    appState.statusLine.store(nullptr);
    CloseHandle(worker);
    CloseHandle(makeGuard);
  });
}

}  // namespace
}  // namespace twtest
