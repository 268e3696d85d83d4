// The Start and Stop commands of the main window, and the message pump that
// keeps the window responsive while Stop waits for the worker.
//
// Thread contract: user-interface thread only. The worker is reached only
// through appState.stopRequested; its end is seen in appState.runState, in
// its thread handle and in WM_RUN_FINISHED.
#pragma once

#include <windows.h>

// Checks the port (and, for the Client, the host) field, starts the socket
// library once and starts the role's worker thread on the device deviceId
// names (null: the default device; the GUID must outlive the run).
// While a run is going on it only refreshes appState.bufferMeter.
void StartRun(HWND window, LPGUID deviceId);

// Asks a running worker to stop and waits for it in steps of at most 3000 ms,
// dispatching the window's messages meanwhile; then restores the idle look.
// After a step with no input, no posted message and no end of the worker it
// shows "Timed out" and leaves the window as it is (the run's own
// WM_RUN_FINISHED resets it later). Re-entrant: the pump may dispatch
// WM_RUN_FINISHED or another Stop into a nested call.
void StopRun(HWND window);

// Waits up to timeoutMs for the last started worker thread to end, without
// dispatching messages; at once when none was started.
void WaitForWorkerEnd(DWORD timeoutMs);
