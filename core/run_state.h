// How a run announces itself and its end, and the status line.
//
// Thread contract: RunGuard and FinishRun run on the worker thread; SetStatus
// on either thread (from the worker it waits until the user-interface thread
// has shown the text).
#pragma once

#include <windows.h>

// Held by each runner for its whole body: creation clears the stop request,
// then publishes Running; destruction performs FinishRun, on every way out.
class RunGuard {
 public:
  RunGuard();
  ~RunGuard();
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;
};

// Invalidates the current header, publishes Finished, clears the stop
// request, then posts WM_RUN_FINISHED to the main window if there is one.
void FinishRun();

// Shows text in the status line (control 1014 of the main window). Before the
// main window exists it shows nothing and looks the control up again next
// time.
void SetStatus(const char* text);
