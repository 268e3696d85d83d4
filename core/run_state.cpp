// The run state, the end-of-run message and the status line.
#include "core/run_state.h"

#include "core/app_state.h"
#include "core/stream_header.h"
#include "res/resource.h"

RunGuard::RunGuard() {
  appState.stopRequested.store(0);
  appState.runState.store(kRunRunning);
}

RunGuard::~RunGuard() { FinishRun(); }

void FinishRun() {
  InvalidateHeader(appState.currentHeader);
  appState.runState.store(kRunFinished);
  appState.stopRequested.store(0);
  HWND mainWindow = appState.mainWindow.load();
  if (mainWindow != nullptr) {
    PostMessageA(mainWindow, WM_RUN_FINISHED, 0, 0);
  }
}

// Both threads may look the control up at once; they store the same handle.
void SetStatus(const char* text) {
  HWND statusLine = appState.statusLine.load();
  if (statusLine == nullptr) {
    statusLine = GetDlgItem(appState.mainWindow.load(), IDC_STATUS);
    appState.statusLine.store(statusLine);
  }
  SendMessageA(statusLine, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
