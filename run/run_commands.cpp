#include <winsock2.h>

#include <windows.h>

#include "run/run_commands.h"

#include "core/app_state.h"
#include "core/error_reporter.h"
#include "core/run_state.h"
#include "net/sockets.h"
#include "res/resource.h"
#include "run/workers.h"

namespace {

constexpr DWORD kStopWaitStepMs = 3000;
constexpr UINT kHighestPort = 65535;

// Counts the worker threads Start has created, so that a Stop waiting for
// one run notices when its pump has let a newer run start.
unsigned startedRuns = 0;

void EnableControl(HWND window, int id, BOOL enable) {
  EnableWindow(GetDlgItem(window, id), enable);
}

// Port 0 and numbers above 65535 are refused like text: the socket calls take
// only the low 16 bits, so 70000 would quietly become port 4464, and a Server
// on port 0 would listen where no Client can know.
bool ReadPort(HWND window) {
  BOOL translated = FALSE;
  UINT port = GetDlgItemInt(window, IDC_TARGET_PORT, &translated, FALSE);
  if (!translated || port == 0 || port > kHighestPort) {
    MessageBoxA(window, "Enter correct target port", "Error", MB_ICONWARNING);
    return false;
  }
  appState.targetPort.store(static_cast<int>(port));
  return true;
}

// The Server does not read the host field: its targetHost stays empty.
bool ReadHost(HWND window, bool client) {
  appState.targetHost[0] = '\0';
  if (!client) {
    return true;
  }
  if (GetDlgItemTextA(window, IDC_TARGET_HOST, appState.targetHost, kTargetHostBytes) == 0) {
    MessageBoxA(window, "Enter correct target host", "Error", MB_ICONWARNING);
    return false;
  }
  return true;
}

// Replaces the previous run's handle; that thread may still be releasing its
// socket and audio objects, which the handle is not needed for.
void KeepWorkerHandle(HANDLE thread) {
  if (appState.workerThread != nullptr) {
    CloseHandle(appState.workerThread);
  }
  appState.workerThread = thread;
  ++startedRuns;
}

void ShowRunningLook(HWND window) {
  EnableControl(window, IDC_START, FALSE);
  EnableControl(window, IDC_STOP, TRUE);
  EnableControl(window, IDC_CLIENT, FALSE);
  EnableControl(window, IDC_SERVER, FALSE);
}

void ShowIdleLook(HWND window) {
  SetStatus("Stopped");
  EnableControl(window, IDC_START, TRUE);
  EnableControl(window, IDC_STOP, FALSE);
  EnableControl(window, IDC_CLIENT, TRUE);
  EnableControl(window, IDC_SERVER, TRUE);
  EnableControl(window, IDC_CLIENT_INFO, FALSE);
  appState.runState.store(kRunIdle);
}

// Dispatches what is queued for window and its controls until nothing is
// left. A quit request is put back for the modal loop and ends the pump.
void PumpMessages(HWND window) {
  MSG message;
  while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    DispatchMessageA(&message);
  }
}

// True once the worker has ended (or reported Finished); false when the
// window must keep its running look: a time-out, a failed wait, or a pump
// that destroyed the window or started a newer run, which owns the look now.
bool WaitForWorker(HWND window) {
  HANDLE thread = appState.workerThread;
  const unsigned run = startedRuns;
  appState.stopRequested.store(1);
  while (appState.runState.load() == kRunRunning) {
    DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, kStopWaitStepMs, QS_ALLEVENTS);
    if (result == WAIT_OBJECT_0) {
      return true;
    }
    if (result == WAIT_OBJECT_0 + 1) {
      PumpMessages(window);
      if (!IsWindow(window) || startedRuns != run) {
        return false;
      }
      continue;
    }
    if (result == WAIT_TIMEOUT) {
      if (appState.runState.load() == kRunRunning) {
        MessageBoxA(window, "Timed out", "Error", MB_ICONERROR);
        return false;
      }
      continue;
    }
    ReportError("WaitMultObj", static_cast<LONG>(GetLastError()));
    return false;
  }
  return true;
}

}  // namespace

void StartRun(HWND window, LPGUID deviceId) {
  appState.bufferMeter.store(GetDlgItem(window, IDC_BUFFER_METER));
  if (appState.runState.load() == kRunRunning) {
    return;
  }
  if (!StartWinsockOnce()) {
    MessageBoxA(nullptr, "Cannot init Winsock", "Info", MB_ICONERROR);
    return;
  }
  const bool client = IsDlgButtonChecked(window, IDC_CLIENT) == BST_CHECKED;
  if (!ReadPort(window) || !ReadHost(window, client)) {
    return;
  }
  HANDLE thread =
      CreateThread(nullptr, 0, client ? CaptureWorker : PlaybackWorker, deviceId, 0, nullptr);
  KeepWorkerHandle(thread);
  if (thread == nullptr) {
    MessageBoxA(nullptr, "Cannot start runner", "DSound", MB_OK);
    return;
  }
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);  // best effort: keeps audio in pace
  ShowRunningLook(window);
}

void StopRun(HWND window) {
  const LONG state = appState.runState.load();
  if (state == kRunIdle) {
    return;
  }
  if (state == kRunRunning && !WaitForWorker(window)) {
    return;
  }
  ShowIdleLook(window);
}

void WaitForWorkerEnd(DWORD timeoutMs) {
  HANDLE worker = appState.workerThread;
  if (worker != nullptr) {
    WaitForSingleObject(worker, timeoutMs);
  }
}
