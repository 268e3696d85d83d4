// Runs a role's worker the way the program does (CreateThread on the worker
// procedure, the default device, the built-in devices only) against a main
// window whose status line and "Client Info" button the tests read.
//
// The window is dialog template 129, driven by a small dialog procedure of
// the harness on a user-interface thread of its own, so the worker's sent
// status texts are handled as in the program. Every status text and every
// WM_RUN_FINISHED is recorded; message boxes are recorded by the TestHost
// part (answered at once unless held).
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_host.h"

namespace twtest {

class RunHarness : public TestHost {
 public:
  RunHarness();
  // Ends a worker that is still running (stop request, boxes released), then
  // closes the window.
  ~RunHarness() override;

  // Starts procedure on a new thread with a null device and waits until its
  // run has begun, so a later stop request is not cleared by the run's start.
  // False when the thread could not be made or the run did not begin.
  bool StartWorker(LPTHREAD_START_ROUTINE procedure);
  void RequestStop();
  // The connections' stall limit for this harness's runs (the program's
  // kStalledPeerMs again once the harness goes): tests whose subject is not
  // the limit itself use kTestStallMs.
  static constexpr int kTestStallMs = 1000;
  void SetStallLimit(int ms);
  // True once the worker thread has ended, context release included.
  bool WaitForWorkerEnd(int timeoutMs);
  bool WorkerEnded();

  std::vector<std::string> StatusTexts() const;
  // The status texts without the waiting line, which repeats every 200 ms.
  std::vector<std::string> StatusTextsBesidesWaiting() const;
  size_t StatusCount(const std::string& text) const;
  // Drops the recorded texts and their storage (long runs record thousands).
  void ForgetStatusTexts();
  // Waits until text has been shown at least count times.
  bool WaitForStatus(const std::string& text, int timeoutMs, size_t count = 1) const;

  int FinishedCount() const;
  bool WaitForFinishedCount(int count, int timeoutMs) const;
  bool ClientInfoEnabled() const;

  void WindowChanged(HWND window, twplat::WindowChange what,
                     const twplat::WindowState& state) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void RunWindow();

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  HWND dialog_ = nullptr;
  HWND statusLine_ = nullptr;
  bool windowReady_ = false;
  std::vector<std::string> statusTexts_;
  int finished_ = 0;
  std::thread uiThread_;
  HANDLE worker_ = nullptr;
};

}  // namespace twtest
